#include "LdmDatabaseReader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "DiskInfo.h"
#include "DiskTable.h"
#include "DiskProbe.h"
#include "DynamicVolumeDevice.h"
#include "PartitionTableAnalyze.h"
#include "VolumeAnalyzeList.h"
#include "fat/FATDBR.h"
#include "ntfs/NTFSDBR.h"

namespace {

const size_t kSectorBytes = LDM_SECTOR_BYTES;

void CopyText(const char* pszText, char* pszOut, size_t nOutSize)
{
    const size_t nLength = strnlen(pszText, nOutSize - 1);
    memcpy(pszOut, pszText, nLength);
    memset(pszOut + nLength, 0, nOutSize - nLength);
}

void FreeExtents(CLdmExtentList& extents)
{
    for (LDM_EXTENT* pExtent : extents)
        FreeMemory(pExtent);
    extents.clear();
}

// A sector buffer from the engine's allocator, released at the end of its scope.
class CAreaBuffer {
public:
    explicit CAreaBuffer(size_t nSize) : m_pData(reinterpret_cast<uint8_t*>(AllocBuffer(nSize))), m_nSize(nSize)
    {
        memset(m_pData, 0, nSize);
    }
    ~CAreaBuffer() { FreeBuffer(m_pData); }
    CAreaBuffer(const CAreaBuffer&) = delete;
    CAreaBuffer& operator=(const CAreaBuffer&) = delete;
    uint8_t* Data() { return m_pData; }
    size_t Size() const { return m_nSize; }

private:
    uint8_t* m_pData;
    size_t m_nSize;
};

// (a + b), held at the largest value instead of wrapping round.
uint64_t SaturatingAdd(uint64_t a, uint64_t b)
{
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

} // namespace

DYNAMIC_VOLUME_INFO::DYNAMIC_VOLUME_INFO()
    : u64Sectors(0), nFileSystemKind(FILE_SYSTEM_UNKNOWN), chDriveLetter(0), pDevice(nullptr)
{
    memset(szKindName, 0, sizeof(szKindName));
    memset(szLabel, 0, sizeof(szLabel));
}

void FreeDynamicVolumeInfos(CDynamicVolumeInfoList& list, bool bDeleteDevices)
{
    for (DYNAMIC_VOLUME_INFO* pInfo : list) {
        if (bDeleteDevices)
            delete pInfo->pDevice;
        delete pInfo;
    }
    list.clear();
}

// ----- the reader -------------------------------------------------------------------------------

int CLdmDatabaseReader::ReadDynamicVolumes(const CLdmDiskList& disks, CDynamicVolumeInfoList& out)
{
    m_Disks.clear();
    uint8_t aSector[kSectorBytes];
    for (IStorageDevice* pDisk : disks) {
        if (pDisk == nullptr)
            continue;
        MEMBER_DISK member;
        member.pDisk = pDisk;
        member.bHasHeader = FindPrivateHeader(pDisk, aSector) &&
                            ReadLdmPrivateHeader(aSector, sizeof(aSector), &member.header);
        m_Disks.push_back(member);
    }
    for (const MEMBER_DISK& disk : m_Disks) {
        if (disk.bHasHeader)
            ReadDisk(disk, out);
    }
    return static_cast<int>(out.size());
}

bool CLdmDatabaseReader::FindPrivateHeader(IStorageDevice* pDisk, uint8_t* pOut)
{
    memset(pOut, 0, kSectorBytes);
    if (pDisk == nullptr)
        return false;
    const uint64_t u64Total = pDisk->GetTotalSectors();
    const uint64_t aPlaces[] = {u64Total > 0 ? u64Total - 1 : UINT64_MAX, LDM_PRIVHEAD_MBR_SECTOR,
                                LDM_PRIVHEAD_GPT_SECTOR};
    for (uint64_t u64Sector : aPlaces) {
        if (u64Sector >= u64Total)
            continue;
        memset(pOut, 0, kSectorBytes);
        if (pDisk->ReadSectors(pOut, u64Sector, 1) && memcmp(pOut, "PRIVHEAD", 8) == 0)
            return true;
    }
    memset(pOut, 0, kSectorBytes);
    return false;
}

const CLdmDatabaseReader::MEMBER_DISK* CLdmDatabaseReader::FindMember(const char* pszDiskId) const
{
    // An empty id is what a damaged record leaves; it names no disk.
    if (pszDiskId == nullptr || pszDiskId[0] == '\0')
        return nullptr;
    for (const MEMBER_DISK& disk : m_Disks) {
        if (disk.bHasHeader && strncmp(disk.header.szDiskId, pszDiskId, LDM_DISK_ID_CHARS) == 0)
            return &disk;
    }
    return nullptr;
}

IStorageDevice* CLdmDatabaseReader::FindDiskById(const char* pszDiskId)
{
    const MEMBER_DISK* pMember = FindMember(pszDiskId);
    return pMember != nullptr ? pMember->pDisk : nullptr;
}

void CLdmDatabaseReader::ReadDisk(const MEMBER_DISK& disk, CDynamicVolumeInfoList& out)
{
    const uint64_t u64Sectors = LdmDatabaseAreaSectors(disk.pDisk->GetTotalSectors(), disk.header.u64DatabaseStart);
    if (u64Sectors == 0)
        return;
    CAreaBuffer area(static_cast<size_t>(u64Sectors * kSectorBytes));
    if (!disk.pDisk->ReadSectors(area.Data(), disk.header.u64DatabaseStart, u64Sectors))
        return;

    CLdmDatabase database;
    database.Load(area.Data(), area.Size());
    for (const LDM_VOLUME_RECORD& volume : database.Volumes()) {
        if (!IsBuildableLdmVolume(volume))
            continue;
        IDynamicDevice* pDevice = BuildVolumeDevice(volume, disk.header);
        if (pDevice != nullptr)
            AddVolume(pDevice, volume, out);
    }
}

void CLdmDatabaseReader::BuildExtents(const LDM_COMPONENT_RECORD& component, CLdmExtentList& out)
{
    uint64_t u64Taken = 0;
    for (const LDM_PARTITION_RECORD* pPartition : component.partitions) {
        if (u64Taken >= component.u64Children)
            break;
        ++u64Taken;
        LDM_EXTENT* pExtent = static_cast<LDM_EXTENT*>(AllocOrRaise(sizeof(LDM_EXTENT)));
        memset(pExtent, 0, sizeof(*pExtent));
        pExtent->nPartitionIndex = static_cast<uint32_t>(pPartition->u64Index);
        if (pPartition->pDisk != nullptr)
            CopyText(pPartition->pDisk->szDiskId, pExtent->szDiskId, sizeof(pExtent->szDiskId));
        pExtent->u64VolumeOffset = pPartition->u64VolumeOffset;
        pExtent->u64Length = pPartition->u64Sectors;
        const MEMBER_DISK* pMember = FindMember(pExtent->szDiskId);
        // A start that would wrap round the disk's sector numbers is on no disk.
        if (pMember != nullptr && pPartition->u64Start <= UINT64_MAX - pMember->header.u64LogicalDiskStart) {
            pExtent->pDisk = pMember->pDisk;
            pExtent->u64DiskStart = pPartition->u64Start + pMember->header.u64LogicalDiskStart;
        }
        out.push_back(pExtent);
    }
    out.sort(LdmExtentBefore);
}

IDynamicDevice* CLdmDatabaseReader::BuildVolumeDevice(const LDM_VOLUME_RECORD& volume,
                                                      const LDM_PRIVATE_HEADER& header)
{
    DYNAMIC_VOLUME_DESC desc;
    memset(&desc, 0, sizeof(desc));
    CopyText(header.szDiskGroupName, desc.szDiskGroupName, sizeof(desc.szDiskGroupName));
    CopyText(volume.szName, desc.szVolumeName, sizeof(desc.szVolumeName));
    desc.nFileSystemKind = volume.byPartitionType;
    desc.u64VolumeSectors = volume.u64Sectors;

    const LDM_COMPONENT_RECORD* pFirst = volume.components.front();
    const LDM_COMPONENT_RECORD* pSecond =
        volume.components.size() > 1 ? *std::next(volume.components.begin()) : nullptr;
    CLdmExtentList first;
    CLdmExtentList second;
    BuildExtents(*pFirst, first);
    if (pSecond != nullptr)
        BuildExtents(*pSecond, second);

    int nKind = 0;
    if (volume.byVolumeType == LDM_VOLUME_PLAIN && volume.u64Children > 1)
        nKind = DYNAMIC_KIND_MIRROR;
    else if (volume.byVolumeType == LDM_VOLUME_PLAIN && pFirst->byType == LDM_COMPONENT_STRIPED)
        nKind = DYNAMIC_KIND_STRIPED;
    else if (volume.byVolumeType == LDM_VOLUME_PLAIN && pFirst->byType == LDM_COMPONENT_SPANNED)
        nKind = pFirst->u64Children < 2 ? DYNAMIC_KIND_SIMPLE : DYNAMIC_KIND_SPANNED;
    else if ((volume.byVolumeType == LDM_VOLUME_PLAIN && pFirst->byType == LDM_COMPONENT_RAID5) ||
             volume.byVolumeType == LDM_VOLUME_RAID5)
        nKind = DYNAMIC_KIND_RAID5;

    IDynamicDevice* pDevice = nullptr;
    if (nKind != 0) {
        SettleVolumeSize(nKind, volume, first, &desc);
        auto makeMember = [&](const LDM_COMPONENT_RECORD* pComponent, const CLdmExtentList& extents) -> IDynamicDevice* {
            if (pComponent == nullptr)
                return nullptr;
            if (pComponent->byType == LDM_COMPONENT_STRIPED)
                return CreateStripedVolumeDevice(DYNAMIC_KIND_MIRROR, desc, extents);
            if (pComponent->byType == LDM_COMPONENT_SPANNED)
                return pComponent->u64Children < 2 ? CreateSimpleVolumeDevice(DYNAMIC_KIND_MIRROR, desc, extents)
                                                   : CreateSpannedVolumeDevice(DYNAMIC_KIND_MIRROR, desc, extents);
            return nullptr;
        };
        switch (nKind) {
        case DYNAMIC_KIND_MIRROR:
            pDevice = CreateMirrorVolumeDevice(nKind, desc, makeMember(pFirst, first), makeMember(pSecond, second));
            break;
        case DYNAMIC_KIND_STRIPED:
            pDevice = CreateStripedVolumeDevice(nKind, desc, first);
            break;
        case DYNAMIC_KIND_SIMPLE:
            pDevice = CreateSimpleVolumeDevice(nKind, desc, first);
            break;
        case DYNAMIC_KIND_SPANNED:
            pDevice = CreateSpannedVolumeDevice(nKind, desc, first);
            break;
        default:
            pDevice = CreateRaid5VolumeDevice(nKind, desc, first);
            break;
        }
    }
    FreeExtents(first);
    FreeExtents(second);
    return pDevice;
}

void CLdmDatabaseReader::AddVolume(IDynamicDevice* pDevice, const LDM_VOLUME_RECORD& volume,
                                   CDynamicVolumeInfoList& out)
{
    for (const DYNAMIC_VOLUME_INFO* pListed : out) {
        if (pListed->pDevice == pDevice || pDevice->IsSameVolume(pListed->pDevice)) {
            // The volume again, as another of its member disks describes it.
            delete pDevice;
            return;
        }
    }

    DYNAMIC_VOLUME_INFO* pInfo = new DYNAMIC_VOLUME_INFO;
    pInfo->pDevice = pDevice;
    pInfo->u64Sectors = pDevice->GetTotalSectors();

    // A volume with a member on a disk that is no dynamic disk (a copy, an image) is not the
    // volume the system mounts, whatever its names say.
    bool bAllDynamic = true;
    CLdmExtentList members;
    pDevice->GetMembers(members);
    for (const LDM_EXTENT* pExtent : members) {
        if (pExtent->pDisk != nullptr && !IsLdmDisk(pExtent->pDisk)) {
            bAllDynamic = false;
            break;
        }
    }
    if (bAllDynamic) {
        pInfo->chDriveLetter = pDevice->GetDriveLetter();
        if (pInfo->chDriveLetter == 0)
            pInfo->chDriveLetter = GetDriveLetterFromVolumeGuid(volume.aGuid);
    }

    uint32_t nKind = pDevice->GetFileSystemKind();
    {
        CVolumeAnalyzeList recognisers(pDevice, 0);
        IVolume* pVolume = recognisers.GetVolume();
        nKind = pVolume != nullptr ? static_cast<uint32_t>(pVolume->GetFileSystemType()) : FILE_SYSTEM_UNKNOWN;
    }
    pInfo->nFileSystemKind = nKind;
    ReadVolumeLabelByKind(pDevice, nKind, pInfo->szLabel, sizeof(pInfo->szLabel));
    GetDynamicVolumeKindName(static_cast<uint32_t>(pDevice->GetDynamicKind()), pInfo->szKindName,
                             sizeof(pInfo->szKindName));
    out.push_back(pInfo);
}

// ----- volume rules -----------------------------------------------------------------------------

bool IsBuildableLdmVolume(const LDM_VOLUME_RECORD& volume)
{
    if (volume.byVolumeType != LDM_VOLUME_PLAIN && volume.byVolumeType != LDM_VOLUME_RAID5)
        return false;
    if (volume.components.empty())
        return false;
    for (const LDM_COMPONENT_RECORD* pComponent : volume.components) {
        if (pComponent->byType != LDM_COMPONENT_STRIPED && pComponent->byType != LDM_COMPONENT_SPANNED &&
            pComponent->byType != LDM_COMPONENT_RAID5)
            return false;
        if (pComponent->partitions.empty())
            return false;
        for (const LDM_PARTITION_RECORD* pPartition : pComponent->partitions) {
            if (pPartition->pDisk == nullptr)
                return false;
        }
    }
    return true;
}

bool LdmExtentBefore(const LDM_EXTENT* a, const LDM_EXTENT* b)
{
    if (a->u64VolumeOffset != b->u64VolumeOffset)
        return a->u64VolumeOffset < b->u64VolumeOffset;
    return a->nPartitionIndex < b->nPartitionIndex;
}

void SettleVolumeSize(int nKind, const LDM_VOLUME_RECORD& volume, const CLdmExtentList& extents,
                      DYNAMIC_VOLUME_DESC* pDesc)
{
    pDesc->nFileSystemKind = PartitionTypeToFileSystemKind(volume.byPartitionType);
    uint8_t aSector[kSectorBytes];
    memset(aSector, 0, sizeof(aSector));
    bool bSector = false;
    const LDM_EXTENT* pFirst = extents.empty() ? nullptr : extents.front();
    if (pFirst != nullptr && pFirst->pDisk != nullptr) {
        bSector = pFirst->pDisk->ReadSectors(aSector, pFirst->u64DiskStart, 1) != 0;
        if (!bSector)
            memset(aSector, 0, sizeof(aSector));
    }
    if (bSector) {
        const uint32_t nBootKind = GetBootSectorFileSystemKind(aSector, sizeof(aSector));
        if (nBootKind != FILE_SYSTEM_UNKNOWN)
            pDesc->nFileSystemKind = nBootKind;
    }

    bool bAllPresent = !extents.empty();
    uint64_t u64Sum = 0;
    for (const LDM_EXTENT* pExtent : extents) {
        if (pExtent->pDisk == nullptr || pExtent->pDisk->GetTotalSectors() < pExtent->u64Length) {
            bAllPresent = false;
            break;
        }
        u64Sum = SaturatingAdd(u64Sum, pExtent->u64Length);
    }
    if (bAllPresent) {
        if (nKind == DYNAMIC_KIND_RAID5) {
            const uint64_t u64Columns = extents.size();
            u64Sum = static_cast<uint64_t>(static_cast<unsigned __int128>(u64Sum) * (u64Columns - 1) / u64Columns);
        }
        pDesc->u64VolumeSectors = u64Sum;
        return;
    }

    // A member is missing: the file system's own idea of its size, where its boot sector is one
    // the kind can be read from; any other sector says nothing of the size.
    pDesc->u64VolumeSectors = volume.u64Sectors;
    if (!bSector)
        return;
    const uint32_t nFsKind = pDesc->nFileSystemKind;
    if (nFsKind <= FILE_SYSTEM_FAT32) {
        CFATDBR fat(aSector, sizeof(aSector));
        if (fat.IsValid() && fat.GetTotalSectors() != 0)
            pDesc->u64VolumeSectors = fat.GetTotalSectors();
    } else if (nFsKind == FILE_SYSTEM_NTFS) {
        CNTFSDBR ntfs;
        if (ntfs.SetIfValid(aSector, sizeof(aSector)) && ntfs.GetTotalSectors() != 0)
            pDesc->u64VolumeSectors = SaturatingAdd(ntfs.GetTotalSectors(), 1);
    }
}

bool IsLdmDisk(IStorageDevice* pDisk)
{
    if (pDisk == nullptr)
        return false;
    uint8_t aSector[kSectorBytes];
    // The name of the first GPT entry: UTF-16 "LDM metadata partition", zeros after it.
    static const char kName[] = "LDM metadata partition";
    const size_t kNameOffset = 56;
    const size_t kNameBytes = 64;
    memset(aSector, 0, sizeof(aSector));
    if (pDisk->ReadSectors(aSector, 2, 1)) {
        uint8_t aExpected[kNameBytes];
        memset(aExpected, 0, sizeof(aExpected));
        for (size_t i = 0; i + 1 < sizeof(kName); ++i)
            aExpected[2 * i] = static_cast<uint8_t>(kName[i]);
        if (memcmp(aSector + kNameOffset, aExpected, kNameBytes) == 0)
            return true;
    }
    memset(aSector, 0, sizeof(aSector));
    if (!pDisk->ReadSectors(aSector, 0, 1))
        return false;
    for (size_t i = 0; i < 4; ++i) {
        if (aSector[446 + 16 * i + 4] == 0x42)
            return true;
    }
    return false;
}
