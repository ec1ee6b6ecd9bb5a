// The quick build over damaged or unusual copies of ntfs.img (the records are changed in the
// test device's view of the image; the image file stays as it is): a lost $MFT record, reads
// that fail, a sparse stretch of $MFT, folders whose parents loop, and attributes moved into
// extension records named by an $ATTRIBUTE_LIST.
#include <gtest/gtest.h>

#include <set>

#include "Delvar.h"
#include "NTFSReaderTestSupport.h"
#include "ProgressRecord.h"
#include "ntfs/NTFSFileProperties.h"
#include "ntfs/NTFSTreeBuilder.h"

using namespace ntfstest;

namespace {

struct CTreeDeleter {
    void operator()(CFileSystemNode* pRoot) const { DeleteFileTree(pRoot); }
};
typedef std::unique_ptr<CFileSystemNode, CTreeDeleter> CTree;

CTree Build(IStorageDevice& device, SEARCH_PROGRESS* pProgress = nullptr)
{
    CNTFSTreeBuilder builder;
    builder.SetProgress(pProgress, nullptr);
    return CTree(builder.BuildTree(0, &device, 0));
}

std::set<std::string> Paths(CFileSystemNode* pRoot)
{
    std::set<std::string> paths;
    for (const auto& node : FlattenTree(pRoot))
        paths.insert(node.first);
    return paths;
}

class NTFSReaderDamaged : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_Geometry = ReadGeometry(m_Device, 0);
        CTree original = Build(m_Device);
        ASSERT_NE(nullptr, original);
        m_Original = Paths(original.get());
    }

    uint64_t Id(const char* pszPath) const
    {
        const rvdtest::ManifestEntry* pEntry = rvdtest::FindManifestEntry(m_Manifest, pszPath);
        EXPECT_NE(nullptr, pEntry) << pszPath;
        return pEntry != nullptr ? static_cast<uint64_t>(pEntry->nId) : 0;
    }
    uint64_t Sector(uint64_t ullRecord) const { return RecordSector(m_Geometry, 0, ullRecord); }
    CRecordEditor Edit(uint64_t ullRecord) { return CRecordEditor(m_Device, Sector(ullRecord), m_Geometry.nRecordBytes); }

    // The bytes of a file of the tree, through its runs.
    std::string Sha256Of(CFileSystemNode* pRoot, const std::string& strPath)
    {
        const std::map<std::string, CFileNode*> nodes = FlattenTree(pRoot);
        auto it = nodes.find(strPath);
        if (it == nodes.end())
            return "missing " + strPath;
        return rvdtest::Sha256Hex(ReadThroughRuns(m_Device, 0, m_Geometry.nSectorsPerCluster, m_Geometry.nRecordBytes,
                                                  it->second->GetProperties()));
    }
    std::string ManifestSha(const char* pszPath) const
    {
        return rvdtest::FindManifestEntry(m_Manifest, pszPath)->strSha256;
    }

    fstest::CImageDevice m_Device{rvdtest::FixturePath("ntfs.img")};
    std::vector<rvdtest::ManifestEntry> m_Manifest = rvdtest::ReadManifest("ntfs.img");
    NTFS_GEOMETRY m_Geometry;
    std::set<std::string> m_Original;
};

// A device whose failed reads leave the caller's buffer as it was, as a driver may.
class CStaleReadDevice : public IStorageDevice {
public:
    CStaleReadDevice(fstest::CImageDevice& inner, uint64_t ullBadFirst, uint64_t ullBadEnd)
        : m_Inner(inner), m_ullBadFirst(ullBadFirst), m_ullBadEnd(ullBadEnd)
    {
    }
    int ReadSectors(void* pBuffer, uint64_t ullStart, uint64_t ullCount) override
    {
        if (ullStart < m_ullBadEnd && ullStart + ullCount > m_ullBadFirst)
            return 0;
        return m_Inner.ReadSectors(pBuffer, ullStart, ullCount);
    }
    uint64_t GetTotalSectors() override { return m_Inner.GetTotalSectors(); }
    int GetSectorSize() override { return 512; }
    int Open() override { return 1; }
    int Close() override { return 1; }

private:
    fstest::CImageDevice& m_Inner;
    uint64_t m_ullBadFirst;
    uint64_t m_ullBadEnd;
};

} // namespace

