// A disk made of the fuzzer's bytes: sector n is input sector n modulo the input's sector count
// (the last one zero-padded), over a disk far larger than the input. Every table link, boot
// sector field and chain pointer therefore lands on bytes the fuzzer controls, loops included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "IStorageDevice.h"

class CFuzzDisk : public IStorageDevice {
public:
    CFuzzDisk(const uint8_t* pData, size_t nSize, uint64_t u64Sectors)
        : m_pData(pData), m_nSize(nSize), m_u64Sectors(u64Sectors)
    {
        m_u64InputSectors = (nSize + 511) / 512;
    }

    int ReadSectors(void* pBuffer, uint64_t u64Start, uint64_t u64Count) override
    {
        uint8_t* p = static_cast<uint8_t*>(pBuffer);
        if (u64Count > (1u << 16)) {
            // No reader asks for more than a few MiB at once; a larger request is a bug to find.
            __builtin_trap();
        }
        memset(p, 0, u64Count * 512);
        if (u64Start >= m_u64Sectors || u64Count > m_u64Sectors - u64Start || m_u64InputSectors == 0)
            return 0;
        for (uint64_t i = 0; i < u64Count; ++i) {
            const uint64_t u64Offset = ((u64Start + i) % m_u64InputSectors) * 512;
            const size_t nCopy = m_nSize - u64Offset < 512 ? m_nSize - u64Offset : 512;
            memcpy(p + i * 512, m_pData + u64Offset, nCopy);
        }
        return 1;
    }
    uint64_t GetTotalSectors() override { return m_u64Sectors; }
    int GetSectorSize() override { return 512; }
    int Open() override { return 1; }
    int Close() override { return 1; }

private:
    const uint8_t* m_pData;
    size_t m_nSize;
    uint64_t m_u64Sectors;
    uint64_t m_u64InputSectors;
};
