// Recoveries of NTFS volumes that only the complete scan finds: quick-formatted over earlier
// files, boot sector zeroed, $MFT record 0 destroyed, table entry wiped. Each is scanned
// through the engine module (complete scan of the partition, and whole-disk scan), its results
// go to the real store, every file is ticked and copied out, and the copies are compared with
// what was written before the damage.
#include <dlfcn.h>

#include <algorithm>
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

struct NTFS_SCAN_CASE {
    const char* pszName;
    const char* pszImage;
    int nPartition;                 // scanned partition; 0: the whole disk
    std::vector<int> vecExpected;   // partitions of the image whose files must come back
    // What is zeroed in a copy of the image that the scan reads instead: the boot sector and
    // its backup, $MFT record 0, or all three, or record 0 and its copy in $MFTMirr, of the
    // volume at this partition (0: the image is one volume).
    enum { INTACT, BOOTS, RECORD0, BOOTS_AND_RECORD0, RECORD0_AND_COPY } eZeroed = INTACT;
    int nZeroedVolume = 0;
};

// Shown by its name, so that the test's name stays the same from build to build.
void PrintTo(const NTFS_SCAN_CASE& c, std::ostream* pOut)
{
    *pOut << c.pszName;
}

// The image still holds the file's FILE record with its name: a quick format overwrites only the
// first records of $MFT.
bool RecordSurvives(const std::vector<uint8_t>& vecDisk, uint64_t ullStart, const rvdtest::ManifestEntry& entry)
{
    const uint8_t* pBoot = vecDisk.data() + ullStart * kSector;
    uint64_t ullMFTCluster = 0;
    for (int i = 7; i >= 0; --i)
        ullMFTCluster = (ullMFTCluster << 8) | pBoot[48 + i];
    const uint64_t ullRecord = (ullStart + ullMFTCluster * pBoot[13]) * kSector + static_cast<uint64_t>(entry.nId) * 1024;
    if (pBoot[13] == 0 || ullRecord + 1024 > vecDisk.size())
        return false;
    const std::u16string strName = rvd::Utf8ToUtf16(entry.vecNames.back());
    const std::string strBytes(reinterpret_cast<const char*>(strName.data()), strName.size() * 2);
    const std::string strRecord(reinterpret_cast<const char*>(vecDisk.data() + ullRecord), 1024);
    return strRecord.compare(0, 4, "FILE") == 0 && strRecord.find(strBytes) != std::string::npos;
}

class NtfsCompleteScanRecovery : public CCompleteScanTest<NTFS_SCAN_CASE> {};

