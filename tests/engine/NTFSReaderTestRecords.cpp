// The NTFS record objects on records of ntfs.img and on changed copies of them: INDX blocks and
// index roots, record numbers and sectors through $MFT's runs, attribute lists, the objects the
// search keeps of system-file and folder records with their saved forms, and the properties made
// from a FILE record.
#include <gtest/gtest.h>

#include "MemoryDataStream.h"
#include "NTFSReaderTestSupport.h"
#include "Pubic.h"
#include "ntfs/FileRecordExtent.h"
#include "ntfs/FileRecordHolder.h"
#include "ntfs/MFTRecordInfo.h"
#include "ntfs/NTFSFileProperties.h"
#include "ntfs/NTFSFileRecord.h"
#include "ntfs/NTFSFileRecordItem.h"
#include "ntfs/NTFSFolderRecordInfo.h"
#include "ntfs/NTFSFullFileRecord.h"
#include "ntfs/NTFSIndexRecord.h"
#include "ntfs/NTFSRecordMapping.h"
#include "ntfs/NTFSRunList.h"

using namespace ntfstest;

namespace {

class NTFSRecords : public ::testing::Test {
protected:
    void SetUp() override { m_Geometry = ReadGeometry(m_Device, 0); }

    uint64_t Id(const char* pszPath) const
    {
        const rvdtest::ManifestEntry* pEntry = rvdtest::FindManifestEntry(m_Manifest, pszPath);
        EXPECT_NE(nullptr, pEntry) << pszPath;
        return pEntry != nullptr ? static_cast<uint64_t>(pEntry->nId) : 0;
    }
    uint64_t Sector(uint64_t ullRecord) const { return RecordSector(m_Geometry, 0, ullRecord); }
    // A record as it lies on disk (update sequence in place).
    std::vector<uint8_t> Raw(uint64_t ullRecord) { return m_Device.Sectors(Sector(ullRecord), 2); }
    // An edited record; the device keeps showing the original.
    std::vector<uint8_t> Raw(CRecordEditor& editor, uint64_t) { return editor.Encoded(); }
    CRecordEditor Edit(uint64_t ullRecord) { return CRecordEditor(m_Device, Sector(ullRecord), m_Geometry.nRecordBytes); }

    // The first INDX block of "/Many Files", whose index spilled out of its root.
    std::vector<uint8_t> ManyFilesIndexBlock()
    {
        std::vector<uint8_t> record = Raw(Id("/Many Files"));
        CNTFSFolderRecordInfo folder;
        EXPECT_TRUE(folder.SetFromRecord(record.data(), record.size(), Sector(Id("/Many Files"))));
        const int64_t llLcn = folder.MapVCN(0);
        EXPECT_GE(llLcn, 0);
        return m_Device.Sectors(static_cast<uint64_t>(llLcn) * m_Geometry.nSectorsPerCluster, 8);
    }

    CNTFSFileProperties* Properties(std::vector<uint8_t>& record, uint64_t ullRecord, uint64_t* pParent = nullptr)
    {
        CNTFSFullFileRecord full;
        full.Open(record.data(), record.size(), Sector(ullRecord), &m_Device, nullptr);
        return CreateNTFSFileProperties(Sector(ullRecord), full, 512ull * m_Geometry.nSectorsPerCluster, pParent);
    }

    fstest::CImageDevice m_Device{rvdtest::FixturePath("ntfs.img")};
    std::vector<rvdtest::ManifestEntry> m_Manifest = rvdtest::ReadManifest("ntfs.img");
    NTFS_GEOMETRY m_Geometry;
};

// Entry offsets of an INDX block whose fix-ups are applied.
std::vector<size_t> IndexEntries(const std::vector<uint8_t>& block)
{
    std::vector<size_t> entries;
    size_t nPos = 24 + fstest::GetU32(block, 24);
    const size_t nEnd = 24 + fstest::GetU32(block, 28);
    while (nPos + 16 <= nEnd && entries.size() < 1000) {
        entries.push_back(nPos);
        if (fstest::GetU16(block, nPos + 12) & 2)
            break;
        nPos += fstest::GetU16(block, nPos + 8);
    }
    return entries;
}

void PutU64(std::vector<uint8_t>& v, size_t nOffset, uint64_t ull)
{
    for (int i = 0; i < 8; ++i)
        v[nOffset + i] = static_cast<uint8_t>(ull >> (8 * i));
}

} // namespace