TEST_F(NTFSReaderDamaged, LostMFTRecordIsReadThroughMFTMirr)
{
    m_Device.Patch(Sector(0), std::vector<uint8_t>(512, 0));
    CTree tree = Build(m_Device);
    ASSERT_NE(nullptr, tree);
    EXPECT_EQ(m_Original, Paths(tree.get()));
    EXPECT_STREQ("NTFS4K", tree->GetDescription());
}

TEST_F(NTFSReaderDamaged, NoUsableMFTRecordOrBootSectorGivesNothing)
{
    SEARCH_PROGRESS progress{};
    m_Device.Patch(Sector(0), std::vector<uint8_t>(512, 0));
    m_Device.Patch(m_Geometry.ullMirrCluster * m_Geometry.nSectorsPerCluster, std::vector<uint8_t>(512, 0));
    EXPECT_EQ(nullptr, Build(m_Device, &progress));
    // A build that found no $MFT has not started its phases.
    EXPECT_EQ(0, progress.szTitle[0]);

    fstest::CImageDevice device(rvdtest::FixturePath("ntfs.img"));
    std::vector<uint8_t> boot = device.Sector(0);
    boot[13] = 3;  // not a power of two
    device.Patch(0, boot);
    EXPECT_EQ(nullptr, Build(device, &progress));
    EXPECT_EQ(0, progress.szTitle[0]);
}

// $MFT is read in 64 KiB chunks; when the read of the third one fails and leaves the buffer
// holding the second chunk, those records must not come back as records 128 and up.
TEST_F(NTFSReaderDamaged, FailedReadsAreNotParsedAsTheChunkBefore)
{
    const uint64_t ullChunk3 = Sector(0) + 2 * NTFS_MFT_CHUNK_SECTORS;
    CStaleReadDevice device(m_Device, ullChunk3, ullChunk3 + NTFS_MFT_CHUNK_SECTORS);
    CTree tree = Build(device);
    ASSERT_NE(nullptr, tree);
    std::set<std::string> expected = m_Original;
    // Record 134, the only listed record of that chunk.
    ASSERT_EQ(134u, Id("/Photos/Deleted fragmented photo.jpg"));
    expected.erase("/Photos/Deleted fragmented photo.jpg");
    EXPECT_EQ(expected, Paths(tree.get()));
}

// A sparse run in the middle of $MFT's data (records 60 to 63, which hold nothing) is skipped;
// the records after it keep their numbers, so every folder still finds its files.
TEST_F(NTFSReaderDamaged, SparseStretchOfMFTKeepsTheRecordNumbers)
{
    CRecordEditor mft = Edit(0);
    const size_t nData = mft.Find(0x80);
    ASSERT_NE(0u, nData);
    std::vector<uint8_t> data = mft.Remove(nData);
    ASSERT_EQ(72u, data.size());
    const size_t nPairs = fstest::GetU16(data, 32);
    // 35 clusters at LCN 4, as 15 at 4, 1 sparse, 19 at 20.
    ASSERT_EQ(0x11, data[nPairs]);
    ASSERT_EQ(35, data[nPairs + 1]);
    ASSERT_EQ(4, data[nPairs + 2]);
    data.resize(80, 0);
    const std::vector<uint8_t> pairs = {0x11, 15, 4, 0x01, 1, 0x11, 19, 16, 0};
    std::copy(pairs.begin(), pairs.end(), data.begin() + static_cast<std::ptrdiff_t>(nPairs));
    fstest::PutU32(data, 4, 80);
    mft.Insert(nData, data);
    mft.Store();
    CTree tree = Build(m_Device);
    ASSERT_NE(nullptr, tree);
    EXPECT_EQ(m_Original, Paths(tree.get()));
}

