// The five kinds of dynamic-disk volume as sector devices: simple, spanned, striped, mirrored and
// RAID-5. Each maps a volume sector to a member extent on a physical disk; none of them owns the
// disks. Requests are clamped to the volume, unmappable sectors read as zeros, and no read passes
// beyond the end of an extent into whatever follows it on the disk.
#pragma once

#include <cstdint>
#include <vector>

#include "EngineMemory.h"
#include "IDynamicDevice.h"

// Sectors per stripe of every striped and RAID-5 volume (64 KiB); the database's own stripe size
// is not used.
const int DYNAMIC_STRIPE_SECTORS = 128;
// A mirror reads in pieces of this many sectors, so that one bad sector costs a re-read of one
// piece only.
const int MIRROR_CHUNK_SECTORS = 63;
// Fewest columns of a RAID-5 volume: one parity and at least two data stripes per row.
const size_t RAID5_MIN_COLUMNS = 3;

// What every dynamic volume device shares: the description, the kind, the range check.
class CDynamicVolumeDevice : public IDynamicDevice, public CEngineObject {
public:
    ~CDynamicVolumeDevice() override {}

    // The description's volume size.
    uint64_t GetTotalSectors() override { return m_Desc.u64VolumeSectors; }
    int Open() override { return 1; }
    int Close() override { return 1; }

    bool IsSameVolume(IDynamicDevice* pOther) override;
    int GetDynamicKind() override { return m_nKind; }
    uint32_t GetFileSystemKind() override { return m_Desc.nFileSystemKind; }
    char GetDriveLetter() override;

    const DYNAMIC_VOLUME_DESC& GetDescription() const { return m_Desc; }

protected:
    CDynamicVolumeDevice(int nKind, const DYNAMIC_VOLUME_DESC& desc);

    // Zeroes the caller's buffer and clamps the request to the volume: false for a request that
    // is refused (it starts past the end or asks for more sectors than the volume has),
    // otherwise *pu64Count is the number of sectors that lie on the volume (0 at its very end).
    bool BeginRead(void* pBuffer, uint64_t u64Start, uint64_t u64Count, uint64_t* pu64Count);

    // Sectors that no mirror copy and no parity could give back, left zero in the buffer: with
    // bad sectors ignored the read still succeeds, as a plain disk's would; otherwise it fails.
    // Logs the first lost sector and the count; true when the read succeeds.
    bool AcceptLostSectors(uint64_t u64FirstLost, uint64_t u64LostCount);

    DYNAMIC_VOLUME_DESC m_Desc;
    int m_nKind;
};

// A device over copies of its own extents (every kind but the mirror).
class CExtentVolumeDevice : public CDynamicVolumeDevice {
public:
    ~CExtentVolumeDevice() override;

    // Sector size of the first extent's disk; 512 when there is none.
    int GetSectorSize() override;
    void GetMembers(CLdmExtentList& out) override;

protected:
    CExtentVolumeDevice(int nKind, const DYNAMIC_VOLUME_DESC& desc, const CLdmExtentList& extents);

    // Reads u64Count sectors from u64Offset sectors into one extent. The part of the request
    // beyond the extent's length is zeroed, never read (it is another volume's data or no one's).
    // 0 when the extent's disk is missing or a disk read fails. With bReportBadSectors a bad
    // sector fails the read whatever the bad-sector setting says.
    static int ReadExtent(const LDM_EXTENT& extent, uint64_t u64Offset, uint8_t* pBuffer, uint64_t u64Count,
                          bool bReportBadSectors);

    // A member device of a mirror reports every sector it could not read, so that the mirror
    // asks the other member; a volume of its own reads such sectors as zeros.
    bool IsMirrorMember() const { return m_nKind == DYNAMIC_KIND_MIRROR; }
    // Mirror members and RAID-5 columns have their data elsewhere too: they must see every bad
    // sector, which the bad-sector setting would otherwise turn into zeros read successfully.
    bool IsRedundant() const { return m_nKind == DYNAMIC_KIND_MIRROR || m_nKind == DYNAMIC_KIND_RAID5; }

    CLdmExtentList m_Extents;
    // The extents in list order, for the column arithmetic of striped and RAID-5 volumes.
    std::vector<LDM_EXTENT*, CEngineAllocator<LDM_EXTENT*>> m_Columns;
};

class CSimpleVolumeDevice : public CExtentVolumeDevice {
public:
    CSimpleVolumeDevice(int nKind, const DYNAMIC_VOLUME_DESC& desc, const CLdmExtentList& extents)
        : CExtentVolumeDevice(nKind, desc, extents) {}
    // The first extent, read from its start. 0 when its disk is missing or fails.
    int ReadSectors(void* pBuffer, uint64_t u64StartSector, uint64_t u64SectorCount) override;
};

