// The evidence collectors of the NTFS complete scan: the embedded $AttrDef and $UpCase images
// against what mkntfs writes, the sector ranges, restart and log record pages, the $MFT record
// groups of a real volume, and the NTFS candidate record.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "FSStructTestSupport.h"
#include "ntfs/FileRecordHolder.h"
#include "MemoryDataStream.h"
#include "ntfs/NTFSCandidateSet.h"
#include "NTFSReaderTestSupport.h"
#include "ntfs/NTFSSearchAnalyzers.h"
#include "ntfs/NTFSSearchedPartitionInfo.h"
#include "ntfs/NTFSRecordMapping.h"
#include "ntfs/NTFSSystemFileImages.h"

namespace {

std::string SystemFileOf(const std::string& strImage, const std::string& strFile)
{
    return fstest::Capture("ntfscat " + rvdtest::FixturePath(strImage) + " '" + strFile + "'");
}

uint16_t UnitOf(const uint8_t* pImage, size_t c)
{
    return static_cast<uint16_t>(pImage[2 * c] | (pImage[2 * c + 1] << 8));
}

// A page of 8 sectors with the given signature, update sequence array at nUsaOffset with
// nUsaCount words, and the sequence number in the last word of every sector.
std::vector<uint8_t> MakePage(const char* pszSignature, uint16_t nUsaOffset, uint16_t nUsaCount)
{
    std::vector<uint8_t> page(4096, 0);
    memcpy(page.data(), pszSignature, 4);
    fstest::PutU16(page, 4, nUsaOffset);
    fstest::PutU16(page, 6, nUsaCount);
    fstest::PutU16(page, nUsaOffset, 0x0BAD);
    for (size_t i = 1; i <= 8; ++i)
        fstest::PutU16(page, i * 512 - 2, 0x0BAD);
    return page;
}

} // namespace

TEST(NTFSSystemFileImages, AttrDefImageIsTheTableMkntfsWrites)
{
    const std::string strAttrDef = SystemFileOf("ntfs.img", "$AttrDef");
    ASSERT_EQ(strAttrDef.size(), NTFS_ATTRDEF_IMAGE_BYTES);
    EXPECT_EQ(memcmp(strAttrDef.data(), GetNTFSAttrDefImage(), NTFS_ATTRDEF_IMAGE_BYTES), 0);
}

// The table is generated from the Unicode case pairs; it matches the one mkntfs writes (the
// table of current Windows versions, 973 units that differ from themselves). The older table
// of the first NTFS versions had 636 such units; the common examples hold in both.
TEST(NTFSSystemFileImages, UpCaseTableFromCasePairsIsTheTableMkntfsWrites)
{
    const std::string strUpCase = SystemFileOf("ntfs.img", "$UpCase");
    ASSERT_EQ(strUpCase.size(), NTFS_UPCASE_IMAGE_BYTES);
    const uint8_t* pImage = GetNTFSUpCaseImage();
    size_t nDiffering = 0;
    size_t nMismatches = 0;
    for (size_t c = 0; c < NTFS_UPCASE_UNITS; ++c) {
        if (UnitOf(pImage, c) != c)
            ++nDiffering;
        if (UnitOf(pImage, c) != UnitOf(reinterpret_cast<const uint8_t*>(strUpCase.data()), c))
            ++nMismatches;
    }
    EXPECT_EQ(nMismatches, 0u);
    EXPECT_EQ(nDiffering, 973u);
    size_t nRows = 0;
    GetNTFSUpCaseRanges(&nRows);
    EXPECT_LT(nRows, 200u);
    const struct {
        uint16_t c, upper;
    } examples[] = {{0x0061, 0x0041}, {0x00E9, 0x00C9}, {0x03B1, 0x0391}, {0x0430, 0x0410},
                    {0x0041, 0x0041}, {0x00FF, 0x0178}, {0x0131, 0x0131}, {0x00B5, 0x00B5}};
    for (const auto& e : examples)
        EXPECT_EQ(NTFSUpCaseUnit(e.c), e.upper) << std::hex << e.c;
}

