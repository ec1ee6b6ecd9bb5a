// Shared by the EXT2/EXT3 reader tests: a fixture image in memory as a storage device (so a test
// can damage bytes of it), the fixture list, a tree flattened by path, and the bytes a file's runs
// give back.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "FileNode.h"
#include "FileProperties.h"
#include "IStorageDevice.h"
#include "TestSupport.h"
#include "ext2/Ext2FileSystem.h"
#include "ext2/Ext2Inode.h"

namespace ext2reader {

// The single-file-system EXT images of the fixture script.
const char* const kExtImages[] = {"ext2-1k-128.img", "ext2-1k-256.img", "ext2-4k-128.img", "ext2-4k-256.img",
                                  "ext3-1k-128.img", "ext3-1k-256.img", "ext3-4k-128.img", "ext3-4k-256.img"};

// An image held in memory: reads outside it, above the engine's 8192-sector limit, or over a
// range marked bad fail (and leave 0xEE, so the reader's own zero-filling shows).
class CImageDevice : public IStorageDevice {
public:
    explicit CImageDevice(std::vector<uint8_t> data) : m_Data(std::move(data)) {}

    int ReadSectors(void* pBuffer, uint64_t u64Start, uint64_t u64Count) override
    {
        ++m_nReads;
        const uint64_t nTotal = m_Data.size() / 512;
        bool bOk = u64Count <= 8192 && u64Start <= nTotal && u64Count <= nTotal - u64Start;
        for (const auto& bad : m_Bad)
            if (u64Start < bad.first + bad.second && bad.first < u64Start + u64Count)
                bOk = false;
        if (!bOk) {
            if (u64Count <= 8192)
                memset(pBuffer, 0xEE, u64Count * 512);
            return 0;
        }
        memcpy(pBuffer, m_Data.data() + u64Start * 512, u64Count * 512);
        return 1;
    }
    uint64_t GetTotalSectors() override { return m_Data.size() / 512; }
    int GetSectorSize() override { return 512; }
    int Open() override { return 1; }
    int Close() override { return 1; }
    int CanReadConcurrently() override { return m_bConcurrent ? 1 : 0; }

    std::vector<uint8_t>& Bytes() { return m_Data; }
    void FailSectors(uint64_t u64First, uint64_t u64Count) { m_Bad.emplace_back(u64First, u64Count); }

    std::atomic<int> m_nReads{0};
    // Says the device may be read from two threads at once, as a disk may.
    bool m_bConcurrent = false;

private:
    std::vector<uint8_t> m_Data;
    std::vector<std::pair<uint64_t, uint64_t>> m_Bad;
};

inline std::vector<uint8_t> ReadImage(const std::string& strImage)
{
    return rvdtest::ReadFileBytes(rvdtest::FixturePath(strImage));
}

// Byte offset in a file-system image of inode nInode's record (the layer locates it).
inline uint64_t InodeOffset(std::vector<uint8_t> image, uint32_t nInode)
{
    CImageDevice device(std::move(image));
    CExt2FileSystem fs(&device, 2);
    uint64_t nBlock = 0;
    uint32_t nOffset = 0;
    EXPECT_TRUE(fs.LocateInode(nInode, &nBlock, &nOffset));
    return nBlock * fs.GetBlockSize() + nOffset;
}

// Byte offset of a file-system block, and the first block of an inode (its first direct pointer).
inline uint64_t FirstBlockOffset(const std::vector<uint8_t>& image, uint32_t nInode)
{
    const uint64_t nRecord = InodeOffset(image, nInode);
    const uint32_t nBlockSize = 1024u << ext2::GetLe32(image.data() + 1024 + ext2::kSbLogBlockSize);
    return static_cast<uint64_t>(ext2::GetLe32(image.data() + nRecord + ext2::kInBlocks)) * nBlockSize;
}

// The nodes of a tree below its root, by their '/'-joined names ("Documents/Letters").
inline std::map<std::string, CFileNode*> TreeByPath(CFileNode* pRoot)
{
    std::map<std::string, CFileNode*> nodes;
    std::vector<std::pair<CFileNode*, std::string>> stack;
    for (CFileNode* p = pRoot->GetFirstChild(); p != nullptr; p = p->GetNextSibling())
        stack.emplace_back(p, "");
    while (!stack.empty()) {
        auto [pNode, strParent] = stack.back();
        stack.pop_back();
        const std::string strPath =
            (strParent.empty() ? "" : strParent + "/") + pNode->GetProperties()->GetName();
        EXPECT_EQ(0u, nodes.count(strPath)) << "two nodes named " << strPath;
        nodes[strPath] = pNode;
        for (CFileNode* p = pNode->GetFirstChild(); p != nullptr; p = p->GetNextSibling())
            stack.emplace_back(p, strPath);
    }
    return nodes;
}

// The bytes that runs of nBlockSize-byte blocks give back from an image whose file system starts
// at byte nBase: the runs in order, cut to nSize. Fewer bytes when the runs fall short.
inline std::vector<uint8_t> ReadRuns(const std::vector<uint8_t>& image, uint64_t nBase, uint64_t nBlockSize,
                                     const std::vector<std::pair<uint64_t, uint64_t>>& runs, uint64_t nSize)
{
    std::vector<uint8_t> data;
    for (const auto& run : runs) {
        for (uint64_t i = 0; i < run.second && data.size() < nSize; ++i) {
            const uint64_t nOffset = nBase + (run.first + i) * nBlockSize;
            if (nOffset + nBlockSize > image.size())
                return data;
            data.insert(data.end(), image.begin() + nOffset, image.begin() + nOffset + nBlockSize);
        }
    }
    if (data.size() > nSize)
        data.resize(nSize);
    return data;
}

inline std::vector<std::pair<uint64_t, uint64_t>> RunsOf(IFileProperties* pProperties)
{
    std::vector<std::pair<uint64_t, uint64_t>> runs;
    if (IDataRunList* pList = pProperties->GetDataRunList()) {
        for (size_t i = 0; i < pList->GetRunCount(); ++i)
            runs.emplace_back(pList->GetRun(i).ullStart, pList->GetRun(i).ullLength);
        delete pList;
    }
    return runs;
}

// The manifest path without its leading '/', names decoded.
inline std::string JoinedNames(const rvdtest::ManifestEntry& entry)
{
    std::string strPath;
    for (const std::string& strName : entry.vecNames)
        strPath += (strPath.empty() ? "" : "/") + strName;
    return strPath;
}

} // namespace ext2reader
