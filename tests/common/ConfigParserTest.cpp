#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "ConfigParser.h"
#include "TestSupport.h"

namespace {

const char kIni[] =
    "[Public]\n"
    "ImagePrefix=:/skin/img/\n"
    "IconPrefix=:/skin/ico/\n"
    "\n"
    "[Image]\n"
    "Logo=logo.png\n"
    // The ini format reads an unquoted ";" as the start of a comment: lists are quoted.
    "Scan=\"scan_n.png;scan_d.png;scan_h.png;scan_p.png\"\n"
    "Gap=\"first.png;;third.png\"\n"
    "Blank=\n"
    "\n"
    "[Icon]\n"
    "Disk=disk.ico\n"
    "\n"
    "[Text]\n"
    "Title=Ravendo\n"
    "Empty=\n"
    "Greek=\xce\xb1\xce\xb2\xce\xb3\n"
    "Comma=Disk not found, please retry\n"
    "\n"
    "[ErrorMsg]\n"
    "10=ten in decimal\n"
    "0xa=ten in hexadecimal\n"
    "265=nothing found\n"
    "0x1a=twenty-six\n"
    "\n"
    "[Wizard]\n"
    "Next=Next >\n";

std::string WriteIni(const rvdtest::CTempDir& dir, const char* pszText)
{
    const std::string strPath = dir.File("UIConfig.ini");
    std::ofstream(strPath, std::ios::binary) << pszText;
    return strPath;
}

} // namespace

TEST(ConfigParser, ImageAndIconPathsCarryTheirPrefixes)
{
    rvdtest::CTempDir dir;
    CConfigParser parser(WriteIni(dir, kIni).c_str());

    EXPECT_EQ(parser.GetImagePath("Logo"), ":/skin/img/logo.png");
    EXPECT_EQ(parser.GetIconPath("Disk"), ":/skin/ico/disk.ico");
    // A missing key leaves the bare prefix.
    EXPECT_EQ(parser.GetImagePath("Missing"), ":/skin/img/");
    EXPECT_EQ(parser.GetIconPath("Missing"), ":/skin/ico/");
}

TEST(ConfigParser, ImagePathListsKeepEmptyParts)
{
    rvdtest::CTempDir dir;
    CConfigParser parser(WriteIni(dir, kIni).c_str());

    EXPECT_EQ(parser.GetImagePathList("Scan"),
              QStringList({":/skin/img/scan_n.png", ":/skin/img/scan_d.png", ":/skin/img/scan_h.png",
                           ":/skin/img/scan_p.png"}));
    EXPECT_EQ(parser.GetImagePathList("Gap"),
              QStringList({":/skin/img/first.png", ":/skin/img/", ":/skin/img/third.png"}));
    // No value: one empty text, without the prefix.
    EXPECT_EQ(parser.GetImagePathList("Missing"), QStringList(QString()));
    EXPECT_EQ(parser.GetImagePathList("Blank"), QStringList(QString()));
}

TEST(ConfigParser, TextsByKeyAndGroup)
{
    rvdtest::CTempDir dir;
    CConfigParser parser(WriteIni(dir, kIni).c_str());

    EXPECT_EQ(parser.GetText("Next", "Wizard"), "Next >");
    EXPECT_EQ(parser.GetText("Title", "Text"), "Ravendo");
    EXPECT_EQ(parser.GetText("Greek", "Text"), QString::fromUtf8("\xce\xb1\xce\xb2\xce\xb3"));
    EXPECT_EQ(parser.GetText("Comma", "Text"), "Disk not found, please retry");
    EXPECT_TRUE(parser.GetText("Missing", "Wizard").isEmpty());
    EXPECT_TRUE(parser.GetText("Next", "MissingGroup").isEmpty());
}