TEST_P(NtfsCompleteScanRecovery, GivesBackTheTreesNamesAndBytes)
{
    const NTFS_SCAN_CASE& c = GetParam();
    std::string strImage = rvdtest::FixturePath(c.pszImage);
    const std::vector<uint8_t> vecDisk = rvdtest::ReadFileBytes(strImage);
    const bool bWholeVolume = c.vecExpected == std::vector<int>{0};
    const std::vector<rvdtest::PartitionEntry> partitions =
        bWholeVolume ? std::vector<rvdtest::PartitionEntry>{} : rvdtest::ReadPartitions(c.pszImage);
    auto partition = [&](int nIndex) {
        if (nIndex == 0) {
            // A disk that is one volume, without a table.
            rvdtest::PartitionEntry whole;
            whole.nIndex = 0;
            whole.nStart = 0;
            whole.nCount = vecDisk.size() / kSector;
            return whole;
        }
        for (const rvdtest::PartitionEntry& p : partitions)
            if (p.nIndex == nIndex)
                return p;
        ADD_FAILURE() << "no partition " << nIndex;
        return rvdtest::PartitionEntry();
    };

    if (c.eZeroed != NTFS_SCAN_CASE::INTACT) {
        // Where $MFT starts is read from the boot sector (or its backup) before they go.
        const rvdtest::PartitionEntry damaged = partition(c.nZeroedVolume);
        const uint64_t ullFirst = static_cast<uint64_t>(damaged.nStart) * kSector;
        const uint64_t ullLast = (static_cast<uint64_t>(damaged.nStart) + damaged.nCount - 1) * kSector;
        ASSERT_LE(ullLast + kSector, vecDisk.size());
        const uint64_t ullBoot = vecDisk[ullFirst + 510] == 0x55 ? ullFirst : ullLast;
        uint64_t ullMFTCluster = 0;
        for (int i = 7; i >= 0; --i)
            ullMFTCluster = (ullMFTCluster << 8) | vecDisk[ullBoot + 48 + i];
        const uint64_t ullRecord0 = ullFirst + ullMFTCluster * vecDisk[ullBoot + 13] * kSector;
        ASSERT_LE(ullRecord0 + 1024, vecDisk.size());
        std::vector<uint8_t> vecDamaged = vecDisk;
        if (c.eZeroed == NTFS_SCAN_CASE::RECORD0_AND_COPY) {
            uint64_t ullMirrCluster = 0;
            for (int i = 7; i >= 0; --i)
                ullMirrCluster = (ullMirrCluster << 8) | vecDisk[ullBoot + 56 + i];
            const uint64_t ullCopy = ullFirst + ullMirrCluster * vecDisk[ullBoot + 13] * kSector;
            ASSERT_LE(ullCopy + 1024, vecDisk.size());
            std::fill_n(vecDamaged.begin() + ullCopy, 1024, 0);
        }
        if (c.eZeroed != NTFS_SCAN_CASE::RECORD0 && c.eZeroed != NTFS_SCAN_CASE::RECORD0_AND_COPY) {
            std::fill_n(vecDamaged.begin() + ullFirst, kSector, 0);
            std::fill_n(vecDamaged.begin() + ullLast, kSector, 0);
        }
        if (c.eZeroed != NTFS_SCAN_CASE::BOOTS)
            std::fill_n(vecDamaged.begin() + ullRecord0, 1024, 0);
        strImage = m_Dir.File("damaged.img");
        rvdtest::WriteFileBytes(strImage, vecDamaged);
    }

    const rvdtest::PartitionEntry scanned = c.nPartition != 0 ? partition(c.nPartition) : rvdtest::PartitionEntry();
    ASSERT_NO_FATAL_FAILURE(ScanDiskImage(m_Table, strImage, vecDisk.size() / kSector,
                                          c.nPartition != 0 ? &scanned : nullptr, FILE_SYSTEM_NTFS));

    ICorrand* pStore = ModuleStore();
    ASSERT_NE(nullptr, pStore);
    std::set<std::vector<std::string>> setStored;
    ASSERT_NO_FATAL_FAILURE(TickEveryVolume(pStore, &setStored));
    MESSAGES messages;
    const TICKED_COPY ticked = CopyTickedFiles(ModuleStoreAccess(), m_Dir.File("target"), &messages);
    EXPECT_EQ(TESSARY_OK, ticked.nResult) << messages.All();
    // Copies by their own (sanitised) name, with the hashes of their bytes.
    std::multimap<std::string, std::string> copies;
    for (const auto& copy : RegularFiles(ticked.strRun)) {
        const std::string strName = copy.first.substr(copy.first.rfind('/') + 1);
        copies.emplace(strName, rvdtest::Sha256Hex(copy.second));
    }
    EXPECT_EQ(ticked.ullTicked, copies.size());

    // A long name's 8.3 twin is never a file of its own (no fixture name holds a '~').
    for (const std::vector<std::string>& vecPath : setStored)
        EXPECT_EQ(std::string::npos, vecPath.back().find('~')) << vecPath.back();

    int nChecked = 0;
    for (int nIndex : c.vecExpected) {
        const rvdtest::PartitionEntry p = partition(nIndex);
        const bool bReformatted = p.strLabel == "REFORMAT";
        // The names of each file: several for a file with hard links, which is listed once,
        // by one of them.
        std::map<int64_t, std::vector<rvdtest::ManifestEntry>> files;
        for (const rvdtest::ManifestEntry& entry : WrittenFiles(c.pszImage, nIndex))
            if (!entry.bDirectory && (!entry.bDeleted || entry.bRecoverable))
                files[entry.nId].push_back(entry);
        for (const auto& file : files) {
            const rvdtest::ManifestEntry& entry = file.second.front();
            SCOPED_TRACE(std::string(c.pszImage) + " p" + std::to_string(nIndex) + entry.strPath);
            if (bReformatted && !RecordSurvives(vecDisk, p.nStart, entry))
                continue;
            size_t nListed = 0;
            bool bCopied = false;
            for (const rvdtest::ManifestEntry& name : file.second) {
                // The volume's own tree, from its root.
                std::vector<std::string> vecPath = {"Deleted Files"};
                vecPath.insert(vecPath.end(), name.vecNames.begin(), name.vecNames.end());
                nListed += setStored.count(vecPath);
                const std::string strName = tessary::SanitiseComponent(rvd::Utf8ToUtf16(name.vecNames.back()));
                for (auto it = copies.lower_bound(strName); it != copies.end() && it->first == strName; ++it)
                    bCopied = bCopied || it->second == entry.strSha256;
            }
            if (!bReformatted) {
                EXPECT_EQ(1u, nListed) << "not listed at its path (or at more than one)";
            }
            EXPECT_TRUE(bCopied) << "no copy by its name with the bytes written";
            ++nChecked;
        }
    }
    EXPECT_GT(nChecked, 5);
}

