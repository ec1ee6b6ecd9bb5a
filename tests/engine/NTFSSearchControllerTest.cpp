// The NTFS search controller and the tree of a found partition: boot sectors and their backups,
// failed reads, reads that cut records and blocks, scoring, the saved state, and whole volumes
// found and rebuilt from the fixtures, also with the boot sector or $MFT record 0 destroyed, and
// a volume placed by the copy of record 0 in $MFTMirr.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Delvar.h"
#include "FSStructTestSupport.h"
#include "EngineSettings.h"
#include "FileSystemNode.h"
#include "GlobalAdvanceSettingData.h"
#include "MemoryDataStream.h"
#include "NTFSReaderTestSupport.h"
#include "PartitionTestSupport.h"
#include "DataRunList.h"
#include "RawFileInfo.h"
#include "SearchStatistics.h"
#include "ntfs/NTFSRecordMapping.h"
#include "ntfs/NTFSSearchController.h"
#include "ntfs/NTFSSearchedPartitionInfo.h"

namespace {

const uint64_t kBlock = 8192;

// Feeds the whole device to a controller in blocks of nBlock sectors, then ends the search.
void Scan(CNTFSSearchController& controller, IStorageDevice& device, CRawFileInfoContainer& raw,
          SEARCH_STATISTICS* pStatistics, uint64_t nBlock = kBlock)
{
    controller.SetRawFileInfoContainer(&raw);
    controller.SetStorageDevice(&device);
    controller.SetSectorsPerRead(static_cast<int32_t>(nBlock));
    controller.BeginSearch();
    const uint64_t ullTotal = device.GetTotalSectors();
    for (uint64_t s = 0; s < ullTotal; s += nBlock)
        controller.SearchSectors(s, std::min(nBlock, ullTotal - s), pStatistics);
    controller.EndSearch();
}

struct CANDIDATES {
    CSearchedPartitionInfoList list;
    ~CANDIDATES()
    {
        for (CSearchedPartitionInfo* p : list)
            delete p;
    }
    CSearchedNTFSPartitionInfo* At(uint64_t ullStart, uint32_t nSectorsPerCluster) const
    {
        for (CSearchedPartitionInfo* p : list)
            if (p->m_ullStartSector == ullStart && p->m_bySectorsPerCluster == nSectorsPerCluster)
                return static_cast<CSearchedNTFSPartitionInfo*>(p);
        return nullptr;
    }
    // Highest confidence; the lowest start among equals.
    CSearchedNTFSPartitionInfo* Best() const
    {
        CSearchedPartitionInfo* pBest = nullptr;
        for (CSearchedPartitionInfo* p : list)
            if (pBest == nullptr || p->m_ullConfidence > pBest->m_ullConfidence)
                pBest = p;
        return static_cast<CSearchedNTFSPartitionInfo*>(pBest);
    }
};

// The boot sector of ntfs.img with another size and serial number.
std::vector<uint8_t> BootSector(uint64_t ullTotal, uint64_t ullSerial)
{
    fstest::CImageDevice image(rvdtest::FixturePath("ntfs.img"));
    std::vector<uint8_t> boot = image.Sector(0);
    for (int i = 0; i < 8; ++i) {
        boot[40 + i] = static_cast<uint8_t>(ullTotal >> (8 * i));
        boot[72 + i] = static_cast<uint8_t>(ullSerial >> (8 * i));
    }
    return boot;
}

TEST(NTFSSearchController, BootSectorsAndTheirBackupsMakeOneCandidate)
{
    // A boot sector at 2048 of a volume of 4096 sectors on a larger disk, and its backup at 6144.
    parttest::CMemoryDisk disk(1 << 16);
    disk.Write(2048, BootSector(4096, 0x1111));
    disk.Write(6144, BootSector(4096, 0x1111));
    CNTFSSearchController controller;
    CRawFileInfoContainer raw;
    SEARCH_STATISTICS statistics{};
    Scan(controller, disk, raw, &statistics);
    EXPECT_EQ(statistics.NTFSBootRecords, 2u);
    CANDIDATES found;
    controller.CollectSearchedPartitions(&found.list);
    ASSERT_EQ(found.list.size(), 1u);
    CSearchedNTFSPartitionInfo* p = found.At(2048, 8);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->GetFlags(), NTFS_EVIDENCE_BOOT_SECTOR | NTFS_EVIDENCE_BACKUP_BOOT_SECTOR);
    EXPECT_EQ(p->GetSerialNumber(), 0x1111u);
    EXPECT_EQ(p->m_ullSectorCount, 4096u);
    EXPECT_EQ(p->m_nFileSystemKind, 3);
    EXPECT_EQ(p->m_ullConfidence, 20u);

