// What goes wrong during a copy-out: unreadable and missing stretches of the source become zeros
// with a message and the copy goes on; a write that fails removes that copy and says so; a full
// target stops the run; a cancel stops it between blocks; damaged FILE records of resident data.
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <atomic>
#include <functional>
#include <thread>

#include "FileCopier.h"
#include "SourceReader.h"
#include "TessaryTestSupport.h"

namespace {

using namespace tessarytest;

class TessaryFailures : public CTessaryTest {};

// Copies one stored file of drive 0 into a new file strPath with a copier of its own, opened as the
// copy-out opens its files; fnStep is told each step as the copy-out's progress is.
void CopyIntoNewFile(const STORED_FILE& file, const std::string& strPath, const std::function<bool(uint64_t)>& fnStep,
                     tessary::COPY_RESULT* pResult)
{
    const int nFd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(nFd, 0) << strPath;
    tessary::CSourceReader reader;
    tessary::CFileCopier copier(&reader);
    copier.Copy(file, WholeDisk(0), nFd, fnStep, pResult);
    close(nFd);
}

std::vector<uint8_t> WithZeros(std::vector<uint8_t> vec, uint64_t ullFrom, uint64_t ullCount)
{
    for (uint64_t i = ullFrom; i < ullFrom + ullCount && i < vec.size(); ++i)
        vec[i] = 0;
    return vec;
}

// Unreadable sectors, a run past the end of the disk, a run whose position cannot be placed, and
// a file on a disk that is not there: zeros where the bytes could not be had, one message each,
// every file written.
TEST_F(TessaryFailures, UnreadableStretchesBecomeZeros)
{
    const uint64_t ullDiskSectors = kImageBytes / kSector;
    // Three bad sectors in the middle of the first file's second cluster.
    const uint64_t ullBadFirst = kPartitionStart + 11 * kSectorsPerCluster + 3;
    LoadTable("bad 0 " + std::to_string(ullBadFirst) + " " + std::to_string(ullBadFirst + 3) + "\n");
    CTestTree tree;
    CTestTree::Props(tree.File(tree.Root(), "bad sectors.bin", 3 * kClusterBytes))->SetRuns({{10, 3}});
    // The last cluster of the disk and one beyond it.
    const uint64_t ullLastCluster = (ullDiskSectors - kPartitionStart) / kSectorsPerCluster - 1;
    CTestTree::Props(tree.File(tree.Root(), "past end.bin", 2 * kClusterBytes))->SetRuns({{ullLastCluster, 2}});
    CTestTree::Props(tree.File(tree.Root(), "impossible.bin", 2 * kClusterBytes))
        ->SetRuns({{1ULL << 62, 1}, {20, 1}});
    CTestTree::Props(tree.File(tree.Root(), "fine.bin", kClusterBytes))->SetRuns({{30, 1}});
    HandOver(tree);
    CTestTree other;
    CTestTree::Props(other.File(other.Root(), "no disk.bin", 100))->SetRuns({{1, 1}});
    HandOver(other, 1, 5);
    TickAll(0);
    TickAll(1);

    CTestTessary tessary(Access());
    MESSAGES messages;
    const COPY_OUTCOME outcome = Copy(tessary, &messages);
    EXPECT_EQ(TESSARY_OK, outcome.nResult) << messages.All();
    EXPECT_EQ(5u, outcome.Progress.ullFilesFound);
    const std::string strVolume1 = "Volume 1/Deleted Files/";
    EXPECT_EQ(WithZeros(ImageBytes(ClusterOffset(10), 3 * kClusterBytes), kClusterBytes + 3 * kSector, 3 * kSector),
              FileBytes(RunPath(strVolume1 + "bad sectors.bin")));
    EXPECT_EQ(WithZeros(ImageBytes(ClusterOffset(ullLastCluster), 2 * kClusterBytes), kClusterBytes, kClusterBytes),
              FileBytes(RunPath(strVolume1 + "past end.bin")));
    EXPECT_EQ(WithZeros(ImageBytes(ClusterOffset(20) - kClusterBytes, 2 * kClusterBytes), 0, kClusterBytes),
              FileBytes(RunPath(strVolume1 + "impossible.bin")));
    EXPECT_EQ(ImageBytes(ClusterOffset(30), kClusterBytes), FileBytes(RunPath(strVolume1 + "fine.bin")));
    EXPECT_EQ(std::vector<uint8_t>(100, 0), FileBytes(RunPath("Volume 2/Deleted Files/no disk.bin")));

    const std::string strLast = std::to_string(ullDiskSectors);
    for (const std::string& strLine :
         {"\"" + strVolume1 + "bad sectors.bin\": sectors " + std::to_string(ullBadFirst) + " to " +
              std::to_string(ullBadFirst + 2) + " of disk 0 could not be read; zeros were written in their place.",
          "\"" + strVolume1 + "past end.bin\": sectors " + strLast + " to " + std::to_string(ullDiskSectors + 7) +
              " lie beyond the end of disk 0",
          "\"" + strVolume1 + "impossible.bin\": part of its position on the disk is damaged; that part is zeros.",
          std::string("\"Volume 2/Deleted Files/no disk.bin\": disk 5 cannot be opened"),
          std::string("4 of them are not wholly the original bytes")})
        EXPECT_TRUE(messages.Has(strLine)) << strLine << "\n" << messages.All();
    EXPECT_EQ(4u, messages.Count(TESSARY_MESSAGE_WARNING)) << messages.All();
}

// A bad area that covers a whole block costs single-sector reads only where it is: the readable
// sectors around it still arrive.
TEST_F(TessaryFailures, LargeBadAreaKeepsItsEdges)
{
    const uint64_t ullFirst = kPartitionStart + 100 * kSectorsPerCluster;
    // 1 MiB of file from cluster 100; sectors 5 .. 1500 of it are bad.
    LoadTable("bad 0 " + std::to_string(ullFirst + 5) + " " + std::to_string(ullFirst + 1501) + "\n");
    CTestTree tree;
    CTestTree::Props(tree.File(tree.Root(), "big.bin", 256 * kClusterBytes))->SetRuns({{100, 256}});
    HandOver(tree);
    TickAll();
    CTestTessary tessary(Access());
    MESSAGES messages;
    EXPECT_EQ(TESSARY_OK, Copy(tessary, &messages).nResult);
    EXPECT_EQ(WithZeros(ImageBytes(ClusterOffset(100), 256 * kClusterBytes), 5 * kSector, 1496 * kSector),
              FileBytes(RunPath("Deleted Files/big.bin")));
    EXPECT_TRUE(messages.Has("sectors " + std::to_string(ullFirst + 5) + " to " + std::to_string(ullFirst + 1500) +
                             " of disk 0 could not be read"))
        << messages.All();
}

// Resident data whose FILE record was torn in writing, or overwritten since.
TEST_F(TessaryFailures, DamagedFileRecords)
{
    // Sector 700: a record whose second stretch does not end in the sequence number; sector 720:
    // no record at all any more.
    const uint64_t ullTorn = (kPartitionStart + 700) * kSector;
    std::vector<uint8_t> vecRecord = ImageBytes(ullTorn, 1024);
    const uint8_t abyHeader[] = {'F', 'I', 'L', 'E', 0x30, 0, 3, 0};
    std::copy(std::begin(abyHeader), std::end(abyHeader), vecRecord.begin());
    vecRecord[0x1D] = 0x04;
    vecRecord[0x1C] = vecRecord[0x1E] = vecRecord[0x1F] = 0;
    vecRecord[0x30] = 0x34;
    vecRecord[0x31] = 0x12;
    const uint8_t abySaved[] = {vecRecord[510], vecRecord[511], vecRecord[1022], vecRecord[1023]};
    std::copy(std::begin(abySaved), std::end(abySaved), vecRecord.begin() + 0x32);
    vecRecord[510] = 0x34;
    vecRecord[511] = 0x12;  // the second stretch keeps its own bytes: torn
    {
        std::fstream file(m_strImage, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(static_cast<std::streamoff>(ullTorn));
        file.write(reinterpret_cast<const char*>(vecRecord.data()), 1024);
    }
    CTestTree tree;
    CTestTree::Props(tree.File(tree.Root(), "torn.txt", 700))->SetResident(700, 0x100);
    CTestTree::Props(tree.File(tree.Root(), "gone.txt", 100))->SetResident(720, 0x100);
    CTestTree::Props(tree.File(tree.Root(), "outside.txt", 1000))->SetResident(700, 0x200);
    HandOver(tree);
    TickAll();
    CTestTessary tessary(Access());
    MESSAGES messages;
    EXPECT_EQ(TESSARY_OK, Copy(tessary, &messages).nResult) << messages.All();
    // Bytes of the record after the fix-ups: both saved words back in place.
    std::vector<uint8_t> vecFixed = vecRecord;
    vecFixed[510] = abySaved[0];
    vecFixed[511] = abySaved[1];
    vecFixed[1022] = abySaved[2];
    vecFixed[1023] = abySaved[3];
    EXPECT_EQ(std::vector<uint8_t>(vecFixed.begin() + 0x100, vecFixed.begin() + 0x100 + 700),
              FileBytes(RunPath("Deleted Files/torn.txt")));
    EXPECT_EQ(std::vector<uint8_t>(100, 0), FileBytes(RunPath("Deleted Files/gone.txt")));
    EXPECT_EQ(std::vector<uint8_t>(1000, 0), FileBytes(RunPath("Deleted Files/outside.txt")));
    EXPECT_TRUE(messages.Has("\"Deleted Files/torn.txt\": its FILE record was not written whole")) << messages.All();
    EXPECT_TRUE(messages.Has("\"Deleted Files/gone.txt\": its FILE record is no longer there; the file is zeros"))
        << messages.All();
    EXPECT_TRUE(messages.Has("\"Deleted Files/outside.txt\": its data would lie outside its FILE record"))
        << messages.All();
}

// A write that fails (here the file-size limit of the process) removes that copy, says so, and
// the run goes on with the next file; the run reports that not everything was recovered.
TEST_F(TessaryFailures, FailedWriteRemovesTheCopy)
{
    CTestTree tree;
    CTestTree::Props(tree.File(tree.Root(), "small.txt", 1000))->SetRuns({{1, 1}});
    CTestTree::Props(tree.File(tree.Root(), "large.bin", 32 * kClusterBytes))->SetRuns({{10, 32}});
    HandOver(tree);
    TickAll();
    CTestTessary tessary(Access());
    MESSAGES messages;
    struct rlimit old{};
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &old));
    struct rlimit limit = old;
    limit.rlim_cur = 64 * 1024;
    void (*pfnOld)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limit));
    const COPY_OUTCOME outcome = Copy(tessary, &messages);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, pfnOld);
    EXPECT_EQ(TESSARY_ERR_INCOMPLETE, outcome.nResult);
    EXPECT_EQ(PROGRESS_STATE_FINISHED, outcome.Progress.dwState);
    EXPECT_FALSE(Exists(RunPath("Deleted Files/large.bin")));
    EXPECT_EQ(ImageBytes(ClusterOffset(1), 1000), FileBytes(RunPath("Deleted Files/small.txt")));
    EXPECT_TRUE(messages.Has("Could not write \"Deleted Files/large.bin\": File too large. The file was not recovered."))
        << messages.All();
    EXPECT_TRUE(messages.Has("Recovery finished: 1 file written")) << messages.All();
    EXPECT_TRUE(messages.Has("1 file could not be recovered")) << messages.All();
    EXPECT_EQ(1u, outcome.Progress.ullFilesFound);
}

