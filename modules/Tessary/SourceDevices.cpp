#include "SourceDevices.h"

#include <exception>
#include <string>

#include "BasicPartitionDevice.h"
#include "DiskDevice.h"
#include "IDynamicDevice.h"
#include "IOmbrel.h"
#include "Veskel.h"
#include "VolumeCollection.h"
#include "VolumeMatch.h"

namespace tessary {

namespace {

std::string DynamicKindText(uint32_t nKind)
{
    switch (nKind) {
    case DYNAMIC_KIND_SIMPLE:
        return "simple";
    case DYNAMIC_KIND_MIRROR:
        return "mirrored";
    case DYNAMIC_KIND_SPANNED:
        return "spanned";
    case DYNAMIC_KIND_STRIPED:
        return "striped";
    case DYNAMIC_KIND_RAID5:
        return "RAID-5";
    default:
        return "dynamic";
    }
}

std::string PlaceText(const STORED_SOURCE& source)
{
    return "sector " + std::to_string(source.ullStartSector) + " of " + DiskName(source.dwDiskNumber);
}

VOLUME_SOURCE DiskWindow(DWORD dwDisk, uint64_t ullStart, uint64_t ullSectors)
{
    VOLUME_SOURCE result;
    result.nKind = SOURCE_DISK_WINDOW;
    result.dwDisk = dwDisk;
    result.ullStart = ullStart;
    result.ullSectors = ullSectors;
    result.strName = DiskName(dwDisk);
    return result;
}

VOLUME_SOURCE Missing(const std::string& strProblem)
{
    VOLUME_SOURCE result;
    result.strProblem = strProblem;
    return result;
}

// The engine's device of a collected dynamic volume, with the disks its members lie on.
VOLUME_SOURCE DynamicVolume(const COLLECTED_VOLUME& volume, const STORED_SOURCE& source)
{
    VOLUME_SOURCE result;
    result.nKind = SOURCE_DEVICE;
    result.pDevice = volume.pDevice;
    result.strName = "the " + DynamicKindText(volume.nDynamicKind) + " volume at " + PlaceText(source);
    IDynamicDevice* pDynamic = dynamic_cast<IDynamicDevice*>(volume.pDevice);
    if (pDynamic == nullptr)
        return result;
    // A mirror keeps a second copy and RAID-5 rebuilds a column from parity: their members are
    // read so that a bad sector fails, and the volume reads around it. Any other volume reads
    // zeros where a member is missing or unreadable.
    const bool bRedundant = volume.nDynamicKind == DYNAMIC_KIND_MIRROR || volume.nDynamicKind == DYNAMIC_KIND_RAID5;
    CLdmExtentList members;
    pDynamic->GetMembers(members);
    size_t nMissing = 0;
    for (const LDM_EXTENT* pExtent : members) {
        if (pExtent == nullptr)
            continue;
        if (pExtent->pDisk == nullptr) {
            ++nMissing;
            continue;
        }
        CDiskDevice* pDisk = dynamic_cast<CDiskDevice*>(pExtent->pDisk);
        if (!bRedundant && pDisk != nullptr && pExtent->u64DiskStart <= UINT64_MAX - pExtent->u64Length) {
            MEMBER_EXTENT member;
            member.pDisk = pDisk;
            member.ullStart = pExtent->u64DiskStart;
            member.ullSectors = pExtent->u64Length;
            result.vecMembers.push_back(member);
        }
    }
    if (nMissing != 0 && !bRedundant)
        result.strNote = result.strName + " is missing a member disk; whatever of the file lay there is zeros";
    return result;
}

VOLUME_SOURCE CollectedVolume(const COLLECTED_VOLUME& volume, const STORED_SOURCE& source)
{
    if (volume.bFloppy != 0) {
        VOLUME_SOURCE result;
        result.nKind = SOURCE_DRIVE_LETTER;
        result.chLetter = volume.chDriveLetter;
        result.strName = DriveName(volume.chDriveLetter);
        return result;
    }
    if (volume.nDynamicKind != 0)
        return DynamicVolume(volume, source);
    // A basic volume's device is a window over its disk: the disk gives the same bytes, and
    // reports every unreadable sector.
    IStorageDevice* pDisk = volume.Members[0].pDisk;
    const CBasicPartitionDevice* pWindow = dynamic_cast<CBasicPartitionDevice*>(volume.pDevice);
    if (pWindow != nullptr && pWindow->GetParentDevice() == pDisk)
        return DiskWindow(source.dwDiskNumber, pWindow->GetStartSector(), volume.pDevice->GetTotalSectors());
    if (volume.pDevice == pDisk)
        return DiskWindow(source.dwDiskNumber, 0, UINT64_MAX);
    VOLUME_SOURCE result;
    result.nKind = SOURCE_DEVICE;
    result.pDevice = volume.pDevice;
    result.strName = "the volume at " + PlaceText(source);
    return result;
}

} // namespace

CSourceDevices::CSourceDevices() : m_bCollected(false) {}

CSourceDevices::~CSourceDevices()
{
    m_mapResolved.clear();
    m_pCollection.reset();
}

CDeviceCollection* CSourceDevices::Collection()
{
    if (!m_bCollected) {
        m_bCollected = true;
        try {
            m_pCollection.reset(new CDeviceCollection());
            m_pCollection->Collect();
        } catch (const std::exception& e) {
            LogInfo("Copy-out: taking stock of the disks failed: %s", e.what());
            m_pCollection.reset();
        } catch (...) {
            LogInfo("Copy-out: taking stock of the disks failed");
            m_pCollection.reset();
        }
    }
    return m_pCollection.get();
}

const VOLUME_SOURCE& CSourceDevices::Resolve(const STORED_VOLUME& volume)
{
    auto it = m_mapResolved.find(volume.dwVolume);
    if (it == m_mapResolved.end()) {
        it = m_mapResolved.emplace(volume.dwVolume, ResolveVolume(volume.Source)).first;
        const VOLUME_SOURCE& result = it->second;
        LogInfo("Copy-out: volume %u is read from %s%s%s", volume.dwVolume,
                result.nKind == SOURCE_MISSING ? "nowhere: " : "", result.strName.c_str(),
                result.strProblem.c_str());
    }
    return it->second;
}

VOLUME_SOURCE CSourceDevices::ResolveVolume(const STORED_SOURCE& source)
{
    // A whole-disk scan read the disk itself.
    if (source.dwKind == STORED_SOURCE_DISK)
        return DiskWindow(source.dwDiskNumber, 0, UINT64_MAX);

    const bool bFloppy = source.dwDiskNumber == OMBREL_NO_DISK;
    CDeviceCollection* pCollection = Collection();
    if (pCollection == nullptr)
        return Missing("the disks of this machine could not be listed");
    if (const COLLECTED_VOLUME* pVolume = FindScannedVolume(*pCollection, source))
        return CollectedVolume(*pVolume, source);

    if (bFloppy) {
        if (source.chDriveLetter != 0)
            return Missing("no floppy disk is in " + DriveName(source.chDriveLetter) + " now");
        return Missing("the floppy disk it was found on cannot be told from others (no drive letter was kept)");
    }
    CDiskDevice* pDisk = FindCollectedDisk(*pCollection, source.dwDiskNumber);
    const uint64_t ullSectors = source.dwWholeDisk != 0 ? UINT64_MAX : source.ullSectors;
    // A disk that is not there now: its reads say so, file by file.
    if (pDisk == nullptr || pDisk->IsDynamic() == 0)
        return DiskWindow(source.dwDiskNumber, source.ullStartSector, ullSectors);
    // On a dynamic disk only the disk as a whole is a window; a volume there has a layout of its
    // own, which reading the disk at its first member's start would not follow.
    if (source.ullStartSector == 0 && (source.dwWholeDisk != 0 || source.ullSectors == pDisk->GetTotalSectors()))
        return DiskWindow(source.dwDiskNumber, 0, UINT64_MAX);
    return Missing("the dynamic volume at " + PlaceText(source) + " (" + std::to_string(source.ullSectors) +
                   " sectors) is not among the volumes of the disks now");
}

} // namespace tessary