    // Alone, a boot sector whose volume would begin before the disk is only a primary one; one
    // whose backup reading fits is both until a primary confirms it.
    parttest::CMemoryDisk lone(1 << 16);
    lone.Write(2048, BootSector(4096, 0x2222));
    lone.Write(20000, BootSector(4096, 0x3333));
    CNTFSSearchController second;
    Scan(second, lone, raw, nullptr);
    CANDIDATES more;
    second.CollectSearchedPartitions(&more.list);
    ASSERT_EQ(more.list.size(), 3u);
    EXPECT_EQ(more.At(2048, 8)->GetFlags(), NTFS_EVIDENCE_BOOT_SECTOR);
    EXPECT_EQ(more.At(20000 - 4096, 8)->GetFlags(), NTFS_EVIDENCE_BACKUP_BOOT_SECTOR);
    EXPECT_EQ(more.At(20000, 8)->GetFlags(), NTFS_EVIDENCE_BOOT_SECTOR);
}

// A device whose failed reads leave the caller's buffer as it was.
class CStaleOnFailureDisk : public parttest::CMemoryDisk {
public:
    using parttest::CMemoryDisk::CMemoryDisk;
    int ReadSectors(void* pBuffer, uint64_t u64Start, uint64_t u64Count) override
    {
        if (u64Start <= m_ullBad && m_ullBad < u64Start + u64Count)
            return 0;
        return parttest::CMemoryDisk::ReadSectors(pBuffer, u64Start, u64Count);
    }
    uint64_t m_ullBad = ~0ull;
};

TEST(NTFSSearchController, FailedReadsGiveNoEvidenceFromEarlierBlocks)
{
    // The first block holds a boot sector at its start; the second block's read fails. Its
    // buffer must not be examined as it was left.
    CStaleOnFailureDisk disk(2 * kBlock);
    disk.Write(0, BootSector(4000, 0x4444));
    disk.m_ullBad = kBlock + 5;
    CNTFSSearchController controller;
    CRawFileInfoContainer raw;
    SEARCH_STATISTICS statistics{};
    Scan(controller, disk, raw, &statistics);
    EXPECT_EQ(statistics.NTFSBootRecords, 1u);
    CANDIDATES found;
    controller.CollectSearchedPartitions(&found.list);
    ASSERT_EQ(found.list.size(), 1u);
    EXPECT_NE(found.At(0, 8), nullptr);
}

TEST(NTFSSearchController, BeyondAThousandCandidatesOnlyWellScoredOnesStay)
{
    // Boot sectors whose volumes would begin before the disk give primary candidates only, each
    // scored 10 for its boot sector.
    for (const uint64_t nCandidates : {1000u, 1003u}) {
        parttest::CMemoryDisk disk(1 << 16);
        const std::vector<uint8_t> boot = BootSector(1 << 15, 0x5555);
        for (uint64_t s = 0; s < nCandidates; ++s)
            disk.Write(s, boot);
        CNTFSSearchController controller;
        CRawFileInfoContainer raw;
        Scan(controller, disk, raw, nullptr);
        CANDIDATES found;
        controller.CollectSearchedPartitions(&found.list);
        ASSERT_EQ(found.list.size(), 1000u) << nCandidates;
        EXPECT_EQ(found.list.back()->m_ullStartSector, 999u);
        EXPECT_EQ(found.list.back()->m_ullConfidence, 10u);
    }
}

