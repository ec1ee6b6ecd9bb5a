#include "FATVolumeLabelReader.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "FATBytes.h"
#include "FATDBR.h"
#include "FATDirEntry.h"
#include "IStorageDevice.h"

namespace {

typedef std::vector<uint8_t, CEngineAllocator<uint8_t>> CByteBuffer;

// FAT entries held by one sector of a FAT32 table.
const uint32_t kFAT32EntriesPerSector = FAT_SECTOR_BYTES / 4;
const uint64_t kMaxDirectoryBytes = 65536 * FAT_DIR_ENTRY_BYTES;

} // namespace

bool CFATVolumeLabelReader::ScanEntries(const uint8_t* pData, size_t nSize, char* pszOut)
{
    CFATDirEntry entry;
    for (size_t nOffset = 0; nOffset + FAT_DIR_ENTRY_BYTES <= nSize; nOffset += FAT_DIR_ENTRY_BYTES) {
        if (!entry.AttachAndCheck(pData + nOffset))
            return false;
        if (entry.IsDeleted() || !entry.IsVolumeLabel())
            continue;
        const std::string strLabel = entry.GetShortName(true);
        const size_t nCopy = std::min(strLabel.size(), FAT_VOLUME_LABEL_BUFFER - 1);
        std::memcpy(pszOut, strLabel.data(), nCopy);
        pszOut[nCopy] = 0;
        return true;
    }
    return false;
}

bool CFATVolumeLabelReader::ReadFAT12Or16(uint64_t u64PartitionStart, const CFATDBR* pDBR, char* pszOut)
{
    const uint32_t nRootSectors = pDBR->GetRootDirSectors();
    const uint32_t nChunk = pDBR->GetSectorsPerCluster();
    const uint64_t u64RootStart = u64PartitionStart + pDBR->GetRootDirOffset();
    CByteBuffer buffer(static_cast<size_t>(nChunk) * FAT_SECTOR_BYTES);
    // The root area is read a cluster's worth at a time; the last piece stops at the area's end
    // so that the first data cluster is never taken for root entries.
    for (uint32_t nDone = 0; nDone < nRootSectors; nDone += nChunk) {
        const uint32_t nCount = std::min(nChunk, nRootSectors - nDone);
        if (!m_pDevice->ReadSectors(buffer.data(), u64RootStart + nDone, nCount))
            return false;
        if (ScanEntries(buffer.data(), static_cast<size_t>(nCount) * FAT_SECTOR_BYTES, pszOut))
            return true;
    }
    return false;
}

bool CFATVolumeLabelReader::ReadFAT32(uint64_t u64PartitionStart, const CFATDBR* pDBR, char* pszOut)
{
    const uint32_t nClusterSectors = pDBR->GetSectorsPerCluster();
    const uint32_t nFATSectors = pDBR->GetSectorsPerFAT();
    const uint64_t u64FATStart = u64PartitionStart + pDBR->GetFATOffset();
    const uint64_t u64EntriesPerBlock = static_cast<uint64_t>(nClusterSectors) * kFAT32EntriesPerSector;
    // Clusters the FAT has entries for: the chain leaves the volume past them.
    const uint64_t u64MaxClusters = static_cast<uint64_t>(nFATSectors) * kFAT32EntriesPerSector;
    // A directory holds at most 65536 entries (2 MiB); a root chain longer than that loops.
    const uint64_t u64ClusterBytes = static_cast<uint64_t>(nClusterSectors) * FAT_SECTOR_BYTES;
    const uint64_t u64MaxSteps = (kMaxDirectoryBytes + u64ClusterBytes - 1) / u64ClusterBytes;

    CByteBuffer cluster(static_cast<size_t>(nClusterSectors) * FAT_SECTOR_BYTES);
    CByteBuffer fatBlock(static_cast<size_t>(nClusterSectors) * FAT_SECTOR_BYTES);
    uint64_t u64LoadedBlock = UINT64_MAX;

    uint32_t nCurrent = pDBR->GetRootCluster();
    for (uint64_t u64Steps = 0; IsValidClusterNumber(nCurrent) && u64Steps < u64MaxSteps; ++u64Steps) {
        // A cluster the FAT has no entry for is not part of this volume.
        if (nCurrent >= u64MaxClusters)
            return false;
        uint64_t u64Sector = 0;
        pDBR->ClusterToSector(u64PartitionStart, nCurrent, &u64Sector);
        if (!m_pDevice->ReadSectors(cluster.data(), u64Sector, nClusterSectors))
            return false;
        if (ScanEntries(cluster.data(), cluster.size(), pszOut))
            return true;

        // The next cluster comes from FAT1 only, read a block of one cluster's size at a time.
        const uint64_t u64Block = nCurrent / u64EntriesPerBlock;
        if (u64Block != u64LoadedBlock) {
            if (!m_pDevice->ReadSectors(fatBlock.data(), u64FATStart + u64Block * nClusterSectors, nClusterSectors))
                return false;
            u64LoadedBlock = u64Block;
        }
        nCurrent = fatbytes::U32(fatBlock.data() + (nCurrent % u64EntriesPerBlock) * 4);
    }
    return false;
}

bool CFATVolumeLabelReader::ReadVolumeLabel(uint64_t u64PartitionStart, const CFATDBR* pDBR, char* pszOut)
{
    if (m_pDevice == nullptr || pDBR == nullptr || pszOut == nullptr || pDBR->GetSectorsPerCluster() == 0)
        return false;
    switch (pDBR->GetFATType()) {
    case FAT_TYPE_FAT12:
    case FAT_TYPE_FAT16:
        return ReadFAT12Or16(u64PartitionStart, pDBR, pszOut);
    case FAT_TYPE_FAT32:
        return ReadFAT32(u64PartitionStart, pDBR, pszOut);
    default:
        return false;
    }
}
