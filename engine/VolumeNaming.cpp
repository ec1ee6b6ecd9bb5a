#include "VolumeNaming.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "ByteOrder.h"
#include "DiskDevice.h"
#include "DiskTable.h"

namespace {

// Where the fields of one drive-layout form lie.
struct LAYOUT_FORM {
    size_t nCountOffset;
    size_t nFirstEntry;
    size_t nEntryBytes;
    size_t nStartingOffset;   // within an entry, 64-bit
    size_t nPartitionNumber;  // within an entry, 32-bit
};

const LAYOUT_FORM kLayoutEx = {4, 48, 144, 8, 24};
const LAYOUT_FORM kLayoutLegacy = {0, 8, 32, 0, 20};

// The count is the disk stack's own answer, and CDiskDevice::QueryDriveLayout only hands out a
// buffer that holds every entry the count announces.
int FindPartitionNumberIn(const PARTITION_ENTRY* pEntry, const uint8_t* pLayout, const LAYOUT_FORM& form)
{
    if (pEntry == nullptr || pLayout == nullptr)
        return -1;
    const uint32_t nCount = rvd::LoadLE32(pLayout + form.nCountOffset);
    for (uint32_t i = 0; i < nCount; ++i) {
        const uint8_t* pItem = pLayout + form.nFirstEntry + static_cast<size_t>(i) * form.nEntryBytes;
        if (rvd::LoadLE64(pItem + form.nStartingOffset) / 512 == pEntry->u64StartSector)
            return static_cast<int>(rvd::LoadLE32(pItem + form.nPartitionNumber));
    }
    return -1;
}

bool StartsWith(const std::u16string& strText, const char* pszPrefix)
{
    size_t i = 0;
    for (; pszPrefix[i] != '\0'; ++i) {
        if (i >= strText.size() || strText[i] != static_cast<char16_t>(static_cast<unsigned char>(pszPrefix[i])))
            return false;
    }
    return true;
}

const char kVolumeLinkPrefix[] = "\\??\\Volume{";
const char kDosDeviceLinkPrefix[] = "\\DosDevices\\";

int NameVolumes(CDiskDevice* pDisk, const uint8_t* pLayout, const LAYOUT_FORM& form, CPartitionEntryList& entries)
{
    for (PARTITION_ENTRY* pEntry : entries) {
        const int nPartition = FindPartitionNumberIn(pEntry, pLayout, form);
        if (nPartition == -1)
            continue;
        const int nDisk = pDisk != nullptr ? pDisk->GetDiskNumber() : -1;
        if (nDisk == -1)
            return 0;
        char szDevice[64];
        snprintf(szDevice, sizeof(szDevice), "\\Device\\Harddisk%u\\Partition%u", static_cast<unsigned>(nDisk),
                 static_cast<unsigned>(nPartition));
        std::u16string strDevice;
        for (const char* p = szDevice; *p != '\0'; ++p)
            strDevice += static_cast<char16_t>(*p);
        // Without the manager (no rights to it) no partition of this disk can be named.
        if (!rvdplat::MountPointManagerAvailable())
            return 0;
        std::vector<std::u16string> links;
        if (!rvdplat::QueryMountPoints(strDevice, &links))
            continue;
        ApplyMountPoints(pEntry, links);
    }
    return 1;
}

} // namespace

void ApplyMountPoints(PARTITION_ENTRY* pEntry, const std::vector<std::u16string>& links)
{
    if (pEntry == nullptr)
        return;
    for (const std::u16string& strRaw : links) {
        // A link name ends at its first NUL, whatever length the answer gives it.
        const std::u16string strLink = strRaw.substr(0, strRaw.find(u'\0'));
        if (strLink.empty())
            continue;
        if (StartsWith(strLink, kVolumeLinkPrefix)) {
            const size_t nChars = std::min(strLink.size(), VOLUME_NAME_CHARS);
            memset(pEntry->szVolumeName, 0, sizeof(pEntry->szVolumeName));
            memcpy(pEntry->szVolumeName, strLink.data(), nChars * sizeof(char16_t));
            // "\??\" is the manager's own prefix; "\\?\" names the same volume for everyone else.
            pEntry->szVolumeName[1] = u'\\';
            std::u16string strRoot(pEntry->szVolumeName, nChars);
            strRoot += u'\\';
            rvdplat::DISK_FREE_SPACE space;
            if (rvdplat::GetDiskFreeSpace(strRoot, &space) == rvdplat::kWinErrSuccess && pEntry->nBytesPerSector != 0)
                pEntry->u64FreeSectors = space.qwTotalFreeBytes / pEntry->nBytesPerSector;
        } else if (StartsWith(strLink, kDosDeviceLinkPrefix)) {
            const size_t nLetter = sizeof(kDosDeviceLinkPrefix) - 1;
            pEntry->chDriveLetter = nLetter < strLink.size() ? static_cast<char>(strLink[nLetter] & 0xFF) : 0;
        }
    }
}

int FindPartitionNumber(const PARTITION_ENTRY* pEntry, const DRIVE_LAYOUT_INFORMATION_EX* pLayout)
{
    return FindPartitionNumberIn(pEntry, reinterpret_cast<const uint8_t*>(pLayout), kLayoutEx);
}

int FindPartitionNumber(const PARTITION_ENTRY* pEntry, const DRIVE_LAYOUT_INFORMATION* pLayout)
{
    return FindPartitionNumberIn(pEntry, reinterpret_cast<const uint8_t*>(pLayout), kLayoutLegacy);
}

int NameVolumesFromLayoutEx(CDiskDevice* pDisk, const DRIVE_LAYOUT_INFORMATION_EX* pLayout,
                            CPartitionEntryList& entries)
{
    return NameVolumes(pDisk, reinterpret_cast<const uint8_t*>(pLayout), kLayoutEx, entries);
}

int NameVolumesFromLayout(CDiskDevice* pDisk, const DRIVE_LAYOUT_INFORMATION* pLayout, CPartitionEntryList& entries)
{
    return NameVolumes(pDisk, reinterpret_cast<const uint8_t*>(pLayout), kLayoutLegacy, entries);
}
