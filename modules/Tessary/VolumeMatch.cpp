#include "VolumeMatch.h"

#include <cctype>

#include "DiskDevice.h"
#include "IOmbrel.h"
#include "IStorageDevice.h"

namespace tessary {

namespace {

char UpperLetter(char ch)
{
    return static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
}

bool HasLength(const COLLECTED_VOLUME& volume, const STORED_SOURCE& source)
{
    return source.dwWholeDisk != 0 || volume.pDevice->GetTotalSectors() == source.ullSectors;
}

const COLLECTED_VOLUME* FindFloppy(CDeviceCollection& collection, const STORED_SOURCE& source)
{
    const COLLECTED_VOLUME* pFound = nullptr;
    for (const COLLECTED_VOLUME& volume : collection.GetVolumes()) {
        if (volume.bFloppy == 0 || volume.pDevice == nullptr || volume.Members[0].pDisk != nullptr)
            continue;
        if (source.chDriveLetter != 0 && UpperLetter(volume.chDriveLetter) != UpperLetter(source.chDriveLetter))
            continue;
        if (volume.Members[0].ullStartSector != source.ullStartSector || !HasLength(volume, source))
            continue;
        if (source.chDriveLetter != 0)
            return &volume;
        // Two floppies of one size cannot be told apart without the letter.
        if (pFound != nullptr)
            return nullptr;
        pFound = &volume;
    }
    return pFound;
}

} // namespace

CDiskDevice* FindCollectedDisk(CDeviceCollection& collection, DWORD dwDisk)
{
    for (CDiskDevice* pDisk : collection.GetDisks()) {
        if (pDisk != nullptr && pDisk->GetDiskNumber() >= 0 && static_cast<DWORD>(pDisk->GetDiskNumber()) == dwDisk)
            return pDisk;
    }
    return nullptr;
}

const COLLECTED_VOLUME* FindScannedVolume(CDeviceCollection& collection, const STORED_SOURCE& source)
{
    if (source.dwDiskNumber == OMBREL_NO_DISK)
        return FindFloppy(collection, source);
    CDiskDevice* pDisk = FindCollectedDisk(collection, source.dwDiskNumber);
    if (pDisk == nullptr)
        return nullptr;
    for (const COLLECTED_VOLUME& volume : collection.GetVolumes()) {
        const COLLECTED_MEMBER& member = volume.Members[0];
        if (volume.pDevice == nullptr || member.pDisk != static_cast<IStorageDevice*>(pDisk))
            continue;
        if (member.ullStartSector == source.ullStartSector && HasLength(volume, source))
            return &volume;
    }
    return nullptr;
}

} // namespace tessary
