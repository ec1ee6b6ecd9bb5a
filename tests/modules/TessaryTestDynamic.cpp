// The copy-out reads a result through the device the engine scanned. A dynamic volume's sectors
// lie on its member disks in the volume's own layout (spread over several disks, striped, kept
// twice, with parity), so reading its first member's disk at the volume's offsets would copy
// other bytes; a floppy lies on no physical disk at all. Whole recoveries of every kind of
// dynamic volume of the dyn-mbr set (a quick scan through the engine module into the real store,
// every deleted file ticked and copied) are compared with the manifest of the image each volume
// reads back as, with a member of the RAID-5 volume missing too; and results whose device is
// not there any more are refused rather than read from the wrong sectors.
#include <dlfcn.h>

#include <set>

#include "../engine/DynamicDiskTestSupport.h"
#include "DiskDevice.h"
#include "DynamicVolumeDevice.h"
#include "EngineSettings.h"
#include "GlobalAdvanceSettingData.h"
#include "ICorrand.h"
#include "IDelvar.h"
#include "IOmbrel.h"
#include "SafeName.h"
#include "TessaryTestSupport.h"
#include "VolumeCollection.h"
#include "DiskTable.h"
#include "TestModules.h"

namespace {

using namespace tessarytest;

// ----- the engine and store modules ----------------------------------------------------------------

// The engine module with its own disk table, read again after a test wrote a new one.
struct ENGINE_MODULE {
    IDelvar* pEngine = nullptr;
    bool (*pfnReload)(std::string*) = nullptr;
};

const ENGINE_MODULE& Engine()
{
    static const ENGINE_MODULE module = [] {
        ENGINE_MODULE m;
        void* hModule = LoadModule("Delvar");
        if (hModule == nullptr)
            return m;
        if (auto pfn = reinterpret_cast<PFN_DELVAR_CREATE_INSTANCE>(dlsym(hModule, "CreateInstance")))
            m.pEngine = pfn();
        m.pfnReload = &rvdplat::ReloadDiskTable;
        return m;
    }();
    return module;
}

// ----- what the copies must hold --------------------------------------------------------------------

// The names under which the quick scan lists a deleted file of a manifest: its own path; for a
// FAT entry without a long name, its 8.3 name whose lost first character reads '#'; for an EXT
// file whose name went with its directory entry, its inode number.
std::vector<std::vector<std::string>> ListedNames(const rvdtest::ManifestEntry& entry)
{
    std::vector<std::string> vecPath = {"Deleted Files"};
    vecPath.insert(vecPath.end(), entry.vecNames.begin(), entry.vecNames.end());
    std::vector<std::vector<std::string>> vecNames = {vecPath};
    std::string strShort = vecPath.back();
    if (!strShort.empty()) {
        for (char& ch : strShort)
            ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
        strShort[0] = '#';
        vecNames.push_back(vecPath);
        vecNames.back().back() = strShort;
    }
    vecNames.push_back({"Deleted Files", "Inode_" + std::to_string(entry.nId)});
    return vecNames;
}

std::string CopyPath(const std::vector<std::string>& vecNames)
{
    std::string strPath;
    for (const std::string& strName : vecNames)
        strPath += (strPath.empty() ? "" : "/") + tessary::SanitiseComponent(rvd::Utf8ToUtf16(strName));
    return strPath;
}

// The record the disk enumeration lists for the set's volume of a kind: the disk and start of
// its first member and its length, as the engine's collection sees them now.
bool DynamicVolumeRecord(int nKind, PARTITION_INFO_EX* pRecord)
{
    CDeviceCollection collection;
    collection.Collect();
    for (const COLLECTED_VOLUME& volume : collection.GetVolumes()) {
        if (volume.nDynamicKind != static_cast<uint32_t>(nKind) || volume.pDevice == nullptr)
            continue;
        for (CDiskDevice* pDisk : collection.GetDisks())
            if (static_cast<IStorageDevice*>(pDisk) == volume.Members[0].pDisk) {
                *pRecord = PARTITION_INFO_EX{};
                pRecord->dwDiskNumber = static_cast<DWORD>(pDisk->GetDiskNumber());
                pRecord->ullStartSector = volume.Members[0].ullStartSector;
                pRecord->ullTotalSectors = volume.pDevice->GetTotalSectors();
                pRecord->dwFileSystem = volume.nFileSystemKind;
                pRecord->dwBytesPerSector = 512;
                return true;
            }
    }
    return false;
}

// ----- every kind of dynamic volume, end to end ------------------------------------------------------

struct DYNAMIC_CASE {
    const char* pszName;
    int nKind;
    std::vector<int> vecMembers;  // members of the set in the device table, drive 0 first
};

void PrintTo(const DYNAMIC_CASE& c, std::ostream* pOut)
{
    *pOut << c.pszName;
}

class TessaryDynamicVolume : public ::testing::TestWithParam<DYNAMIC_CASE> {
protected:
    rvdtest::CTempDir m_Dir;
    CDeviceTable m_Table{m_Dir};
    CScopedEnv m_ModuleDir{"RAVENDO_MODULE_DIR", rvdtest::OutputDir()};
};

TEST_P(TessaryDynamicVolume, CopiesHoldTheVolumesOwnBytes)
{
    const DYNAMIC_CASE& c = GetParam();
    const dyntest::DynSet set = dyntest::ReadDynamicSet("dyn-mbr");
    const dyntest::DynVolume& volume = set.Volume(c.nKind);
    m_Table.Load(dyntest::DiskLines(set, c.vecMembers));
    const ENGINE_MODULE& engine = Engine();
    ASSERT_NE(nullptr, engine.pEngine);
    ASSERT_NE(nullptr, engine.pfnReload);
    std::string strError;
    ASSERT_TRUE(engine.pfnReload(&strError)) << strError;

    PARTITION_INFO_EX record{};
    ASSERT_TRUE(DynamicVolumeRecord(c.nKind, &record));
    ASSERT_EQ(dyntest::FsKind(volume.strFs), record.dwFileSystem);
    DISK_INFO_EX disk{};
    disk.dwBytesPerSector = 512;
    ASSERT_EQ(DELVAR_SUCCESS, engine.pEngine->Init(&disk, &record, SCAN_MODE_QUICK, 0));
    ASSERT_EQ(DELVAR_SUCCESS, engine.pEngine->Search());

    ICorrand* pStore = ModuleObject<ICorrand>("Corrand", "CreateInstance");
    IResultStoreAccess* pAccess = ModuleObject<IResultStoreAccess>("Corrand", "GetResultStoreAccess");
    ASSERT_NE(nullptr, pStore);
    ASSERT_NE(nullptr, pAccess);
    STORED_VOLUME stored{};
    ASSERT_EQ(0, pAccess->GetVolume(0, &stored));
    EXPECT_EQ(static_cast<DWORD>(STORED_SOURCE_VOLUME), stored.Source.dwKind);
    EXPECT_EQ(record.dwDiskNumber, stored.Source.dwDiskNumber);
    EXPECT_EQ(record.ullStartSector, stored.Source.ullStartSector);
    EXPECT_EQ(record.ullTotalSectors, stored.Source.ullSectors);
    const DWORD dwTop = corrandtest::FindPath(pStore, 0, {"Deleted Files"});
    ASSERT_NE(0xFFFFFFFFu, dwTop);
    ASSERT_EQ(0, pStore->SetCheckState(dwTop, 1, 1, 1, 0));

    const std::string strTarget = m_Dir.File("target");
    CTestTessary tessary(pAccess);
    MESSAGES messages;
    SEARCH_PROGRESS progress{};
    DWORD adwFlags[2] = {0, 0};
    tessary.SetTarget(rvd::Utf8ToUtf16(strTarget).c_str(), 0, 0);
    tessary.SetProgressSink(&progress, adwFlags);
    tessary.SetMessageCallback(CollectMessage, &messages);
    ASSERT_EQ(TESSARY_OK, tessary.Run(TESSARY_RUN_COPY)) << messages.All();
    // Nothing was zeros: a missing RAID-5 member is rebuilt from parity.
    EXPECT_EQ(0u, messages.Count(TESSARY_MESSAGE_WARNING)) << messages.All();

    // Files whose bytes lie past the volume's first stripe: on a striped or RAID-5 volume they
    // are not at the same offset on its first member.
    int nPastFirstStripe = 0;
    CHECKED_FILE_CURSOR cursor;
    std::vector<STORED_FILE> vecTicked;
    while (pAccess->GetNextCheckedFiles(&cursor, &vecTicked, 256) == 0) {
    }
    for (const STORED_FILE& file : vecTicked) {
        bool bPast = (file.dwFlags & STORED_FILE_RESIDENT) != 0 && file.ullResidentSector >= DYNAMIC_STRIPE_SECTORS;
        for (const STORED_RUN& run : file.vecRuns)
            bPast |= run.ullSector != STORED_RUN_SPARSE && run.ullSector + run.ullSectors > DYNAMIC_STRIPE_SECTORS;
        nPastFirstStripe += bPast ? 1 : 0;
    }

    const auto copies = RegularFiles(strTarget + "/Run");
    int nCompared = 0;
    for (const rvdtest::ManifestEntry& entry : rvdtest::ReadManifest(volume.strImage)) {
        if (!entry.bDeleted || entry.bDirectory || !entry.bRecoverable)
            continue;
        SCOPED_TRACE(entry.strPath);
        auto it = copies.end();
        for (const auto& vecNames : ListedNames(entry))
            if ((it = copies.find(CopyPath(vecNames))) != copies.end())
                break;
        if (it == copies.end()) {
            ADD_FAILURE() << "not copied";
            continue;
        }
        EXPECT_EQ(entry.strSha256, rvdtest::Sha256Hex(it->second)) << it->first;
        ++nCompared;
    }
    EXPECT_GT(nCompared, 0);
    EXPECT_GT(nPastFirstStripe, nCompared / 2);
}

INSTANTIATE_TEST_SUITE_P(
    DynMbr, TessaryDynamicVolume,
    ::testing::Values(DYNAMIC_CASE{"SimpleFat12", DYNAMIC_KIND_SIMPLE, {1, 2, 3}},
                      DYNAMIC_CASE{"SpannedExt2", DYNAMIC_KIND_SPANNED, {1, 2, 3}},
                      DYNAMIC_CASE{"StripedNtfs", DYNAMIC_KIND_STRIPED, {1, 2, 3}},
                      DYNAMIC_CASE{"MirrorFat16", DYNAMIC_KIND_MIRROR, {1, 2, 3}},
                      DYNAMIC_CASE{"Raid5Fat32", DYNAMIC_KIND_RAID5, {1, 2, 3}},
                      DYNAMIC_CASE{"Raid5Fat32MissingMember", DYNAMIC_KIND_RAID5, {1, 3}}),
    [](const ::testing::TestParamInfo<DYNAMIC_CASE>& info) { return info.param.pszName; });

// ----- devices found again, or not ----------------------------------------------------------------

class TessarySources : public CTessaryTest {};

// A floppy lies on no physical disk: its results are read through its drive letter, or, for a
// partition found inside it (whose record keeps no letter), through the one floppy of that size.
// A letter that holds no floppy now gives nothing rather than some other medium's bytes.
TEST_F(TessarySources, FloppiesAreReadThroughTheirDriveLetter)
{
    const uint64_t ullFloppySectors = 2880;
    // Shifted by a megabyte, so that the floppy's bytes never equal the disk's at one offset.
    const uint64_t ullShift = 1 << 20;
    const std::string strFloppy = m_Dir.File("floppy.img");
    rvdtest::WriteFileBytes(strFloppy, ImageBytes(ullShift, ullFloppySectors * kSector));
    LoadTable("floppy A " + strFloppy + "\n");

    PARTITION_INFO_EX byLetter = corrandtest::UserRecord(0, FILE_SYSTEM_FAT12, OMBREL_NO_DISK);
    byLetter.chDriveLetter = 'A';
    byLetter.ullTotalSectors = ullFloppySectors;
    CTestTree first(0, 8);
    CTestTree::Props(first.File(first.Root(), "a.bin", 3000))->SetRuns({{4, 1}});
    PARTITION_INFO_EX found = corrandtest::FoundInPartitionRecord(63, 0);
    found.dwDiskNumber = OMBREL_NO_DISK;
    found.ullScannedSectors = ullFloppySectors;
    CTestTree second(63, 8);
    CTestTree::Props(second.File(second.Root(), "b.bin", 5000))->SetRuns({{2, 2}});
    PARTITION_INFO_EX otherLetter = byLetter;
    otherLetter.chDriveLetter = 'B';
    CTestTree third(0, 8);
    CTestTree::Props(third.File(third.Root(), "c.bin", 100))->SetRuns({{1, 1}});
    int32_t nIndex = 0;
    for (auto hand : {std::make_pair(&byLetter, &first), std::make_pair(&found, &second),
                      std::make_pair(&otherLetter, &third)}) {
        ASSERT_EQ(0, Store()->AddPartition(hand.first, nIndex, nIndex == 0 ? 1 : 0));
        ASSERT_EQ(0, Store()->AddFileTree(hand.second->Root()));
        ++nIndex;
    }
    for (DWORD dwVolume = 0; dwVolume < 3; ++dwVolume)
        TickAll(dwVolume);

    CTestTessary tessary(Access());
    MESSAGES messages;
    EXPECT_EQ(TESSARY_ERR_INCOMPLETE, Copy(tessary, &messages).nResult) << messages.All();
    EXPECT_EQ((std::map<std::string, std::vector<uint8_t>>{
                  {"Volume 1/Deleted Files/a.bin", ImageBytes(ullShift + 4 * kClusterBytes, 3000)},
                  {"Volume 2/Deleted Files/b.bin", ImageBytes(ullShift + (63 + 2 * 8) * kSector, 5000)}}),
              RegularFiles(RunPath()));
    EXPECT_TRUE(messages.Has("\"Volume 3/Deleted Files/c.bin\" was not recovered: no floppy disk is in drive B: now."))
        << messages.All();
    EXPECT_EQ(0u, messages.Count(TESSARY_MESSAGE_WARNING)) << messages.All();
}

// A dynamic volume that is not among the volumes of the disks any more (two members of the
// RAID-5 volume are gone) is refused: its first member's disk at the volume's offsets holds other
// bytes. A record of a whole dynamic disk is the disk itself.
TEST_F(TessarySources, AVolumeThatIsGoneIsNotReadFromItsFirstDisk)
{
    const dyntest::DynSet set = dyntest::ReadDynamicSet("dyn-mbr");
    m_Table.Load(dyntest::DiskLines(set, {1}));
    const dyntest::DynExtent& first = set.Volume(DYNAMIC_KIND_RAID5).extents.at(0);
    ASSERT_EQ(1, first.nDisk);
    PARTITION_INFO_EX raid = corrandtest::UserRecord(first.u64Start, FILE_SYSTEM_FAT32, 0);
    raid.ullTotalSectors = set.Volume(DYNAMIC_KIND_RAID5).u64Sectors;
    CTestTree gone(0, 8);
    CTestTree::Props(gone.File(gone.Root(), "gone.bin", 100))->SetRuns({{1, 1}});
    PARTITION_INFO_EX wholeDisk = corrandtest::UserRecord(0, FILE_SYSTEM_NTFS, 0);
    wholeDisk.dwWholeDisk = 1;
    CTestTree disk(0, 8);
    CTestTree::Props(disk.File(disk.Root(), "disk.bin", 4096))->SetRuns({{10, 1}});
    ASSERT_EQ(0, Store()->AddPartition(&raid, 0, 1));
    ASSERT_EQ(0, Store()->AddFileTree(gone.Root()));
    ASSERT_EQ(0, Store()->AddPartition(&wholeDisk, 1, 0));
    ASSERT_EQ(0, Store()->AddFileTree(disk.Root()));
    TickAll(0);
    TickAll(1);

    CTestTessary tessary(Access());
    MESSAGES messages;
    EXPECT_EQ(TESSARY_ERR_INCOMPLETE, Copy(tessary, &messages).nResult) << messages.All();
    const std::vector<uint8_t> vecDisk =
        dyntest::ReadFileRange(rvdtest::FixturePath(set.Disk(1).strImage), 10 * kClusterBytes, 4096);
    EXPECT_EQ((std::map<std::string, std::vector<uint8_t>>{{"Volume 2/Deleted Files/disk.bin", vecDisk}}),
              RegularFiles(RunPath()));
    EXPECT_TRUE(messages.Has("\"Volume 1/Deleted Files/gone.bin\" was not recovered: the dynamic volume at sector " +
                             std::to_string(first.u64Start) + " of disk 0 (81920 sectors) is not among the volumes "
                             "of the disks now."))
        << messages.All();

    // The preview says so too, and writes nothing.
    const std::string strPreview = m_Dir.File("preview.tmp");
    tessary.SetTarget(rvd::Utf8ToUtf16(strPreview).c_str(), 100, 0);
    tessary.SetSingleFile(0, Record(0, {"Deleted Files", "gone.bin"}));
    EXPECT_EQ(TESSARY_ERR_NO_SOURCE, tessary.Run(TESSARY_RUN_PREVIEW));
    EXPECT_FALSE(Exists(strPreview));
}

// A striped volume whose second member is missing still reads (the engine shows what it has),
// but every file copied from it says that part of it may be zeros.
TEST_F(TessarySources, AVolumeMissingAMemberSaysSo)
{
    const dyntest::DynSet set = dyntest::ReadDynamicSet("dyn-mbr");
    m_Table.Load(dyntest::DiskLines(set, {1}));
    PARTITION_INFO_EX striped{};
    ASSERT_TRUE(DynamicVolumeRecord(DYNAMIC_KIND_STRIPED, &striped));
    CTestTree tree(0, 8);
    // Cluster 16 is 128 sectors into the volume: the first stripe of the missing member.
    CTestTree::Props(tree.File(tree.Root(), "first.bin", kClusterBytes))->SetRuns({{0, 1}});
    CTestTree::Props(tree.File(tree.Root(), "second.bin", kClusterBytes))->SetRuns({{16, 1}});
    ASSERT_EQ(0, Store()->AddPartition(&striped, 0, 1));
    ASSERT_EQ(0, Store()->AddFileTree(tree.Root()));
    TickAll();

    CTestTessary tessary(Access());
    MESSAGES messages;
    EXPECT_EQ(TESSARY_OK, Copy(tessary, &messages).nResult) << messages.All();
    const std::vector<uint8_t> vecVolume = rvdtest::ReadFileBytes(rvdtest::FixturePath("ntfs.img"));
    const std::vector<uint8_t> vecFirstCluster(vecVolume.begin(), vecVolume.begin() + kClusterBytes);
    EXPECT_EQ((std::map<std::string, std::vector<uint8_t>>{
                  {"Deleted Files/first.bin", vecFirstCluster},
                  {"Deleted Files/second.bin", std::vector<uint8_t>(kClusterBytes, 0)}}),
              RegularFiles(RunPath()));
    for (const char* pszFile : {"first.bin", "second.bin"})
        EXPECT_TRUE(messages.Has(std::string("\"Deleted Files/") + pszFile +
                                 "\": the striped volume at sector 14399 of disk 0 is missing a member disk; whatever "
                                 "of the file lay there is zeros."))
            << messages.All();
}

// With bad sectors ignored (the default), a member disk of a striped volume answers an unreadable
// sector with zeros and success (here already while the disks are taken stock of), and the
// volume passes them on; the area the disk keeps as unreadable is what tells the copy-out that
// the file holds zeros.
TEST_F(TessarySources, AnUnreadableMemberSectorIsReported)
{
    const dyntest::DynSet set = dyntest::ReadDynamicSet("dyn-mbr");
    const dyntest::DynExtent& first = set.Volume(DYNAMIC_KIND_STRIPED).extents.at(0);
    ASSERT_EQ(1, first.nDisk);
    m_Table.Load(dyntest::DiskLines(set, {1, 2, 3}) + "bad 0 " + std::to_string(first.u64Start + 3) + " " +
                 std::to_string(first.u64Start + 6) + "\n");
    const int32_t nOldIgnore = GetEngineSettings()->m_nBadSectorIgnore;
    GetEngineSettings()->m_nBadSectorIgnore = 1;
    PARTITION_INFO_EX striped{};
    ASSERT_TRUE(DynamicVolumeRecord(DYNAMIC_KIND_STRIPED, &striped));
    CTestTree tree(0, 8);
    CTestTree::Props(tree.File(tree.Root(), "a.bin", 2 * kClusterBytes))->SetRuns({{0, 2}});
    ASSERT_EQ(0, Store()->AddPartition(&striped, 0, 1));
    ASSERT_EQ(0, Store()->AddFileTree(tree.Root()));
    TickAll();

    CTestTessary tessary(Access());
    MESSAGES messages;
    EXPECT_EQ(TESSARY_OK, Copy(tessary, &messages).nResult) << messages.All();
    GetEngineSettings()->m_nBadSectorIgnore = nOldIgnore;
    const std::vector<uint8_t> vecVolume = rvdtest::ReadFileBytes(rvdtest::FixturePath("ntfs.img"));
    const std::vector<uint8_t> vecCopy = FileBytes(RunPath("Deleted Files/a.bin"));
    ASSERT_EQ(2 * kClusterBytes, vecCopy.size());
    for (uint64_t i = 0; i < vecCopy.size(); ++i)
        ASSERT_TRUE(vecCopy[i] == vecVolume[i] || vecCopy[i] == 0) << i;
    EXPECT_EQ(std::vector<uint8_t>(kSector, 0),
              std::vector<uint8_t>(vecCopy.begin() + 3 * kSector, vecCopy.begin() + 4 * kSector));
    EXPECT_TRUE(messages.Has("\"Deleted Files/a.bin\": disk 0, a member of its volume, could not be read at sectors "))
        << messages.All();
    EXPECT_TRUE(messages.Has("1 of them is not wholly the original bytes")) << messages.All();
}

} // namespace