TEST(NTFSSearchController, CarvedFilesInClustersOfTheVolumesFilesAreLeftOut)
{
    const CGlobalAdvanceSettingData saved = *GetEngineSettings();
    CGlobalAdvanceSettingData* pSettings = GetEngineSettings();
    pSettings->m_bScanRaw = 0;
    pSettings->m_vecRawTypes = {33};
    fstest::CImageDevice device(rvdtest::FixturePath("ntfs.img"));
    const ntfstest::NTFS_GEOMETRY geometry = ntfstest::ReadGeometry(device, 0);
    CNTFSSearchController controller;
    CRawFileInfoContainer raw;
    Scan(controller, device, raw, nullptr);
    CANDIDATES found;
    controller.CollectSearchedPartitions(&found.list);
    ASSERT_NE(found.Best(), nullptr);
    auto build = [&] {
        return std::unique_ptr<CFileSystemNode, void (*)(CFileSystemNode*)>(
            controller.BuildFileTree(found.Best(), &device, 0, 0), [](CFileSystemNode* p) {
                if (p != nullptr)
                    DeleteFileTree(p);
            });
    };

    // Where a photo's data lies, from the tree without carved files.
    uint64_t ullPhotoSector = 0;
    {
        auto root = build();
        ASSERT_TRUE(root);
        const auto nodes = ntfstest::FlattenTree(root.get());
        ASSERT_EQ(nodes.count("/Photos/holiday-001.jpg"), 1u);
        IDataRunList* pRuns = nodes.at("/Photos/holiday-001.jpg")->GetProperties()->GetDataRunList();
        ASSERT_NE(pRuns, nullptr);
        ullPhotoSector = pRuns->GetRun(0).ullStart * geometry.nSectorsPerCluster;
        delete pRuns;
        for (const auto& node : nodes)
            EXPECT_EQ(node.first.find("Raw"), std::string::npos) << "carving is off";
    }
    // A JPEG carved there and one carved in a cluster that no file uses.
    const uint64_t ullFreeSector = (device.GetTotalSectors() - 64) / 8 * 8;
    for (uint64_t ullSector : {ullPhotoSector, ullFreeSector}) {
        CRawFileInfo* pFile = new CRawFileInfo();
        pFile->SetStartSector(ullSector);
        pFile->SetSize(4096);
        pFile->SetType(33);
        raw.AddFile(pFile);
    }
    pSettings->m_bScanRaw = 1;
    {
        auto root = build();
        ASSERT_TRUE(root);
        int nCarved = 0;
        for (const auto& node : ntfstest::FlattenTree(root.get()))
            if (node.first.rfind("/Raw Files/", 0) == 0 && node.second->GetFirstChild() == nullptr &&
                node.second->GetProperties()->GetSize() == 4096) {
                ++nCarved;
                IDataRunList* pRuns = node.second->GetProperties()->GetDataRunList();
                ASSERT_NE(pRuns, nullptr);
                EXPECT_EQ(pRuns->GetRun(0).ullStart, ullFreeSector) << node.first;
                delete pRuns;
            }
        EXPECT_EQ(nCarved, 1);
    }
    *GetEngineSettings() = saved;
}

TEST(NTFSSearchController, DamagedVolumesOfADiskGiveOneCandidateEach)
{
    // The backup boot sector of a volume whose own boot sector was zeroed must not start a
    // volume of its own (it would overlap the next partition by its first sector).
    fstest::CImageDevice device(rvdtest::FixturePath("ntfs-damaged.img"));
    CNTFSSearchController controller;
    CRawFileInfoContainer raw;
    Scan(controller, device, raw, nullptr);
    CANDIDATES found;
    controller.CollectSearchedPartitions(&found.list);
    std::set<uint64_t> starts;
    for (CSearchedPartitionInfo* p : found.list)
        if (p->m_ullConfidence > 10)
            starts.insert(p->m_ullStartSector);
    std::set<uint64_t> expected;
    for (const rvdtest::PartitionEntry& p : rvdtest::ReadPartitions("ntfs-damaged.img"))
        expected.insert(p.nStart);
    EXPECT_EQ(starts, expected);
    const CSearchedNTFSPartitionInfo* pNoBoot = found.At(34816, 8);
    ASSERT_NE(pNoBoot, nullptr);
    EXPECT_NE(pNoBoot->GetFlags() & NTFS_EVIDENCE_BACKUP_BOOT_SECTOR, 0u);
    EXPECT_NE(pNoBoot->GetSerialNumber(), 0u);
}