TEST_F(NTFSRecords, FolderRecordAndItsIndexBlock)
{
    const uint64_t ullMany = Id("/Many Files");
    std::vector<uint8_t> record = Raw(ullMany);
    const std::vector<uint8_t> before = record;
    CNTFSFolderRecordInfo folder;
    ASSERT_TRUE(folder.SetFromRecord(record.data(), record.size(), Sector(ullMany)));
    EXPECT_EQ(before, record);
    EXPECT_EQ(ullMany, folder.m_ullFolderNumber);
    EXPECT_EQ(1, folder.m_bHasHeaderNumber);
    EXPECT_EQ(ullMany, folder.m_nHeaderNumber);
    EXPECT_EQ(Sector(ullMany), folder.m_ullRecordSector);
    EXPECT_EQ(static_cast<int32_t>(m_Geometry.nSectorsPerCluster), folder.m_nSectorsPerCluster);
    EXPECT_EQ(-1, folder.MapVCN(1000));

    std::vector<uint8_t> block = ManyFilesIndexBlock();
    const std::vector<uint8_t> blockBefore = block;
    EXPECT_TRUE(IsValidIndexBlock(block.data(), block.size()));
    EXPECT_TRUE(ValidateIndexBlock(block.data(), block.size()));
    EXPECT_EQ(blockBefore, block);
    EXPECT_EQ(ullMany, GetIndexBlockParent(block.data(), block.size()));
    EXPECT_EQ(0u, GetIndexBlockVCN(block.data(), block.size()));

    // The root folder is never kept; a folder without $INDEX_ROOT takes the header's number.
    std::vector<uint8_t> root = Raw(5);
    CNTFSFolderRecordInfo rootFolder;
    EXPECT_FALSE(rootFolder.SetFromRecord(root.data(), root.size(), Sector(5)));
    EXPECT_EQ(5u, rootFolder.m_ullFolderNumber);
    CRecordEditor edit = Edit(ullMany);
    edit.Remove(edit.Find(0x90));
    std::vector<uint8_t> noRoot = Raw(edit, ullMany);
    CNTFSFolderRecordInfo headerOnly;
    EXPECT_TRUE(headerOnly.SetFromRecord(noRoot.data(), noRoot.size(), Sector(ullMany)));
    EXPECT_EQ(ullMany, headerOnly.m_ullFolderNumber);
    // A file is no folder with an index.
    std::vector<uint8_t> file = Raw(Id("/Documents/Deleted Report Draft.doc"));
    EXPECT_FALSE(CNTFSFolderRecordInfo().SetFromRecord(file.data(), file.size(), 0));
}

TEST_F(NTFSRecords, IndexBlockHeaderChecks)
{
    const std::vector<uint8_t> original = ManyFilesIndexBlock();
    ASSERT_EQ(4072u, fstest::GetU32(original, 32));
    ASSERT_EQ(9u, fstest::GetU16(original, 6));
    struct CASE {
        const char* pszName;
        std::function<void(std::vector<uint8_t>&)> fnChange;
        size_t nSize;
        bool bValid;
    };
    const std::vector<CASE> cases = {
        {"as written: 4072 allocated, count 9", [](std::vector<uint8_t>&) {}, 4096, true},
        {"update sequence count 8", [](std::vector<uint8_t>& b) { fstest::PutU16(b, 6, 8); }, 4096, false},
        {"array offset 39", [](std::vector<uint8_t>& b) { fstest::PutU16(b, 4, 39); }, 4096, false},
        {"array offset 257", [](std::vector<uint8_t>& b) { fstest::PutU16(b, 4, 257); }, 4096, false},
        {"bytes in use above allocated", [](std::vector<uint8_t>& b) { fstest::PutU32(b, 28, 4080); }, 4096, false},
        {"buffer smaller than allocated", [](std::vector<uint8_t>&) {}, 2048, false},
        {"signature", [](std::vector<uint8_t>& b) { b[0] = 'X'; }, 4096, false},
        {"header only", [](std::vector<uint8_t>&) {}, 39, false},
    };
    for (const CASE& c : cases) {
        std::vector<uint8_t> block = original;
        c.fnChange(block);
        EXPECT_EQ(c.bValid, IsValidIndexBlock(block.data(), c.nSize)) << c.pszName;
        EXPECT_EQ(c.bValid, ValidateIndexBlock(block.data(), c.nSize)) << c.pszName;
    }
}