// A $MFT whose run claims 2^31 clusters is read only as far as the volume goes.
TEST_F(NTFSReaderDamaged, MFTRunPastTheVolumeEndsAtTheVolume)
{
    CRecordEditor mft = Edit(0);
    const size_t nData = mft.Find(0x80);
    const size_t nPairs = nData + fstest::GetU16(mft.Bytes(), nData + 32);
    const std::vector<uint8_t> pairs = {0x14, 0xFF, 0xFF, 0xFF, 0x7F, 4, 0, 0};
    std::copy(pairs.begin(), pairs.end(), mft.Bytes().begin() + static_cast<std::ptrdiff_t>(nPairs));
    fstest::PutU32(mft.Bytes(), nData + 24, 0x7FFFFFFE);  // last VCN, so that the runs add up
    mft.Store();
    m_Device.Patch(m_Geometry.ullMirrCluster * m_Geometry.nSectorsPerCluster, std::vector<uint8_t>(512, 0));
    m_Device.ResetCounters();
    CTree tree = Build(m_Device);
    ASSERT_NE(nullptr, tree);
    EXPECT_EQ(m_Original, Paths(tree.get()));
    EXPECT_LE(m_Device.SectorsRead(), m_Device.GetTotalSectors() + 64);
}

// "Documents" and "Letters" name each other as parent: neither is reached from the root, the
// loop is broken where one would adopt its own ancestor, and both end in LostFiles1.
TEST_F(NTFSReaderDamaged, FoldersNamingEachOtherEndInLostFiles)
{
    auto setParent = [&](const char* pszFolder, uint64_t ullParent) {
        CRecordEditor folder = Edit(Id(pszFolder));
        const size_t nName = folder.Find(0x30);
        ASSERT_NE(0u, nName);
        fstest::PutU32(folder.Bytes(), nName + fstest::GetU16(folder.Bytes(), nName + 20),
                       static_cast<uint32_t>(ullParent));
        folder.Store();
    };
    setParent("/Documents", Id("/Documents/Letters"));
    setParent("/Documents/Letters", Id("/Documents"));
    CTree tree = Build(m_Device);
    ASSERT_NE(nullptr, tree);
    const std::set<std::string> paths = Paths(tree.get());
    EXPECT_LT(paths.size(), m_Original.size() + 4);
    EXPECT_TRUE(paths.count("/LostFiles1/Letters/Documents/Deleted Report Draft.doc"));
    EXPECT_TRUE(paths.count("/LostFiles1/Letters/Archive 2019/Deep Folder"));
    EXPECT_FALSE(paths.count("/Documents"));
    EXPECT_TRUE(paths.count("/Photos/holiday-003 deleted.jpg"));
}

