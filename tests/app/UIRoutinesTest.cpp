#include <QMimeDatabase>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>

#include "TestSupport.h"
#include "UIRoutines.h"

namespace {

struct SIZE_CASE {
    uint64_t qwBytes;
    const char* pszText;
};

TEST(UIRoutinesTest, FormatSizeTextPicksTheUnitAndTwoDecimals)
{
    const uint64_t MB = 1ULL << 20, GB = 1ULL << 30, TB = 1ULL << 40;
    const SIZE_CASE aCases[] = {
        {0, "0.00 KB"},
        {1, "0.00 KB"},
        {100, "0.10 KB"},          // no bytes unit
        {1023, "1.00 KB"},
        {1536, "1.50 KB"},
        {MB - 1, "1024.00 KB"},     // rounding does not move a value up a unit
        {MB, "1.00 MB"},
        {MB + MB / 4, "1.25 MB"},
        {GB - 1, "1024.00 MB"},
        {GB, "1.00 GB"},
        {5 * GB / 2, "2.50 GB"},
        {TB, "1.00 TB"},
        {1536 * GB, "1.50 TB"},
        {UINT64_MAX, "16777216.00 TB"},
    };
    for (const SIZE_CASE& c : aCases)
        EXPECT_EQ(FormatSizeText(c.qwBytes), QString(c.pszText)) << c.qwBytes;
}

TEST(UIRoutinesTest, FileSystemNames)
{
    const std::pair<int, const char*> aCases[] = {
        {0, "FAT12"}, {1, "FAT16"}, {2, "FAT32"}, {3, "NTFS"},    {4, "EXT2"},
        {5, "EXT3"},  {6, "Unallocated"},         {7, ""},        {-1, ""},
        {1000, ""},
    };
    for (const auto& c : aCases)
        EXPECT_EQ(GetFileSystemName(c.first), QString(c.second)) << c.first;
}

struct DATE_CASE {
    WORD wYear, wMonth, wDay;
    const char16_t* pszText;
};

TEST(UIRoutinesTest, FormatDateTextWritesYearMonthDayWithoutLeadingZeros)
{
    const DATE_CASE aCases[] = {
        {2013, 3, 5, u"2013/3/5"},
        {1601, 1, 1, u"1601/1/1"},
        {2024, 12, 31, u"2024/12/31"},
        {0, 0, 0, u"0/0/0"},
        {65535, 65535, 65535, u"65535/65535/65535"},  // the longest text fits DATE_TEXT_SIZE
    };
    for (const DATE_CASE& c : aCases) {
        SYSTEMTIME st{};
        st.wYear = c.wYear;
        st.wMonth = c.wMonth;
        st.wDay = c.wDay;
        st.wHour = 23;
        WCHAR szBuffer[DATE_TEXT_SIZE + 1];
        szBuffer[DATE_TEXT_SIZE] = u'#';
        EXPECT_EQ(FormatDateText(st, szBuffer), szBuffer);
        EXPECT_EQ(std::u16string(szBuffer), std::u16string(c.pszText));
        EXPECT_EQ(szBuffer[DATE_TEXT_SIZE], u'#') << "wrote past the buffer";
    }
    EXPECT_EQ(FormatDateText(SYSTEMTIME{}, nullptr), nullptr);
}

void SetTimeZone(const char* pszZone)
{
    setenv("TZ", pszZone, 1);
    tzset();
}

TEST(UIRoutinesTest, MSecsToSystemTimeGivesLocalFieldsWithoutWeekdayOrMillis)
{
    SetTimeZone("UTC0");
    SYSTEMTIME st = MSecsToSystemTime(1362441600123LL);  // 2013-03-05 00:00:00.123 UTC, a Tuesday
    EXPECT_EQ(st.wYear, 2013);
    EXPECT_EQ(st.wMonth, 3);
    EXPECT_EQ(st.wDay, 5);
    EXPECT_EQ(st.wHour, 0);
    EXPECT_EQ(st.wDayOfWeek, 0);
    EXPECT_EQ(st.wMilliseconds, 0);

    st = MSecsToSystemTime(-1);
    EXPECT_EQ(st.wYear, 1969);
    EXPECT_EQ(st.wMonth, 12);
    EXPECT_EQ(st.wDay, 31);
    EXPECT_EQ(st.wHour, 23);
    EXPECT_EQ(st.wMinute, 59);
    EXPECT_EQ(st.wSecond, 59);

    SetTimeZone("JST-9");
    st = MSecsToSystemTime(0);
    EXPECT_EQ(st.wYear, 1970);
    EXPECT_EQ(st.wDay, 1);
    EXPECT_EQ(st.wHour, 9);

    // Before 1601 the fields cannot hold the moment: all zeros, never a wrapped year.
    SetTimeZone("UTC0");
    st = MSecsToSystemTime(-12000000000000LL * 1000);
    EXPECT_EQ(st.wYear, 0);
    EXPECT_EQ(st.wMonth, 0);
    EXPECT_EQ(st.wDay, 0);
}

TEST(UIRoutinesTest, GetModuleDirectoryIsTheRunningProgramsFolder)
{
    const std::string strExpected =
        std::filesystem::canonical(rvdtest::OutputDir()).string() + "/";
    char szBuffer[520];
    ASSERT_TRUE(GetModuleDirectory(szBuffer, sizeof(szBuffer)));
    EXPECT_EQ(std::string(szBuffer), strExpected);

    const int nExact = static_cast<int>(strExpected.size()) + 1;
    EXPECT_TRUE(GetModuleDirectory(szBuffer, nExact));
    EXPECT_FALSE(GetModuleDirectory(szBuffer, nExact - 1));
    EXPECT_FALSE(GetModuleDirectory(szBuffer, 1));
    EXPECT_FALSE(GetModuleDirectory(szBuffer, 0));
    EXPECT_FALSE(GetModuleDirectory(szBuffer, -5));
    EXPECT_FALSE(GetModuleDirectory(nullptr, 520));
}

TEST(UIRoutinesTest, GetFileIconAndTypeFromTheMimeDatabase)
{
    QMimeDatabase db;
    for (const char* pszName : {"report.pdf", ".txt", "IMG_0001.JPG", "notes.txt"}) {
        char szType[FILE_TYPE_NAME_SIZE];
        std::memset(szType, 'x', sizeof(szType));
        const QIcon icon = GetFileIconAndType(pszName, szType);
        EXPECT_FALSE(icon.isNull()) << pszName;
        EXPECT_LT(std::strlen(szType), sizeof(szType)) << pszName;
        EXPECT_GT(std::strlen(szType), 0u) << pszName;
        EXPECT_EQ(QString::fromUtf8(szType),
                  db.mimeTypeForFile(pszName, QMimeDatabase::MatchExtension).comment())
            << pszName;
    }
    // Known types are told apart; an unknown extension still gets the generic icon and name.
    char szPdf[FILE_TYPE_NAME_SIZE], szText[FILE_TYPE_NAME_SIZE], szUnknown[FILE_TYPE_NAME_SIZE];
    GetFileIconAndType("a.pdf", szPdf);
    GetFileIconAndType("a.txt", szText);
    const QIcon iconUnknown = GetFileIconAndType(".zqxjv", szUnknown);
    EXPECT_STRNE(szPdf, szText);
    EXPECT_FALSE(iconUnknown.isNull());
    EXPECT_EQ(QString::fromUtf8(szUnknown), db.mimeTypeForName("application/octet-stream").comment());
    EXPECT_GT(std::strlen(szUnknown), 0u);

    EXPECT_FALSE(GetFileIconAndType("photo.png", nullptr).isNull());
}

} // namespace
