// The whole-disk scan's search for partitions that the partition table no longer lists: the
// sectors at the cylinder boundaries of two common disk geometries (and 63 sectors after each)
// are shown to a FAT, an NTFS and an EXT2/EXT3 boot-sector checker; every accepted sector is a
// found partition, and those that start where a partition of the current table starts are
// dropped.
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

// Candidate sectors: the cylinder boundaries of one geometry (63 sectors a track).
class IPartitionSearchAlgorithm : public CEngineObject {
public:
    explicit IPartitionSearchAlgorithm(uint64_t ullDiskSectors) : m_ullIndex(0), m_ullDiskSectors(ullDiskSectors) {}
    virtual ~IPartitionSearchAlgorithm() {}
    virtual uint64_t GetCount() = 0;
    // The next candidate; advances.
    virtual uint64_t GetNext() = 0;
    virtual int GetKind() = 0;

protected:
    uint64_t m_ullIndex;
    uint64_t m_ullDiskSectors;
};

class CPartitionSearchAccordingTo255Head : public IPartitionSearchAlgorithm {
public:
    using IPartitionSearchAlgorithm::IPartitionSearchAlgorithm;
    uint64_t GetCount() override { return m_ullDiskSectors / 255 / 63; }
    uint64_t GetNext() override { return m_ullIndex++ * 63 * 255; }
    int GetKind() override { return 0; }
};

class CPartitionSearchAccordingTo240Head : public IPartitionSearchAlgorithm {
public:
    using IPartitionSearchAlgorithm::IPartitionSearchAlgorithm;
    uint64_t GetCount() override { return m_ullDiskSectors / 240 / 63; }
    uint64_t GetNext() override { return m_ullIndex++ * 63 * 240; }
    int GetKind() override { return 1; }
};

// A boot-sector checker: true, with the scratch record filled, when the sector starts a file
// system of its kind.
class IPartitionFileSystemSearchController : public CEngineObject {
public:
    IPartitionFileSystemSearchController() : m_pDisk(nullptr), m_ullDiskSectors(0) {}
    virtual ~IPartitionFileSystemSearchController() {}
    virtual void SetDevice(IStorageDevice* pDisk);
    virtual void BeginSearch() {}
    virtual void EndSearch() {}
    virtual bool CheckSector(const uint8_t* pSector, uint64_t ullSector, FOUND_PARTITION* pOut) = 0;

protected:
    // A partition's length as its boot sector gives it, kept within the disk from its start.
    uint64_t ClampToDisk(uint64_t ullStart, uint64_t ullCount) const;

    IStorageDevice* m_pDisk;
    uint64_t m_ullDiskSectors;
};

class CPartitionFATSearchController : public IPartitionFileSystemSearchController {
public:
    bool CheckSector(const uint8_t* pSector, uint64_t ullSector, FOUND_PARTITION* pOut) override;
};

class CPartitionNTFSSearchController : public IPartitionFileSystemSearchController {
public:
    bool CheckSector(const uint8_t* pSector, uint64_t ullSector, FOUND_PARTITION* pOut) override;

private:
    bool SystemRecordsAt(uint64_t ullSector, uint32_t nRecordSectors);
};

class CPartitionEXT2SearchController : public IPartitionFileSystemSearchController {
public:
    bool CheckSector(const uint8_t* pSector, uint64_t ullSector, FOUND_PARTITION* pOut) override;
};

class CWholeDiskPartitionScan : public CEngineObject {
public:
    CWholeDiskPartitionScan();
    virtual ~CWholeDiskPartitionScan();
    CWholeDiskPartitionScan(const CWholeDiskPartitionScan&) = delete;
    CWholeDiskPartitionScan& operator=(const CWholeDiskPartitionScan&) = delete;

    void SetProgress(SEARCH_PROGRESS* pProgress, CANCEL_FLAG* pnCancel)
    {
        m_pProgress = pProgress;
        m_pnCancel = pnCancel;
    }
    void SetDevice(IStorageDevice* pDisk);
    // Not owned.
    void AddController(IPartitionFileSystemSearchController* pChecker);
    // The 255-head pass always; the 240-head pass after it when the disk reports 240 heads.
    void AddSearchAlgorithms(int nHeads);
    int Run();
    // The partitions found by the last run, in found order; owned by the scan.
    CFoundPartitionList& GetFound() { return m_Found; }

private:
    void CheckCandidate(uint64_t ullSector);

    SEARCH_PROGRESS* m_pProgress;
    CANCEL_FLAG* m_pnCancel;
    uint64_t m_ullCounted;
    IStorageDevice* m_pDisk;
    uint64_t m_ullDiskSectors;
    std::vector<IPartitionFileSystemSearchController*, CEngineAllocator<IPartitionFileSystemSearchController*>> m_Checkers;
    std::vector<IPartitionSearchAlgorithm*, CEngineAllocator<IPartitionSearchAlgorithm*>> m_Algorithms;
    FOUND_PARTITION m_Scratch;
    uint8_t m_abySector[512];
    CFoundPartitionList m_Found;
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
    // Appends the partitions found on the context's disk that the partition table does not list
    // at their start; the caller owns them and their devices.
    void Search(SEARCH_DEVICE_CONTEXT* pContext, CFoundPartitionList& partitions,
                const rvdplat::DISK_GEOMETRY& geometry);

private:
    SEARCH_PROGRESS* m_pProgress;
    CANCEL_FLAG* m_pnCancel;
};
