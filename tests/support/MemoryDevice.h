#pragma once

// A disk held in memory, read in whole 512-byte sectors: a read that reaches past the end fails
// without touching the buffer. With bConcurrent set it says it may be read from several threads
// at once, as a disk is, so the read-ahead cache reads it on its reader threads.

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "IStorageDevice.h"

namespace rvdtest {

class CMemoryDevice : public IStorageDevice {
public:
    explicit CMemoryDevice(std::vector<uint8_t> data, bool bConcurrent = false)
        : m_Data(std::move(data)), m_bConcurrent(bConcurrent)
    {
    }
    int ReadSectors(void* pBuffer, uint64_t ullStart, uint64_t ullCount) override
    {
        const uint64_t ullTotal = m_Data.size() / 512;
        if (ullStart > ullTotal || ullCount > ullTotal - ullStart)
            return 0;
        memcpy(pBuffer, m_Data.data() + ullStart * 512, ullCount * 512);
        return 1;
    }
    uint64_t GetTotalSectors() override { return m_Data.size() / 512; }
    int GetSectorSize() override { return 512; }
    int Open() override { return 1; }
    int Close() override { return 1; }
    int CanReadConcurrently() override { return m_bConcurrent ? 1 : 0; }

private:
    std::vector<uint8_t> m_Data;
    bool m_bConcurrent;
};

} // namespace rvdtest
