// Sample files of the archive, document, audio and video, web page, font, drawing and media
// formats, laid into a raw image by the fixture script, come back from the carving with their
// exact bytes and in the folder of their type; a user-defined type is recognised by its script.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "CarvingTestSupport.h"
#include "CustomFileAnalyser.h"
#include "Delvar.h"
#include "DataRunList.h"
#include "EngineSettings.h"
#include "FileNode.h"
#include "FileSystemNode.h"
#include "FileTypeId.h"
#include "GlobalAdvanceSettingData.h"
#include "RAWSearchController.h"
#include "RAWTreeBuilder.h"
#include "RawFileInfo.h"
#include "SearchStatistics.h"
#include "SharedModule.h"
#include "StorageDeviceWithCache.h"
#include "TestSupport.h"

namespace {

struct FORMAT_SAMPLE {
    uint64_t ullSector = 0;
    uint64_t ullSize = 0;
    std::string strSha256;
    int32_t nType = 0;
    std::string strCheck;  // exact | prefix | hit
    std::string strName;
};

std::vector<FORMAT_SAMPLE> ReadFormatSamples()
{
    std::ifstream in(rvdtest::FixturePath("carving-formats.samples"));
    std::vector<FORMAT_SAMPLE> samples;
    std::string strLine;
    while (std::getline(in, strLine)) {
        if (strLine.empty() || strLine[0] == '#')
            continue;
        std::istringstream fields(strLine);
        FORMAT_SAMPLE s;
        if (fields >> s.ullSector >> s.ullSize >> s.strSha256 >> s.nType >> s.strCheck >> s.strName)
            samples.push_back(s);
    }
    return samples;
}

// Every built-in type and one user-defined number selected, the built-in size limit; and a
// script in the folder beside the program that describes the sample of the user-defined type.
class CFormatCarvingSetup {
public:
    CFormatCarvingSetup()
    {
        GetEngineSettings()->m_vecRawTypes.push_back(1000);
        std::filesystem::create_directories(CustomFileAnalyser::GetScriptFolder());
        m_strScript = CustomFileAnalyser::GetScriptFolder() + "/rvd-carving-formats-test.fhs";
        std::ofstream(m_strScript, std::ios::binary) << "REMARK: sample type of the carving test\r\n"
                                                        "FILEINFO: EXTNAME=\"rvdtest\"\r\n"
                                                        "FILESIGN: OFFSET=0x0 TYPE=CHAR VALUE=\"RVDCUSTOM\"\r\n"
                                                        "FILESIGN: OFFSET=0x9 TYPE=BYTE VALUE=0x31";
    }
    ~CFormatCarvingSetup()
    {
        std::error_code error;
        std::filesystem::remove(m_strScript, error);
    }

private:
    CCarvingSettings m_Settings{CCarvingSettings::BuiltInTypes()};
    std::string m_strScript;
};

} // namespace

TEST(CarvingFormats, EverySampleComesBackWithItsBytesInItsTypeFolder)
{
    CFormatCarvingSetup setup;
    const std::vector<FORMAT_SAMPLE> samples = ReadFormatSamples();
    ASSERT_GE(samples.size(), 60u);
    const std::vector<uint8_t> image = rvdtest::ReadFileBytes(rvdtest::FixturePath("carving-formats.img"));
    // 8192 sectors per read: every length is measured on the device by the tree; 16: most are
    // measured in the ring during the scan, and those the ring cuts short again by the tree.
    // Through the read-ahead cache (2048), only the sectors its test marks are looked at; the
    // user-defined type is left out there, so that the lead and key bytes of the built-in
    // analysers alone decide which sectors are marked.
    for (int32_t nSectorsPerRead : {8192, 16, 2048}) {
        SCOPED_TRACE(nSectorsPerRead);
        const bool bThroughCache = nSectorsPerRead == 2048;
        if (bThroughCache)
            GetEngineSettings()->m_vecRawTypes.pop_back();
        CCarvingMemoryDevice device(image);
        CStorageDeviceWithCache cache(&device);
        cache.SetCacheSize(static_cast<uint32_t>(nSectorsPerRead));
        CRawFileInfoContainer container;
        SEARCH_STATISTICS statistics = {};
        CRAWSearchController controller;
        controller.SetRawFileInfoContainer(&container);
        controller.SetStorageDevice(bThroughCache ? static_cast<IStorageDevice*>(&cache) : &device);
        controller.SetSectorsPerRead(nSectorsPerRead);
        controller.BeginSearch();
        const uint64_t ullTotal = device.GetTotalSectors();
        if (bThroughCache) {
            ASSERT_TRUE(cache.StartPrefetch(0));
        }
        for (uint64_t s = 0; s < ullTotal; s += nSectorsPerRead) {
            if (bThroughCache) {
                ASSERT_EQ(cache.LoadBlock(s / nSectorsPerRead), 1);
                ASSERT_NE(cache.PeekSectorMarks(s, nSectorsPerRead), nullptr);
            }
            controller.SearchSectors(s, std::min<uint64_t>(nSectorsPerRead, ullTotal - s), &statistics);
        }
        controller.EndSearch();
        cache.StopPrefetch();
        CRAWTreeBuilder builder;
        CFileSystemNode* pRoot = builder.BuildTree(&device, container.GetIterator(), nullptr, 0);
        ASSERT_NE(pRoot, nullptr);
        std::map<uint64_t, CARVED_FILE> carved;
        for (const CARVED_FILE& file : CarvedFiles(pRoot))
            if (file.ullStart != ~0ull)
                carved[file.ullStart] = file;

        for (const FORMAT_SAMPLE& s : samples) {
            SCOPED_TRACE(s.strName);
            if (s.strCheck == "hit" && bThroughCache)
                continue;
            if (s.strCheck == "hit") {
                // User-defined types have no length: the hit stands in the container only.
                const CRawFileInfo* pHit = container.FindByStartSector(s.ullSector);
                ASSERT_NE(pHit, nullptr);
                EXPECT_GE(pHit->GetType(), FILE_TYPE_USER_FIRST);
                EXPECT_EQ(GetUserFileTypeExtension(pHit->GetType()), "RVDTEST");
                continue;
            }
            auto it = carved.find(s.ullSector);
            ASSERT_NE(it, carved.end()) << "not carved";
            const CARVED_FILE& c = it->second;
            EXPECT_EQ(c.strFolder, g_szFileTypeDesc[s.nType]);
            const std::string strExt = std::string(".") + g_szFileTypeExt[s.nType];
            ASSERT_GE(c.strName.size(), strExt.size());
            EXPECT_EQ(c.strName.substr(c.strName.size() - strExt.size()), strExt);
            if (s.strCheck == "prefix") {
                EXPECT_EQ(c.ullSize, 50000000u);
            } else {
                EXPECT_EQ(c.ullSize, s.ullSize);
            }
            ASSERT_LE(s.ullSector * 512 + s.ullSize, image.size());
            EXPECT_EQ(rvdtest::Sha256Hex(image.data() + s.ullSector * 512, s.ullSize), s.strSha256);
        }
        DeleteFileTree(pRoot);
    }
}
