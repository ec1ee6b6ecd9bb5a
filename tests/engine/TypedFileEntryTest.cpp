// File-type numbers from names, typed file entries, and the check of a candidate's named files
// against the files that signature carving found.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fat/FATSearchedPartitionInfo.h"
#include "FileExtensionTypeMap.h"
#include "RawFileInfo.h"
#include "SearchedPartitionInfo.h"
#include "TypedFileEntry.h"

namespace {

uint16_t TypeOf(const std::string& name)
{
    return GetFileTypeIdFromName(name.c_str(), static_cast<uint8_t>(name.size()));
}

uint16_t WideTypeOf(const std::u16string& name)
{
    return GetFileTypeIdFromWideName(name.c_str(), static_cast<uint8_t>(name.size()));
}

void AddCarved(CRawFileInfoContainer& container, uint64_t ullSector, int32_t nType)
{
    CRawFileInfo* p = new CRawFileInfo();
    p->SetStartSector(ullSector);
    p->SetType(nType);
    container.AddFile(p);
}

} // namespace

TEST(TypedFileEntryTest, ExtensionsGiveTheirTypeNumbers)
{
    const struct {
        const char* pszName;
        uint16_t wType;
    } cases[] = {
        {"photo.JPG", 33},  {"photo.jpg", 33},   {"PHOTO.Jpg", 33},  {"archive.tar.gz", 29},
        {"report.docx", 69}, {"a.3ds", 1},       {"song.riff", 55},  {"clip.ai", 5},
        {".jpg", 0},         {"a.b.c", 0},        {"name.", 0},       {"base.accdb", 0},
        {"x.jp", 0},         {"ab", 0},           {"noext", 0},       {"a.jpeg", 0},
        {"draw.fh11", 27},   {"..", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TypeOf(c.pszName), c.wType) << c.pszName;

    EXPECT_EQ(WideTypeOf(u"Holiday photo.JpG"), 33);
    EXPECT_EQ(WideTypeOf(u"Bericht.PDF"), 46);
    EXPECT_EQ(WideTypeOf(u"\u00e9t\u00e9.\u00e9pg"), 0); // not ASCII: no type
    // An 8-bit name's bytes are unsigned: 0xC9 must not fold into a letter.
    EXPECT_EQ(TypeOf("x.\xC9PG"), 0);
    // The counted length rules, not a terminating zero.
    EXPECT_EQ(GetFileTypeIdFromName("photo.jpgXYZ", 9), 33);
    EXPECT_EQ(GetFileTypeIdFromName(nullptr, 9), 0);

    EXPECT_STREQ(GetBuiltinFileTypeExtension(0), "Raw");
    EXPECT_STREQ(GetBuiltinFileTypeExtension(72), "ACCDB");
    EXPECT_EQ(GetBuiltinFileTypeExtension(73), nullptr);
    // Every built-in extension of up to 4 characters finds its own number back.
    for (uint16_t w = 1; w < FILE_TYPE_BUILTIN_LAST; ++w)
        EXPECT_EQ(TypeOf(std::string("f.") + GetBuiltinFileTypeExtension(w)), w) << w;
}

TEST(TypedFileEntryTest, EntriesAreMadeOnlyFromTypedNamesAndValidNumbers)
{
    TYPED_FILE_ENTRY entry;
    EXPECT_EQ(entry.ullFirstCluster, UINT64_MAX);
    EXPECT_EQ(entry.ullEntrySector, UINT64_MAX);
    EXPECT_FALSE(entry.SetFromName("readme.txt", 10, 5, 100));
    EXPECT_FALSE(entry.SetFromName("a.jpg", 5, UINT64_MAX, 100));
    EXPECT_FALSE(entry.SetFromName("a.jpg", 5, 5, 1ull << 63));
    EXPECT_EQ(entry.wTypeId, 0);
    ASSERT_TRUE(entry.SetFromWideName(u"b.png", 5, 7, 200));
    EXPECT_EQ(entry.wTypeId, 47);
    EXPECT_EQ(entry.ullFirstCluster, 7u);
    EXPECT_EQ(entry.ullEntrySector, 200u);

    CTypedFileEntryList list;
    AddTypedFileEntry(list, "a.txt", 5, 3, 10);
    AddTypedFileEntry(list, "a.zip", 5, 3, 10);
    AppendTypedFileEntry(list, entry);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].wTypeId, 68);
    EXPECT_EQ(list[1].wTypeId, 47);
}