// Entries are changed with the block's fix-ups applied, then the update sequence is put back.
TEST_F(NTFSRecords, IndexEntryChecksOfDamagedBlocks)
{
    const std::vector<uint8_t> original = ManyFilesIndexBlock();
    struct CASE {
        const char* pszName;
        std::function<void(std::vector<uint8_t>&, size_t nSecond)> fnChange;
        bool bValid;
    };
    const std::vector<CASE> cases = {
        // A zero (or too short) length would step in place for ever: it ends the walk.
        {"zero-length entry", [](std::vector<uint8_t>& b, size_t n) { fstest::PutU16(b, n + 8, 0); }, true},
        {"8-byte entry", [](std::vector<uint8_t>& b, size_t n) { fstest::PutU16(b, n + 8, 8); }, true},
        {"zero-length sub-node entry",
         [](std::vector<uint8_t>& b, size_t n) {
             fstest::PutU16(b, n + 8, 0);
             fstest::PutU16(b, n + 12, 1);
         },
         true},
        {"another parent", [](std::vector<uint8_t>& b, size_t n) { b[n + 16] ^= 0x40; }, false},
        {"another parent sequence", [](std::vector<uint8_t>& b, size_t n) { b[n + 22] ^= 0x01; }, false},
        {"another parent in a sub-node entry",
         [](std::vector<uint8_t>& b, size_t n) {
             b[n + 16] ^= 0x40;
             fstest::PutU16(b, n + 12, 1);
         },
         true},
        {"allocated below real size", [](std::vector<uint8_t>& b, size_t n) { PutU64(b, n + 16 + 40, 1); }, false},
        // The key's size fields do not fit the entry: nothing past it is read.
        {"key cut short", [](std::vector<uint8_t>& b, size_t n) { fstest::PutU16(b, n + 8, 40); }, false},
    };
    for (const CASE& c : cases) {
        std::vector<uint8_t> block = original;
        ASSERT_TRUE(ApplyIndexBlockFixups(block.data(), block.size()));
        const std::vector<size_t> entries = IndexEntries(block);
        ASSERT_GE(entries.size(), 3u);
        c.fnChange(block, entries[1]);
        RestoreIndexBlockFixups(block.data(), block.size());
        EXPECT_EQ(c.bValid, ValidateIndexBlock(block.data(), block.size())) << c.pszName;
    }
    // A broken update sequence fails the block.
    std::vector<uint8_t> block = original;
    block[1022] ^= 0xFF;
    EXPECT_TRUE(IsValidIndexBlock(block.data(), block.size()));
    EXPECT_FALSE(ValidateIndexBlock(block.data(), block.size()));
}

TEST_F(NTFSRecords, FolderNumberFromIndexRoot)
{
    auto folderNumber = [&](CRecordEditor& edit) {
        std::vector<uint8_t> record = edit.Encoded();
        const CFileRecordHolder holder(record.data(), record.size(), false);
        const uint8_t* pRoot = holder.FindAttribute(NTFS_ATTR_INDEX_ROOT, 0);
        EXPECT_NE(nullptr, pRoot);
        return pRoot == nullptr ? 0 : GetFolderNumberFromIndexRoot(pRoot, record.size() - (pRoot - record.data()));
    };
    // "Letters" keeps its two names in the root node.
    const uint64_t ullLetters = Id("/Documents/Letters");
    CRecordEditor edit = Edit(ullLetters);
    EXPECT_EQ(ullLetters, folderNumber(edit));
    const size_t nRoot = edit.Find(0x90);
    const size_t nValue = nRoot + fstest::GetU16(edit.Bytes(), nRoot + 20);
    const size_t nEntries = nValue + 16 + fstest::GetU32(edit.Bytes(), nValue + 16);
    const size_t nSecond = nEntries + fstest::GetU16(edit.Bytes(), nEntries + 8);
    // The second entry names another folder: no single folder.
    edit.Bytes()[nSecond + 16] ^= 0x40;
    EXPECT_EQ(NTFS_NO_RECORD_NUMBER, folderNumber(edit));
    // The second entry has length 0: the walk ends there with the first entry's parent.
    fstest::PutU16(edit.Bytes(), nSecond + 8, 0);
    EXPECT_EQ(ullLetters, folderNumber(edit));
    // "Photos" keeps its names in INDX blocks: its root node holds only the keyless last entry.
    CRecordEditor photos = Edit(Id("/Photos"));
    EXPECT_EQ(NTFS_NO_RECORD_NUMBER, folderNumber(photos));
    EXPECT_EQ(NTFS_NO_RECORD_NUMBER, GetFolderNumberFromIndexRoot(nullptr, 0));
}

TEST(NTFSLogPages, RCRDPageChecks)
{
    std::vector<uint8_t> page(4096, 0);
    memcpy(page.data(), "RCRD", 4);
    fstest::PutU16(page, 4, 40);
    fstest::PutU16(page, 6, 9);
    fstest::PutU16(page, 40, 0x1234);
    for (int i = 0; i < 8; ++i)
        fstest::PutU16(page, i * 512 + 510, 0x1234);
    EXPECT_TRUE(IsRCRDPage(page.data(), page.size()));
    EXPECT_TRUE(IsValidRCRDPage(page.data(), page.size()));
    EXPECT_FALSE(IsValidRCRDPage(page.data(), 4095));
    std::vector<uint8_t> count3 = page;
    fstest::PutU16(count3, 6, 3);
    EXPECT_TRUE(IsRCRDPage(count3.data(), count3.size()));
    EXPECT_FALSE(IsValidRCRDPage(count3.data(), count3.size()));
    std::vector<uint8_t> torn = page;
    fstest::PutU16(torn, 7 * 512 + 510, 0x1235);
    EXPECT_FALSE(IsValidRCRDPage(torn.data(), torn.size()));
    EXPECT_FALSE(IsRCRDPage(page.data(), 3));
}

