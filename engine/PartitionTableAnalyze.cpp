#include "PartitionTableAnalyze.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "BasicPartitionDevice.h"
#include "ByteOrder.h"
#include "DiskProbe.h"
#include "GptPartitionType.h"
#include "MbrSector.h"
#include "VolumeAnalyzeList.h"
#include "fat/FATDBR.h"
#include "fat/FATVolumeLabelReader.h"
#include "ntfs/NTFSDBR.h"
#include "ntfs/NTFSVolumeLabelReader.h"

PARTITION_ENTRY::PARTITION_ENTRY()
    : u64StartSector(0), u64SectorCount(0), u64FileSystemSectors(0), chDriveLetter(0),
      nFileSystemKind(FILE_SYSTEM_UNKNOWN), bActive(0), bPrimary(0), nPartitionType(0),
      nBytesPerSector(0), nSectorsPerCluster(0), nSectorsBefore(0), u64FreeSectors(0), pDevice(nullptr)
{
    memset(szLabel, 0, sizeof(szLabel));
    memset(szVolumeName, 0, sizeof(szVolumeName));
}

void FreePartitionEntries(CPartitionEntryList& list, bool bDeleteDevices)
{
    for (PARTITION_ENTRY* pEntry : list) {
        if (bDeleteDevices)
            delete pEntry->pDevice;
        delete pEntry;
    }
    list.clear();
}

namespace {

const size_t kSectorBytes = 512;

struct RECOGNISED_VOLUME {
    bool bFound;
    uint32_t nKind;
    uint64_t u64TotalSectors;
    char szLabel[100];
    uint32_t nBytesPerSector;
    uint32_t nSectorsPerCluster;
};

RECOGNISED_VOLUME Recognise(IStorageDevice* pDisk, uint64_t u64Start)
{
    RECOGNISED_VOLUME result;
    memset(&result, 0, sizeof(result));
    result.nKind = FILE_SYSTEM_UNKNOWN;
    CVolumeAnalyzeList list(pDisk, u64Start);
    IVolume* pVolume = list.GetVolume();
    if (pVolume == nullptr || pVolume->GetFileSystemType() == FILE_SYSTEM_UNKNOWN)
        return result;
    result.bFound = true;
    result.nKind = static_cast<uint32_t>(pVolume->GetFileSystemType());
    result.u64TotalSectors = pVolume->GetTotalSectors();
    pVolume->GetVolumeLabel(result.szLabel, sizeof(result.szLabel));
    result.szLabel[sizeof(result.szLabel) - 1] = '\0';
    result.nBytesPerSector = static_cast<uint32_t>(pVolume->GetBytesPerSector());
    result.nSectorsPerCluster = static_cast<uint32_t>(pVolume->GetSectorsPerCluster());
    return result;
}

// The analysis of one disk: the readers append to m_Entries, which the caller sorts, fills with
// gaps and hands over.
class CDiskAnalysis {
public:
    CDiskAnalysis(IStorageDevice* pDisk, const rvdplat::DISK_GEOMETRY& geometry)
        : m_pDisk(pDisk), m_Geometry(geometry), m_u64DiskSectors(pDisk->GetTotalSectors())
    {
    }

    void ReadGpt();
    // Lists the known entries of an entry array; how many there were.
    size_t ListGptEntries(const uint8_t* pArray, size_t nEntries, size_t nEntryBytes);
    void ReadBackupGpt();
    void ReadWholeDisk();
    void ReadMbr();
    void AddGaps();
    CPartitionEntryList& Entries() { return m_Entries; }

private:
    enum EEntryForm { kFormTable, kFormGpt, kFormWholeDisk };

    bool ReadSector(uint64_t u64Sector, uint8_t* pSector);
    void AddEntry(PARTITION_ENTRY* pEntry, EEntryForm eForm, const RECOGNISED_VOLUME* pKnown);
    bool IsListedStart(uint64_t u64Start) const;
    void WalkExtendedChain(uint64_t u64Base);