TEST(TypedFileEntryTest, MatchesCountWhereTheCandidatePutsTheData)
{
    // A candidate whose cluster 0 is its first sector (the NTFS numbering): cluster 10 of a
    // partition at sector 63 with 8 sectors per cluster starts at sector 143.
    CRawFileInfoContainer carved;
    AddCarved(carved, 143, 33); // JPEG
    AddCarved(carved, 151, 47); // PNG
    CSearchedPartitionInfo candidate;
    candidate.m_ullStartSector = 63;
    candidate.m_ullSectorCount = 1000;
    candidate.m_bySectorsPerCluster = 8;

    CTypedFileEntryList list;
    AddTypedFileEntry(list, "early.jpg", 9, 10, 10);    // seen before the candidate: skipped
    AddTypedFileEntry(list, "photo.JPG", 9, 10, 70);    // counts
    AddTypedFileEntry(list, "other.jpg", 9, 11, 71);    // a PNG was carved there: no
    AddTypedFileEntry(list, "image.png", 9, 11, 72);    // counts
    AddTypedFileEntry(list, "lost.jpg", 9, 200, 73);    // data past the candidate: no
    AddTypedFileEntry(list, "far.jpg", 7, 10, 1063);    // first entry past the end stops the walk
    AddTypedFileEntry(list, "back.jpg", 8, 10, 80);     // would match, but is after the stop
    candidate.m_ullRawFileMatches = 5;
    CountRawFileMatches(list, &carved, &candidate);
    EXPECT_EQ(candidate.m_ullRawFileMatches, 7u);

    // Nothing to compare with: the counter is left alone.
    CountRawFileMatches(list, nullptr, &candidate);
    EXPECT_EQ(candidate.m_ullRawFileMatches, 7u);
}

TEST(TypedFileEntryTest, FatClustersCountFromTheSectorOfClusterTwo)
{
    // FAT partition at 63, cluster 2 at sector 63 + 32 reserved + 2 FATs of 100 = 295:
    // cluster 10 holds sector 295 + 8 * 8 = 359.
    CFATSearchedPartitionInfo fat;
    fat.m_ullStartSector = 63;
    fat.m_ullSectorCount = 4096;
    fat.m_bySectorsPerCluster = 8;
    fat.m_ullEvidenceSector = 295;
    CRawFileInfoContainer carved;
    AddCarved(carved, 359, 33);
    AddCarved(carved, 143, 33); // where cluster 10 would be in the NTFS numbering
    CTypedFileEntryList list;
    AddTypedFileEntry(list, "photo.jpg", 9, 10, 400);
    AddTypedFileEntry(list, "zero.jpg", 8, 0, 401);   // clusters 0 and 1 hold no data
    AddTypedFileEntry(list, "one.jpg", 7, 1, 402);
    AddTypedFileEntry(list, "huge.jpg", 8, (1ull << 62), 403); // would wrap: no data sector
    CountRawFileMatches(list, &carved, &fat);
    EXPECT_EQ(fat.m_ullRawFileMatches, 1u);

    uint64_t ullSector = 0;
    EXPECT_TRUE(CandidateClusterSector(fat, 2, &ullSector));
    EXPECT_EQ(ullSector, 295u);
    EXPECT_FALSE(CandidateClusterSector(fat, 1, &ullSector));
}
