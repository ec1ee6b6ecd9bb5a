// The disk-enumeration object: the IOmbrel that the module hands out, answering every count and
// array from one stock-taking of the disks (see IOmbrel.h) under one lock.
#pragma once

#include <memory>
#include <mutex>

#include "DiskSnapshot.h"
#include "IOmbrel.h"

namespace ombrel {

class CDiskEnumerator final : public IOmbrel {
public:
    CDiskEnumerator() {}
    ~CDiskEnumerator() override {}
    CDiskEnumerator(const CDiskEnumerator&) = delete;
    CDiskEnumerator& operator=(const CDiskEnumerator&) = delete;

    int32_t Refresh() override;
    int32_t GetDiskCount() override;
    int32_t GetAllDiskInfo(DISK_INFO_EX* pDisks, int32_t* pnCount) override;
    int32_t GetVolumeCount() override;
    int32_t GetAllVolumeInfo(PARTITION_INFO_EX* pVolumes, int32_t* pnCount) override;
    int32_t GetPartitionCount(DWORD dwDiskNumber) override;
    int32_t GetAllPartitionInfo(DWORD dwDiskNumber, PARTITION_INFO_EX* pPartitions, int32_t* pnCount) override;
    int32_t GetDynamicVolumeCount() override;
    int32_t GetAllDynamicVolumeInfo(PARTITION_INFO_EX* pVolumes, int32_t* pnCount) override;
    int32_t EndEnum() override;

private:
    // The current stock, taken first when there is none. Called with the lock held.
    const DISK_SNAPSHOT& SnapshotLocked();
    const DISK_ENTRY* FindDiskLocked(DWORD dwDiskNumber);

    std::mutex m_Lock;
    std::unique_ptr<DISK_SNAPSHOT> m_pSnapshot;
};

} // namespace ombrel