// A full target stops the run at the first file that does not fit: that copy is removed, and the
// files after it are counted as not recovered. The target is a small tmpfs in a mount namespace
// of a child process (skipped where namespaces cannot be made).
TEST_F(TessaryFailures, FullTargetStopsTheRun)
{
    CTestTree tree;
    // Linked in front: the tree lists them one, two, three.
    for (int i = 3; i >= 1; --i)
        CTestTree::Props(tree.File(tree.Root(), "file" + std::to_string(i) + ".bin", 40 * kClusterBytes))
            ->SetRuns({{static_cast<uint64_t>(100 + 40 * i), 40}});
    HandOver(tree);
    TickAll();
    int afdPipe[2];
    ASSERT_EQ(0, pipe(afdPipe));
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(afdPipe[0]);
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", m_strTarget.c_str(), "tmpfs", 0, "size=256k") != 0)
            _exit(77);
        CTestTessary tessary(Access());
        MESSAGES messages;
        const COPY_OUTCOME outcome = Copy(tessary, &messages);
        std::string strReport = std::to_string(outcome.nResult) + "\n" + std::to_string(outcome.Progress.dwState) +
                                "\n" + (Exists(RunPath("Deleted Files/file1.bin")) ? "1" : "0") +
                                (Exists(RunPath("Deleted Files/file2.bin")) ? "1" : "0") +
                                (Exists(RunPath("Deleted Files/file3.bin")) ? "1" : "0") + "\n" + messages.All();
        if (Exists(RunPath("Deleted Files/file1.bin")) &&
            FileBytes(RunPath("Deleted Files/file1.bin")) != ImageBytes(ClusterOffset(140), 40 * kClusterBytes))
            strReport += "file1.bin differs\n";
        (void)!write(afdPipe[1], strReport.data(), strReport.size());
        _exit(0);
    }
    close(afdPipe[1]);
    std::string strReport;
    char szBuffer[4096];
    ssize_t n;
    while ((n = read(afdPipe[0], szBuffer, sizeof(szBuffer))) > 0)
        strReport.append(szBuffer, static_cast<size_t>(n));
    close(afdPipe[0]);
    int nStatus = 0;
    ASSERT_EQ(pid, waitpid(pid, &nStatus, 0));
    ASSERT_TRUE(WIFEXITED(nStatus));
    if (WEXITSTATUS(nStatus) == 77)
        GTEST_SKIP() << "no mount namespace for a small target here";
    ASSERT_EQ(0, WEXITSTATUS(nStatus));
    EXPECT_EQ(0u, strReport.find(std::to_string(TESSARY_ERR_WRITE) + "\n2\n100\n")) << strReport;
    EXPECT_NE(std::string::npos, strReport.find("Could not write \"Deleted Files/file2.bin\": No space left on device"))
        << strReport;
    EXPECT_NE(std::string::npos,
              strReport.find("The target disk is full, so the recovery stopped: 1 file written, 2 files not recovered."))
        << strReport;
    EXPECT_EQ(std::string::npos, strReport.find("differs")) << strReport;
}