TEST(NTFSSearchController, AVolumePlacedByTheMirrorCopyEndsWhereItsBitmapSays)
{
    // Partition 2 of ntfs-damaged.img lost its boot sector; its backup and $MFT record 0 go as
    // well. The copy of record 0 in $MFTMirr places it, and its $Bitmap keeps it from running
    // over partition 3.
    fstest::CImageDevice device(rvdtest::FixturePath("ntfs-damaged.img"));
    const std::vector<rvdtest::PartitionEntry> partitions = rvdtest::ReadPartitions("ntfs-damaged.img");
    ASSERT_EQ(partitions.size(), 3u);
    const uint64_t ullStart = partitions[1].nStart;
    const uint64_t ullBackup = ullStart + partitions[1].nCount - 1;
    const ntfstest::NTFS_GEOMETRY geometry = ntfstest::ReadGeometry(device, ullBackup);
    const uint64_t ullRecord0 = ullStart + geometry.ullMFTCluster * geometry.nSectorsPerCluster;
    const std::vector<uint8_t> zeros(512, 0);
    device.Patch(ullBackup, zeros);
    device.Patch(ullRecord0, zeros);
    device.Patch(ullRecord0 + 1, zeros);
    CNTFSSearchController controller;
    CRawFileInfoContainer raw;
    Scan(controller, device, raw, nullptr);
    CANDIDATES found;
    controller.CollectSearchedPartitions(&found.list);
    const CSearchedNTFSPartitionInfo* pVolume = found.At(ullStart, geometry.nSectorsPerCluster);
    ASSERT_NE(pVolume, nullptr);
    EXPECT_NE(pVolume->GetFlags() & NTFS_EVIDENCE_MFT_MIRROR_PAIR, 0u);
    EXPECT_EQ(pVolume->m_ullMFTRecordSector, ullStart + geometry.ullMirrCluster * geometry.nSectorsPerCluster);
    EXPECT_GE(pVolume->m_ullSectorCount, partitions[1].nCount - 1);
    EXPECT_LE(pVolume->m_ullStartSector + pVolume->m_ullSectorCount, static_cast<uint64_t>(partitions[2].nStart));
}

// A volume whose $MFT lies in several runs, with its boot sector, its backup and $MFT record 0
// zeroed: the copy of record 0 in $MFTMirr places the volume and gives $MFT's run list, when
// record 1 at its own place agrees with the copy of it; otherwise the copy is not trusted.
struct MIRROR_CASE {
    const char* pszName;
    const char* pszImage;
    enum { RECORD1_KEPT, RECORD1_ZEROED, RECORD1_POINTS_ELSEWHERE } eRecord1;
};

void PrintTo(const MIRROR_CASE& c, std::ostream* pOut)
{
    *pOut << c.pszName;
}

class NTFSMirrorCopy : public ::testing::TestWithParam<MIRROR_CASE> {};