    IStorageDevice* m_pDisk;
    rvdplat::DISK_GEOMETRY m_Geometry;
    uint64_t m_u64DiskSectors;
    CPartitionEntryList m_Entries;
};

bool CDiskAnalysis::ReadSector(uint64_t u64Sector, uint8_t* pSector)
{
    memset(pSector, 0, kSectorBytes);
    if (m_pDisk->ReadSectors(pSector, u64Sector, 1))
        return true;
    memset(pSector, 0, kSectorBytes);
    return false;
}

// Clamps the entry to the disk, names its file system, gives it a device and lists it. An entry
// that starts at or past the disk's end is dropped.
void CDiskAnalysis::AddEntry(PARTITION_ENTRY* pEntry, EEntryForm eForm, const RECOGNISED_VOLUME* pKnown)
{
    const uint64_t u64Start = pEntry->u64StartSector;
    if (u64Start >= m_u64DiskSectors) {
        delete pEntry;
        return;
    }
    const uint64_t u64Room = m_u64DiskSectors - u64Start;
    if (pEntry->u64SectorCount == 0 || pEntry->u64SectorCount > u64Room)
        pEntry->u64SectorCount = u64Room;

    const RECOGNISED_VOLUME volume = pKnown != nullptr ? *pKnown : Recognise(m_pDisk, u64Start);
    if (volume.bFound) {
        if (eForm == kFormWholeDisk) {
            pEntry->u64FileSystemSectors = volume.u64TotalSectors;
        } else if (volume.u64TotalSectors != 0 && volume.u64TotalSectors <= u64Room) {
            // A file system that ends on the disk's last sector fits on the disk too.
            pEntry->u64FileSystemSectors = volume.u64TotalSectors;
        }
        pEntry->nFileSystemKind = volume.nKind;
        memcpy(pEntry->szLabel, volume.szLabel, sizeof(pEntry->szLabel));
        if (eForm != kFormGpt)
            pEntry->nBytesPerSector = volume.nBytesPerSector;
        pEntry->nSectorsPerCluster = volume.nSectorsPerCluster;
        if (eForm != kFormTable)
            pEntry->nPartitionType = KindToPartitionType(volume.nKind);
    }

    pEntry->pDevice = new CBasicPartitionDevice(m_pDisk, u64Start, pEntry->u64SectorCount);
    m_Entries.push_back(pEntry);
}

void CDiskAnalysis::ReadGpt()
{
    std::vector<uint8_t, CEngineAllocator<uint8_t>> array(GPT_ARRAY_SECTORS * kSectorBytes, 0);
    if (m_pDisk->ReadSectors(array.data(), GPT_ARRAY_FIRST_SECTOR, GPT_ARRAY_SECTORS) &&
        ListGptEntries(array.data(), GPT_ARRAY_ENTRIES, GPT_ENTRY_BYTES) != 0)
        return;
    // The entries at the disk's start are unreadable, wiped or list nothing: the copy at its
    // end serves instead.
    ReadBackupGpt();
}

namespace {

// The CRC-32 that GPT headers and entry arrays carry (reflected, polynomial 0xEDB88320).
uint32_t GptCrc32(const uint8_t* p, size_t n)
{
    uint32_t nCrc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        nCrc ^= p[i];
        for (int k = 0; k < 8; ++k)
            nCrc = (nCrc >> 1) ^ (0xEDB88320u & (0u - (nCrc & 1u)));
    }
    return ~nCrc;
}

// Fields of a GPT header.
const size_t kGptHeaderSize = 12;
const size_t kGptHeaderCrc = 16;
const size_t kGptMyLba = 24;
const size_t kGptArrayLba = 72;
const size_t kGptEntryCount = 80;
const size_t kGptEntrySize = 84;
const size_t kGptArrayCrc = 88;
const uint32_t kGptMinHeaderBytes = 92;
// Bounds for a backup array: far above what tools write (128 entries of 128 bytes), low enough
// that a damaged header cannot ask for a large read.
const uint32_t kGptMaxEntries = 1024;
const uint32_t kGptMaxEntryBytes = 4096;

} // namespace