// A cancel between files ends the run there; a cancel inside a file removes that unfinished copy.
TEST_F(TessaryFailures, Cancel)
{
    // The first file has an unreadable sector; its message comes when it is done and cancels.
    const uint64_t ullBad = kPartitionStart + 1 * kSectorsPerCluster;
    LoadTable("bad 0 " + std::to_string(ullBad) + " " + std::to_string(ullBad + 1) + "\n");
    CTestTree tree;
    CTestTree::Props(tree.File(tree.Root(), "third.bin", 100))->SetRuns({{3, 1}});
    CTestTree::Props(tree.File(tree.Root(), "second.bin", 100))->SetRuns({{2, 1}});
    CTestTree::Props(tree.File(tree.Root(), "first.bin", 100))->SetRuns({{1, 1}});
    HandOver(tree);
    TickAll();
    CTestTessary tessary(Access());
    MESSAGES messages;
    messages.strCancelOn = "could not be read";
    const COPY_OUTCOME outcome = Copy(tessary, &messages);
    EXPECT_EQ(TESSARY_ERR_CANCELLED, outcome.nResult);
    EXPECT_EQ(PROGRESS_STATE_FINISHED, outcome.Progress.dwState);
    EXPECT_TRUE(messages.Has("Recovery cancelled: 1 of 3 files were written")) << messages.All();
    EXPECT_EQ((std::vector<std::string>{"Deleted Files/first.bin"}), [&] {
        std::vector<std::string> vec;
        for (const auto& file : RegularFiles(RunPath()))
            vec.push_back(file.first);
        return vec;
    }());
}

