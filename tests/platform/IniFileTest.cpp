#include "IniFile.h"

#include "ScopedEnv.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

void WriteText(const std::string& strPath, const std::string& strText)
{
    rvdtest::WriteFileBytes(strPath, std::vector<uint8_t>(strText.begin(), strText.end()));
}

TEST(IniFile, LooksUpLikeGetPrivateProfileString)
{
    rvdtest::CTempDir dir;
    const std::string strPath = dir.File("config.ini");
    WriteText(strPath,
              "\xEF\xBB\xBF"
              "; debugging overrides\r\n"
              "top=ignored, before any section\r\n"
              "[Main]\r\n"
              "  Pos = 20000  \r\n"
              "pos=30000\r\n"
              "quoted=\"  padded  \"\r\n"
              "single='x'\r\n"
              "mismatched=\"abc'\r\n"
              "empty=\r\n"
              "comment=20000 ; not a comment\r\n"
              "# a comment line\r\n"
              "no assignment here\r\n"
              "[ other ]\n"
              "pos=1\n"
              "[main]\n"
              "late=in a repeated section\n"
              "[unterminated\n"
              "k=v");
    rvd::CIniFile ini;
    ASSERT_TRUE(ini.Load(strPath));

    const struct {
        const char* pszSection;
        const char* pszKey;
        bool bFound;
        const char* pszValue;
    } kCases[] = {
        {"main", "pos", true, "20000"},         // case-insensitive, first match wins
        {"MAIN", "POS", true, "20000"},
        {" main ", " pos ", true, "20000"},
        {"main", "quoted", true, "  padded  "},
        {"main", "single", true, "x"},
        {"main", "mismatched", true, "\"abc'"},
        {"main", "empty", true, ""},
        {"main", "comment", true, "20000 ; not a comment"},
        {"main", "late", false, ""},           // only the first [main] is searched
        {"main", "top", false, ""},
        {"main", "no assignment here", false, ""},
        {"other", "pos", true, "1"},
        {"unterminated", "k", true, "v"},
        {"missing", "pos", false, ""},
        {"main", "missing", false, ""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.pszSection) + "/" + c.pszKey);
        std::string strValue = "untouched";
        EXPECT_EQ(ini.GetString(c.pszSection, c.pszKey, strValue), c.bFound);
        EXPECT_EQ(strValue, c.bFound ? c.pszValue : "untouched");
    }
    EXPECT_TRUE(ini.HasSection("OTHER"));
    EXPECT_FALSE(ini.HasSection("absent"));
}

TEST(IniFile, MissingOrUnreadableFilesFail)
{
    rvdtest::CTempDir dir;
    rvd::CIniFile ini;
    EXPECT_FALSE(ini.Load(dir.File("absent.ini")));
    EXPECT_FALSE(ini.Load(dir.Path()));  // a folder is not an ini file
    std::string strValue;
    EXPECT_FALSE(rvd::CIniFile::ReadString(dir.File("absent.ini"), "main", "pos", strValue));

    WriteText(dir.File("empty.ini"), "");
    EXPECT_TRUE(ini.Load(dir.File("empty.ini")));
    EXPECT_FALSE(ini.GetString("main", "pos", strValue));
}

TEST(IniFile, DebugConfigIsNamedByTheEnvironmentAndReadAfresh)
{
    rvdtest::CTempDir dir;
    const std::string strPath = dir.File("config.ini");
    std::string strValue;
    {
        rvdtest::CScopedEnv env("RAVENDO_DEBUG_CONFIG", nullptr);
        EXPECT_EQ(rvd::GetDebugConfigPath(), "");
        EXPECT_FALSE(rvd::ReadDebugConfigString("main", "pos", strValue));
    }
    rvdtest::CScopedEnv env("RAVENDO_DEBUG_CONFIG", strPath);
    EXPECT_EQ(rvd::GetDebugConfigPath(), strPath);
    EXPECT_FALSE(rvd::ReadDebugConfigString("main", "pos", strValue));  // not there yet

    WriteText(strPath, "[main]\npos=20000\n");
    ASSERT_TRUE(rvd::ReadDebugConfigString("main", "pos", strValue));
    EXPECT_EQ(strValue, "20000");

    WriteText(strPath, "[main]\npos=8192\n");
    ASSERT_TRUE(rvd::ReadDebugConfigString("main", "pos", strValue));
    EXPECT_EQ(strValue, "8192");
}

} // namespace