// The backup header lies in the disk's last sector and says where the backup entry array is.
// Only a header that names that sector as its own and whose checksums (its own and the array's)
// hold is used: nothing else vouches for the numbers it gives.
void CDiskAnalysis::ReadBackupGpt()
{
    if (m_u64DiskSectors < 2)
        return;
    uint8_t aHeader[kSectorBytes];
    if (!ReadSector(m_u64DiskSectors - 1, aHeader) || memcmp(aHeader, "EFI PART", 8) != 0)
        return;
    const uint32_t nHeaderBytes = rvd::LoadLE32(aHeader + kGptHeaderSize);
    if (nHeaderBytes < kGptMinHeaderBytes || nHeaderBytes > kSectorBytes)
        return;
    const uint32_t nHeaderCrc = rvd::LoadLE32(aHeader + kGptHeaderCrc);
    uint8_t aCopy[kSectorBytes];
    memcpy(aCopy, aHeader, sizeof(aCopy));
    memset(aCopy + kGptHeaderCrc, 0, 4);
    if (GptCrc32(aCopy, nHeaderBytes) != nHeaderCrc || rvd::LoadLE64(aHeader + kGptMyLba) != m_u64DiskSectors - 1)
        return;
    const uint64_t u64ArrayLba = rvd::LoadLE64(aHeader + kGptArrayLba);
    const uint32_t nEntries = rvd::LoadLE32(aHeader + kGptEntryCount);
    const uint32_t nEntryBytes = rvd::LoadLE32(aHeader + kGptEntrySize);
    if (nEntries == 0 || nEntries > kGptMaxEntries || nEntryBytes < GPT_ENTRY_BYTES ||
        nEntryBytes > kGptMaxEntryBytes || nEntryBytes % 8 != 0)
        return;
    const uint64_t u64Bytes = static_cast<uint64_t>(nEntries) * nEntryBytes;
    const uint64_t u64Sectors = (u64Bytes + kSectorBytes - 1) / kSectorBytes;
    if (u64ArrayLba < 2 || u64ArrayLba >= m_u64DiskSectors - 1 || u64Sectors > m_u64DiskSectors - 1 - u64ArrayLba)
        return;
    std::vector<uint8_t, CEngineAllocator<uint8_t>> array(static_cast<size_t>(u64Sectors * kSectorBytes), 0);
    if (!m_pDisk->ReadSectors(array.data(), u64ArrayLba, u64Sectors) ||
        GptCrc32(array.data(), static_cast<size_t>(u64Bytes)) != rvd::LoadLE32(aHeader + kGptArrayCrc))
        return;
    ListGptEntries(array.data(), nEntries, nEntryBytes);
}

size_t CDiskAnalysis::ListGptEntries(const uint8_t* pArray, size_t nEntries, size_t nEntryBytes)
{
    size_t nListed = 0;
    for (size_t i = 0; i < nEntries; ++i) {
        GPT_ENTRY gpt;
        if (!ReadGptEntry(pArray + i * nEntryBytes, nEntryBytes, &gpt))
            break;
        // A type the table names lists its partition unless its row carries no file system (EFI
        // system, Microsoft reserved, ...). A type it does not name (newer ones, such as the
        // Linux root and home types) lists its partition only when a file system the readers
        // know starts there, so that such a volume is not hidden from the quick scan.
        RECOGNISED_VOLUME volume;
        const RECOGNISED_VOLUME* pKnown = nullptr;
        if (FindGptType(gpt) != nullptr) {
            if (!IsKnownGptType(gpt))
                continue;
        } else {
            if (IsUnusedGptEntry(gpt) || gpt.u64FirstLba >= m_u64DiskSectors)
                continue;
            volume = Recognise(m_pDisk, gpt.u64FirstLba);
            if (!volume.bFound)
                continue;
            pKnown = &volume;
        }
        ++nListed;
        PARTITION_ENTRY* pEntry = new PARTITION_ENTRY;
        pEntry->u64StartSector = gpt.u64FirstLba;
        // The last LBA belongs to the partition (NTFS keeps its backup boot sector there). An
        // entry that ends before it starts has no size of its own and is clamped like a zero
        // count; so is one spanning all 2^64 sectors, whose count wraps to 0.
        pEntry->u64SectorCount = gpt.u64LastLba >= gpt.u64FirstLba ? gpt.u64LastLba - gpt.u64FirstLba + 1 : 0;
        pEntry->bActive = 0;
        pEntry->bPrimary = 1;
        pEntry->nPartitionType = MBR_TYPE_GPT_PROTECTIVE;
        pEntry->nSectorsBefore = 0;
        pEntry->nBytesPerSector = m_Geometry.BytesPerSector;
        AddEntry(pEntry, kFormGpt, pKnown);
    }
    return nListed;
}

