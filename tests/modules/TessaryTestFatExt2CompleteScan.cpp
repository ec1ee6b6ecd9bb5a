// Recoveries of FAT and EXT2 volumes that only the complete scan finds: formatted again over
// earlier files, and partitions whose table entries were wiped. Each is scanned through the
// engine module (complete scan of the partition, or whole-disk scan), its results go to the real
// store, every file is ticked and copied out, and the copies are compared with what was written
// before the damage.
#include <dlfcn.h>

#include <map>
#include <set>

#include "EngineSettings.h"
#include "GlobalAdvanceSettingData.h"
#include "ICorrand.h"
#include "IDelvar.h"
#include "SafeName.h"
#include "TessaryTestSupport.h"

namespace {

using namespace tessarytest;


enum {
    EXPECT_ALL,        // the volume's own tree: every live file, and deleted ones still recoverable
    EXPECT_IN_FOLDERS, // a FAT quick format: live files below the (new, empty) root's level
    EXPECT_FORMATTED_OVER, // the old tree beside the new one: every live file, by name and bytes
};

struct FS_SCAN_CASE {
    const char* pszName;
    const char* pszImage;
    int nPartition;                 // scanned partition; 0: the whole disk
    DWORD dwFileSystem;             // of the scanned partition
    std::vector<int> vecExpected;   // partitions of the image whose files must come back
    int nRule;
};

void PrintTo(const FS_SCAN_CASE& c, std::ostream* pOut)
{
    *pOut << c.pszName;
}

class FatExt2CompleteScanRecovery : public CCompleteScanTest<FS_SCAN_CASE> {};

TEST_P(FatExt2CompleteScanRecovery, GivesBackTheTreesNamesAndBytes)
{
    const FS_SCAN_CASE& c = GetParam();
    const std::string strImage = rvdtest::FixturePath(c.pszImage);
    const std::vector<uint8_t> vecDisk = rvdtest::ReadFileBytes(strImage);
    const std::vector<rvdtest::PartitionEntry> partitions = rvdtest::ReadPartitions(c.pszImage);
    auto partition = [&](int nIndex) {
        for (const rvdtest::PartitionEntry& p : partitions)
            if (p.nIndex == nIndex)
                return p;
        ADD_FAILURE() << "no partition " << nIndex;
        return rvdtest::PartitionEntry();
    };

    const rvdtest::PartitionEntry scanned = c.nPartition != 0 ? partition(c.nPartition) : rvdtest::PartitionEntry();
    ASSERT_NO_FATAL_FAILURE(ScanDiskImage(m_Table, strImage, vecDisk.size() / kSector,
                                          c.nPartition != 0 ? &scanned : nullptr, c.dwFileSystem));

    ICorrand* pStore = ModuleStore();
    ASSERT_NE(nullptr, pStore);
    std::set<std::vector<std::string>> setStored;
    ASSERT_NO_FATAL_FAILURE(TickEveryVolume(pStore, &setStored));
    MESSAGES messages;
    const TICKED_COPY ticked = CopyTickedFiles(ModuleStoreAccess(), m_Dir.File("target"), &messages);
    EXPECT_EQ(TESSARY_OK, ticked.nResult) << messages.All();
    // Copies by their own (sanitised) name, and by the hashes of their bytes.
    std::multimap<std::string, std::string> copies;
    std::multimap<std::string, std::string> namesBySha;
    for (const auto& copy : RegularFiles(ticked.strRun)) {
        const std::string strName = copy.first.substr(copy.first.rfind('/') + 1);
        const std::string strSha = rvdtest::Sha256Hex(copy.second);
        copies.emplace(strName, strSha);
        namesBySha.emplace(strSha, strName);
    }
    EXPECT_EQ(ticked.ullTicked, copies.size());

    int nChecked = 0;
    for (int nIndex : c.vecExpected) {
        for (const rvdtest::ManifestEntry& entry : WrittenFiles(c.pszImage, nIndex)) {
            if (entry.bDirectory || (entry.bDeleted && (!entry.bRecoverable || entry.bFragmented)))
                continue;
            if (c.nRule == EXPECT_IN_FOLDERS && (entry.bDeleted || entry.bFragmented || entry.vecNames.size() < 2))
                continue;
            // The last file of "Many Files" is the only entry of its folder's last sector: with the
            // chain gone, one entry alone is not told from stray bytes, and the sector is not read.
            if (c.nRule == EXPECT_IN_FOLDERS && entry.vecNames.back() == "Entry number 40 of many.txt")
                continue;
            SCOPED_TRACE(std::string(c.pszImage) + " p" + std::to_string(nIndex) + entry.strPath);
            if (c.nRule == EXPECT_FORMATTED_OVER && entry.bDeleted)
                continue;
            if (c.nRule == EXPECT_ALL && !entry.bDeleted) {
                // The volume's own tree, from its root.
                std::vector<std::string> vecPath = {"Deleted Files"};
                vecPath.insert(vecPath.end(), entry.vecNames.begin(), entry.vecNames.end());
                bool bListed = setStored.count(vecPath) == 1;
                // A complete build hangs the tree under a root named after the partition.
                for (const auto& stored : setStored)
                    bListed = bListed || (stored.size() == vecPath.size() + 1 &&
                                          std::equal(vecPath.begin() + 1, vecPath.end(), stored.begin() + 2));
                EXPECT_TRUE(bListed) << "not listed at its path";
            }
            bool bCopied = false;
            const std::string strName = tessary::SanitiseComponent(rvd::Utf8ToUtf16(entry.vecNames.back()));
            for (auto it = copies.lower_bound(strName); it != copies.end() && it->first == strName; ++it)
                bCopied = bCopied || it->second == entry.strSha256;
            // A deleted entry without a long name lost its first character to the delete mark.
            if (!bCopied && entry.bDeleted)
                for (auto it = namesBySha.lower_bound(entry.strSha256);
                     it != namesBySha.end() && it->first == entry.strSha256; ++it)
                    bCopied = bCopied || (it->second.size() == strName.size() && it->second.size() > 1 &&
                                          it->second.compare(1, std::string::npos, strName, 1) == 0);
            // A long name whose entries straddle a directory cluster that no chain leads to any
            // more comes back under its 8.3 alias; the bytes must still be there.
            if (!bCopied && c.nRule == EXPECT_IN_FOLDERS)
                for (auto it = namesBySha.lower_bound(entry.strSha256);
                     it != namesBySha.end() && it->first == entry.strSha256; ++it)
                    bCopied = bCopied || it->second.find('~') != std::string::npos;
            std::string strOthers;
            for (auto it = namesBySha.lower_bound(entry.strSha256);
                 it != namesBySha.end() && it->first == entry.strSha256; ++it)
                strOthers += " [" + it->second + "]";
            EXPECT_TRUE(bCopied) << "no copy named " << strName << " with the bytes written; copies with them:"
                                 << strOthers;
            ++nChecked;
        }
    }
    EXPECT_GT(nChecked, 5);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, FatExt2CompleteScanRecovery,
    ::testing::Values(FS_SCAN_CASE{"Fat32Reformatted", "reformatted.img", 1, FILE_SYSTEM_FAT32, {1}, EXPECT_IN_FOLDERS},
                      FS_SCAN_CASE{"Ext2Reformatted", "reformatted.img", 2, FILE_SYSTEM_EXT2, {2}, EXPECT_FORMATTED_OVER},
                      FS_SCAN_CASE{"TableWipedWholeDisk", "wiped.img", 0, 0, {1, 2}, EXPECT_ALL}),
    [](const ::testing::TestParamInfo<FS_SCAN_CASE>& info) { return info.param.pszName; });

} // namespace