TEST(NTFSSearchAnalyzer, SectorRangesGrowAtTheEndAndCountCoverage)
{
    CSectorRangeList list;
    for (uint64_t s : {10, 11, 12, 20, 20, 21, 40})
        list.AddSector(s);
    ASSERT_EQ(list.GetEntries().size(), 3u);
    EXPECT_EQ(list.GetEntries()[0].ullCount, 3u);
    EXPECT_EQ(list.GetEntries()[1].ullCount, 2u);
    EXPECT_EQ(list.CountCoveredSectors(0, 100), 6u);
    EXPECT_EQ(list.CountCoveredSectors(11, 10), 3u);  // 11, 12, 20
    EXPECT_EQ(list.CountCoveredSectors(21, 19), 1u);
    EXPECT_EQ(list.CountCoveredSectors(41, ~0ull), 0u);
    EXPECT_EQ(list.CountCoveredSectors(5, ~0ull), 6u);
}

TEST(NTFSSearchAnalyzer, AttrDefAndUpCaseSectorsAreRecognised)
{
    CNTFSAttrDefAnalyzer attrDef;
    const uint8_t* pAttrDef = GetNTFSAttrDefImage();
    EXPECT_TRUE(attrDef.CheckSector(5000, pAttrDef + 2 * 512));
    EXPECT_TRUE(attrDef.CheckSector(5001, pAttrDef + 3 * 512));
    std::vector<uint8_t> other(pAttrDef + 512, pAttrDef + 1024);
    other[100] ^= 1;
    EXPECT_FALSE(attrDef.CheckSector(5002, other.data()));
    ASSERT_EQ(attrDef.GetSeenSectors().GetEntries().size(), 1u);
    EXPECT_EQ(attrDef.GetSeenSectors().GetEntries()[0].ullFirst, 5000u);
    EXPECT_EQ(attrDef.GetSeenSectors().GetEntries()[0].ullCount, 2u);

    CNTFSUpCaseAnalyzer upCase;
    const uint8_t* pSlice1 = GetNTFSUpCaseImage() + 512;
    EXPECT_EQ(pSlice1[0], 0x00);
    EXPECT_EQ(pSlice1[1], 0x01);
    EXPECT_TRUE(upCase.CheckSector(7, pSlice1));
    std::vector<uint8_t> changed(pSlice1, pSlice1 + 512);
    changed[1] = 0x02;
    EXPECT_FALSE(upCase.CheckSector(8, changed.data()));
    for (int k = 0; k < 256; ++k)
        EXPECT_TRUE(upCase.CheckSector(100 + k, GetNTFSUpCaseImage() + 512 * k)) << k;
    EXPECT_EQ(upCase.GetSeenSectors().CountCoveredSectors(100, 256), 256u);
}

TEST(NTFSSearchAnalyzer, RestartPagesNeedTheirSignatureTextAndSequence)
{
    std::vector<uint8_t> page = MakePage("RSTR", 30, 9);
    memcpy(page.data() + 144, u"NTFS", 8);
    fstest::PutU16(page, 30, 0x0BAD);
    EXPECT_TRUE(IsRSTRPage(page.data(), page.size()));
    EXPECT_FALSE(IsRSTRPage(page.data(), 4095));
    std::vector<uint8_t> bad = page;
    fstest::PutU16(bad, 7 * 512 - 2, 1);
    EXPECT_FALSE(IsRSTRPage(bad.data(), bad.size()));
    bad = page;
    bad[146] = 'X';
    EXPECT_FALSE(IsRSTRPage(bad.data(), bad.size()));
}

TEST(NTFSSearchAnalyzer, LogRecordPagesAreCountedAcrossReads)
{
    CNTFSCandidateSet candidates;
    CNTFSLogFileAnalyzer log(&candidates, 1 << 20);
    std::vector<uint8_t> data(64 * 512, 0);
    const std::vector<uint8_t> good = MakePage("RCRD", 40, 9);
    const std::vector<uint8_t> bad = MakePage("RCRD", 40, 3);
    memcpy(data.data() + 4 * 512, good.data(), 4096);   // sectors 4-11
    memcpy(data.data() + 20 * 512, bad.data(), 4096);   // sectors 20-27, not counted
    memcpy(data.data() + 60 * 512, good.data(), 4 * 512);  // cut by the end of the read
    log.ScanLogPages(data.data(), 1000, 64);
    std::vector<uint8_t> next(16 * 512, 0);
    memcpy(next.data(), good.data() + 4 * 512, 4 * 512);
    log.ScanLogPages(next.data(), 1064, 16);
    const CSectorRangeList& seen = log.GetSeenSectors();
    EXPECT_EQ(seen.CountCoveredSectors(1004, 8), 8u);
    EXPECT_EQ(seen.CountCoveredSectors(1020, 8), 0u);
    EXPECT_EQ(seen.CountCoveredSectors(1060, 8), 8u);
    EXPECT_EQ(seen.CountCoveredSectors(0, 1 << 20), 16u);
}