void CDiskAnalysis::ReadWholeDisk()
{
    const RECOGNISED_VOLUME volume = Recognise(m_pDisk, 0);
    if (!volume.bFound)
        return;
    PARTITION_ENTRY* pEntry = new PARTITION_ENTRY;
    pEntry->u64StartSector = 0;
    pEntry->u64SectorCount = volume.u64TotalSectors;
    pEntry->bPrimary = 1;
    AddEntry(pEntry, kFormWholeDisk, &volume);
}

void CDiskAnalysis::ReadMbr()
{
    uint8_t aSector[kSectorBytes];
    if (!ReadSector(0, aSector))
        return;
    MBR_ENTRY aEntries[MBR_ENTRY_COUNT];
    if (!ReadMbrSector(aSector, sizeof(aSector), aEntries))
        return;
    for (const MBR_ENTRY& entry : aEntries) {
        if (entry.bEmpty || entry.byType == MBR_TYPE_DYNAMIC)
            continue;
        if (IsExtendedPartitionType(entry.byType)) {
            WalkExtendedChain(entry.nFirstSector);
            continue;
        }
        PARTITION_ENTRY* pEntry = new PARTITION_ENTRY;
        pEntry->u64StartSector = entry.nFirstSector;
        pEntry->u64SectorCount = entry.nSectorCount;
        pEntry->bActive = entry.byBootIndicator == 0x80 ? 1 : 0;
        pEntry->bPrimary = 1;
        pEntry->nPartitionType = entry.byType;
        pEntry->nSectorsBefore = 0;
        AddEntry(pEntry, kFormTable, nullptr);
    }
}

bool CDiskAnalysis::IsListedStart(uint64_t u64Start) const
{
    for (const PARTITION_ENTRY* pEntry : m_Entries) {
        if (pEntry->u64StartSector == u64Start)
            return true;
    }
    return false;
}

// Walks the extended boot records depth first, in slot order, as a recursion over the links
// would: the logical partitions of a linked record come before those of later slots. Logical
// starts are relative to their own record, links relative to the chain's base. A record is read
// at most once and at most MAX_EXTENDED_BOOT_RECORDS records are read, so a chain whose links
// lead back into it ends.
void CDiskAnalysis::WalkExtendedChain(uint64_t u64Base)
{
    struct EBR_FRAME {
        uint64_t u64Sector;
        MBR_ENTRY aEntries[MBR_ENTRY_COUNT];
        int nNext;
    };
    std::vector<EBR_FRAME, CEngineAllocator<EBR_FRAME>> stack;
    std::vector<uint64_t, CEngineAllocator<uint64_t>> visited;
    uint8_t aSector[kSectorBytes];

    auto enter = [&](uint64_t u64Sector) {
        for (uint64_t u64Seen : visited) {
            if (u64Seen == u64Sector)
                return;
        }
        if (visited.size() >= MAX_EXTENDED_BOOT_RECORDS)
            return;
        visited.push_back(u64Sector);
        EBR_FRAME frame;
        frame.u64Sector = u64Sector;
        frame.nNext = 0;
        if (!ReadSector(u64Sector, aSector) || !ReadMbrSector(aSector, sizeof(aSector), frame.aEntries))
            return;
        stack.push_back(frame);
    };

    enter(u64Base);
    while (!stack.empty()) {
        EBR_FRAME& frame = stack.back();
        if (frame.nNext >= MBR_ENTRY_COUNT) {
            stack.pop_back();
            continue;
        }
        const MBR_ENTRY entry = frame.aEntries[frame.nNext++];
        if (entry.bEmpty)
            continue;
        const uint64_t u64Sector = frame.u64Sector;
        const uint64_t u64Start = u64Sector + entry.nFirstSector;
        // A slot that names a partition already listed means the chain came round again.
        if (IsListedStart(u64Start)) {
            stack.pop_back();
            continue;
        }
        if (entry.byType == MBR_TYPE_DYNAMIC)
            continue;
        if (IsExtendedPartitionType(entry.byType)) {
            enter(u64Base + entry.nFirstSector);     // may reallocate the stack: frame is not used after
            continue;
        }
        PARTITION_ENTRY* pEntry = new PARTITION_ENTRY;
        pEntry->u64StartSector = u64Start;
        pEntry->u64SectorCount = entry.nSectorCount;
        pEntry->bActive = entry.byBootIndicator == 0x80 ? 1 : 0;
        pEntry->bPrimary = 0;
        pEntry->nPartitionType = entry.byType;
        pEntry->nSectorsBefore = m_Geometry.SectorsPerTrack;
        AddEntry(pEntry, kFormTable, nullptr);
    }
}