// The copier asks after every block whether to go on.
TEST_F(TessaryFailures, CopierStopsBetweenBlocks)
{
    STORED_FILE file;
    file.ullSize = 3 * tessary::CFileCopier::BLOCK_BYTES;
    file.vecRuns.push_back({kPartitionStart, file.ullSize / kSector});
    const std::string strPath = m_Dir.File("partial.bin");
    tessary::COPY_RESULT result;
    int nCalls = 0;
    ASSERT_NO_FATAL_FAILURE(CopyIntoNewFile(file, strPath, [&](uint64_t) { return ++nCalls < 2; }, &result));
    EXPECT_TRUE(result.bCancelled);
    EXPECT_EQ(2, nCalls);
    EXPECT_EQ(ImageBytes(kPartitionStart * kSector, 2 * tessary::CFileCopier::BLOCK_BYTES), FileBytes(strPath));
}

// A damaged record may give a file a size and a run far larger than the disk: what lies on the
// disk is copied, the rest is passed over in one step as a hole (never read piece by piece nor
// written out as zeros), it is reported, and the progress still adds up to the size. The same for
// a compressed file's units, for a run that cannot lie on any device, and for data past the
// valid length.
TEST_F(TessaryFailures, RunsReachingFarPastTheDiskArePassedOverAtOnce)
{
    const uint64_t ullDiskSectors = kImageBytes / kSector;
    const uint64_t ullSize = 1ULL << 30;
    const struct {
        const char* pszName;
        uint64_t ullSector;
        uint64_t ullValid;
        DWORD dwUnitSectors;
        uint64_t ullOnDisk;  // bytes copied from the disk
        int nReason;         // the reason reported for the rest; -1 none
    } cases[] = {
        {"plain", ullDiskSectors - 8, ~0ULL, 0, 8 * kSector, tessary::BAD_RANGE_PAST_END},
        {"compressed", ullDiskSectors - 128, ~0ULL, 128, 128 * kSector, tessary::BAD_RANGE_PAST_END},
        {"impossible", 1ULL << 62, ~0ULL, 0, 0, tessary::BAD_RANGE_BAD_POSITION},
        {"compressed impossible", 1ULL << 62, ~0ULL, 16, 0, tessary::BAD_RANGE_BAD_POSITION},
        {"past valid", kPartitionStart, 4096, 0, 4096, -1},
        {"compressed past valid", kPartitionStart, 4096, 16, 4096, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        STORED_FILE file;
        file.ullSize = ullSize;
        file.ullValidSize = c.ullValid;
        file.dwCompressionUnitSectors = c.dwUnitSectors;
        file.vecRuns.push_back({c.ullSector, ullSize / kSector});
        const std::string strPath = m_Dir.File(std::string(c.pszName) + ".bin");
        tessary::COPY_RESULT result;
        uint64_t ullSteps = 0;
        int nSteps = 0;
        ASSERT_NO_FATAL_FAILURE(CopyIntoNewFile(
            file, strPath, [&](uint64_t ullStep) { ullSteps += ullStep; ++nSteps; return true; }, &result));
        struct stat st{};
        ASSERT_EQ(0, stat(strPath.c_str(), &st));
        EXPECT_FALSE(result.bWriteFailed) << result.nWriteError;
        EXPECT_EQ(ullSize, ullSteps);
        EXPECT_LE(nSteps, 3);
        EXPECT_EQ(ullSize, static_cast<uint64_t>(st.st_size));
        // Nothing but the copied bytes (and the rest of the block that reached the disk's end)
        // takes room on the target.
        EXPECT_LE(static_cast<uint64_t>(st.st_blocks) * 512, c.ullOnDisk + tessary::CFileCopier::BLOCK_BYTES);
        std::vector<uint8_t> head(c.ullOnDisk + 4096);
        const int nIn = open(strPath.c_str(), O_RDONLY);
        ASSERT_GE(nIn, 0);
        ASSERT_EQ(static_cast<ssize_t>(head.size()), pread(nIn, head.data(), head.size(), 0));
        close(nIn);
        std::vector<uint8_t> expected = c.ullOnDisk == 0 ? std::vector<uint8_t>() : ImageBytes(c.ullSector * kSector, c.ullOnDisk);
        expected.resize(head.size(), 0);
        EXPECT_EQ(expected, head);
        bool bReported = false;
        for (const tessary::BAD_RANGE& bad : result.vecBad)
            bReported = bReported || bad.nReason == c.nReason;
        EXPECT_EQ(c.nReason >= 0, bReported);
        EXPECT_EQ(c.nReason >= 0, !result.vecBad.empty());
    }
}

// A compressed file whose run starts past the disk's end, so near the end of what an offset can
// name that the run's bytes would carry the offset past 2^64: its units are still passed over at
// once as a hole past the end, not read and written one by one (on a size of 2^62 bytes that
// never ended). The progress stops the copy after 100 steps should it go unit by unit.
TEST_F(TessaryFailures, CompressedRunNearTheLastOffsetIsPassedOverAtOnce)
{
    STORED_FILE file;
    file.ullSize = 1ULL << 62;
    file.ullValidSize = ~0ULL;
    file.dwCompressionUnitSectors = 16;
    file.vecRuns.push_back({7ULL << 52, 1ULL << 53});
    const std::string strPath = m_Dir.File("near the last offset.bin");
    tessary::COPY_RESULT result;
    int nSteps = 0;
    ASSERT_NO_FATAL_FAILURE(CopyIntoNewFile(file, strPath, [&](uint64_t) { return ++nSteps < 100; }, &result));
    EXPECT_FALSE(result.bCancelled);
    EXPECT_LE(nSteps, 3);
    bool bPastEnd = false;
    for (const tessary::BAD_RANGE& bad : result.vecBad)
        bPastEnd = bPastEnd || bad.nReason == tessary::BAD_RANGE_PAST_END;
    EXPECT_TRUE(bPastEnd);
}

// A cancel from the GUI thread while a large file is written: the run ends cancelled, and the
// file it was writing is either whole (the cancel came after it) or gone, never cut short.
TEST_F(TessaryFailures, CancelWhileWritingLeavesNoPartialCopy)
{
    CTestTree tree;
    CTestTree::Props(tree.File(tree.Root(), "after.bin", 100))->SetRuns({{1, 1}});
    CTestTree::Props(tree.File(tree.Root(), "big.bin", 1536 * kClusterBytes))->SetRuns({{10, 1536}});
    HandOver(tree);
    TickAll();
    CTestTessary tessary(Access());
    SEARCH_PROGRESS progress{};
    DWORD adwFlags[2] = {0, 0};
    tessary.SetTarget(rvd::Utf8ToUtf16(m_strTarget).c_str(), 0, 0);
    tessary.SetProgressSink(&progress, adwFlags);
    std::atomic<bool> bStarted{false}, bDone{false};
    std::thread watcher([&] {
        bStarted = true;
        while (!bDone.load()) {
            if (__atomic_load_n(&progress.dwPercent, __ATOMIC_RELAXED) > 0) {
                __atomic_store_n(&adwFlags[TESSARY_FLAG_CANCEL], 1u, __ATOMIC_RELAXED);
                break;
            }
        }
    });
    while (!bStarted.load())
        std::this_thread::yield();
    const int32_t nResult = tessary.Run(TESSARY_RUN_COPY);
    bDone = true;
    watcher.join();
    EXPECT_EQ(PROGRESS_STATE_FINISHED, progress.dwState);
    if (Exists(RunPath("Deleted Files/big.bin"))) {
        EXPECT_EQ(ImageBytes(ClusterOffset(10), 1536 * kClusterBytes), FileBytes(RunPath("Deleted Files/big.bin")));
    }
    if (nResult == TESSARY_ERR_CANCELLED) {
        EXPECT_FALSE(Exists(RunPath("Deleted Files/after.bin")));
    } else {
        // The whole run was over before the other thread looked.
        EXPECT_EQ(TESSARY_OK, nResult);
        EXPECT_EQ(ImageBytes(ClusterOffset(1), 100), FileBytes(RunPath("Deleted Files/after.bin")));
    }
}

} // namespace
