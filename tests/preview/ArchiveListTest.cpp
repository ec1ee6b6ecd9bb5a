// The archive listing: hand-built RAR 4 archives (intact and damaged) and ZIP archives made with
// minizip's writer, listed into a tree as the preview shows them.
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <string>
#include <vector>
#include <zip.h>
#include <zlib.h>

#include "CompressList.h"
#include "TestSupport.h"
#include "UIRoutines.h"

namespace {

const uint32_t kDosTime = (32u << 25) | (5u << 21) | (7u << 16) | (9u << 11) | (5u << 5) | 2u; // 2012-05-07 09:05:04

void Put16(std::vector<uint8_t>& v, uint32_t x)
{
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x)
{
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}

// One RAR 4 block: the header CRC is the low 16 bits of the CRC-32 of the header after it.
void AddBlock(std::vector<uint8_t>& out, const std::vector<uint8_t>& body)
{
    const uint32_t nCrc = crc32(0, body.data(), static_cast<uInt>(body.size())) & 0xFFFF;
    Put16(out, nCrc);
    out.insert(out.end(), body.begin(), body.end());
}

void AddStoredFile(std::vector<uint8_t>& out, const std::string& strName, const std::string& strData)
{
    std::vector<uint8_t> h;
    h.push_back(0x74);
    Put16(h, 0x8000);
    Put16(h, static_cast<uint32_t>(32 + strName.size()));
    Put32(h, static_cast<uint32_t>(strData.size()));
    Put32(h, static_cast<uint32_t>(strData.size()));
    h.push_back(2); // host: Windows
    Put32(h, crc32(0, reinterpret_cast<const Bytef*>(strData.data()), static_cast<uInt>(strData.size())));
    Put32(h, kDosTime);
    h.push_back(29);
    h.push_back(0x30); // stored
    Put16(h, static_cast<uint32_t>(strName.size()));
    Put32(h, 0x20);
    h.insert(h.end(), strName.begin(), strName.end());
    AddBlock(out, h);
    out.insert(out.end(), strData.begin(), strData.end());
}

std::vector<uint8_t> RarStart()
{
    std::vector<uint8_t> out = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
    AddBlock(out, {0x73, 0x00, 0x00, 13, 0, 0, 0, 0, 0, 0, 0});
    return out;
}

void RarEnd(std::vector<uint8_t>& out) { AddBlock(out, {0x7B, 0x00, 0x40, 7, 0}); }

struct Listing {
    bool bResult = false;
    std::vector<std::vector<QString>> rows;
};

Listing List(const std::string& strPath, int nTimes = 1)
{
    QTreeWidget tree;
    tree.setColumnCount(3);
    CCompressList list;
    list.SetFileInfo(QString::fromStdString(strPath), "archive");
    list.SetTreeWidget(&tree);
    Listing result;
    for (int i = 0; i < nTimes; ++i)
        result.bResult = list.ListFiles();
    EXPECT_EQ(list.GetResult(), result.bResult);
    for (int i = 0; i < tree.topLevelItemCount(); ++i) {
        QTreeWidgetItem* p = tree.topLevelItem(i);
        result.rows.push_back({p->text(0), p->text(1), p->text(2)});
        EXPECT_FALSE(p->icon(0).isNull());
    }
    return result;
}

TEST(ArchiveList, DosTimeText)
{
    char sz[32];
    CCompressList::DosTimeToText(kDosTime, sz);
    EXPECT_STREQ(sz, "2012-05-07 09:05:04");
    CCompressList::DosTimeToText(0, sz);
    EXPECT_STREQ(sz, "1980-00-00 00:00:00");
}

TEST(ArchiveList, RarEntriesAndDamage)
{
    rvdtest::CTempDir dir;
    std::vector<uint8_t> rar = RarStart();
    AddStoredFile(rar, "notes.txt", "hello, world");
    AddStoredFile(rar, "photo.jpg", std::string(3000, 'j'));
    RarEnd(rar);
    rvdtest::WriteFileBytes(dir.File("ok.rar"), rar);
    Listing ok = List(dir.File("ok.rar"), 2);
    EXPECT_TRUE(ok.bResult);
    ASSERT_EQ(ok.rows.size(), 2u) << "listing twice shows the second listing only";
    EXPECT_EQ(ok.rows[0][0], QString("notes.txt"));
    EXPECT_EQ(ok.rows[0][1], FormatSizeText(12));
    EXPECT_EQ(ok.rows[0][2], QString("2012-05-07 09:05:04"));
    EXPECT_EQ(ok.rows[1][0], QString("photo.jpg"));
    EXPECT_EQ(ok.rows[1][1], FormatSizeText(3000));

    // The second file header's CRC is broken: the first entry is still listed.
    std::vector<uint8_t> damaged = RarStart();
    AddStoredFile(damaged, "notes.txt", "hello, world");
    const size_t nSecond = damaged.size();
    AddStoredFile(damaged, "photo.jpg", std::string(3000, 'j'));
    damaged[nSecond] ^= 0xFF;
    rvdtest::WriteFileBytes(dir.File("damaged.rar"), damaged);
    Listing part = List(dir.File("damaged.rar"));
    EXPECT_TRUE(part.bResult);
    ASSERT_EQ(part.rows.size(), 1u);
    EXPECT_EQ(part.rows[0][0], QString("notes.txt"));

    // Only the signature and a cut main header: a RAR archive with no entries.
    std::vector<uint8_t> cut = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00, 0x11, 0x22, 0x73};
    rvdtest::WriteFileBytes(dir.File("cut.rar"), cut);
    Listing none = List(dir.File("cut.rar"));
    EXPECT_TRUE(none.bResult);
    EXPECT_TRUE(none.rows.empty());
}

