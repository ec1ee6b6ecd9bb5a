#include "Veskel.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> ReadLines(const std::string& strPath)
{
    std::vector<std::string> vecLines;
    std::ifstream file(strPath);
    for (std::string strLine; std::getline(file, strLine);)
        vecLines.push_back(strLine);
    return vecLines;
}

// The text of a line after its "date time [thread] LEVEL " prefix; empty when the prefix is wrong.
std::string TextOf(const std::string& strLine, const char* pszLevel)
{
    static const std::regex kPrefix(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\d+\] (INFO |TRACE|DEBUG) )");
    std::smatch match;
    if (!std::regex_search(strLine, match, kPrefix) || match[1] != pszLevel)
        return std::string();
    return match.suffix();
}

// Points the log at a file of a temporary folder for one test.
class Veskel : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_strPath = m_dir.File("RVDLog.log");
        setenv("RAVENDO_LOG_FILE", m_strPath.c_str(), 1);
    }
    void TearDown() override
    {
        CloseLog();
        unsetenv("RAVENDO_LOG_FILE");
    }
    rvdtest::CTempDir m_dir;
    std::string m_strPath;
};

TEST_F(Veskel, LinesFromManyThreadsArriveWholeAndInOrder)
{
    ASSERT_EQ(InitLog("", 2, 0), 1);
    constexpr int kThreads = 8;
    constexpr int kLines = 500;
    std::vector<std::thread> vecThreads;
    for (int t = 0; t < kThreads; ++t) {
        vecThreads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                const int64_t i64Sector = (int64_t{1} << 40) + i;
                if (i % 2)
                    LogInfo("thread %d line %d sector = %" PRId64 "\r\n", t, i, i64Sector);
                else
                    DebugTrace("thread %d line %d sector = %" PRId64, t, i, i64Sector);
            }
        });
    }
    for (std::thread& thread : vecThreads)
        thread.join();

    const std::vector<std::string> vecLines = ReadLines(m_strPath);
    ASSERT_EQ(vecLines.size(), static_cast<size_t>(kThreads * kLines));
    std::vector<int> vecNext(kThreads, 0);
    for (const std::string& strLine : vecLines) {
        int t = -1, i = -1;
        long long llSector = 0;
        const bool bInfo = strLine.find(" INFO ") != std::string::npos;
        const std::string strText = TextOf(strLine, bInfo ? "INFO " : "DEBUG");
        ASSERT_EQ(std::sscanf(strText.c_str(), "thread %d line %d sector = %lld", &t, &i, &llSector), 3)
            << strLine;
        ASSERT_TRUE(t >= 0 && t < kThreads);
        EXPECT_EQ(i, vecNext[t]++);
        EXPECT_EQ(bInfo, i % 2 == 1);
        EXPECT_EQ(llSector, (1LL << 40) + i);
        EXPECT_EQ(strText.find('\r'), std::string::npos);
    }
}

TEST_F(Veskel, LevelLongLinesAndAppending)
{
    ASSERT_EQ(InitLog("", 0, 0), 1);
    LogInfo("first");
    ReleaseTrace("release trace dropped at level 0");
    DebugTrace("debug trace dropped at level 0");
    ASSERT_EQ(InitLog("", 1, 0), 1);
    ReleaseTrace("Error msg:%d", 87);
    DebugTrace("debug trace dropped at level 1");
    const std::string strLong(5000, 'x');
    LogInfo("%s|end", strLong.c_str());
    LogInfo("%s", "");

    const std::vector<std::string> vecLines = ReadLines(m_strPath);
    ASSERT_EQ(vecLines.size(), 4u);
    EXPECT_EQ(TextOf(vecLines[0], "INFO "), "first");
    EXPECT_EQ(TextOf(vecLines[1], "TRACE"), "Error msg:87");
    EXPECT_EQ(TextOf(vecLines[2], "INFO "), strLong + "|end");
    EXPECT_NE(vecLines[3].find(" INFO "), std::string::npos);
}

TEST_F(Veskel, InitLogPathIsUsedWithoutTheOverride)
{
    unsetenv("RAVENDO_LOG_FILE");
    const std::string strPath = m_dir.File("chosen.log");
    ASSERT_EQ(InitLog(strPath.c_str(), 2, 0), 1);
    LogInfo("Install - %s", "/opt/ravendo/");
    CloseLog();
    const std::vector<std::string> vecLines = ReadLines(strPath);
    ASSERT_EQ(vecLines.size(), 1u);
    EXPECT_EQ(TextOf(vecLines[0], "INFO "), "Install - /opt/ravendo/");

    // A folder that does not exist loses the lines without harm.
    EXPECT_EQ(InitLog(m_dir.File("no/such/folder/RVDLog.log").c_str(), 2, 0), 0);
    LogInfo("lost");
}

} // namespace