class NTFSSearchAnalyzerImage : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_pDevice.reset(new fstest::CImageDevice(rvdtest::FixturePath("ntfs.img")));
        m_Geometry = ntfstest::ReadGeometry(*m_pDevice, 0);
        ASSERT_EQ(m_Geometry.nRecordBytes, 1024u);
        m_ullMFT = m_Geometry.ullMFTCluster * m_Geometry.nSectorsPerCluster;
    }
    std::vector<uint8_t> Record(uint64_t ullSector) { return m_pDevice->Sectors(ullSector, 2); }

    std::unique_ptr<fstest::CImageDevice> m_pDevice;
    ntfstest::NTFS_GEOMETRY m_Geometry;
    uint64_t m_ullMFT = 0;
};

TEST_F(NTFSSearchAnalyzerImage, RestartPagesAndTheLogFileRecordPlaceTheVolume)
{
    std::vector<uint8_t> record = Record(m_ullMFT + 4);
    CFileRecordHolder holder(record.data(), record.size(), true);
    ASSERT_TRUE(IsLogFileFileRecord(holder));
    CMFTMirrRecordInfo* pInfo = CreateSystemFileRecordInfo(holder, m_ullMFT + 4, true);
    ASSERT_NE(pInfo, nullptr);
    const int64_t llCluster = pInfo->GetFirstCluster();
    ASSERT_EQ(pInfo->m_bySectorsPerCluster, 8);
    delete pInfo;
    const uint64_t ullStart = 968;
    const uint64_t ullPage = ullStart + static_cast<uint64_t>(llCluster) * 8;
    const std::vector<uint8_t> page(4096, 0);

    // The $LogFile record first, then its two restart pages.
    {
        CNTFSCandidateSet candidates;
        CNTFSLogFileAnalyzer log(&candidates, 1 << 22);
        log.AddLogFileRecord(m_ullMFT + 4, holder);
        log.AnalyzeRSTRRecord(ullPage, page.data());
        log.AnalyzeRSTRRecord(ullPage + 8, page.data());
        CSearchedNTFSPartitionInfo probe;
        probe.m_bySectorsPerCluster = 8;
        probe.m_ullEvidenceSector = ullStart;
        CSearchedNTFSPartitionInfo* pFound = candidates.Find(&probe);
        ASSERT_NE(pFound, nullptr);
        EXPECT_EQ(pFound->m_dwFlags, 0xC0u);
        probe.m_ullEvidenceSector = ullStart + 8;
        EXPECT_EQ(candidates.Find(&probe), nullptr);
    }
    // The pages first: the record pairs them when it comes.
    {
        CNTFSCandidateSet candidates;
        CNTFSLogFileAnalyzer log(&candidates, 1 << 22);
        log.AnalyzeRSTRRecord(ullPage, page.data());
        log.AnalyzeRSTRRecord(ullPage + 8, page.data());
        EXPECT_EQ(candidates.size(), 0u);
        log.AddLogFileRecord(m_ullMFT + 4, holder);
        ASSERT_EQ(candidates.size(), 1u);
        EXPECT_EQ((*candidates.begin())->m_ullEvidenceSector, ullStart);
        EXPECT_EQ((*candidates.begin())->m_dwFlags, 0xC0u);
    }
}