TEST(ConfigParser, ErrorMessagesByCodeAndBase)
{
    rvdtest::CTempDir dir;
    CConfigParser parser(WriteIni(dir, kIni).c_str());

    EXPECT_EQ(parser.GetErrorMsg(10, 16), "ten in hexadecimal");
    EXPECT_EQ(parser.GetErrorMsg(10, 10), "ten in decimal");
    EXPECT_EQ(parser.GetErrorMsg(265, 10), "nothing found");
    EXPECT_EQ(parser.GetErrorMsg(26, 16), "twenty-six");
    EXPECT_TRUE(parser.GetErrorMsg(265, 16).isEmpty());
    EXPECT_TRUE(parser.GetErrorMsg(0xFFFFFFFFu, 10).isEmpty());
    // Bases no number can be written in give no key, not a hang or a crash.
    EXPECT_TRUE(parser.GetErrorMsg(10, 0).isEmpty());
    EXPECT_TRUE(parser.GetErrorMsg(10, 1).isEmpty());
    EXPECT_TRUE(parser.GetErrorMsg(10, 37).isEmpty());
}

TEST(ConfigParser, CharTextCopiesIntoTheCallersBuffer)
{
    rvdtest::CTempDir dir;
    CConfigParser parser(WriteIni(dir, kIni).c_str());

    char szBuffer[64];
    std::memset(szBuffer, 'x', sizeof(szBuffer));
    const char* pszText = parser.GetCharText("Title", szBuffer);
    EXPECT_EQ(pszText, szBuffer);
    EXPECT_STREQ(pszText, "Ravendo");

    // An empty or missing value gives an empty string that is not the buffer, which stays as it was.
    std::memset(szBuffer, 'x', sizeof(szBuffer));
    for (const char* pszKey : {"Empty", "Missing"}) {
        pszText = parser.GetCharText(pszKey, szBuffer);
        ASSERT_NE(pszText, nullptr);
        EXPECT_NE(pszText, szBuffer);
        EXPECT_STREQ(pszText, "");
        EXPECT_EQ(szBuffer[0], 'x');
    }

    EXPECT_EQ(parser.GetCharText("Title", nullptr, 64), nullptr);

    // A short buffer takes what fits, ended by a zero, and never half a UTF-8 character:
    // "αβγ" is six bytes of two-byte characters.
    char szSmall[6];
    std::memset(szSmall, 'x', sizeof(szSmall));
    EXPECT_STREQ(parser.GetCharText("Greek", szSmall, 4), "\xce\xb1");
    EXPECT_EQ(szSmall[3], 'x');
    EXPECT_STREQ(parser.GetCharText("Greek", szSmall, 5), "\xce\xb1\xce\xb2");
    EXPECT_STREQ(parser.GetCharText("Title", szSmall), "Raven");
}

TEST(ConfigParser, MissingFileGivesEmptyTexts)
{
    rvdtest::CTempDir dir;
    CConfigParser parser(dir.File("UIConfig.ini").c_str());

    EXPECT_TRUE(parser.GetImagePath("Logo").isEmpty());
    EXPECT_TRUE(parser.GetIconPath("Disk").isEmpty());
    EXPECT_EQ(parser.GetImagePathList("Scan"), QStringList(QString()));
    EXPECT_TRUE(parser.GetText("Title", "Text").isEmpty());
    EXPECT_TRUE(parser.GetErrorMsg(10, 16).isEmpty());
    char szBuffer[8] = "keep";
    EXPECT_STREQ(parser.GetCharText("Title", szBuffer), "");
    EXPECT_STREQ(szBuffer, "keep");
}

TEST(ConfigParser, CopiesOutliveTheOriginal)
{
    rvdtest::CTempDir dir;
    const std::string strPath = WriteIni(dir, kIni);
    CConfigParser* pOriginal = new CConfigParser(strPath.c_str());
    CConfigParser copy(*pOriginal);
    CConfigParser assigned(dir.File("absent.ini").c_str());
    assigned = *pOriginal;
    delete pOriginal;

    for (const CConfigParser* pParser : {&copy, &assigned}) {
        EXPECT_EQ(pParser->GetImagePath("Logo"), ":/skin/img/logo.png");
        EXPECT_EQ(pParser->GetErrorMsg(26, 16), "twenty-six");
    }
}
