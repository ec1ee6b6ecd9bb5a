#include <gtest/gtest.h>

#include <QFile>

#include "Pubic.h"
#include "SingletonProbe.h"

TEST(SettingsSingleton, RecordStartsWithTheDefaults)
{
    // A fresh record and the singleton's record, which nothing in this program has written.
    CGlobalAdvanceSettingData fresh;
    for (const CGlobalAdvanceSettingData* pData : {&fresh, &CPubic::GetGlobalAdvanceSettingData()}) {
        EXPECT_EQ(pData->m_nFileSystemType, 0);
        EXPECT_EQ(pData->m_bScanRaw, 0);
        EXPECT_EQ(pData->m_nDiskFullScan, 1);
        EXPECT_EQ(pData->m_llRawFileSize, 50000000);
        EXPECT_EQ(pData->m_nPartitionMaxlimit, 4);
        EXPECT_EQ(pData->m_nBadSectorIgnore, 1);
        ASSERT_EQ(pData->m_vecRawTypes.size(), 72u);
        for (size_t i = 0; i < pData->m_vecRawTypes.size(); ++i)
            EXPECT_EQ(pData->m_vecRawTypes[i], static_cast<int32_t>(i + 1));
    }
}

TEST(SettingsSingleton, SameObjectsFromTwoLibraries)
{
    CPubic& pub = CPubic::Instance();
    EXPECT_EQ(ProbeInstance(), static_cast<const void*>(&pub));
    EXPECT_EQ(ProbeIniParser(), static_cast<const void*>(&CPubic::GetIniParser()));
    EXPECT_EQ(ProbeScanTypeFilter(), static_cast<const void*>(&CPubic::GetScanTypeFilter()));
    EXPECT_EQ(ProbeGlobalAdvanceSettingData(),
              static_cast<const void*>(&CPubic::GetGlobalAdvanceSettingData()));

    // The GUI reads the members straight from the singleton; they are the accessors' objects.
    ASSERT_NE(pub.m_pParser, nullptr);
    ASSERT_NE(pub.m_pTypeFilter, nullptr);
    ASSERT_NE(pub.m_pSettings, nullptr);
    EXPECT_EQ(pub.m_pParser, &CPubic::GetIniParser());
    EXPECT_EQ(pub.m_pTypeFilter, &CPubic::GetScanTypeFilter());
    EXPECT_EQ(pub.m_pSettings, &CPubic::GetGlobalAdvanceSettingData());

    // A write through one library is what the other reads.
    CPubic::GetScanTypeFilter().SaveTypeInfo(".jpg");
    EXPECT_EQ(static_cast<const CFileTypeStore*>(ProbeScanTypeFilter())->m_strTypes, ".jpg");
    CPubic::GetScanTypeFilter().EmptyTypeInfo();
}

TEST(SettingsSingleton, LoadsWithoutUIConfigInTheCurrentFolder)
{
    if (QFile::exists(QStringLiteral("UIConfig.ini")))
        GTEST_SKIP() << "a UIConfig.ini lies in the test's working folder";
    CConfigParser& parser = CPubic::GetIniParser();
    EXPECT_TRUE(parser.GetImagePath(QStringLiteral("Logo")).isEmpty());
    EXPECT_TRUE(parser.GetText(QStringLiteral("Title"), QStringLiteral("Text")).isEmpty());
    EXPECT_TRUE(parser.GetErrorMsg(265, 10).isEmpty());
}
