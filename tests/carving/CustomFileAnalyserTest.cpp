// User-defined file types: the script checks, loading a folder of scripts, and the type numbers
// that hits receive.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "AnalyserTestSupport.h"
#include "CustomFileAnalyser.h"
#include "ScriptProcess.h"

namespace {

// A folder of scripts that lives as long as the object.
class CScriptFolder {
public:
    CScriptFolder()
    {
        char szTemplate[] = "/tmp/rvd-custom-XXXXXX";
        m_strPath = mkdtemp(szTemplate);
    }
    ~CScriptFolder()
    {
        std::error_code error;
        std::filesystem::remove_all(m_strPath, error);
    }
    std::string Write(const std::string& strName, const std::string& strText) const
    {
        const std::string strFile = m_strPath + "/" + strName;
        std::ofstream(strFile, std::ios::binary) << strText;
        return strFile;
    }
    const std::string& Path() const { return m_strPath; }

private:
    std::string m_strPath;
};

bool ScriptIsValid(const std::string& strText, std::string* pstrReason = nullptr)
{
    CScriptFolder folder;
    CScriptProcess script;
    return script.Open(folder.Write("t.fhs", strText)) && script.IsValid(pstrReason);
}

const std::string INFO = "FILEINFO: EXTNAME=\"ABC\"\r\n";

} // namespace

TEST(CustomFileTypes, ScriptChecks)
{
    struct CASE {
        std::string strText;
        bool bValid;
    } cases[] = {
        {"REMARK: my type\r\n" + INFO + "FILESIGN: OFFSET=0x0 TYPE=BYTE VALUE=0x41,0x42,0x43\r\n"
         "FILESIGN: OFFSET=0x8 TYPE=CHAR VALUE=\"XYZ\"", true},
        {INFO + "FILESIGN: OFFSET=0x1F0 TYPE=BYTE VALUE=0x01", true},
        {INFO + "FILESIGN: OFFSET=0x1F1 TYPE=BYTE VALUE=0x01", false},
        {INFO + "FILESIGN: OFFSET=0x0 TYPE=BYTE VALUE=0x01,", false},
        {INFO + "FILESIGN: OFFSET=0x0 TYPE=CHAR VALUE=\"ABCDEFGHIJKLMNOP\"", true},
        {INFO + "FILESIGN: OFFSET=0x0 TYPE=CHAR VALUE=\"ABCDEFGHIJKLMNOPQ\"", false},
        {INFO + "FILESIGN: OFFSET=16 TYPE=BYTE VALUE=0x01", false},
        {INFO + "FILESIGN: OFFSET=\"0x0\" TYPE=BYTE VALUE=0x01", false},
        {INFO + "FILESIGN: OFFSET=0x0 TYPE=byte VALUE=0x1,0xff,0X0A", true},
        {INFO + "FILESIGN: OFFSET=0x0 TYPE=BYTE VALUE=0x100", false},
        {INFO + "FILESIGN: OFFSET=0x0 TYPE=BYTE VALUE=0x01,0x0FF", false},  // last item over 4 characters
        {INFO + "FILESIGN: OFFSET = 0x0  TYPE=\tBYTE VALUE=0x01", true},
        {INFO + "FILESIGN: TYPE=BYTE VALUE=0x01", false},
        {INFO + "FILESIGN: OFFSET=0x0 TYPE=WORD VALUE=0x01", false},
        {INFO, false},                      // the empty line after the last line break
        {INFO + "\r\nREMARK: x", false},    // an empty line
        {"  remark: lower-case keyword\t\r\n" + INFO + "REMARK:x", true},
        {INFO + "NOTE: unknown keyword", false},
        {INFO + "no colon", false},
        {"FILEINFO: EXTNAME=\"ABCDEFGHIJKLMNOP\"", true},
        {"FILEINFO: EXTNAME=\"ABCDEFGHIJKLMNOPQ\"", false},
        {"FILEINFO: EXTNAME=\"\"", false},
        {"FILEINFO: EXTNAME=ABC", false},
        {"FILEINFO: EXTNAME=\"A/B\"", false},
        // A script must name its extension.
        {"REMARK: nothing\r\nFILESIGN: OFFSET=0x0 TYPE=CHAR VALUE=\"X\"", false},
    };
    for (const CASE& c : cases)
        EXPECT_EQ(ScriptIsValid(c.strText), c.bValid) << c.strText;
}

TEST(CustomFileTypes, ScriptLengthLimit)
{
    const std::string strHead = "FILEINFO: EXTNAME=\"ABC\"\r\nREMARK:";
    std::string strReason;
    EXPECT_TRUE(ScriptIsValid(strHead + std::string(1024 - strHead.size(), 'x')));
    EXPECT_FALSE(ScriptIsValid(strHead + std::string(1025 - strHead.size(), 'x'), &strReason));
    EXPECT_NE(strReason.find("1024"), std::string::npos);
}