TEST_F(NTFSRecords, RecordNumbersAndSectors)
{
    CNTFSRunList runs;
    runs.AddRun(NTFS_RUN(786432, 0, 64));
    EXPECT_EQ(6293510u, RecordNumberToSector(3, 2048, 8, runs, 2));
    CMFTRecordInfo mft;
    runs.CopyTo(&mft.m_Runs);
    mft.m_bySectorsPerRecord = 2;
    EXPECT_EQ(3u, SectorToRecordNumber(6293510, 2048, mft, 8));
    EXPECT_EQ(NTFS_NO_RECORD_NUMBER, SectorToRecordNumber(6293511, 2048, mft, 8));  // inside record 3
    EXPECT_EQ(NTFS_NO_RECORD_NUMBER, SectorToRecordNumber(2048, 2048, mft, 8));     // not $MFT's cluster
    EXPECT_EQ(NTFS_NO_RECORD_NUMBER, SectorToRecordNumber(100, 2048, mft, 8));      // before the partition
    EXPECT_EQ(NTFS_UNKNOWN_SECTOR, RecordNumberToSector(256, 2048, 8, runs, 2));     // past the runs
    EXPECT_EQ(NTFS_UNKNOWN_SECTOR, RecordNumberToSector(3, 2048, 0, runs, 2));
    EXPECT_EQ(NTFS_UNKNOWN_SECTOR, RecordNumberToSector(~0ull >> 4, 2048, 8, runs, 2));

    // Through the fixture's own $MFT record.
    std::vector<uint8_t> record = Raw(0);
    CMFTRecordInfo* pInfo = CreateMFTRecordInfo(record.data(), record.size(), Sector(0));
    ASSERT_NE(nullptr, pInfo);
    for (uint64_t n : {0ull, 3ull, 64ull, 134ull}) {
        EXPECT_EQ(Sector(n), RecordNumberToSector(n, 0, m_Geometry.nSectorsPerCluster, pInfo->m_Runs, 2)) << n;
        EXPECT_EQ(n, SectorToRecordNumber(Sector(n), 0, *pInfo, m_Geometry.nSectorsPerCluster)) << n;
    }
    delete pInfo;
}