void CDiskAnalysis::AddGaps()
{
    const uint64_t u64Cylinder = static_cast<uint64_t>(static_cast<uint32_t>(
        m_Geometry.TracksPerCylinder * m_Geometry.SectorsPerTrack));
    const uint64_t u64Minimum = u64Cylinder < MIN_GAP_SECTORS ? MIN_GAP_SECTORS : u64Cylinder;

    CPartitionEntryList gaps;
    auto addGap = [&](uint64_t u64Start, uint64_t u64Count) {
        PARTITION_ENTRY* pGap = new PARTITION_ENTRY;
        pGap->u64StartSector = u64Start;
        pGap->u64SectorCount = u64Count;
        pGap->u64FreeSectors = u64Count;
        pGap->nFileSystemKind = FILE_SYSTEM_UNKNOWN;
        pGap->bPrimary = 0;
        pGap->pDevice = new CBasicPartitionDevice(m_pDisk, u64Start, u64Count);
        gaps.push_back(pGap);
    };

    // The end runs to the furthest partition end seen so far: a partition nested in an earlier,
    // longer one must not bring the gap walk back inside that partition.
    uint64_t u64End = 0;
    for (const PARTITION_ENTRY* pEntry : m_Entries) {
        // start - sectors before - end, taken only when it is at least the minimum (so never
        // below 0): the room of a logical partition's boot record is no gap.
        const uint64_t u64Start = pEntry->u64StartSector;
        const uint64_t u64Before = pEntry->nSectorsBefore;
        if (u64Start >= u64End && u64Start - u64End >= u64Before && u64Start - u64End - u64Before >= u64Minimum)
            addGap(u64End, u64Start - u64End - u64Before);
        const uint64_t u64EntryEnd = pEntry->u64StartSector + pEntry->u64SectorCount;
        if (u64EntryEnd > u64End)
            u64End = u64EntryEnd;
    }
    if (m_u64DiskSectors > u64End && m_u64DiskSectors - u64End >= u64Minimum)
        addGap(u64End, m_u64DiskSectors - u64End);

    m_Entries.splice(m_Entries.end(), gaps);
    m_Entries.sort([](const PARTITION_ENTRY* a, const PARTITION_ENTRY* b) {
        return a->u64StartSector < b->u64StartSector;
    });
}

} // namespace

CPartitionTableAnalyze::~CPartitionTableAnalyze() {}

int CPartitionTableAnalyze::AnalyzePartitionTable(IStorageDevice* pDisk, CPartitionEntryList& out,
                                                  const rvdplat::DISK_GEOMETRY& geometry)
{
    if (pDisk == nullptr)
        return static_cast<int>(out.size());
    // A dynamic disk keeps its volumes in its own database; its table entries (0x42, or the
    // LDM partitions of a GPT) are containers, not volumes. A disk that begins with a FAT or NTFS
    // boot sector is none: the bytes where a table would lie are that sector's boot code.
    if (IsDynamicDisk(pDisk, pDisk->GetTotalSectors(), static_cast<uint32_t>(kSectorBytes)))
        return 0;

    CDiskAnalysis analysis(pDisk, geometry);
    uint8_t aSector[kSectorBytes];
    memset(aSector, 0, sizeof(aSector));
    bool bGpt = false;
    if (pDisk->ReadSectors(aSector, 0, 1)) {
        MBR_ENTRY aEntries[MBR_ENTRY_COUNT];
        ReadMbrSector(aSector, sizeof(aSector), aEntries);
        // A FAT or NTFS boot sector is no protective MBR, whatever its boot code holds at 450.
        bGpt = HasMbrSignature(aSector, sizeof(aSector)) && aEntries[0].byType == MBR_TYPE_GPT_PROTECTIVE &&
               GetBootSectorFileSystemKind(aSector, sizeof(aSector)) == FILE_SYSTEM_UNKNOWN;
    }
    if (bGpt) {
        analysis.ReadGpt();
    } else {
        analysis.ReadWholeDisk();
        analysis.ReadMbr();
    }
    analysis.Entries().sort([](const PARTITION_ENTRY* a, const PARTITION_ENTRY* b) {
        return a->u64StartSector < b->u64StartSector;
    });
    analysis.AddGaps();
    out.splice(out.end(), analysis.Entries());
    return static_cast<int>(out.size());
}