TEST_F(NTFSSearchAnalyzerImage, MFTGroupGivesTheVolumeAndItsBitmapSize)
{
    CMFTRecordInfoList mftRecords;
    CSystemFileRecordList mirrRecords;
    CMFTRecordPairList pairs;
    CNTFSCandidateSet candidates;
    const uint64_t ullTotal = m_pDevice->GetTotalSectors();
    {
        CNTFSMFTRecordAnalyzer analyzer(&mftRecords, &mirrRecords, &candidates, &pairs, ullTotal);
        const std::vector<uint8_t> image = m_pDevice->Sectors(0, ullTotal);
        std::vector<uint8_t> record(1024);
        for (uint64_t s = 0; s + 1 < ullTotal; ++s) {
            memcpy(record.data(), image.data() + s * 512, 1024);
            CFileRecordHolder holder(record.data(), record.size(), false);
            analyzer.CheckRecord(s, holder);
        }
        analyzer.FinishGroup();
    }
    // The $MFT area and the $MFTMirr area each give a ($MFT, $MFTMirr) pair.
    EXPECT_EQ(mftRecords.size(), 2u);
    EXPECT_EQ(pairs.size(), 2u);
    CSearchedNTFSPartitionInfo probe;
    probe.m_bySectorsPerCluster = 8;
    probe.m_ullEvidenceSector = 0;
    CSearchedNTFSPartitionInfo* pVolume = candidates.Find(&probe);
    ASSERT_NE(pVolume, nullptr);
    EXPECT_EQ(pVolume->m_ullMFTRecordSector, m_ullMFT);
    EXPECT_NE(pVolume->m_dwFlags & (NTFS_EVIDENCE_MFT_CONFIRMED | NTFS_EVIDENCE_MFT_RECORD), 0u);
    EXPECT_GE(pVolume->m_ullMFTReachSectors, ullTotal - 1);
    EXPECT_EQ(pVolume->m_ullMFTReachSectors % 64, 0u);
    EXPECT_EQ(pVolume->m_ullSectorCount, pVolume->m_ullClusterCount * 8);
    for (CMFTRecordInfo* p : mftRecords)
        delete p;
    for (CMFTMirrRecordInfo* p : mirrRecords)
        delete p;
}

TEST_F(NTFSSearchAnalyzerImage, OrdinaryRecordInsideTheGroupEndsItBeforeBitmap)
{
    CMFTRecordInfoList mftRecords;
    CSystemFileRecordList mirrRecords;
    CMFTRecordPairList pairs;
    CNTFSCandidateSet candidates;
    CNTFSMFTRecordAnalyzer analyzer(&mftRecords, &mirrRecords, &candidates, &pairs, 1 << 22);
    // Records 0 to 6 at G, G + 2, ... with an ordinary file record (record 40's) put at G + 4.
    const uint64_t G = m_ullMFT;
    for (uint64_t n = 0; n <= 6; ++n) {
        std::vector<uint8_t> record = Record(n == 2 ? G + 80 : G + 2 * n);
        CFileRecordHolder holder(record.data(), record.size(), false);
        analyzer.CheckRecord(G + 2 * n, holder);
        if (n == 1) {
            EXPECT_EQ(analyzer.GetGroupSector(), G);
        }
        if (n == 2) {
            EXPECT_EQ(analyzer.GetGroupSector(), NTFS_UNKNOWN_SECTOR);
        }
    }
    EXPECT_EQ(analyzer.GetBitmapClusters(), -1);  // $Bitmap came outside every group: cleared
    ASSERT_EQ(pairs.size(), 1u);
    for (CMFTRecordInfo* p : mftRecords)
        delete p;
    for (CMFTMirrRecordInfo* p : mirrRecords)
        delete p;
}