class CSpannedVolumeDevice : public CExtentVolumeDevice {
public:
    CSpannedVolumeDevice(int nKind, const DYNAMIC_VOLUME_DESC& desc, const CLdmExtentList& extents)
        : CExtentVolumeDevice(nKind, desc, extents) {}
    // The extents one after another by volume offset (the list must be sorted by it). A missing
    // or failing disk leaves zeros; 0 only when part of the request lies in no extent.
    int ReadSectors(void* pBuffer, uint64_t u64StartSector, uint64_t u64SectorCount) override;
};

class CStripedVolumeDevice : public CExtentVolumeDevice {
public:
    CStripedVolumeDevice(int nKind, const DYNAMIC_VOLUME_DESC& desc, const CLdmExtentList& extents)
        : CExtentVolumeDevice(nKind, desc, extents), m_nStripeSectors(DYNAMIC_STRIPE_SECTORS) {}
    // Stripes of 128 sectors dealt to the extents (the columns) in list order, row by row. A
    // missing or failing disk leaves zeros.
    int ReadSectors(void* pBuffer, uint64_t u64StartSector, uint64_t u64SectorCount) override;

private:
    int m_nStripeSectors;
};

class CRaid5VolumeDevice : public CExtentVolumeDevice {
public:
    CRaid5VolumeDevice(int nKind, const DYNAMIC_VOLUME_DESC& desc, const CLdmExtentList& extents)
        : CExtentVolumeDevice(nKind, desc, extents), m_nStripeSectors(DYNAMIC_STRIPE_SECTORS) {}
    // Rows of N - 1 data stripes and one parity stripe. Parity is in column N - 1 in row 0 and
    // moves one column towards column 0 with every row; a row's data stripes begin in the column
    // after the parity and wrap to column 0. A stripe whose column is missing or fails is rebuilt
    // as the exclusive-or of the same sectors of every other column; when that fails too, sector
    // by sector the same way. Sectors lost both ways stay zero: success when bad sectors are
    // ignored, otherwise the read ends there with 0.
    int ReadSectors(void* pBuffer, uint64_t u64StartSector, uint64_t u64SectorCount) override;

private:
    int ReadColumn(size_t nColumn, uint64_t u64Row, uint64_t u64InStripe, uint8_t* pBuffer, uint64_t u64Count);
    // Rebuilds sectors of column nColumn as the exclusive-or of the same sectors of every other
    // column, read in turn into pScratch (one stripe); 0, with zeros, when one cannot be read.
    int RebuildColumn(size_t nColumn, uint64_t u64Row, uint64_t u64InStripe, uint8_t* pBuffer, uint64_t u64Count,
                      uint8_t* pScratch);

    int m_nStripeSectors;
};

class CMirrorVolumeDevice : public CDynamicVolumeDevice {
public:
    // Owns the member devices (null ones are left out).
    CMirrorVolumeDevice(int nKind, const DYNAMIC_VOLUME_DESC& desc, IDynamicDevice* pFirst, IDynamicDevice* pSecond);
    ~CMirrorVolumeDevice() override;

    // Each piece of 63 sectors from the first member that reads it whole; a piece no member
    // reads whole is read sector by sector the same way, with zeros for sectors that no member
    // reads. Such sectors fail the read unless bad sectors are ignored.
    int ReadSectors(void* pBuffer, uint64_t u64StartSector, uint64_t u64SectorCount) override;
    // Sector size of the first member; 512 when there is none.
    int GetSectorSize() override;
    void GetMembers(CLdmExtentList& out) override;

private:
    std::vector<IDynamicDevice*, CEngineAllocator<IDynamicDevice*>> m_Members;
    int m_nChunkSectors;
};

// The factories the database reader builds volumes with; each copies the description and (but
// for the mirror) the non-null extents, and returns null when the volume cannot be read at all.
// Simple: exactly one extent has a disk.
IDynamicDevice* CreateSimpleVolumeDevice(int nKind, const DYNAMIC_VOLUME_DESC& desc, const CLdmExtentList& extents);
// Spanned and striped: at least one extent has a disk.
IDynamicDevice* CreateSpannedVolumeDevice(int nKind, const DYNAMIC_VOLUME_DESC& desc, const CLdmExtentList& extents);
IDynamicDevice* CreateStripedVolumeDevice(int nKind, const DYNAMIC_VOLUME_DESC& desc, const CLdmExtentList& extents);
// RAID-5: at least three extents, and every one or all but one with a disk.
IDynamicDevice* CreateRaid5VolumeDevice(int nKind, const DYNAMIC_VOLUME_DESC& desc, const CLdmExtentList& extents);
// Mirror: at least one member; the mirror owns its members.
IDynamicDevice* CreateMirrorVolumeDevice(int nKind, const DYNAMIC_VOLUME_DESC& desc, IDynamicDevice* pFirst,
                                         IDynamicDevice* pSecond);