// A file whose $DATA lies in an extension record that its $ATTRIBUTE_LIST names: the data is
// found there and the extension record is kept with the properties.
TEST_F(NTFSReaderDamaged, DataInAnExtensionRecord)
{
    const char* pszPath = "/Documents/Deleted Report Draft.doc";
    const uint64_t ullBase = Id(pszPath);
    const uint64_t ullExtension = 30;
    CRecordEditor base = Edit(ullBase);
    CRecordEditor extension = Edit(ullExtension);
    const uint16_t nSequence = fstest::GetU16(base.Bytes(), 16);
    ASSERT_EQ(0u, extension.Find(0x10));  // an unused record
    const std::vector<uint8_t> data = base.Remove(base.Find(0x80));
    base.Insert(base.Find(0x30), MakeAttributeList({{0x10, 0, ullBase, nSequence},
                                                    {0x30, 0, ullBase, nSequence},
                                                    {0x80, 0, ullExtension, fstest::GetU16(extension.Bytes(), 16)}},
                                                   9));
    base.Store();
    extension.Insert(fstest::GetU16(extension.Bytes(), 20), data);
    for (int b = 0; b < 8; ++b)
        extension.Bytes()[32 + b] = static_cast<uint8_t>((ullBase | (uint64_t(nSequence) << 48)) >> (8 * b));
    extension.Store();

    CTree tree = Build(m_Device);
    ASSERT_NE(nullptr, tree);
    EXPECT_EQ(m_Original, Paths(tree.get()));
    EXPECT_EQ(ManifestSha(pszPath), Sha256Of(tree.get(), pszPath));
    auto* pProps = dynamic_cast<CNTFSFileProperties*>(FlattenTree(tree.get()).at(pszPath)->GetProperties());
    ASSERT_NE(nullptr, pProps);
    ASSERT_NE(nullptr, pProps->GetRecordExtents());
    ASSERT_EQ(1u, pProps->GetRecordExtents()->Items.size());
    EXPECT_EQ(Sector(ullExtension), pProps->GetRecordExtents()->Items[0].ullSector);
    EXPECT_EQ(ullExtension, pProps->GetRecordExtents()->Items[0].ullRecordNumber);
    EXPECT_EQ(18000u, pProps->GetSize());
}

// $MFT's own data split in two extents, the second in an extension record that the first
// extent reaches: the run list is gathered across both and the whole volume reads as before.
TEST_F(NTFSReaderDamaged, MFTDataAcrossAnExtensionRecord)
{
    const uint64_t ullExtension = 28;  // VCN 7, inside the first extent
    CRecordEditor mft = Edit(0);
    CRecordEditor extension = Edit(ullExtension);
    const uint16_t nSequence = fstest::GetU16(mft.Bytes(), 16);
    const size_t nData = mft.Find(0x80);
    std::vector<uint8_t> first = mft.Remove(nData);
    const size_t nPairs = fstest::GetU16(first, 32);
    ASSERT_EQ(35, first[nPairs + 1]);
    std::vector<uint8_t> second = first;
    // First extent: VCN 0-9 at LCN 4. Second: VCN 10-34 at LCN 14, sizes 0 as in every later
    // extent.
    first[nPairs + 1] = 10;
    fstest::PutU32(first, 24, 9);
    second[nPairs + 1] = 25;
    second[nPairs + 2] = 14;
    fstest::PutU32(second, 16, 10);
    for (size_t i = 40; i < 64; ++i)
        second[i] = 0;
    mft.Insert(nData, first);
    mft.Insert(mft.Find(0x30), MakeAttributeList({{0x10, 0, 0, nSequence},
                                                  {0x30, 0, 0, nSequence},
                                                  {0x80, 0, 0, nSequence},
                                                  {0x80, 10, ullExtension, fstest::GetU16(extension.Bytes(), 16)},
                                                  {0xB0, 0, 0, nSequence}},
                                                 12));
    mft.Store();
    extension.Insert(fstest::GetU16(extension.Bytes(), 20), second);
    for (int b = 0; b < 8; ++b)
        extension.Bytes()[32 + b] = static_cast<uint8_t>((uint64_t(nSequence) << 48) >> (8 * b));
    extension.Store();
    // No way round through the mirror's copy of record 0.
    m_Device.Patch(m_Geometry.ullMirrCluster * m_Geometry.nSectorsPerCluster, std::vector<uint8_t>(512, 0));

    CTree tree = Build(m_Device);
    ASSERT_NE(nullptr, tree);
    EXPECT_EQ(m_Original, Paths(tree.get()));
    EXPECT_STREQ("NTFS4K", tree->GetDescription());
    EXPECT_EQ(ManifestSha("/Photos/Deleted fragmented photo.jpg"),
              Sha256Of(tree.get(), "/Photos/Deleted fragmented photo.jpg"));
}