uint32_t PartitionTypeToFileSystemKind(uint32_t nType)
{
    switch (nType) {
    case 0x01: case 0x11:
        return FILE_SYSTEM_FAT12;
    case 0x04: case 0x06: case 0x0E: case 0x14: case 0x16: case 0x1E:
        return FILE_SYSTEM_FAT16;
    case 0x0B: case 0x0C: case 0x1B:
        return FILE_SYSTEM_FAT32;
    case 0x07: case 0x17:
        return FILE_SYSTEM_NTFS;
    case 0x82: case 0x83: case 0x85: case 0x8E: case 0x92: case 0x93:
        return FILE_SYSTEM_EXT2;
    default:
        return FILE_SYSTEM_UNKNOWN;
    }
}

uint32_t KindToPartitionType(uint32_t nKind)
{
    switch (nKind) {
    case FILE_SYSTEM_FAT12: return 0x01;
    case FILE_SYSTEM_FAT16: return 0x06;
    case FILE_SYSTEM_FAT32: return 0x0B;
    case FILE_SYSTEM_NTFS: return 0x07;
    case FILE_SYSTEM_EXT2: return 0x83;
    case FILE_SYSTEM_EXT3: return 0x83;
    default: return MBR_TYPE_GPT_PROTECTIVE;
    }
}

static void CopyName(const char* pszName, char* pszOut, size_t nOutSize)
{
    if (pszOut == nullptr || nOutSize == 0)
        return;
    snprintf(pszOut, nOutSize, "%s", pszName);
}

void GetFileSystemKindName(uint32_t nKind, char* pszOut, size_t nOutSize)
{
    static const char* const kNames[] = {"FAT12", "FAT16", "FAT32", "NTFS", "EXT2", "EXT3"};
    CopyName(nKind < 6 ? kNames[nKind] : "UNKNOWN", pszOut, nOutSize);
}

void GetDynamicVolumeKindName(uint32_t nKind, char* pszOut, size_t nOutSize)
{
    static const char* const kNames[] = {"SIMPLE", "MIRROR", "SPANNED", "STRIPPED", "RAID5"};
    CopyName(nKind >= 2 && nKind <= 6 ? kNames[nKind - 2] : "UNKNOWN", pszOut, nOutSize);
}

bool ReadVolumeLabelByKind(IStorageDevice* pVolume, uint32_t nKind, char* pszOut, size_t nOutSize)
{
    if (pVolume == nullptr || pszOut == nullptr || nOutSize == 0 || nKind > FILE_SYSTEM_NTFS)
        return false;
    uint8_t aSector[kSectorBytes];
    memset(aSector, 0, sizeof(aSector));
    if (!pVolume->ReadSectors(aSector, 0, 1))
        return false;
    // The readers write at most a short name or 80 bytes of a converted name; a buffer of their
    // own keeps a caller's smaller one safe.
    char szLabel[260];
    memset(szLabel, 0, sizeof(szLabel));
    bool bRead = false;
    if (nKind <= FILE_SYSTEM_FAT32) {
        CFATDBR fat(aSector, sizeof(aSector));
        if (!fat.IsValid())
            return false;
        CFATVolumeLabelReader reader(pVolume);
        bRead = reader.ReadVolumeLabel(0, &fat, szLabel);
    } else {
        CNTFSDBR ntfs;
        if (!HasNTFSOEMID(aSector, sizeof(aSector)) || !ntfs.SetIfValid(aSector, sizeof(aSector)))
            return false;
        CNTFSVolumeLabelReader reader(pVolume);
        bRead = reader.ReadVolumeLabel(0, &ntfs, szLabel);
    }
    szLabel[sizeof(szLabel) - 1] = '\0';
    snprintf(pszOut, nOutSize, "%s", szLabel);
    return bRead;
}