TEST(NTFSCandidate, FreshCandidateSavesItsDefaultsAndLoadsBack)
{
    CSearchedNTFSPartitionInfo fresh;
    EXPECT_EQ(fresh.GetType(), 0);
    CMemoryDataStream stream;
    ASSERT_TRUE(fresh.Save(&stream));
    const std::vector<uint8_t>& bytes = stream.GetData();
    ASSERT_EQ(bytes.size(), 165u);
    std::vector<uint8_t> tail(bytes.begin() + 69, bytes.end());
    std::vector<uint8_t> expected(8, 0);
    expected.insert(expected.end(), {2, 0, 0, 0});
    expected.insert(expected.end(), 12, 0);
    expected.insert(expected.end(), 72, 0xFF);
    EXPECT_EQ(tail, expected);

    CSearchedNTFSPartitionInfo a;
    a.m_nFileSystemKind = 3;
    a.m_bySectorsPerCluster = 8;
    a.m_ullEvidenceSector = a.m_ullStartSector = 2048;
    a.SetSerialNumber(0x1122334455667788ull);
    a.SetFlags(0x11);
    a.AddFlags(0x04);
    a.m_bUseMFTSets = 1;
    a.m_ullClusterCount = 4096;
    a.m_ullUpCaseSectorsSeen = 256;
    a.m_ullMFTRecordSector = 2048 + 32;
    a.m_ullMFTReachSectors = 32768;
    CMemoryDataStream saved;
    ASSERT_TRUE(a.Save(&saved));
    CSearchedNTFSPartitionInfo b;
    ASSERT_TRUE(b.Load(&saved));
    EXPECT_EQ(b.GetSerialNumber(), a.GetSerialNumber());
    EXPECT_EQ(b.GetFlags(), 0x15u);
    EXPECT_EQ(b.m_bUseMFTSets, 1);
    EXPECT_EQ(b.m_ullClusterCount, 4096u);
    EXPECT_EQ(b.m_ullUpCaseSectorsSeen, 256u);
    EXPECT_EQ(b.m_ullLogFileSectorsSeen, ~0ull);
    EXPECT_EQ(b.m_ullMFTRecordSector, 2080u);
    EXPECT_EQ(b.m_ullMFTReachSectors, 32768u);
    EXPECT_EQ(b.m_ullStartSector, 2048u);

    // A short record changes nothing.
    CMemoryDataStream shortStream;
    ASSERT_TRUE(a.Save(&shortStream));
    std::vector<uint8_t> cut(shortStream.GetData().begin(), shortStream.GetData().end() - 1);
    CMemoryDataStream cutStream;
    cutStream.Write(cut.data(), static_cast<int>(cut.size()));
    CSearchedNTFSPartitionInfo c;
    EXPECT_FALSE(c.Load(&cutStream));
    EXPECT_EQ(c.GetFlags(), 0u);
    EXPECT_EQ(c.m_ullClusterCount, ~0ull);
}

TEST(NTFSCandidate, BuildingFromStructuresRefusesImpossibleStarts)
{
    // start = sector - cluster x sectors per cluster, signed.
    std::unique_ptr<CSearchedNTFSPartitionInfo> p(BuildPartitionInfoAccordingtoFileRecord(1000, 4, 8, 0x40, 4000));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->m_ullEvidenceSector, 968u);
    EXPECT_EQ(p->m_ullClusterCount, (4000u - 968u) / 8);
    EXPECT_EQ(p->m_ullSectorCount, p->m_ullClusterCount * 8);
    EXPECT_EQ(p->m_nFileSystemKind, 3);
    EXPECT_FALSE(BuildPartitionInfoAccordingtoFileRecord(10, 2, 8, 0x40, 4000));   // negative start
    EXPECT_FALSE(BuildPartitionInfoAccordingtoFileRecord(100, 1, 4, 0x40, 4000));  // offset below 8
    EXPECT_FALSE(BuildPartitionInfoAccordingtoFileRecord(100, -1, 8, 0x40, 4000));
    EXPECT_FALSE(BuildPartitionInfoAccordingtoFileRecord(~0ull, INT64_MAX, 128, 0x40, ~0ull));
    CNTFSCandidateList all;
    BuildPartitionInfoForAllClusterSizes(1000, 8, 0x08, 4000, all);
    ASSERT_EQ(all.size(), 7u);  // 1 sector per cluster gives an offset of 8; 128 one of 1024 > 1000
    EXPECT_EQ(all.front()->m_ullEvidenceSector, 992u);
    EXPECT_EQ(all.back()->m_bySectorsPerCluster, 64);
    for (CSearchedNTFSPartitionInfo* c : all)
        delete c;
}

TEST(NTFSCandidate, FlagUpdatesMergeAndDropCandidatesLeftWithoutEvidence)
{
    CNTFSCandidateSet set;
    set.AdoptCandidate(BuildPartitionInfoAccordingtoFileRecord(1000, 4, 8, 0x40, 4000), 0x40);
    set.AdoptCandidate(BuildPartitionInfoAccordingtoFileRecord(1008, 5, 8, 0x80, 4000), 0x80);
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ((*set.begin())->m_dwFlags, 0xC0u);
    std::unique_ptr<CSearchedNTFSPartitionInfo> probe(BuildPartitionInfoAccordingtoFileRecord(1000, 4, 8, 0, 4000));
    EXPECT_TRUE(set.UpdateCandidateFlags(probe.get(), 0, 0xC0));
    EXPECT_EQ(set.size(), 0u);
    EXPECT_FALSE(set.UpdateCandidateFlags(probe.get(), 0x01, 0));
    EXPECT_EQ(set.size(), 0u);
}