void WriteZip(const std::string& strPath, const std::vector<std::pair<std::string, std::string>>& entries)
{
    zipFile hZip = zipOpen64(strPath.c_str(), APPEND_STATUS_CREATE);
    ASSERT_NE(hZip, nullptr);
    for (const auto& entry : entries) {
        zip_fileinfo info = {};
        info.tmz_date.tm_year = 2012;
        info.tmz_date.tm_mon = 4; // May, counted from 0
        info.tmz_date.tm_mday = 7;
        info.tmz_date.tm_hour = 9;
        info.tmz_date.tm_min = 5;
        info.tmz_date.tm_sec = 4;
        ASSERT_EQ(zipOpenNewFileInZip64(hZip, entry.first.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                        Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0),
                  ZIP_OK);
        ASSERT_EQ(zipWriteInFileInZip(hZip, entry.second.data(), static_cast<unsigned>(entry.second.size())), ZIP_OK);
        ASSERT_EQ(zipCloseFileInZip(hZip), ZIP_OK);
    }
    ASSERT_EQ(zipClose(hZip, nullptr), ZIP_OK);
}

TEST(ArchiveList, ZipEntriesLongNamesAndNonArchives)
{
    rvdtest::CTempDir dir;
    const std::string strLong = std::string(300, 'n');
    WriteZip(dir.File("a.zip"), {{"docs/report.doc", std::string(5000, 'r')}, {strLong, "x"}});
    Listing zip = List(dir.File("a.zip"));
    EXPECT_TRUE(zip.bResult);
    ASSERT_EQ(zip.rows.size(), 2u);
    EXPECT_EQ(zip.rows[0][0], QString("docs/report.doc"));
    EXPECT_EQ(zip.rows[0][1], FormatSizeText(5000));
    EXPECT_EQ(zip.rows[0][2], QString("2012/05/07 09:05:04"));
    EXPECT_EQ(zip.rows[1][0], QString::fromStdString(strLong.substr(0, CCompressList::kZipNameSize)));

    WriteZip(dir.File("one.zip"), {{"only.txt", "1"}});
    EXPECT_EQ(List(dir.File("one.zip")).rows.size(), 1u);

    WriteZip(dir.File("empty.zip"), {});
    Listing empty = List(dir.File("empty.zip"));
    EXPECT_FALSE(empty.bResult);
    EXPECT_TRUE(empty.rows.empty());

    rvdtest::WriteFileBytes(dir.File("plain.txt"), std::vector<uint8_t>(100, 'p'));
    Listing plain = List(dir.File("plain.txt"));
    EXPECT_FALSE(plain.bResult);
    EXPECT_TRUE(plain.rows.empty());
}

} // namespace
