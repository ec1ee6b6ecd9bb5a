// Fuzz target for the partition-table readers: the MBR and GPT entry parsers on the raw bytes,
// and the whole analysis (dynamic-disk test, MBR, extended chain, GPT array, whole-disk
// recogniser, gaps) on a disk made of the input; then once more on that disk with its first
// GPT array wiped and the input's GPT header, its checksums made to hold, as the backup header
// in the last sector, so that the backup header and array are read too. Whatever the bytes, the
// analysis ends and every entry it lists lies on the disk with a device over exactly its sectors.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <zlib.h>

#include "BasicPartitionDevice.h"
#include "FuzzDisk.h"
#include "GptPartitionType.h"
#include "MbrSector.h"
#include "PartitionTableAnalyze.h"

namespace {

// GPT headers and entry arrays carry the common CRC-32 that zlib computes.
uint32_t Crc32(const uint8_t* p, size_t n)
{
    return static_cast<uint32_t>(crc32(0L, p, static_cast<uInt>(n)));
}

uint32_t Le32(const uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void SetLe32(uint8_t* p, uint32_t n)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(n >> (8 * i));
}

void SetLe64(uint8_t* p, uint64_t n)
{
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<uint8_t>(n >> (8 * i));
}

// The fuzz disk with the primary GPT array (sectors 2 to 33) wiped, the input's sectors 2 to 33
// moved to where a backup array lies (the 32 sectors before the last one), and the input's
// sector 1 as the backup header in the last sector: signature, own place and array place set,
// and both checksums computed over what this disk gives, so that only the fuzzer's sizes and
// entries decide what the reader does.
class CBackupGptDisk : public IStorageDevice {
public:
    CBackupGptDisk(const uint8_t* pData, size_t nSize, uint64_t u64Sectors)
        : m_Inner(pData, nSize, u64Sectors), m_u64Sectors(u64Sectors)
    {
        m_Inner.ReadSectors(m_aHeader, 1, 1);
        memcpy(m_aHeader, "EFI PART", 8);
        SetLe64(m_aHeader + 24, u64Sectors - 1);
        SetLe64(m_aHeader + 72, u64Sectors - 1 - kArraySectors);
        const uint64_t u64Bytes = static_cast<uint64_t>(Le32(m_aHeader + 80)) * Le32(m_aHeader + 84);
        if (u64Bytes != 0 && u64Bytes <= kArraySectors * 512) {
            std::vector<uint8_t> array(kArraySectors * 512);
            ReadSectors(array.data(), u64Sectors - 1 - kArraySectors, kArraySectors);
            SetLe32(m_aHeader + 88, Crc32(array.data(), static_cast<size_t>(u64Bytes)));
        }
        const uint32_t nHeaderBytes = Le32(m_aHeader + 12);
        if (nHeaderBytes >= 20 && nHeaderBytes <= 512) {
            SetLe32(m_aHeader + 16, 0);
            SetLe32(m_aHeader + 16, Crc32(m_aHeader, nHeaderBytes));
        }
    }

    int ReadSectors(void* pBuffer, uint64_t u64Start, uint64_t u64Count) override
    {
        uint8_t* p = static_cast<uint8_t*>(pBuffer);
        if (u64Start >= m_u64Sectors || u64Count > m_u64Sectors - u64Start) {
            memset(p, 0, u64Count * 512);
            return 0;
        }
        const uint64_t u64Backup = m_u64Sectors - 1 - kArraySectors;
        for (uint64_t i = 0; i < u64Count; ++i, p += 512) {
            const uint64_t u64Sector = u64Start + i;
            if (u64Sector == m_u64Sectors - 1)
                memcpy(p, m_aHeader, 512);
            else if (u64Sector >= 2 && u64Sector < 2 + kArraySectors)
                memset(p, 0, 512);
            else
                m_Inner.ReadSectors(p, u64Sector >= u64Backup ? u64Sector - u64Backup + 2 : u64Sector, 1);
        }
        return 1;
    }
    uint64_t GetTotalSectors() override { return m_u64Sectors; }
    int GetSectorSize() override { return 512; }
    int Open() override { return 1; }
    int Close() override { return 1; }

private:
    static const uint64_t kArraySectors = 32;
    CFuzzDisk m_Inner;
    uint64_t m_u64Sectors;
    uint8_t m_aHeader[512];
};

void Analyse(IStorageDevice* pDisk, uint64_t u64Sectors, uint32_t nHeads)
{
    rvdplat::DISK_GEOMETRY geometry = {static_cast<LONGLONG>(u64Sectors / (nHeads * 63)), 12, nHeads, 63, 512};
    CPartitionEntryList list;
    CPartitionTableAnalyze analyze;
    const int nCount = analyze.AnalyzePartitionTable(pDisk, list, geometry);
    if (nCount != 0 && nCount != static_cast<int>(list.size()))
        abort();
    uint64_t u64Previous = 0;
    for (const PARTITION_ENTRY* pEntry : list) {
        const auto* pDevice = dynamic_cast<const CBasicPartitionDevice*>(pEntry->pDevice);
        if (pDevice == nullptr || pDevice->GetStartSector() != pEntry->u64StartSector ||
            pEntry->pDevice->GetTotalSectors() != pEntry->u64SectorCount || pEntry->u64SectorCount == 0 ||
            pEntry->u64StartSector >= u64Sectors || pEntry->u64SectorCount > u64Sectors - pEntry->u64StartSector ||
            pEntry->u64StartSector < u64Previous || pEntry->szLabel[sizeof(pEntry->szLabel) - 1] != 0)
            abort();
        u64Previous = pEntry->u64StartSector;
    }
    FreePartitionEntries(list, true);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    MBR_ENTRY aEntries[MBR_ENTRY_COUNT];
    ReadMbrSector(pData, nSize, aEntries);
    for (size_t nOffset = 0; nOffset + GPT_ENTRY_BYTES <= nSize && nOffset < 64 * GPT_ENTRY_BYTES; nOffset += GPT_ENTRY_BYTES) {
        GPT_ENTRY entry;
        ReadGptEntry(pData + nOffset, nSize - nOffset, &entry);
        IsKnownGptType(entry);
    }

    // Two geometries: the usual 255 x 63, and one whose cylinder is below the 206-sector minimum.
    const uint64_t u64Sectors = 1ull << 22;
    CFuzzDisk disk(pData, nSize, u64Sectors);
    for (uint32_t nHeads : {255u, 1u})
        Analyse(&disk, u64Sectors, nHeads);
    CBackupGptDisk backup(pData, nSize, u64Sectors);
    Analyse(&backup, u64Sectors, 255u);
    return 0;
}
