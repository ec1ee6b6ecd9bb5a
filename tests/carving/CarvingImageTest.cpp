// Sample images of every image format, laid into a raw image by the fixture script, come back
// from the carving with their exact bytes, in the type folders of the "Raw Files" tree.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "CarvingTestSupport.h"
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
#include "TestSupport.h"

namespace {

struct SAMPLE {
    uint64_t ullStart;
    uint64_t ullSize;
    std::string strSha256;
    std::string strExt;
    std::string strName;
};

std::vector<SAMPLE> ReadSamples()
{
    std::ifstream in(rvdtest::FixturePath("carving.samples"));
    std::vector<SAMPLE> samples;
    std::string strLine;
    while (std::getline(in, strLine)) {
        std::istringstream fields(strLine);
        SAMPLE s;
        if (fields >> s.ullStart >> s.ullSize >> s.strSha256 >> s.strExt >> s.strName)
            samples.push_back(s);
    }
    return samples;
}

// Runs the carving the way the engine's block scan does: runs of nSectorsPerRead from sector 0.
CFileSystemNode* Carve(CCarvingMemoryDevice& device, int32_t nSectorsPerRead, CRawFileInfoContainer& container,
                       SEARCH_STATISTICS& statistics)
{
    ScanBlocks(device, nSectorsPerRead, container, statistics);
    CRAWTreeBuilder builder;
    return builder.BuildTree(&device, container.GetIterator(), nullptr, 0);
}

} // namespace

TEST(CarvingImages, EverySampleComesBackWithItsBytes)
{
    CCarvingSettings settings(CCarvingSettings::BuiltInTypes());
    const std::vector<SAMPLE> samples = ReadSamples();
    ASSERT_GE(samples.size(), 15u);
    const std::vector<uint8_t> image = rvdtest::ReadFileBytes(rvdtest::FixturePath("carving.img"));
    // 8192 sectors per read: nothing is measured during the scan (the ring never fills), the tree
    // measures on the device. 16 and 100: the ring fills, hits are measured in it, and the long
    // files that the ring cuts short are measured again by the tree.
    for (int32_t nSectorsPerRead : {8192, 16, 100}) {
        SCOPED_TRACE(nSectorsPerRead);
        CCarvingMemoryDevice device(image);
        CRawFileInfoContainer container;
        SEARCH_STATISTICS statistics = {};
        CFileSystemNode* pRoot = Carve(device, nSectorsPerRead, container, statistics);
        ASSERT_NE(pRoot, nullptr);
        EXPECT_STREQ(pRoot->GetProperties()->GetName(), "Raw Files");
        EXPECT_EQ(pRoot->GetFileSystemKind(), 6);
        EXPECT_EQ(statistics.TotalFilesFound, container.GetCount());

        const std::vector<CARVED_FILE> carved = CarvedFiles(pRoot);
        std::map<uint64_t, CARVED_FILE> byStart;
        for (const CARVED_FILE& c : carved)
            byStart[c.ullStart] = c;
        for (const SAMPLE& s : samples) {
            SCOPED_TRACE(s.strName);
            auto it = byStart.find(s.ullStart);
            ASSERT_NE(it, byStart.end()) << "not carved";
            const CARVED_FILE& c = it->second;
            ASSERT_EQ(c.ullSize, s.ullSize);
            ASSERT_LE(s.ullStart * 512 + c.ullSize, image.size());
            EXPECT_EQ(rvdtest::Sha256Hex(image.data() + s.ullStart * 512, c.ullSize), s.strSha256);
            const FILE_TYPE_ID nType = FindFileTypeByExtension(s.strExt.c_str());
            EXPECT_EQ(c.strFolder, g_szFileTypeDesc[nType]);
            EXPECT_EQ(c.strName.substr(c.strName.size() - s.strExt.size()), s.strExt);
        }
        // Nothing but the samples is carved out of the random fill.
        EXPECT_EQ(carved.size(), samples.size());
        DeleteFileTree(pRoot);
    }
}
