// The scan thread, the GUI thread with its listing worker and the copy-out thread use the one
// store at the same time.
#include <atomic>
#include <thread>

#include "CorrandTestSupport.h"

using namespace corrandtest;

namespace {

class CorrandThreads : public CStoreTest {};

TEST_F(CorrandThreads, ListingTickingAndReadingTogetherKeepTheTotalsRight)
{
    CTestTree tree;
    const int nFolders = 20, nPerFolder = 100;
    for (int f = 0; f < nFolders; ++f) {
        CFileNode* pFolder = tree.Folder(tree.Root(), "folder" + std::to_string(f));
        for (int i = 0; i < nPerFolder; ++i)
            tree.File(pFolder, "file" + std::to_string(i), 10 + i);
    }
    ASSERT_EQ(0, HandOver(UserRecord(0), tree));
    const DWORD dwRoot = FindPath(Store(), 0, {"Deleted Files"});
    std::vector<DWORD> vecFolders;
    for (const FILE_INFO_EX& info : ListAll(Store(), 0, dwRoot, ENUM_KIND_FOLDERS))
        vecFolders.push_back(info.dwRecordNumber);
    ASSERT_EQ(static_cast<size_t>(nFolders), vecFolders.size());

    // Each thread keeps its own listings, as the page's worker and the copy-out module do; the
    // listing state is per store, so only one thread lists folders.
    std::atomic<bool> bStop{false};
    std::atomic<int> nListingErrors{0};
    std::thread lister([&] {
        while (!bStop)
            for (DWORD dwFolder : vecFolders)
                if (ListAll(Store(), 0, dwFolder, ENUM_KIND_FILES).size() != static_cast<size_t>(nPerFolder))
                    ++nListingErrors;
    });
    std::thread reader([&] {
        while (!bStop) {
            CHECKED_FILE_CURSOR cursor;
            std::vector<STORED_FILE> files;
            while (Access()->GetNextCheckedFiles(&cursor, &files, 64) == 0) {
            }
        }
    });
    std::thread ticker([&] {
        for (int round = 0; round < 3; ++round)
            for (DWORD dwFolder : vecFolders) {
                Store()->SetCheckState(dwFolder, 1, 1, 1, 0);
                for (DWORD d = 1; d <= static_cast<DWORD>(nPerFolder); d += 7)
                    Store()->SetCheckState(dwFolder + d, 0, 0, 0, 0);
            }
    });
    ticker.join();
    bStop = true;
    lister.join();
    reader.join();
    EXPECT_EQ(0, nListingErrors.load());

    // The totals kept on the folders equal the sum over the files' own ticks.
    uint64_t ullSum = 0, ullFiles = 0;
    for (DWORD dwFolder : vecFolders) {
        uint64_t ullFolder = 0;
        for (const FILE_INFO_EX& info : ListAll(Store(), 0, dwFolder, ENUM_KIND_FILES))
            if (info.dwChecked != 0) {
                ullFolder += info.ullSize;
                ++ullFiles;
            }
        EXPECT_EQ(ullFolder, Store()->GetCheckedSize(dwFolder, 0, 0));
        ullSum += ullFolder;
    }
    EXPECT_EQ(ullSum, Store()->GetCheckedSize(0, 0, 0));
    uint64_t ullTotalFiles = 0, ullTotalBytes = 0;
    ASSERT_EQ(0, Access()->GetCheckedTotals(&ullTotalFiles, &ullTotalBytes));
    EXPECT_EQ(ullFiles, ullTotalFiles);
    EXPECT_EQ(ullSum, ullTotalBytes);
    EXPECT_GT(ullFiles, 0u);
}

} // namespace