TEST(CustomFileTypes, NumbersAreParsedAsHexOnly)
{
    uint32_t dwValue = 0;
    EXPECT_TRUE(CScriptProcess::ParseNumber("0x1F0", &dwValue));
    EXPECT_EQ(dwValue, 0x1F0u);
    EXPECT_TRUE(CScriptProcess::ParseNumber("0XffffFFFF", &dwValue));
    EXPECT_EQ(dwValue, 0xFFFFFFFFu);
    for (const char* psz : {"0x", "16", "0x123456789", "0xG", "x10", " 0x1"})
        EXPECT_FALSE(CScriptProcess::ParseNumber(psz, &dwValue)) << psz;
}

TEST(CustomFileTypes, FolderLoadsValidScriptsAndMatchesSignatures)
{
    CScriptFolder folder;
    folder.Write("a-first.fhs", "FILEINfo: EXTNAME=\"abcdefghijklmnop\"\r\n"
                                "FILESIGN: OFFSET=0x0 TYPE=BYTE VALUE=0x52,0x56\r\n"
                                "FILESIGN: OFFSET=0x1F0 TYPE=CHAR VALUE=\"tail\"");
    folder.Write("b-broken.fhs", "FILEINFO: EXTNAME=\"BAD\"\r\n");
    folder.Write("c-nosign.FHS", "FILEINFO: EXTNAME=\"NOSIGN\"");
    folder.Write("d-other.txt", "FILEINFO: EXTNAME=\"TXT\"\r\nFILESIGN: OFFSET=0x0 TYPE=CHAR VALUE=\"RV\"");
    folder.Write("e-same.fhs", "FILEINFO: EXTNAME=\"ABCDEFGHIJKLMNOP\"\r\nFILESIGN: OFFSET=0x0 TYPE=CHAR VALUE=\"ZZ\"");
    folder.Write("f-empty.fhs", "FILEINFO: EXTNAME=\"EMPTYSIG\"\r\nFILESIGN: OFFSET=0x4 TYPE=CHAR VALUE=\"\"");

    CustomFileAnalyser analyser(folder.Path());
    EXPECT_EQ(analyser.m_nFileType, -1);
    EXPECT_EQ(analyser.GetHeaders().GetCount(), 4u);  // the broken script and the .txt are left out

    CBytes sector;
    sector.Text(0, "RV").Text(0x1F0, "tail").Grow(512);
    CRawFileInfo info;
    ASSERT_TRUE(analyser.AnalyzeFileHeader(sector.Get().data(), &info));
    const int32_t nType = info.GetType();
    EXPECT_GE(nType, 1000);
    EXPECT_LE(nType, 1999);
    // The full 16-character name is kept for the number.
    EXPECT_EQ(GetUserFileTypeExtension(nType), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(info.GetSize(), 0u);

    // Another script with the same name in other letter case shares the number.
    CBytes other;
    other.Text(0, "ZZ").Grow(512);
    CRawFileInfo otherInfo;
    ASSERT_TRUE(analyser.AnalyzeFileHeader(other.Get().data(), &otherInfo));
    EXPECT_EQ(otherInfo.GetType(), nType);

    // An empty CHAR signature matches every sector; a type without signatures matches none.
    CBytes anything;
    anything.Text(0, "QQ").Grow(512);
    CRawFileInfo anyInfo;
    ASSERT_TRUE(analyser.AnalyzeFileHeader(anything.Get().data(), &anyInfo));
    EXPECT_EQ(GetUserFileTypeExtension(anyInfo.GetType()), "EMPTYSIG");

    // Types have no length rule.
    CCarvingMemoryDevice device(sector.Get());
    EXPECT_FALSE(analyser.AnalyzeFileSize(&info, &device));
    EXPECT_EQ(info.GetSize(), 0u);

    // Numbers stay with their extension for the life of the process.
    CustomFileAnalyser again(folder.Path());
    CRawFileInfo againInfo;
    ASSERT_TRUE(again.AnalyzeFileHeader(sector.Get().data(), &againInfo));
    EXPECT_EQ(againInfo.GetType(), nType);
    EXPECT_EQ(AssignUserFileType("abcdefghijklmnop"), nType);
}

TEST(CustomFileTypes, MissingFolderLoadsNothing)
{
    CCustomHeaderManage headers;
    EXPECT_FALSE(headers.LoadFolder("/nonexistent/rvd/CustomFileScript"));
    EXPECT_EQ(headers.GetCount(), 0u);
    CustomFileAnalyser analyser("/nonexistent/rvd/CustomFileScript");
    CBytes sector(512);
    CRawFileInfo info;
    EXPECT_FALSE(analyser.AnalyzeFileHeader(sector.Get().data(), &info));
}
