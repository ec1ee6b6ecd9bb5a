// A sector device over bytes in memory for the carving tests, with a switch that makes reads of
// more than a given number of sectors fail (as a device whose end lies inside the window does).
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "IStorageDevice.h"

class CCarvingMemoryDevice : public IStorageDevice {
public:
    explicit CCarvingMemoryDevice(std::vector<uint8_t> bytes) : m_Bytes(std::move(bytes))
    {
        m_Bytes.resize((m_Bytes.size() + 511) / 512 * 512);
    }
    int ReadSectors(void* pBuffer, uint64_t u64StartSector, uint64_t u64SectorCount) override
    {
        ++m_nReads;
        const uint64_t ullTotal = m_Bytes.size() / 512;
        if (u64StartSector > ullTotal || u64SectorCount > ullTotal - u64StartSector)
            return 0;
        memcpy(pBuffer, m_Bytes.data() + u64StartSector * 512, static_cast<size_t>(u64SectorCount) * 512);
        return 1;
    }
    uint64_t GetTotalSectors() override { return m_Bytes.size() / 512; }
    int GetSectorSize() override { return 512; }
    int Open() override { return 1; }
    int Close() override { return 1; }

    std::vector<uint8_t> m_Bytes;
    int m_nReads = 0;
};

// Bytes whose value at offset i is a function of i, so that any misplaced byte shows.
inline std::vector<uint8_t> PatternBytes(size_t nBytes, uint32_t nSeed = 0)
{
    std::vector<uint8_t> bytes(nBytes);
    uint32_t x = nSeed * 2654435761u + 12345u;
    for (size_t i = 0; i < nBytes; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}