const auto kMirrorOnly = NTFS_SCAN_CASE::BOOTS_AND_RECORD0;

INSTANTIATE_TEST_SUITE_P(
    Fixtures, NtfsCompleteScanRecovery,
    ::testing::Values(NTFS_SCAN_CASE{"Reformatted", "ntfs-damaged.img", 1, {1}},
                      NTFS_SCAN_CASE{"BootZeroed", "ntfs-damaged.img", 2, {2}},
                      NTFS_SCAN_CASE{"MFTRecordDestroyed", "ntfs-damaged.img", 3, {3}},
                      NTFS_SCAN_CASE{"DamagedWholeDisk", "ntfs-damaged.img", 0, {1, 2, 3}},
                      NTFS_SCAN_CASE{"TableEntryWipedWholeDisk", "lost.img", 0, {2}},
                      NTFS_SCAN_CASE{"ShapesC1kWholeDisk", "ntfs-shapes-c1k.img", 0, {0}},
                      NTFS_SCAN_CASE{"ShapesC2kWholeDisk", "ntfs-shapes-c2k.img", 0, {0}},
                      NTFS_SCAN_CASE{"ShapesC8kWholeDisk", "ntfs-shapes-c8k.img", 0, {0}},
                      NTFS_SCAN_CASE{"ShapesC16kWholeDisk", "ntfs-shapes-c16k.img", 0, {0}},
                      NTFS_SCAN_CASE{"ShapesC32kWholeDisk", "ntfs-shapes-c32k.img", 0, {0}},
                      // $MFT in several runs (most files' records in the later ones), and nothing
                      // left that places it but the copy of record 0 in $MFTMirr.
                      NTFS_SCAN_CASE{"ShapesC1kMirrorOnly", "ntfs-shapes-c1k.img", 0, {0}, kMirrorOnly},
                      NTFS_SCAN_CASE{"ShapesC2kMirrorOnly", "ntfs-shapes-c2k.img", 0, {0}, kMirrorOnly},
                      NTFS_SCAN_CASE{"ShapesC8kMirrorOnly", "ntfs-shapes-c8k.img", 0, {0}, kMirrorOnly},
                      NTFS_SCAN_CASE{"ShapesC16kMirrorOnly", "ntfs-shapes-c16k.img", 0, {0}, kMirrorOnly},
                      NTFS_SCAN_CASE{"ShapesC32kMirrorOnly", "ntfs-shapes-c32k.img", 0, {0}, kMirrorOnly},
                      // The boot sectors gone: record 0's own run list reads $MFT. Record 0 gone:
                      // the boot sector places the volume, the copy's run list reads $MFT.
                      NTFS_SCAN_CASE{"ShapesC1kBootsZeroed", "ntfs-shapes-c1k.img", 0, {0}, NTFS_SCAN_CASE::BOOTS},
                      NTFS_SCAN_CASE{"ShapesC8kBootsZeroed", "ntfs-shapes-c8k.img", 0, {0}, NTFS_SCAN_CASE::BOOTS},
                      NTFS_SCAN_CASE{"ShapesC1kRecord0Zeroed", "ntfs-shapes-c1k.img", 0, {0}, NTFS_SCAN_CASE::RECORD0},
                      // Record 0 and its copy gone: nothing gives $MFT's runs, but the records
                      // name their own numbers, and what names the root folder is the top of
                      // the tree, not lost.
                      NTFS_SCAN_CASE{"Record0AndCopyZeroed", "ntfs-damaged.img", 3, {3}, NTFS_SCAN_CASE::RECORD0_AND_COPY, 3},
                      // The volume placed by the copy ends where its $Bitmap says, before the
                      // partition that follows it.
                      NTFS_SCAN_CASE{"MirrorOnlyWholeDisk", "ntfs-damaged.img", 0, {1, 2, 3}, kMirrorOnly, 2},
                      NTFS_SCAN_CASE{"MirrorOnly", "ntfs-damaged.img", 2, {2}, kMirrorOnly, 2}),
    [](const ::testing::TestParamInfo<NTFS_SCAN_CASE>& info) { return info.param.pszName; });

} // namespace