TEST(NTFSAttributeList, EntriesAreCheckedAndCounted)
{
    // An entry claiming nLength bytes, of which nBytes (default: all) are there.
    auto entry = [](uint32_t nType, uint16_t nLength, uint64_t ullReference, size_t nBytes = 0) {
        std::vector<uint8_t> e(nLength < 32 ? 32 : nLength, 0);
        fstest::PutU32(e, 0, nType);
        fstest::PutU16(e, 4, nLength);
        PutU64(e, 16, ullReference);
        e.resize(nBytes != 0 ? nBytes : nLength);
        return e;
    };
    auto parse = [](const std::vector<uint8_t>& list) {
        CRecordLocationList::CItems locations;
        ParseAttributeListLocations(list.data(), list.size(), locations);
        std::vector<uint64_t> numbers;
        for (const RECORD_LOCATION& l : locations) {
            EXPECT_EQ(NTFS_UNKNOWN_SECTOR, l.ullSector);
            numbers.push_back(l.ullRecordNumber);
        }
        return numbers;
    };
    auto join = [](std::initializer_list<std::vector<uint8_t>> parts) {
        std::vector<uint8_t> all;
        for (const auto& p : parts)
            all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    const uint64_t ullSeq = 3ull << 48;
    EXPECT_EQ((std::vector<uint64_t>{85, 30}),
              parse(join({entry(0x10, 32, 85 | ullSeq), entry(0x30, 32, 85 | ullSeq), entry(0x80, 32, 30 | ullSeq),
                          entry(0x80, 32, 30 | ullSeq)})));
    EXPECT_EQ((std::vector<uint64_t>{85}), parse(join({entry(0x10, 32, 85), entry(0, 32, 30)})));
    EXPECT_EQ((std::vector<uint64_t>{85}), parse(join({entry(0x10, 32, 85), entry(0x80, 0, 30)})));
    EXPECT_EQ((std::vector<uint64_t>{85}), parse(join({entry(0x10, 32, 85), entry(0x80, 20, 30), entry(0x80, 32, 31)})));
    EXPECT_EQ((std::vector<uint64_t>{85}), parse(join({entry(0x10, 32, 85), entry(0x80, 64, 30, 32)})));
    // A list of 1 MiB of distinct references gives at most the cap.
    std::vector<uint8_t> huge;
    for (uint64_t n = 1; huge.size() + 26 <= NTFS_MAX_ATTRIBUTE_LIST_BYTES; ++n) {
        const std::vector<uint8_t> e = entry(0x80, 26, n);
        huge.insert(huge.end(), e.begin(), e.end());
    }
    EXPECT_EQ(NTFS_MAX_EXTENSION_RECORDS, parse(huge).size());
}

TEST_F(NTFSRecords, ExtensionRecordsOfABaseRecord)
{
    const uint64_t ullFile = Id("/Documents/Deleted Report Draft.doc");
    std::vector<uint8_t> mft = Raw(0);
    CMFTRecordInfo* pMFT = CreateMFTRecordInfo(mft.data(), mft.size(), Sector(0));
    ASSERT_NE(nullptr, pMFT);
    auto collect = [&](CRecordEditor& edit) {
        std::vector<uint8_t> record = Raw(edit, ullFile);
        const std::vector<uint8_t> before = record;
        CRecordLocationList* pList = CollectExtensionRecords(record.data(), record.size(), Sector(ullFile), 0,
                                                             m_Geometry.nSectorsPerCluster, pMFT->m_Runs, 2, &m_Device);
        EXPECT_EQ(before, record);
        std::vector<std::pair<uint64_t, uint64_t>> result;
        if (pList != nullptr) {
            EXPECT_FALSE(pList->Items.empty());
            for (const RECORD_LOCATION& l : pList->Items)
                result.push_back({l.ullRecordNumber, l.ullSector});
        }
        delete pList;
        return result;
    };
    CRecordEditor plain = Edit(ullFile);
    EXPECT_TRUE(collect(plain).empty());
    // A list that names only the base record itself names no extension record.
    CRecordEditor self = Edit(ullFile);
    self.Insert(self.Find(0x30), MakeAttributeList({{0x10, 0, ullFile, 1}, {0x30, 0, ullFile, 1}}, 9));
    EXPECT_TRUE(collect(self).empty());
    CRecordEditor other = Edit(ullFile);
    other.Insert(other.Find(0x30), MakeAttributeList({{0x10, 0, ullFile, 1}, {0x80, 0, 40, 1}, {0x80, 9, 41, 1}}, 9));
    EXPECT_EQ((std::vector<std::pair<uint64_t, uint64_t>>{{40, Sector(40)}, {41, Sector(41)}}), collect(other));
    // A non-resident list whose sizes claim a terabyte is read into at most 1 MiB.
    CRecordEditor huge = Edit(ullFile);
    const size_t nData = huge.Find(0x80);
    fstest::PutU32(huge.Bytes(), nData, 0x20);
    PutU64(huge.Bytes(), nData + 40, 1ull << 40);
    PutU64(huge.Bytes(), nData + 48, 1ull << 40);
    std::vector<uint8_t> record = Raw(huge, ullFile);
    {
        const CFileRecordHolder holder(record.data(), record.size(), false);
        ASSERT_TRUE(holder.IsValid());
        std::vector<uint8_t, CEngineAllocator<uint8_t>> list;
        EXPECT_TRUE(ReadAttributeList(record.data(), record.size(), 0, m_Geometry.nSectorsPerCluster, &m_Device, list));
        EXPECT_EQ(NTFS_MAX_ATTRIBUTE_LIST_BYTES, list.size());
    }
    collect(huge);
    delete pMFT;
}

TEST_F(NTFSRecords, SystemFileRecordObjectsAndSavedForms)
{
    std::vector<uint8_t> record = Raw(0);
    CMFTRecordInfo* pMFT = CreateMFTRecordInfo(record.data(), record.size(), Sector(0));
    ASSERT_NE(nullptr, pMFT);
    EXPECT_EQ(static_cast<int64_t>(m_Geometry.ullMFTCluster), pMFT->GetFirstCluster());
    EXPECT_EQ(m_Geometry.nSectorsPerCluster, pMFT->m_bySectorsPerCluster);
    EXPECT_EQ(2, pMFT->m_bySectorsPerRecord);
    EXPECT_EQ(Sector(0), pMFT->m_ullRecordSector);
    CMemoryDataStream stream;
    ASSERT_TRUE(pMFT->Save(&stream));
    EXPECT_EQ(8u + 1 + 1 + 8 + 24 * pMFT->m_Runs.GetCount(), stream.GetSize());
    CMFTRecordInfo loaded;
    ASSERT_TRUE(loaded.Load(&stream));
    EXPECT_EQ(pMFT->m_ullRecordSector, loaded.m_ullRecordSector);
    EXPECT_EQ(pMFT->m_bySectorsPerCluster, loaded.m_bySectorsPerCluster);
    EXPECT_TRUE(pMFT->m_Runs.IsEqual(&loaded.m_Runs));
    CMemoryDataStream shortStream(stream.GetData().data(), stream.GetSize() - 1);
    CMFTRecordInfo untouched;
    EXPECT_FALSE(untouched.Load(&shortStream));
    EXPECT_EQ(NTFS_UNKNOWN_SECTOR, untouched.m_ullRecordSector);
    delete pMFT;

    // A record without $DATA runs is no $MFT record.
    std::vector<uint8_t> folder = Raw(Id("/Documents"));
    EXPECT_EQ(nullptr, CreateMFTRecordInfo(folder.data(), folder.size(), 0));

    std::vector<uint8_t> mirr = Raw(1);
    CMFTMirrRecordInfo* pMirr = CreateMFTMirrRecordInfo(mirr.data(), mirr.size(), Sector(1));
    ASSERT_NE(nullptr, pMirr);
    EXPECT_EQ(static_cast<int64_t>(m_Geometry.ullMirrCluster), pMirr->GetFirstCluster());
    EXPECT_EQ(GetLogSequenceNumber(mirr.data(), mirr.size()), pMirr->m_ullLogSequence);
    delete pMirr;

    std::vector<uint8_t> bitmap = Raw(6);
    CBitmapRecordInfo bitmapInfo;
    ASSERT_TRUE(bitmapInfo.SetFromRecord(bitmap.data(), bitmap.size(), Sector(6)));
    // One bit per cluster of the 16 MiB volume, in whole 8-byte words.
    EXPECT_GE(bitmapInfo.m_ullBitmapSize * 8, 4095u);
    EXPECT_LT(bitmapInfo.m_ullBitmapSize, 4096u);

    FILE_RECORD_EXTENT extent(1000);
    extent.ullCount = 3;
    EXPECT_FALSE(extent.TryExtend(1005));
    EXPECT_TRUE(extent.TryExtend(1006));
    EXPECT_EQ(4u, extent.ullCount);
    EXPECT_FALSE(extent.TryExtend(998));
    CMemoryDataStream extentStream;
    ASSERT_TRUE(extent.Save(&extentStream));
    EXPECT_EQ(16u, extentStream.GetSize());
    FILE_RECORD_EXTENT loadedExtent;
    ASSERT_TRUE(loadedExtent.Load(&extentStream));
    EXPECT_EQ(1000u, loadedExtent.ullFirstSector);
    EXPECT_EQ(4u, loadedExtent.ullCount);
}

TEST_F(NTFSRecords, FileRecordItem)
{
    const uint64_t ullFile = Id("/Old Projects/Sub Folder/budget sheet.xls");
    std::vector<uint8_t> record = Raw(ullFile);
    CNTFSFileRecordItem item;
    ASSERT_TRUE(item.SetFromRecord(record.data(), record.size(), Sector(ullFile)));
    EXPECT_EQ(0, item.m_bIsDirectory);
    EXPECT_EQ(Id("/Old Projects/Sub Folder"), item.m_ullParentNumber);
    EXPECT_EQ(ullFile, item.m_ullRecordNumber);
    EXPECT_EQ(Sector(ullFile), item.m_ullRecordSector);
    std::vector<uint8_t> folder = Raw(Id("/Old Projects"));
    CNTFSFileRecordItem folderItem;
    ASSERT_TRUE(folderItem.SetFromRecord(folder.data(), folder.size(), 0));
    EXPECT_EQ(1, folderItem.m_bIsDirectory);
    EXPECT_EQ(5u, folderItem.m_ullParentNumber);
    // A name pointing below the root folder gives no parent here.
    CRecordEditor edit = Edit(ullFile);
    const size_t nName = edit.Find(0x30);
    fstest::PutU32(edit.Bytes(), nName + 24, 3);
    std::vector<uint8_t> low = Raw(edit, ullFile);
    CNTFSFileRecordItem lowItem;
    ASSERT_TRUE(lowItem.SetFromRecord(low.data(), low.size(), 0));
    EXPECT_EQ(NTFS_NO_RECORD_NUMBER, lowItem.m_ullParentNumber);
    uint64_t ullParent = 0;
    delete Properties(low, ullFile, &ullParent);
    EXPECT_EQ(3u, ullParent);
    std::vector<uint8_t> garbage(1024, 0x5A);
    EXPECT_FALSE(CNTFSFileRecordItem().SetFromRecord(garbage.data(), garbage.size(), 0));
}

TEST_F(NTFSRecords, PropertiesFromAFileRecord)
{
    const char* pszPath = "/Documents/Deleted Report Draft.doc";
    const uint64_t ullFile = Id(pszPath);
    const uint64_t ullAllocated = 5 * 4096;  // 18000 bytes in 4 KiB clusters
    struct CASE {
        const char* pszName;
        std::function<void(CRecordEditor&)> fnChange;
        std::string strName;
        uint64_t ullSize;
        uint16_t wAttributeMask;   // bits that must be set
        uint16_t wAttributeClear;  // bits that must be clear
    };
    auto secondName = [](uint8_t byNamespace) {
        return [byNamespace](CRecordEditor& e) {
            const size_t nName = e.Find(0x30);
            std::vector<uint8_t> name(e.Bytes().begin() + nName,
                                      e.Bytes().begin() + nName + fstest::GetU32(e.Bytes(), nName + 4));
            name[24 + 65] = byNamespace;
            name[24 + 66] = 'X';
            e.Insert(nName + name.size(), name);
        };
    };
    auto dataFlags = [](uint16_t wFlags) {
        return [wFlags](CRecordEditor& e) { fstest::PutU16(e.Bytes(), e.Find(0x80) + 12, wFlags); };
    };
    auto sizes = [](uint64_t ullSize) {
        return [ullSize](CRecordEditor& e) {
            PutU64(e.Bytes(), e.Find(0x80) + 48, ullSize);
            PutU64(e.Bytes(), e.Find(0x30) + 24 + 48, ullSize);
        };
    };
    const std::vector<CASE> cases = {
        {"as written", [](CRecordEditor&) {}, "Deleted Report Draft.doc", 18000, 0x20, 0x10},
        {"second name Win32", secondName(1), "Xeleted Report Draft.doc", 18000, 0, 0},
        {"second name DOS", secondName(2), "Deleted Report Draft.doc", 18000, 0, 0},
        {"second name Win32 and DOS", secondName(3), "Deleted Report Draft.doc", 18000, 0, 0},
        {"compressed", dataFlags(0x0001), "Deleted Report Draft.doc", 18000, 0x800, 0x4000},
        {"compressed and encrypted", dataFlags(0x4001), "Deleted Report Draft.doc", 18000, 0x4000, 0x800},
        {"sizes 0: the allocation", sizes(0), "Deleted Report Draft.doc", ullAllocated, 0, 0},
        {"sizes past the allocation", sizes(1ull << 40), "Deleted Report Draft.doc", ullAllocated, 0, 0},
        {"unpaired surrogate",
         [](CRecordEditor& e) { fstest::PutU16(e.Bytes(), e.Find(0x30) + 90, 0xD800); },
         "_eleted Report Draft.doc", 18000, 0, 0},
        {"NUL inside the name",
         [](CRecordEditor& e) { fstest::PutU16(e.Bytes(), e.Find(0x30) + 92, 0x0000); },
         "D_leted Report Draft.doc", 18000, 0, 0},
    };
    for (const CASE& c : cases) {
        CRecordEditor edit = Edit(ullFile);
        c.fnChange(edit);
        std::vector<uint8_t> record = Raw(edit, ullFile);
        CNTFSFileProperties* pProps = Properties(record, ullFile);
        ASSERT_NE(nullptr, pProps) << c.pszName;
        EXPECT_EQ(c.strName, pProps->GetName()) << c.pszName;
        EXPECT_EQ(static_cast<int32_t>(c.strName.size()), pProps->GetNameLength()) << c.pszName;
        EXPECT_EQ(c.ullSize, pProps->GetSize()) << c.pszName;
        EXPECT_EQ(c.wAttributeMask, pProps->GetAttributes() & c.wAttributeMask) << c.pszName;
        EXPECT_EQ(0, pProps->GetAttributes() & c.wAttributeClear) << c.pszName;
        EXPECT_EQ(NTFS_STATUS_DELETED, pProps->GetStatus()) << c.pszName;
        EXPECT_EQ(Sector(ullFile), pProps->GetRecordSector());
        delete pProps;
    }

    // $STANDARD_INFORMATION too short for its times: all three are the name's creation time.
    CRecordEditor edit = Edit(ullFile);
    const size_t nInfo = edit.Find(0x10);
    std::vector<uint8_t> info = edit.Remove(nInfo);
    info.resize(56);
    fstest::PutU32(info, 4, 56);
    fstest::PutU32(info, 16, 32);
    edit.Insert(nInfo, info);
    const size_t nName = edit.Find(0x30);
    uint64_t ullNameCreation = 0;
    for (int i = 7; i >= 0; --i)
        ullNameCreation = (ullNameCreation << 8) | edit.Bytes()[nName + 32 + i];
    std::vector<uint8_t> record = Raw(edit, ullFile);
    CNTFSFileProperties* pProps = Properties(record, ullFile);
    ASSERT_NE(nullptr, pProps);
    FILETIME creation, modification, access;
    pProps->GetCreationTime(&creation);
    pProps->GetModificationTime(&modification);
    pProps->GetAccessTime(&access);
    EXPECT_EQ(ullNameCreation, creation.qwTicks);
    EXPECT_EQ(ullNameCreation, modification.qwTicks);
    EXPECT_EQ(ullNameCreation, access.qwTicks);
    EXPECT_EQ(0, pProps->GetAttributes() & 0x27);
    delete pProps;

    // A name of length 0 gives no properties.
    CRecordEditor empty = Edit(ullFile);
    empty.Bytes()[empty.Find(0x30) + 88] = 0;
    std::vector<uint8_t> emptyRecord = Raw(empty, ullFile);
    EXPECT_EQ(nullptr, Properties(emptyRecord, ullFile));
}

TEST_F(NTFSRecords, FileTypeFilterLeavesFoldersAlone)
{
    CFileTypeStore& filter = CPubic::GetScanTypeFilter();
    const std::string strSaved = filter.m_strTypes;
    filter.SaveTypeInfo(".jpg");
    std::vector<uint8_t> doc = Raw(Id("/Documents/Deleted Report Draft.doc"));
    std::vector<uint8_t> jpg = Raw(Id("/Photos/holiday-003 deleted.jpg"));
    std::vector<uint8_t> folder = Raw(Id("/Old Projects"));
    CNTFSFileProperties* pDoc = Properties(doc, Id("/Documents/Deleted Report Draft.doc"));
    CNTFSFileProperties* pJpg = Properties(jpg, Id("/Photos/holiday-003 deleted.jpg"));
    CNTFSFileProperties* pFolder = Properties(folder, Id("/Old Projects"));
    filter.SaveTypeInfo(strSaved);
    EXPECT_EQ(nullptr, pDoc);
    ASSERT_NE(nullptr, pJpg);
    ASSERT_NE(nullptr, pFolder);
    EXPECT_EQ(FILE_ATTR_DIRECTORY, pFolder->GetAttributes() & FILE_ATTR_DIRECTORY);
    EXPECT_FALSE(pFolder->HasDataRuns());
    delete pJpg;
    delete pFolder;
}

TEST_F(NTFSRecords, PropertiesSaveAndLoad)
{
    const uint64_t ullFile = Id("/Photos/Deleted fragmented photo.jpg");
    std::vector<uint8_t> record = Raw(ullFile);
    CNTFSFileProperties* pProps = Properties(record, ullFile);
    ASSERT_NE(nullptr, pProps);
    CRecordLocationList* pExtents = new CRecordLocationList();
    pExtents->Items.push_back(RECORD_LOCATION{1234, 40});
    pProps->SetRecordExtents(pExtents);
    pProps->SetCheckState(2);
    EXPECT_EQ(0, pProps->SetFlag(7));
    EXPECT_EQ(7, pProps->SetFlag(9));
    CMemoryDataStream stream;
    ASSERT_TRUE(pProps->Save(&stream));
    CNTFSFileProperties loaded;
    ASSERT_TRUE(loaded.Load(&stream));
    EXPECT_EQ(0u, stream.GetRemaining());
    EXPECT_STREQ(pProps->GetName(), loaded.GetName());
    EXPECT_EQ(pProps->GetSize(), loaded.GetSize());
    EXPECT_EQ(pProps->GetAttributes(), loaded.GetAttributes());
    EXPECT_EQ(pProps->GetStatus(), loaded.GetStatus());
    EXPECT_EQ(pProps->GetRecordSector(), loaded.GetRecordSector());
    EXPECT_EQ(0, loaded.GetCheckState());
    EXPECT_EQ(0, loaded.GetFlag());
    ASSERT_NE(nullptr, loaded.GetRecordExtents());
    EXPECT_EQ(40u, loaded.GetRecordExtents()->Items[0].ullRecordNumber);
    IDataRunList* pBefore = pProps->GetDataRunList();
    IDataRunList* pAfter = loaded.GetDataRunList();
    ASSERT_NE(nullptr, pBefore);
    ASSERT_NE(nullptr, pAfter);
    ASSERT_EQ(pBefore->GetRunCount(), pAfter->GetRunCount());
    for (size_t i = 0; i < pBefore->GetRunCount(); ++i)
        EXPECT_TRUE(pBefore->GetRun(i) == pAfter->GetRun(i));
    delete pBefore;
    delete pAfter;

    // A stored extension-record count beyond what any attribute list can name is refused before
    // anything is allocated for it; so is a record cut short. The object keeps its values.
    const std::vector<uint8_t> saved = stream.GetData();
    std::vector<uint8_t> absurd = saved;
    const size_t nCount = absurd.size() - 16 - 8;
    PutU64(absurd, nCount, 1ull << 60);
    CMemoryDataStream absurdStream(absurd);
    EXPECT_FALSE(loaded.Load(&absurdStream));
    CMemoryDataStream cut(saved.data(), saved.size() - 1);
    EXPECT_FALSE(loaded.Load(&cut));
    EXPECT_STREQ(pProps->GetName(), loaded.GetName());
    delete pProps;
}
