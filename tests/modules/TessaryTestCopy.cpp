// Copy-out of ticked and listed files: bytes, sizes, times and folders as found, resident NTFS
// data through its FILE record's fix-ups, progress and messages as the progress page reads them.
#include <sys/stat.h>

#include <ctime>

#include "TessaryTestSupport.h"
#include "Time.h"

namespace {

using namespace tessarytest;

// 2017-07-14 02:40:00.1234567 UTC.
constexpr uint64_t kUnixSeconds = 1500000000;
constexpr uint64_t kTicks = (kUnixSeconds + 11644473600ULL) * 10000000ULL + 1234567;

// Writes a 1 KiB FILE record over the image at absolute byte ullOffset: the image's own bytes
// with a FILE header and an update sequence array whose saved words are the original bytes at
// the end of each 512-byte stretch, which hold the sequence number on disk.
void StampFileRecord(const std::string& strImage, uint64_t ullOffset, bool bTorn = false)
{
    std::vector<uint8_t> vecRecord = ImageBytes(ullOffset, 1024);
    const uint8_t abyHeader[] = {'F', 'I', 'L', 'E', 0x30, 0, 3, 0};
    std::copy(std::begin(abyHeader), std::end(abyHeader), vecRecord.begin());
    vecRecord[0x18] = 0x00; vecRecord[0x19] = 0x04; vecRecord[0x1A] = 0; vecRecord[0x1B] = 0;  // 1024 in use
    vecRecord[0x1C] = 0x00; vecRecord[0x1D] = 0x04; vecRecord[0x1E] = 0; vecRecord[0x1F] = 0;  // 1024 allocated
    vecRecord[0x30] = 0xCD;
    vecRecord[0x31] = 0xAB;
    for (int i = 1; i <= 2; ++i) {
        const size_t nEnd = static_cast<size_t>(i) * 512 - 2;
        vecRecord[0x30 + 2 * i] = vecRecord[nEnd];
        vecRecord[0x31 + 2 * i] = vecRecord[nEnd + 1];
        vecRecord[nEnd] = 0xCD;
        vecRecord[nEnd + 1] = (bTorn && i == 2) ? 0x00 : 0xAB;
    }
    std::fstream file(strImage, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(ullOffset));
    file.write(reinterpret_cast<const char*>(vecRecord.data()), static_cast<std::streamsize>(vecRecord.size()));
}

int64_t MtimeSeconds(const std::string& strPath, long* pnNanos = nullptr)
{
    struct stat st{};
    EXPECT_EQ(0, stat(strPath.c_str(), &st)) << strPath;
    if (pnNanos != nullptr)
        *pnNanos = st.st_mtim.tv_nsec;
    return st.st_mtim.tv_sec;
}

class TessaryCopy : public CTessaryTest {};

// One tree with every kind of file a reader hands over, ticked whole and copied.
TEST_F(TessaryCopy, WritesTheTickedFilesAsFound)
{
    const uint64_t ullRecordSector = 600;  // device-relative sector of the resident file's record
    StampFileRecord(m_strImage, (kPartitionStart + ullRecordSector) * kSector);
    CTestTree tree;
    CFileNode* pDocs = tree.Folder(tree.Root(), "Docs");
    CFileNode* pSub = tree.Folder(pDocs, "Sub");
    // Two fragments; the last cluster is not full, so the file ends 1000 bytes into it.
    CFileNode* pReport = tree.File(pDocs, "report.txt", 2 * kClusterBytes + kClusterBytes + 1000);
    CTestTree::Props(pReport)->SetRuns({{10, 3}, {40, 2}});
    CTestTree::Props(pReport)->SetTimes(kTicks - 10000000, kTicks, kTicks + 10000000);
    tree.File(pDocs, "empty.txt", 0);
    CFileNode* pSparse = tree.File(pSub, "sparse.bin", 4 * kClusterBytes);
    CTestTree::Props(pSparse)->SetRuns({{20, 1}, {DATA_RUN_SPARSE_START, 2}, {30, 1}});
    CFileNode* pSmall = tree.File(tree.Root(), "small.txt", 700);
    CTestTree::Props(pSmall)->SetResident(ullRecordSector, 0x100);
    // Its runs cover a third of its size: the rest cannot be found and is zeros.
    CFileNode* pShort = tree.File(tree.Root(), "short.bin", 3 * kClusterBytes);
    CTestTree::Props(pShort)->SetRuns({{50, 1}});
    HandOver(tree);
    TickAll();

    CTestTessary tessary(Access());
    MESSAGES messages;
    const COPY_OUTCOME outcome = Copy(tessary, &messages);
    EXPECT_EQ(TESSARY_OK, outcome.nResult) << messages.All();
    EXPECT_EQ(PROGRESS_STATE_FINISHED, outcome.Progress.dwState);
    EXPECT_EQ(100u, outcome.Progress.dwPercent);
    EXPECT_EQ(5u, outcome.Progress.ullFilesFound);
    EXPECT_EQ(RunPath(), outcome.strRecoveryPath);

    // Times first: reading a copy may move its access time.
    long nNanos = 0;
    EXPECT_EQ(static_cast<int64_t>(kUnixSeconds), MtimeSeconds(RunPath("Deleted Files/Docs/report.txt"), &nNanos));
    EXPECT_EQ(123456700, nNanos);
    struct stat st{};
    ASSERT_EQ(0, stat(RunPath("Deleted Files/Docs/report.txt").c_str(), &st));
    EXPECT_EQ(static_cast<time_t>(kUnixSeconds + 1), st.st_atim.tv_sec);

    std::vector<uint8_t> vecReport = ImageBytes(ClusterOffset(10), 3 * kClusterBytes);
    const std::vector<uint8_t> vecTail = ImageBytes(ClusterOffset(40), 1000);
    vecReport.insert(vecReport.end(), vecTail.begin(), vecTail.end());
    EXPECT_EQ(vecReport, FileBytes(RunPath("Deleted Files/Docs/report.txt")));
    EXPECT_TRUE(FileBytes(RunPath("Deleted Files/Docs/empty.txt")).empty());

    std::vector<uint8_t> vecSparse = ImageBytes(ClusterOffset(20), kClusterBytes);
    vecSparse.resize(3 * kClusterBytes, 0);
    const std::vector<uint8_t> vecLast = ImageBytes(ClusterOffset(30), kClusterBytes);
    vecSparse.insert(vecSparse.end(), vecLast.begin(), vecLast.end());
    EXPECT_EQ(vecSparse, FileBytes(RunPath("Deleted Files/Docs/Sub/sparse.bin")));

    // The record's bytes with the fix-ups undone: offset 510 holds the saved word again.
    const uint64_t ullRecord = (kPartitionStart + ullRecordSector) * kSector;
    EXPECT_EQ(ImageBytes(ullRecord + 0x100, 700), FileBytes(RunPath("Deleted Files/small.txt")));

    std::vector<uint8_t> vecShort = ImageBytes(ClusterOffset(50), kClusterBytes);
    vecShort.resize(3 * kClusterBytes, 0);
    EXPECT_EQ(vecShort, FileBytes(RunPath("Deleted Files/short.bin")));
    EXPECT_TRUE(messages.Has("\"Deleted Files/short.bin\": its data on the disk covers only 4096 of its 12288 bytes"))
        << messages.All();
    EXPECT_EQ(1u, messages.Count(TESSARY_MESSAGE_WARNING)) << messages.All();
    EXPECT_TRUE(messages.Has("Recovery finished: 5 files written")) << messages.All();
    // Nothing beside the run folder.
    EXPECT_EQ(1u, Snapshot(m_strTarget).count("Run"));
    EXPECT_TRUE(Snapshot(m_strTarget, "Run").empty());
}

// FAT keeps the local clock reading of the machine that wrote the entry: the copy's time is that
// reading taken as local time here.
TEST_F(TessaryCopy, FatTimesAreLocalClockReadings)
{
    rvdtest::CScopedTimeZone zone("XYZ-3");  // three hours east of UTC
    CTestTree tree(0, kSectorsPerCluster, FILE_SYSTEM_FAT16);
    CFileNode* pFile = tree.File(tree.Root(), "dos.txt", 100, PROPERTIES_KIND_FAT);
    CTestTree::Props(pFile)->SetRuns({{5, 1}});
    CTestTree::Props(pFile)->SetTimes(0, kTicks, 0);
    CFileNode* pUnknown = tree.File(tree.Root(), "no time.txt", 100, PROPERTIES_KIND_FAT);
    CTestTree::Props(pUnknown)->SetRuns({{6, 1}});
    HandOver(tree);
    TickAll();
    const time_t tBefore = time(nullptr);
    CTestTessary tessary(Access());
    MESSAGES messages;
    EXPECT_EQ(TESSARY_OK, Copy(tessary, &messages).nResult) << messages.All();
    EXPECT_EQ(static_cast<int64_t>(kUnixSeconds) - 3 * 3600, MtimeSeconds(RunPath("Deleted Files/dos.txt")));
    // An unknown time leaves the time of the copy.
    EXPECT_GE(MtimeSeconds(RunPath("Deleted Files/no time.txt")), static_cast<int64_t>(tBefore));
}

// A search result hands an explicit list: only those records are written, each in its folder,
// and the list serves that one copy-out; the next one copies the ticked files again.
TEST_F(TessaryCopy, ListedRecordsReplaceTheTicksOnce)
{
    CTestTree tree;
    CFileNode* pDocs = tree.Folder(tree.Root(), "Docs");
    for (int i = 0; i < 3; ++i)
        CTestTree::Props(tree.File(pDocs, "f" + std::to_string(i) + ".txt", 100))->SetRuns({{100u + i, 1}});
    tree.Folder(tree.Root(), "Empty");
    HandOver(tree);
    Tick(0, {"Deleted Files", "Docs", "f0.txt"});
    // A hit may be a folder: it is made, with nothing in it.
    const DWORD adwList[] = {Record(0, {"Deleted Files", "Docs", "f1.txt"}), Record(0, {"Deleted Files", "Docs", "f2.txt"}),
                             0xFFFFFF0u, Record(0, {"Deleted Files", "Empty"})};
    CTestTessary tessary(Access());
    tessary.SetFileList(0, adwList, 4);
    MESSAGES messages;
    COPY_OUTCOME outcome = Copy(tessary, &messages);
    EXPECT_EQ(TESSARY_ERR_INCOMPLETE, outcome.nResult);
    EXPECT_TRUE(messages.Has("Record 268435440 of volume 0 is not in the result store")) << messages.All();
    EXPECT_EQ(ImageBytes(ClusterOffset(101), 100), FileBytes(RunPath("Deleted Files/Docs/f1.txt")));
    EXPECT_EQ(ImageBytes(ClusterOffset(102), 100), FileBytes(RunPath("Deleted Files/Docs/f2.txt")));
    EXPECT_FALSE(Exists(RunPath("Deleted Files/Docs/f0.txt")));
    struct stat st{};
    EXPECT_EQ(0, lstat(RunPath("Deleted Files/Empty").c_str(), &st));
    EXPECT_TRUE(S_ISDIR(st.st_mode));

    CTestTessary second(Access(), "Second");
    outcome = Copy(second, nullptr);
    EXPECT_EQ(TESSARY_OK, outcome.nResult);
    // The same object: the list was used up by the first run.
    outcome = Copy(tessary, nullptr);
    EXPECT_EQ(TESSARY_OK, outcome.nResult);
    EXPECT_EQ(m_strTarget + "/Run (2)", outcome.strRecoveryPath);
    EXPECT_EQ((std::map<std::string, std::vector<uint8_t>>{
                  {"Deleted Files/Docs/f0.txt", ImageBytes(ClusterOffset(100), 100)}}),
              RegularFiles(outcome.strRecoveryPath));
}

// Results of two volumes each begin with "Deleted Files": each gets a folder of its own.
TEST_F(TessaryCopy, SeveralVolumesEachGetAFolder)
{
    CTestTree first, second;
    CTestTree::Props(first.File(first.Root(), "a.txt", 10))->SetRuns({{1, 1}});
    CTestTree::Props(second.File(second.Root(), "a.txt", 20))->SetRuns({{2, 1}});
    HandOver(first, 0);
    HandOver(second, 1);
    TickAll(0);
    TickAll(1);
    CTestTessary tessary(Access());
    MESSAGES messages;
    EXPECT_EQ(TESSARY_OK, Copy(tessary, &messages).nResult) << messages.All();
    EXPECT_EQ((std::map<std::string, std::vector<uint8_t>>{
                  {"Volume 1/Deleted Files/a.txt", ImageBytes(ClusterOffset(1), 10)},
                  {"Volume 2/Deleted Files/a.txt", ImageBytes(ClusterOffset(2), 20)}}),
              RegularFiles(RunPath()));
}

// Endings without a copy: still state 2, a message, and no run folder left behind.
TEST_F(TessaryCopy, EndingsWithoutACopyStillFinish)
{
    CTestTree tree;
    CTestTree::Props(tree.File(tree.Root(), "a.txt", 10))->SetRuns({{1, 1}});
    HandOver(tree);
    struct CASE {
        const char* pszName;
        std::string strTarget;
        bool bTick;
        bool bStore;
        int32_t nResult;
        const char* pszMessage;
    };
    const std::vector<CASE> cases = {
        {"nothing ticked", m_strTarget, false, true, TESSARY_ERR_NOTHING, "No files are ticked"},
        {"relative target", "target", true, true, TESSARY_ERR_BAD_ARGUMENT, "is not a full path"},
        {"no store module", m_strTarget, true, false, TESSARY_ERR_STORE, "The result store could not be loaded"},
        {"target is a file", m_strImage, true, true, TESSARY_ERR_CREATE, "Could not make the folder"},
    };
    for (const CASE& c : cases) {
        Store()->ClearCheckStates();
        if (c.bTick)
            TickAll();
        // Without a store object the module looks for libCorrand.so, here where there is none.
        CScopedEnv moduleDir("RAVENDO_MODULE_DIR", m_Dir.File("no-modules"));
        CTestTessary tessary(c.bStore ? Access() : nullptr);
        MESSAGES messages;
        const COPY_OUTCOME outcome = Copy(tessary, &messages, c.strTarget);
        EXPECT_EQ(c.nResult, outcome.nResult) << c.pszName;
        EXPECT_EQ(PROGRESS_STATE_FINISHED, outcome.Progress.dwState) << c.pszName;
        EXPECT_TRUE(messages.Has(c.pszMessage)) << c.pszName << ": " << messages.All();
        EXPECT_FALSE(Exists(RunPath())) << c.pszName;
    }
}

// A target that does not exist yet is made; one written with backslashes only is read with
// slashes, as a Windows-minded caller turns a chosen folder into.
TEST_F(TessaryCopy, TargetForms)
{
    CTestTree tree;
    CTestTree::Props(tree.File(tree.Root(), "a.txt", 10))->SetRuns({{1, 1}});
    HandOver(tree);
    TickAll();
    CTestTessary tessary(Access());
    const std::string strNew = m_Dir.File("new/deeper");
    EXPECT_EQ(TESSARY_OK, Copy(tessary, nullptr, strNew).nResult);
    EXPECT_EQ(ImageBytes(ClusterOffset(1), 10), FileBytes(strNew + "/Run/Deleted Files/a.txt"));
    std::string strBackslashed = m_strTarget;
    for (char& ch : strBackslashed)
        if (ch == '/')
            ch = '\\';
    const COPY_OUTCOME outcome = Copy(tessary, nullptr, strBackslashed);
    EXPECT_EQ(TESSARY_OK, outcome.nResult);
    EXPECT_EQ(RunPath(), outcome.strRecoveryPath);
    EXPECT_TRUE(Exists(RunPath("Deleted Files/a.txt")));
}

// The progress record and callback belong to a page that may be gone once the run has ended:
// the object forgets them, and a preview never touches them.
TEST_F(TessaryCopy, ForgetsTheCallersRecordAfterTheRun)
{
    CTestTree tree;
    CTestTree::Props(tree.File(tree.Root(), "a.txt", 10))->SetRuns({{1, 1}});
    HandOver(tree);
    TickAll();
    CTestTessary tessary(Access());
    MESSAGES messages;
    COPY_OUTCOME outcome = Copy(tessary, &messages);
    ASSERT_EQ(TESSARY_OK, outcome.nResult);
    const size_t nLines = messages.Lines.size();
    // The page's record, as freed memory would hold it.
    memset(&outcome.Progress, 0x5A, sizeof(outcome.Progress));
    const SEARCH_PROGRESS canary = outcome.Progress;
    EXPECT_EQ(TESSARY_OK, tessary.Run(TESSARY_RUN_COPY));
    EXPECT_EQ(0, memcmp(&outcome.Progress, &canary, sizeof(canary)));
    EXPECT_EQ(nLines, messages.Lines.size());

    SEARCH_PROGRESS record = canary;
    DWORD adwFlags[2] = {0, 0};
    tessary.SetProgressSink(&record, adwFlags);
    tessary.SetMessageCallback(CollectMessage, &messages);
    WCHAR szPath[MAX_PATH] = {};
    rvd::CopyWideText(szPath, rvd::Utf8ToUtf16(m_Dir.File("preview.tmp")));
    tessary.SetTarget(szPath, 10, 0);
    tessary.SetSingleFile(0, Record(0, {"Deleted Files", "a.txt"}));
    EXPECT_EQ(TESSARY_OK, tessary.Run(TESSARY_RUN_PREVIEW));
    EXPECT_EQ(0, memcmp(&record, &canary, sizeof(record)));
    EXPECT_EQ(nLines, messages.Lines.size());
}

// Percent grows and stays below 100 until the end; the record names the file being written.
TEST_F(TessaryCopy, ProgressGrowsWithTheBytes)
{
    CTestTree tree;
    for (int i = 0; i < 4; ++i)
        CTestTree::Props(tree.File(tree.Root(), "big" + std::to_string(i) + ".bin", 64 * kClusterBytes))
            ->SetRuns({{static_cast<uint64_t>(100 + 64 * i), 64}});
    HandOver(tree);
    TickAll();
    struct WATCH {
        SEARCH_PROGRESS* pProgress = nullptr;
        std::vector<uint32_t> vecPercents;
        std::vector<std::u16string> vecDetails;
    } watch;
    SEARCH_PROGRESS progress{};
    DWORD adwFlags[2] = {0, 0};
    watch.pProgress = &progress;
    // The callback runs on the copying thread between files: a fair sample of the record.
    auto pfn = [](const WCHAR*, int32_t, void* p) -> int32_t {
        WATCH* w = static_cast<WATCH*>(p);
        w->vecPercents.push_back(w->pProgress->dwPercent);
        w->vecDetails.push_back(w->pProgress->szDetail);
        return 0;
    };
    CTestTessary tessary(Access());
    tessary.SetTarget(rvd::Utf8ToUtf16(m_strTarget).c_str(), 0, 0);
    tessary.SetProgressSink(&progress, adwFlags);
    tessary.SetMessageCallback(pfn, &watch);
    // One unreadable sector in the third file gives a line while it is written.
    LoadTable("bad 0 " + std::to_string(kPartitionStart + (100 + 128 + 10) * 8) + " " +
              std::to_string(kPartitionStart + (100 + 128 + 10) * 8 + 1) + "\n");
    EXPECT_EQ(TESSARY_OK, tessary.Run(TESSARY_RUN_COPY));
    ASSERT_EQ(3u, watch.vecPercents.size());  // start, the unreadable sector, the summary
    EXPECT_EQ(0u, watch.vecPercents[0]);
    // Children are linked in front: big2.bin is the second file written.
    EXPECT_GE(watch.vecPercents[1], 25u);
    EXPECT_LT(watch.vecPercents[1], 50u);
    EXPECT_EQ(u"Deleted Files/big2.bin", watch.vecDetails[1]);
    EXPECT_EQ(99u, watch.vecPercents[2]);
    EXPECT_EQ(100u, progress.dwPercent);
    EXPECT_EQ(4u, progress.ullFilesFound);
}

} // namespace