TEST_P(NTFSMirrorCopy, PlacesTheVolumeOnlyWhenRecord1Agrees)
{
    const MIRROR_CASE& c = GetParam();
    fstest::CImageDevice device(rvdtest::FixturePath(c.pszImage));
    const ntfstest::NTFS_GEOMETRY geometry = ntfstest::ReadGeometry(device, 0);
    ASSERT_EQ(geometry.nRecordBytes, 1024u);
    const uint64_t ullMFT = geometry.ullMFTCluster * geometry.nSectorsPerCluster;
    const uint64_t ullCopy = geometry.ullMirrCluster * geometry.nSectorsPerCluster;
    const std::vector<uint8_t> zeros(512, 0);
    device.Patch(0, zeros);
    device.Patch(device.GetTotalSectors() - 1, zeros);
    device.Patch(ullMFT, zeros);
    device.Patch(ullMFT + 1, zeros);
    if (c.eRecord1 == MIRROR_CASE::RECORD1_ZEROED) {
        device.Patch(ullMFT + 2, zeros);
        device.Patch(ullMFT + 3, zeros);
    } else if (c.eRecord1 == MIRROR_CASE::RECORD1_POINTS_ELSEWHERE) {
        // Record 1's $DATA (the $MFTMirr data) moved one cluster on: its first mapping pair's
        // lowest LCN byte, in the record's first sector (outside the update sequence's words).
        std::vector<uint8_t> sector = device.Sector(ullMFT + 2);
        size_t nAttr = sector[20] | (sector[21] << 8);
        while (nAttr + 16 < sector.size() && (sector[nAttr] != 0x80 || sector[nAttr + 8] != 1)) {
            const size_t nLength = sector[nAttr + 4] | (sector[nAttr + 5] << 8);
            ASSERT_NE(nLength, 0u);
            nAttr += nLength;
        }
        ASSERT_LT(nAttr + 34, sector.size());
        const size_t nPairs = nAttr + (sector[nAttr + 32] | (sector[nAttr + 33] << 8));
        ASSERT_LT(nPairs + 1 + (sector[nPairs] & 15), 508u);
        ++sector[nPairs + 1 + (sector[nPairs] & 15)];
        device.Patch(ullMFT + 2, sector);
    }

    CNTFSSearchController controller;
    CRawFileInfoContainer raw;
    Scan(controller, device, raw, nullptr);
    CANDIDATES found;
    controller.CollectSearchedPartitions(&found.list);
    const uint32_t bySectorsPerCluster = geometry.nSectorsPerCluster;
    const CSearchedNTFSPartitionInfo* pVolume = found.At(0, bySectorsPerCluster);
    if (c.eRecord1 == MIRROR_CASE::RECORD1_KEPT) {
        ASSERT_NE(pVolume, nullptr);
        EXPECT_NE(pVolume->GetFlags() & NTFS_EVIDENCE_MFT_MIRROR_PAIR, 0u);
        EXPECT_EQ(pVolume->m_ullMFTRecordSector, ullCopy);
        EXPECT_EQ(pVolume->m_bUseMFTSets, 1);
        EXPECT_EQ(found.Best(), pVolume);
        // The reading that took the copy for $MFT itself, with nothing else behind it, is gone.
        EXPECT_EQ(found.At(ullCopy - ullMFT, bySectorsPerCluster), nullptr);
    } else if (pVolume != nullptr) {
        EXPECT_EQ(pVolume->GetFlags() & NTFS_EVIDENCE_MFT_MIRROR_PAIR, 0u);
        EXPECT_EQ(pVolume->m_ullMFTRecordSector, NTFS_UNKNOWN_SECTOR);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, NTFSMirrorCopy,
    ::testing::Values(MIRROR_CASE{"C1k", "ntfs-shapes-c1k.img", MIRROR_CASE::RECORD1_KEPT},
                      MIRROR_CASE{"C2k", "ntfs-shapes-c2k.img", MIRROR_CASE::RECORD1_KEPT},
                      MIRROR_CASE{"C32k", "ntfs-shapes-c32k.img", MIRROR_CASE::RECORD1_KEPT},
                      MIRROR_CASE{"C128k", "ntfs-c128k.img", MIRROR_CASE::RECORD1_KEPT},
                      MIRROR_CASE{"C1kRecord1Zeroed", "ntfs-shapes-c1k.img", MIRROR_CASE::RECORD1_ZEROED},
                      MIRROR_CASE{"C1kRecord1Elsewhere", "ntfs-shapes-c1k.img", MIRROR_CASE::RECORD1_POINTS_ELSEWHERE}),
    [](const ::testing::TestParamInfo<MIRROR_CASE>& info) { return info.param.pszName; });

// A whole fixture volume, found and rebuilt: every file of the manifest (live or deleted) whose
// record survived is in the tree where expected, with its bytes.
struct VOLUME_CASE {
    const char* pszName;
    const char* pszImage;
    enum { INTACT, BOOT_ZEROED, MFT_RECORD_DAMAGED } eDamage;
    uint64_t nBlock;
};

// Shown by its name, so that the test's name stays the same from build to build.
void PrintTo(const VOLUME_CASE& c, std::ostream* pOut)
{
    *pOut << c.pszName;
}

class NTFSFoundVolume : public ::testing::TestWithParam<VOLUME_CASE> {};

TEST_P(NTFSFoundVolume, IsFoundAndRebuiltWithEveryFile)
{
    const VOLUME_CASE& c = GetParam();
    fstest::CImageDevice device(rvdtest::FixturePath(c.pszImage));
    const ntfstest::NTFS_GEOMETRY geometry = ntfstest::ReadGeometry(device, 0);
    const uint64_t ullMFT = geometry.ullMFTCluster * geometry.nSectorsPerCluster;
    if (c.eDamage == VOLUME_CASE::BOOT_ZEROED)
        device.Patch(0, std::vector<uint8_t>(512, 0));
    if (c.eDamage == VOLUME_CASE::MFT_RECORD_DAMAGED) {
        device.Patch(ullMFT, std::vector<uint8_t>(512, 0xE5));
        device.Patch(ullMFT + 1, std::vector<uint8_t>(512, 0xE5));
    }
    CNTFSSearchController controller;
    CRawFileInfoContainer raw;
    SEARCH_STATISTICS statistics{};
    Scan(controller, device, raw, &statistics, c.nBlock);
    EXPECT_GT(statistics.NTFSFileRecords, 100u);

    // The state that an interrupted scan keeps, saved and read back.
    CMemoryDataStream state;
    ASSERT_TRUE(controller.SaveState(&state));
    CNTFSSearchController reloaded;
    ASSERT_TRUE(reloaded.LoadState(&state));
    EXPECT_EQ(reloaded.GetMFTRecords().size(), controller.GetMFTRecords().size());
    EXPECT_EQ(reloaded.GetExtents().size(), controller.GetExtents().size());

    CANDIDATES found;
    controller.CollectSearchedPartitions(&found.list);
    CSearchedNTFSPartitionInfo* pVolume = found.Best();
    ASSERT_NE(pVolume, nullptr);
    EXPECT_EQ(pVolume->m_ullStartSector, 0u);
    EXPECT_EQ(pVolume->m_bySectorsPerCluster, geometry.nSectorsPerCluster);
    EXPECT_EQ(pVolume->m_bUseMFTSets, 1);
    EXPECT_EQ(pVolume->m_ullAttrDefSectorsSeen, 5u);
    EXPECT_EQ(pVolume->m_ullUpCaseSectorsSeen, 256u);
    // The INDX blocks of folders whose index spilled out of their records line up with it, also
    // where a cluster holds several blocks and their VCNs count 512-byte units.
    EXPECT_NE(pVolume->GetFlags() & NTFS_EVIDENCE_INDEX_BLOCK, 0u);
    EXPECT_GT(pVolume->m_ullRecordMatches, 0u);
    if (c.eDamage != VOLUME_CASE::BOOT_ZEROED) {
        EXPECT_NE(pVolume->GetFlags() & NTFS_EVIDENCE_BOOT_SECTOR, 0u);
    } else {
        EXPECT_NE(pVolume->GetFlags() & NTFS_EVIDENCE_BACKUP_BOOT_SECTOR, 0u);
    }

    std::unique_ptr<CFileSystemNode, void (*)(CFileSystemNode*)> root(
        controller.BuildFileTree(pVolume, &device, 0, 0), [](CFileSystemNode* p) {
            if (p != nullptr)
                DeleteFileTree(p);
        });
    ASSERT_TRUE(root);
    EXPECT_EQ(root->GetFileSystemKind(), 3);
    const std::map<std::string, CFileNode*> nodes = ntfstest::FlattenTree(root.get());
    int nChecked = 0;
    for (const rvdtest::ManifestEntry& entry : rvdtest::ReadManifest(c.pszImage)) {
        if (entry.bDeleted && !entry.bRecoverable && !entry.bDirectory)
            continue;
        SCOPED_TRACE(entry.strPath);
        auto it = nodes.find(ntfstest::JoinPath(entry.vecNames));
        ASSERT_TRUE(it != nodes.end()) << "not found";
        if (entry.bDirectory)
            continue;
        const std::vector<uint8_t> data = ntfstest::ReadThroughRuns(device, 0, geometry.nSectorsPerCluster,
                                                                   geometry.nRecordBytes, it->second->GetProperties());
        EXPECT_EQ(fstest::Sha256Hex(data), entry.strSha256);
        ++nChecked;
    }
    EXPECT_GT(nChecked, 50);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, NTFSFoundVolume,
    ::testing::Values(VOLUME_CASE{"Ntfs4k", "ntfs.img", VOLUME_CASE::INTACT, kBlock},
                      VOLUME_CASE{"Ntfs512", "ntfs-c512.img", VOLUME_CASE::INTACT, kBlock},
                      VOLUME_CASE{"Ntfs64k", "ntfs-c64k.img", VOLUME_CASE::INTACT, kBlock},
                      VOLUME_CASE{"Ntfs128k", "ntfs-c128k.img", VOLUME_CASE::INTACT, kBlock},
                      // Odd reads cut records, INDX blocks and log pages at their ends.
                      VOLUME_CASE{"Ntfs4kOddReads", "ntfs.img", VOLUME_CASE::INTACT, 1001},
                      VOLUME_CASE{"BootZeroed", "ntfs.img", VOLUME_CASE::BOOT_ZEROED, kBlock},
                      VOLUME_CASE{"BootZeroed128k", "ntfs-c128k.img", VOLUME_CASE::BOOT_ZEROED, kBlock},
                      VOLUME_CASE{"MFTRecordDamaged", "ntfs.img", VOLUME_CASE::MFT_RECORD_DAMAGED, kBlock},
                      VOLUME_CASE{"MFTRecordDamaged128k", "ntfs-c128k.img", VOLUME_CASE::MFT_RECORD_DAMAGED, kBlock}),
    [](const ::testing::TestParamInfo<VOLUME_CASE>& info) { return info.param.pszName; });

} // namespace
