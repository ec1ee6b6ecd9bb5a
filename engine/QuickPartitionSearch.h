// The whole-disk scan's search for partitions that the partition table no longer lists.
//
// STUB: this search finds nothing yet. The boot-sector checkers it needs (FAT, NTFS, EXT2/3)
// come with the file-system structure layers; until then Search leaves the output list empty, so
// a whole-disk scan goes straight on to the block scan of the whole disk.
#pragma once

#include <cstdint>
#include <vector>

#include "CancelFlag.h"
#include "DiskTable.h"
#include "EngineMemory.h"
#include "SearchProgress.h"
#include "WinTypes.h"

class IStorageDevice;

// One found partition; owned by the list that holds it, and it owns its device.
struct FOUND_PARTITION : public CEngineObject {
    uint64_t ullStartSector = 0;   // absolute start on the disk
    uint64_t ullSectorCount = 0;
    uint32_t nFileSystemKind = 7;  // 0 FAT12 .. 5 EXT3; 7 at creation
    char szLabel[100] = {};
    IStorageDevice* pDevice = nullptr;
};

typedef std::vector<FOUND_PARTITION*, CEngineAllocator<FOUND_PARTITION*>> CFoundPartitionList;

// Deletes every record and its device, and empties the list.
void DeleteFoundPartitions(CFoundPartitionList& partitions);

// What the whole-disk scan knows of the disk it searches (zeroed, then filled by the driver).
struct SEARCH_DEVICE_CONTEXT {
    int32_t m_nReserved;
    IStorageDevice* m_pDevice;   // the physical disk device; owned by the scan's device collection
    int32_t m_nHeads;            // tracks per cylinder of the drive geometry; 255 when unknown
    int32_t m_bUsb;              // 1 when the disk sits on a USB bus
    IStorageDevice* m_pDevice2;  // the same device again
    WCHAR m_szDescription[25];   // "vendor  product  bus", cut to 24 characters
};

class CQuickPartitionSearch : public CEngineObject {
public:
    CQuickPartitionSearch() : m_pProgress(nullptr), m_pnCancel(nullptr) {}
    ~CQuickPartitionSearch() {}

    void SetProgress(SEARCH_PROGRESS* pProgress, CANCEL_FLAG* pnCancel)
    {
        m_pProgress = pProgress;
        m_pnCancel = pnCancel;
    }
    // Appends the partitions found on the context's disk to partitions; the caller owns them.
    // STUB: finds nothing.
    void Search(SEARCH_DEVICE_CONTEXT* pContext, CFoundPartitionList& partitions,
                const rvdplat::DISK_GEOMETRY& geometry);

private:
    SEARCH_PROGRESS* m_pProgress;
    CANCEL_FLAG* m_pnCancel;
};
