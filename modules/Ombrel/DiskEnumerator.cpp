#include "DiskEnumerator.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

namespace ombrel {

namespace {

template <typename RECORD>
int32_t CopyRecords(const std::vector<RECORD>& records, RECORD* pOut, int32_t* pnCount)
{
    if (pOut == nullptr || pnCount == nullptr || *pnCount < 0)
        return OMBREL_INVALID_PARAMETER;
    const size_t nCapacity = static_cast<size_t>(*pnCount);
    const size_t nCopy = std::min(nCapacity, records.size());
    if (nCopy > 0)
        memcpy(pOut, records.data(), nCopy * sizeof(RECORD));
    *pnCount = static_cast<int32_t>(nCopy);
    return nCopy < records.size() ? OMBREL_MORE_DATA : OMBREL_SUCCESS;
}

template <typename RECORD>
int32_t CountOf(const std::vector<RECORD>& records)
{
    return static_cast<int32_t>(std::min<size_t>(records.size(), INT32_MAX));
}

} // namespace

const DISK_SNAPSHOT& CDiskEnumerator::SnapshotLocked()
{
    if (!m_pSnapshot) {
        std::unique_ptr<DISK_SNAPSHOT> pSnapshot(new DISK_SNAPSHOT);
        TakeDiskSnapshot(pSnapshot.get());
        m_pSnapshot = std::move(pSnapshot);
    }
    return *m_pSnapshot;
}

const DISK_ENTRY* CDiskEnumerator::FindDiskLocked(DWORD dwDiskNumber)
{
    for (const DISK_ENTRY& disk : SnapshotLocked().Disks) {
        if (disk.Disk.dwDiskNumber == dwDiskNumber)
            return &disk;
    }
    return nullptr;
}

int32_t CDiskEnumerator::Refresh()
{
    // The disk table is not read again here: the engine keeps the table it read first, and a
    // disk listed here that the engine cannot see would only end its scan with "not found".
    std::lock_guard<std::mutex> lock(m_Lock);
    m_pSnapshot.reset();
    SnapshotLocked();
    return 0;
}

int32_t CDiskEnumerator::GetDiskCount()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return CountOf(SnapshotLocked().Disks);
}

int32_t CDiskEnumerator::GetAllDiskInfo(DISK_INFO_EX* pDisks, int32_t* pnCount)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    std::vector<DISK_INFO_EX> disks;
    for (const DISK_ENTRY& disk : SnapshotLocked().Disks)
        disks.push_back(disk.Disk);
    return CopyRecords(disks, pDisks, pnCount);
}

int32_t CDiskEnumerator::GetVolumeCount()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return CountOf(SnapshotLocked().Volumes);
}

int32_t CDiskEnumerator::GetAllVolumeInfo(PARTITION_INFO_EX* pVolumes, int32_t* pnCount)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return CopyRecords(SnapshotLocked().Volumes, pVolumes, pnCount);
}

int32_t CDiskEnumerator::GetPartitionCount(DWORD dwDiskNumber)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    const DISK_ENTRY* pDisk = FindDiskLocked(dwDiskNumber);
    return pDisk != nullptr ? CountOf(pDisk->Partitions) : 0;
}

int32_t CDiskEnumerator::GetAllPartitionInfo(DWORD dwDiskNumber, PARTITION_INFO_EX* pPartitions, int32_t* pnCount)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    const DISK_ENTRY* pDisk = FindDiskLocked(dwDiskNumber);
    static const std::vector<PARTITION_INFO_EX> kNone;
    return CopyRecords(pDisk != nullptr ? pDisk->Partitions : kNone, pPartitions, pnCount);
}

int32_t CDiskEnumerator::GetDynamicVolumeCount()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return CountOf(SnapshotLocked().DynamicVolumes);
}

int32_t CDiskEnumerator::GetAllDynamicVolumeInfo(PARTITION_INFO_EX* pVolumes, int32_t* pnCount)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return CopyRecords(SnapshotLocked().DynamicVolumes, pVolumes, pnCount);
}

int32_t CDiskEnumerator::EndEnum()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_pSnapshot.reset();
    return 0;
}

} // namespace ombrel
