// The EXT2/EXT3 layer against the fixture images (EXT2 and EXT3, 1 KiB and 4 KiB blocks, 128-
// and 256-byte inodes) and images made here with mke2fs, compared with what dumpe2fs and debugfs
// say of the same bytes; then damaged superblocks, descriptor tables, directories, block pointers
// and devices, made by changing bytes of a good image in memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#define GC_THREADS
#define GC_NO_THREAD_REDIRECTS
#include <gc.h>

#include "Pubic.h"
#include "ScopedEnv.h"
#include "TestSupport.h"
#include "Time.h"
#include "ext2/Ext2BlockIterator.h"
#include "ext2/Ext2DirIterator.h"
#include "ext2/Ext2FileSystem.h"
#include "ext2/Ext2Inode.h"
#include "ext2/Ext2InodeEnumerator.h"
#include "ext2/Ext2Volume.h"

namespace {

using ext2::GetLe16;
using ext2::GetLe32;
using ext2::SetLe16;
using ext2::SetLe32;

// A disk image in memory. A failed read leaves 0xEE in the buffer, so that the layer's own
// zero-filling shows; reads above 8192 sectors fail as they do on the engine's devices.
class CMemoryDevice : public IStorageDevice {
public:
    explicit CMemoryDevice(std::vector<uint8_t> data) : m_Data(std::move(data)), m_nTotal(m_Data.size() / 512) {}

    int ReadSectors(void* pBuffer, uint64_t u64Start, uint64_t u64Count) override
    {
        ++m_nReads;
        if (std::this_thread::get_id() != m_Owner)
            ++m_nReadsElsewhere;
        {
            std::lock_guard<std::mutex> guard(m_StartsLock);
            m_Starts.push_back(u64Start);
        }
        for (uint64_t nLargest = m_nLargestRead; nLargest < u64Count;)
            if (m_nLargestRead.compare_exchange_weak(nLargest, u64Count))
                break;
        if (u64Count > 8192 || u64Start > m_nTotal || u64Count > m_nTotal - u64Start)
            return Fail(pBuffer, u64Count);
        for (const auto& bad : m_Bad)
            if (u64Start < bad.first + bad.second && bad.first < u64Start + u64Count)
                return Fail(pBuffer, u64Count);
        memcpy(pBuffer, m_Data.data() + u64Start * 512, u64Count * 512);
        return 1;
    }
    uint64_t GetTotalSectors() override { return m_nTotal; }
    int GetSectorSize() override { return 512; }
    int Open() override { return 1; }
    int Close() override { return 1; }
    int CanReadConcurrently() override { return m_bConcurrent ? 1 : 0; }

    std::vector<uint8_t>& Bytes() { return m_Data; }
    uint8_t* At(uint64_t nByte) { return m_Data.data() + nByte; }
    void FailSectors(uint64_t u64First, uint64_t u64Count) { m_Bad.emplace_back(u64First, u64Count); }
    void SetTotalSectors(uint64_t n) { m_nTotal = n; }

    // Counted from every thread that reads (see m_bConcurrent).
    std::atomic<int> m_nReads{0};
    std::atomic<uint64_t> m_nLargestRead{0};
    // Reads made on a thread other than the one that made the device.
    std::atomic<int> m_nReadsElsewhere{0};
    const std::thread::id m_Owner = std::this_thread::get_id();
    // The first sector of every read, in the order made.
    std::mutex m_StartsLock;
    std::vector<uint64_t> m_Starts;
    // Says the device may be read from two threads at once, as a disk may.
    bool m_bConcurrent = false;

private:
    int Fail(void* pBuffer, uint64_t u64Count)
    {
        if (u64Count <= 8192)
            memset(pBuffer, 0xEE, u64Count * 512);
        return 0;
    }

    std::vector<uint8_t> m_Data;
    uint64_t m_nTotal;
    std::vector<std::pair<uint64_t, uint64_t>> m_Bad;
};

std::string RunTool(const std::string& strCommand)
{
    std::string strOut;
    FILE* p = popen(strCommand.c_str(), "r");
    if (!p)
        throw std::runtime_error("cannot run " + strCommand);
    char ach[65536];
    size_t n;
    while ((n = fread(ach, 1, sizeof(ach), p)) > 0)
        strOut.append(ach, n);
    if (pclose(p) != 0)
        throw std::runtime_error("failed: " + strCommand);
    return strOut;
}

std::string Quote(const std::string& s)
{
    return "'" + s + "'";
}

// Runs the commands through one debugfs and returns each command's output, in order.
std::vector<std::string> Debugfs(const std::string& strImage, const std::vector<std::string>& vecCommands)
{
    rvdtest::CTempDir dir;
    {
        std::ofstream f(dir.File("cmds"));
        for (const auto& c : vecCommands)
            f << c << "\n";
    }
    const std::string strText =
        RunTool("DEBUGFS_PAGER=__none__ PAGER=__none__ debugfs -f " + Quote(dir.File("cmds")) + " " +
                Quote(strImage) + " 2>/dev/null");
    std::vector<std::string> vecOut;
    size_t nPos = strText.find("debugfs: ");
    while (nPos != std::string::npos) {
        const size_t nBody = strText.find('\n', nPos);
        const size_t nNext = strText.find("debugfs: ", nBody == std::string::npos ? nPos + 1 : nBody);
        if (nBody == std::string::npos)
            vecOut.emplace_back();
        else
            vecOut.push_back(strText.substr(nBody + 1, (nNext == std::string::npos ? strText.size() : nNext) - nBody - 1));
        nPos = nNext;
    }
    if (vecOut.size() != vecCommands.size())
        throw std::runtime_error("debugfs gave " + std::to_string(vecOut.size()) + " answers");
    return vecOut;
}

uint64_t Field(const std::string& strText, const std::string& strPattern, uint64_t nDefault = ~0ull, int nBase = 10)
{
    std::smatch m;
    if (!std::regex_search(strText, m, std::regex(strPattern)))
        return nDefault;
    return std::stoull(m[1].str(), nullptr, nBase);
}

// What debugfs "stat" says of an inode.
struct StatInfo {
    std::string strType;
    uint64_t nSize = 0, nSectors = 0, nCtime = 0, nAtime = 0, nMtime = 0, nDtime = 0;
    std::map<uint64_t, uint64_t> blocks;  // logical -> disk, data blocks only
};

StatInfo ParseStat(const std::string& s)
{
    StatInfo st;
    std::smatch m;
    if (std::regex_search(s, m, std::regex("Type: (\\w+)")))
        st.strType = m[1];
    st.nSize = Field(s, "Size: (\\d+)");
    st.nSectors = Field(s, "Blockcount: (\\d+)");
    st.nCtime = Field(s, "(?:^|\\n) ?ctime: 0x([0-9a-f]+)", 0, 16);
    st.nAtime = Field(s, "(?:^|\\n) ?atime: 0x([0-9a-f]+)", 0, 16);
    st.nMtime = Field(s, "(?:^|\\n) ?mtime: 0x([0-9a-f]+)", 0, 16);
    st.nDtime = Field(s, "(?:^|\\n) ?dtime: 0x([0-9a-f]+)", 0, 16);
    const size_t nBlocks = s.find("BLOCKS:\n");
    if (nBlocks != std::string::npos) {
        const std::string strLine = s.substr(nBlocks + 8, s.find('\n', nBlocks + 8) - nBlocks - 8);
        const std::regex range("\\((\\d+)(?:-(\\d+))?\\):(\\d+)(?:-(\\d+))?");
        for (auto it = std::sregex_iterator(strLine.begin(), strLine.end(), range); it != std::sregex_iterator(); ++it) {
            const uint64_t nFirst = std::stoull((*it)[1]);
            const uint64_t nLast = (*it)[2].matched ? std::stoull((*it)[2]) : nFirst;
            for (uint64_t i = nFirst; i <= nLast; ++i)
                st.blocks[i] = std::stoull((*it)[3]) + (i - nFirst);
        }
    }
    return st;
}

struct LsEntry {
    uint32_t nInode;
    uint32_t nMode;
    std::string strName;
};

// debugfs "ls -p": /inode/mode/uid/gid/name/size/ per live entry.
std::vector<LsEntry> ParseLs(const std::string& s)
{
    std::vector<LsEntry> out;
    size_t nStart = 0;
    while (nStart < s.size()) {
        size_t nEnd = s.find('\n', nStart);
        if (nEnd == std::string::npos)
            nEnd = s.size();
        const std::string strLine = s.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        if (strLine.size() < 2 || strLine[0] != '/')
            continue;
        std::vector<std::string> f;
        size_t p = 1;
        for (int i = 0; i < 4; ++i) {
            const size_t q = strLine.find('/', p);
            f.push_back(strLine.substr(p, q - p));
            p = q + 1;
        }
        // The name runs to the size field: "/<size>/" closes the line.
        const size_t nClose = strLine.rfind('/', strLine.size() - 2);
        out.push_back({static_cast<uint32_t>(std::stoul(f[0])), static_cast<uint32_t>(std::stoul(f[1], nullptr, 8)),
                       strLine.substr(p, nClose - p)});
    }
    return out;
}

struct DumpInfo {
    uint64_t nInodes, nBlocks, nFirstBlock, nBlockSize, nBlocksPerGroup, nInodesPerGroup, nInodeSize, nJournal;
    std::string strLabel;
    std::vector<uint64_t> blockBitmaps, inodeBitmaps, inodeTables;
};

DumpInfo Dumpe2fs(const std::string& strImage)
{
    const std::string s = RunTool("dumpe2fs " + Quote(strImage) + " 2>/dev/null");
    DumpInfo d;
    d.nInodes = Field(s, "\\nInode count:\\s+(\\d+)");
    d.nBlocks = Field(s, "\\nBlock count:\\s+(\\d+)");
    d.nFirstBlock = Field(s, "\\nFirst block:\\s+(\\d+)");
    d.nBlockSize = Field(s, "\\nBlock size:\\s+(\\d+)");
    d.nBlocksPerGroup = Field(s, "\\nBlocks per group:\\s+(\\d+)");
    d.nInodesPerGroup = Field(s, "\\nInodes per group:\\s+(\\d+)");
    d.nInodeSize = Field(s, "\\nInode size:\\s+(\\d+)");
    d.nJournal = Field(s, "\\nJournal inode:\\s+(\\d+)", 0);
    std::smatch m;
    if (std::regex_search(s, m, std::regex("Filesystem volume name:\\s+([^\\n]*)")))
        d.strLabel = m[1] == "<none>" ? "" : m[1].str();
    const std::pair<const char*, std::vector<uint64_t>*> lists[] = {
        {"Block bitmap at (\\d+)", &d.blockBitmaps}, {"Inode bitmap at (\\d+)", &d.inodeBitmaps},
        {"Inode table at (\\d+)", &d.inodeTables}};
    for (const auto& l : lists) {
        const std::regex re(l.first);
        for (auto it = std::sregex_iterator(s.begin(), s.end(), re); it != std::sregex_iterator(); ++it)
            l.second->push_back(std::stoull((*it)[1]));
    }
    return d;
}

const char* const kFixtures[] = {"ext2-1k-128.img", "ext2-1k-256.img", "ext2-4k-128.img", "ext2-4k-256.img",
                                 "ext3-1k-128.img", "ext3-1k-256.img", "ext3-4k-128.img", "ext3-4k-256.img"};

std::unique_ptr<CMemoryDevice> LoadImage(const std::string& strPath)
{
    return std::make_unique<CMemoryDevice>(rvdtest::ReadFileBytes(strPath));
}

// Bytes of a file read through the block iterator: every logical block that its size covers.
std::vector<uint8_t> ReadThroughBlocks(const CExt2Inode& inode, uint64_t nSize)
{
    CExt2BlockIterator it(inode);
    const uint32_t nBlockSize = inode.GetFileSystem()->GetBlockSize();
    std::vector<uint8_t> out;
    for (uint64_t i = 0; i * nBlockSize < nSize; ++i) {
        it.SetIndex(i);
        uint32_t nLength = 0;
        const uint8_t* p = it.GetData(&nLength);
        if (!p)
            out.insert(out.end(), std::min<uint64_t>(nBlockSize, nSize - i * nBlockSize), 0);  // a hole
        else
            out.insert(out.end(), p, p + nLength);
    }
    return out;
}

uint32_t TypeBits(const std::string& strType)
{
    return strType == "directory" ? 0x4000 : strType == "regular" ? 0x8000 : strType == "symlink" ? 0xA000 : 0;
}

// Byte offset in the image of inode nInode's record.
uint64_t InodeByte(const CExt2FileSystem& fs, uint32_t nInode)
{
    uint64_t nBlock = 0;
    uint32_t nOffset = 0;
    EXPECT_TRUE(fs.LocateInode(nInode, &nBlock, &nOffset));
    return fs.GetPartitionStart() * 512 + nBlock * fs.GetBlockSize() + nOffset;
}

class Ext2Fixture : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        m_strImage = rvdtest::FixturePath(GetParam());
        m_pDevice = LoadImage(m_strImage);
        m_pFs = std::make_unique<CExt2FileSystem>(m_pDevice.get(), 2);
        m_Manifest = rvdtest::ReadManifest(GetParam());
    }

    std::string m_strImage;
    std::unique_ptr<CMemoryDevice> m_pDevice;
    std::unique_ptr<CExt2FileSystem> m_pFs;
    std::vector<rvdtest::ManifestEntry> m_Manifest;
};

TEST_P(Ext2Fixture, SuperBlockAndDescriptorsMatchDumpe2fs)
{
    const DumpInfo d = Dumpe2fs(m_strImage);
    const CExt2SuperBlock& sb = m_pFs->GetSuperBlock();
    EXPECT_EQ(sb.GetInodesCount(), d.nInodes);
    EXPECT_EQ(sb.GetBlocksCount(), d.nBlocks);
    EXPECT_EQ(sb.GetFirstDataBlock(), d.nFirstBlock);
    EXPECT_EQ(m_pFs->GetBlockSize(), d.nBlockSize);
    EXPECT_EQ(sb.GetBlocksPerGroup(), d.nBlocksPerGroup);
    EXPECT_EQ(sb.GetInodesPerGroup(), d.nInodesPerGroup);
    EXPECT_EQ(m_pFs->GetInodeSize(), d.nInodeSize);
    EXPECT_EQ(m_pFs->GetFileSystemKind(), d.nJournal ? 5 : 4);
    EXPECT_EQ(m_pFs->GetFileSystemKind(), std::string(GetParam()).rfind("ext3", 0) == 0 ? 5 : 4);
    char szName[17];
    m_pFs->GetVolumeName(szName);
    EXPECT_EQ(std::string(szName), d.strLabel);
    EXPECT_EQ(m_pFs->GetSizeInBytes(), d.nBlocks * d.nBlockSize);
    EXPECT_EQ(m_pFs->GetPartitionStart(), 0u);

    ASSERT_EQ(m_pFs->GetGroupCount(), d.inodeTables.size());
    ASSERT_GE(m_pFs->GetGroupCount(), 2u);
    const CExt2GroupDescTable& t = m_pFs->GetGroupDescTable();
    for (uint32_t g = 0; g < m_pFs->GetGroupCount(); ++g) {
        EXPECT_EQ(t.GetBlockBitmap(g), d.blockBitmaps[g]);
        EXPECT_EQ(t.GetInodeBitmap(g), d.inodeBitmaps[g]);
        EXPECT_EQ(t.GetInodeTable(g), d.inodeTables[g]);
    }
}

// Every inode the manifest names, the root and lost+found, loaded directly and through the
// enumerator, against debugfs stat.
TEST_P(Ext2Fixture, InodesMatchDebugfsStat)
{
    std::vector<uint32_t> vecInodes = {2, 11};
    for (const auto& e : m_Manifest)
        if (e.nId > 0)
            vecInodes.push_back(static_cast<uint32_t>(e.nId));
    std::vector<std::string> vecCmds;
    for (uint32_t n : vecInodes)
        vecCmds.push_back("stat <" + std::to_string(n) + ">");
    const std::vector<std::string> vecStats = Debugfs(m_strImage, vecCmds);

    CExt2InodeEnumerator en(m_pFs.get());
    for (size_t i = 0; i < vecInodes.size(); ++i) {
        SCOPED_TRACE("inode " + std::to_string(vecInodes[i]));
        const StatInfo st = ParseStat(vecStats[i]);
        CExt2Inode inode;
        m_pFs->LoadInode(vecInodes[i], &inode);
        EXPECT_EQ(inode.GetInodeNumber(), vecInodes[i]);
        EXPECT_EQ(inode.GetMode() & 0xF000u, TypeBits(st.strType));
        EXPECT_EQ(inode.IsDirectory(), st.strType == "directory");
        EXPECT_EQ(inode.GetSizeField(), st.nSize);
        EXPECT_EQ(inode.GetAllocatedSectors(), st.nSectors);
        EXPECT_EQ(inode.GetChangeTime(), st.nCtime);
        EXPECT_EQ(inode.GetAccessTime(), st.nAtime);
        EXPECT_EQ(inode.GetModificationTime(), st.nMtime);
        EXPECT_EQ(inode.GetDeletionTime(), st.nDtime);
        EXPECT_EQ(inode.IsDeleted(), st.nDtime != 0);
        EXPECT_EQ(inode.GetGroup(), (vecInodes[i] - 1) / m_pFs->GetSuperBlock().GetInodesPerGroup());
        if (st.nDtime == 0) {
            EXPECT_TRUE(inode.IsUsable());
        }
        if (vecInodes[i] >= en.GetFirst()) {
            CExt2Inode viaTable;
            en.Load(vecInodes[i], &viaTable);
            EXPECT_EQ(0, memcmp(viaTable.GetRawData(), inode.GetRawData(), ext2::kInodeBytes));
        }
    }
    for (const auto& e : m_Manifest) {
        if (e.nId <= 0 || e.bDirectory)
            continue;
        SCOPED_TRACE(e.strPath);
        CExt2Inode inode;
        m_pFs->LoadInode(static_cast<uint32_t>(e.nId), &inode);
        EXPECT_EQ(inode.GetModificationTime(), static_cast<uint64_t>(e.nMtime));
        EXPECT_EQ(inode.IsDeleted(), e.bDeleted);
        if (!e.bDeleted || e.bRecoverable) {
            EXPECT_EQ(inode.GetSize(), e.nSize);
        }
    }
}

// Logical-to-disk mapping of every file against debugfs' block list (direct, single and, for the
// 300000-byte file on 1 KiB blocks, double indirect), and the bytes read through the map
// against the manifest: live files and deleted files whose pointers were left in place.
TEST_P(Ext2Fixture, BlockMapsMatchDebugfsAndReadTheFiles)
{
    std::vector<const rvdtest::ManifestEntry*> files;
    std::vector<std::string> vecCmds;
    for (const auto& e : m_Manifest)
        if (!e.bDirectory && e.nId > 0) {
            files.push_back(&e);
            vecCmds.push_back("stat <" + std::to_string(e.nId) + ">");
        }
    const std::vector<std::string> vecStats = Debugfs(m_strImage, vecCmds);
    bool bSawDouble = false;
    for (size_t i = 0; i < files.size(); ++i) {
        const rvdtest::ManifestEntry& e = *files[i];
        SCOPED_TRACE(e.strPath);
        const StatInfo st = ParseStat(vecStats[i]);
        bSawDouble |= vecStats[i].find("(DIND)") != std::string::npos;
        CExt2Inode inode;
        m_pFs->LoadInode(static_cast<uint32_t>(e.nId), &inode);
        CExt2BlockIterator it(inode);
        EXPECT_EQ(it.GetEnd(), inode.GetBlockCount());
        for (const auto& b : st.blocks) {
            EXPECT_EQ(it.MapBlock(b.first), b.second) << "logical block " << b.first;
        }
        if (e.bDeleted && !e.bRecoverable) {
            // Deleted as the EXT3 driver does it: size, block count and pointers zeroed.
            EXPECT_EQ(inode.GetSize(), 0u);
            EXPECT_EQ(inode.GetBlockCount(), 0u);
            EXPECT_EQ(it.MapBlock(0), 0u);
            continue;
        }
        const std::vector<uint8_t> data = ReadThroughBlocks(inode, e.nSize);
        EXPECT_EQ(data.size(), e.nSize);
        EXPECT_EQ(rvdtest::Sha256Hex(data), e.strSha256);
        EXPECT_FALSE(inode.IsShort());
        // Past the data the map yields holes, never a wild block.
        EXPECT_EQ(it.MapBlock((e.nSize + m_pFs->GetBlockSize() - 1) / m_pFs->GetBlockSize()), 0u);
    }
    if (m_pFs->GetBlockSize() == 1024) {
        EXPECT_TRUE(bSawDouble);
    }
}

// Every live directory walked entry by entry against debugfs ls; names stay UTF-8, and the
// entries of a directory's last block (within 264 bytes of its end) are all there.
TEST_P(Ext2Fixture, DirectoriesMatchDebugfsLs)
{
    std::vector<uint32_t> vecDirs = {2, 11};
    for (const auto& e : m_Manifest)
        if (e.bDirectory && !e.bDeleted)
            vecDirs.push_back(static_cast<uint32_t>(e.nId));
    std::vector<std::string> vecCmds;
    for (uint32_t n : vecDirs)
        vecCmds.push_back("ls -p <" + std::to_string(n) + ">");
    const std::vector<std::string> vecLs = Debugfs(m_strImage, vecCmds);
    size_t nMultiBlock = 0;
    for (size_t i = 0; i < vecDirs.size(); ++i) {
        SCOPED_TRACE("directory inode " + std::to_string(vecDirs[i]));
        const std::vector<LsEntry> expected = ParseLs(vecLs[i]);
        ASSERT_GE(expected.size(), 2u);
        CExt2Inode dir;
        m_pFs->LoadInode(vecDirs[i], &dir);
        ASSERT_TRUE(dir.IsDirectory());
        nMultiBlock += dir.GetSizeField() > m_pFs->GetBlockSize();
        std::vector<LsEntry> walked;
        for (CExt2DirIterator it(dir); !it.IsEnd(); it.Next()) {
            const CExt2DirEntry entry = it.GetEntry();
            ASSERT_TRUE(entry.IsValid());
            CExt2Inode child;
            it.GetInode(&child);
            EXPECT_EQ(child.GetInodeNumber(), entry.GetInodeNumber());
            EXPECT_EQ(entry.IsDirectoryType(), child.IsDirectory());
            walked.push_back({child.GetInodeNumber(), child.GetMode(), std::string(child.GetName(), child.GetNameLength())});
        }
        ASSERT_EQ(walked.size(), expected.size());
        for (size_t k = 0; k < walked.size(); ++k) {
            EXPECT_EQ(walked[k].nInode, expected[k].nInode);
            EXPECT_EQ(walked[k].nMode, expected[k].nMode);
            EXPECT_EQ(walked[k].strName, expected[k].strName);
        }
    }
    // "Many Files" holds 40 names: more than one 1 KiB block.
    if (m_pFs->GetBlockSize() == 1024) {
        EXPECT_GE(nMultiBlock, 1u);
    }
}

// The enumeration runs from inode 11 to the inodes count inclusive, reading each group's inode
// table once.
TEST_P(Ext2Fixture, EnumeratorReadsEachGroupTableOnce)
{
    CExt2InodeEnumerator en(m_pFs.get());
    EXPECT_EQ(en.GetFirst(), 11u);
    EXPECT_EQ(en.GetLast(), m_pFs->GetSuperBlock().GetInodesCount());
    const int nReadsBefore = m_pDevice->m_nReads;
    uint32_t nCount = 0, nLast = 0, nInUse = 0;
    std::vector<std::vector<uint8_t>> raws;
    for (en.Begin(); !en.IsEnd(); en.Next()) {
        CExt2Inode inode;
        en.Load(&inode);
        nLast = en.GetInodeNumber();
        ++nCount;
        nInUse += inode.GetMode() != 0;
        raws.emplace_back(inode.GetRawData(), inode.GetRawData() + ext2::kInodeBytes);
    }
    EXPECT_EQ(m_pDevice->m_nReads - nReadsBefore, static_cast<int>(m_pFs->GetGroupCount()));
    EXPECT_EQ(nLast, m_pFs->GetSuperBlock().GetInodesCount());
    EXPECT_EQ(nCount, nLast - 10);
    EXPECT_GE(nInUse, m_Manifest.size() - 3);
    for (uint32_t n = 11; n <= nLast; n += 37) {
        CExt2Inode inode;
        m_pFs->LoadInode(n, &inode);
        EXPECT_EQ(0, memcmp(inode.GetRawData(), raws[n - 11].data(), ext2::kInodeBytes)) << n;
    }
}

// A backup superblock (group 1) and the table after it open the same file system as the
// primary, whatever the block size.
TEST_P(Ext2Fixture, BackupCopyOpensTheSameFileSystem)
{
    const CExt2SuperBlock& sb = m_pFs->GetSuperBlock();
    const uint64_t nSpb = m_pFs->GetSectorsPerBlock();
    const uint64_t nBackupBlock = sb.GetBlocksPerGroup() + sb.GetFirstDataBlock();
    const uint64_t nSector = nBackupBlock * nSpb;
    const CExt2SuperBlock backup(m_pDevice->At(nSector * 512), 1024);
    EXPECT_EQ(backup.GetBlockGroupNumber(), 1u);
    EXPECT_TRUE(backup.IsValidNormalised());
    EXPECT_EQ(backup.GetPartitionStartFromCopy(nSector), 0);
    CExt2GroupDescTable table;
    ASSERT_TRUE(table.Assign(m_pDevice->At((nBackupBlock + 1) * nSpb * 512),
                             CExt2GroupDescTable::GetSectorCount(m_pFs->GetGroupCount()) * 512, m_pFs->GetGroupCount()));
    CExt2FileSystem fromBackup(m_pDevice.get(), 0, backup, table);
    EXPECT_TRUE(fromBackup.IsSame(*m_pFs));
    EXPECT_EQ(fromBackup.GetSuperBlock().GetBlockGroupNumber(), 0u);
    EXPECT_TRUE(fromBackup.GetGroupDescTable().IsEqual(m_pFs->GetGroupDescTable()));
    CExt2Inode a, b;
    m_pFs->LoadInode(2, &a);
    fromBackup.LoadInode(2, &b);
    EXPECT_EQ(0, memcmp(a.GetRawData(), b.GetRawData(), ext2::kInodeBytes));
}

TEST_P(Ext2Fixture, VolumeRecogniserReportsKindSizeAndLabel)
{
    CExt2Volume volume(m_pDevice.get(), 0);
    EXPECT_EQ(volume.GetFileSystemType(), m_pFs->GetFileSystemKind());
    EXPECT_EQ(volume.GetTotalSectors(), m_pFs->GetSizeInBytes() / 512);
    EXPECT_EQ(volume.GetBytesPerSector(), 512);
    EXPECT_EQ(volume.GetSectorsPerCluster(), 0);
    EXPECT_EQ(volume.GetSectorsPerTrack(), 0);
    char szLabel[100];
    volume.GetVolumeLabel(szLabel, sizeof(szLabel));
    std::string strExpected = GetParam();
    EXPECT_EQ(std::string(szLabel), strExpected.substr(0, strExpected.size() - 4));
}

INSTANTIATE_TEST_SUITE_P(Images, Ext2Fixture, ::testing::ValuesIn(kFixtures),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string s = info.param;
                             s = s.substr(0, s.size() - 4);
                             std::replace(s.begin(), s.end(), '-', '_');
                             return s;
                         });

// File systems inside partitioned disks open at their partition's start.
TEST(Ext2Layer, PartitionedDisksOpenAtTheirStart)
{
    const struct {
        const char* pszImage;
        int nIndex;
    } kCases[] = {{"mbr.img", 2}, {"lost.img", 5}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszImage);
        rvdtest::PartitionEntry part;
        for (const auto& p : rvdtest::ReadPartitions(c.pszImage))
            if (p.nIndex == c.nIndex)
                part = p;
        ASSERT_EQ(part.strFileSystem, "ext2");
        auto pDevice = LoadImage(rvdtest::FixturePath(c.pszImage));
        CExt2Volume volume(pDevice.get(), part.nStart);
        EXPECT_EQ(volume.GetFileSystemType(), 4);
        EXPECT_LE(volume.GetTotalSectors(), part.nCount);
        char szLabel[100];
        volume.GetVolumeLabel(szLabel, sizeof(szLabel));
        EXPECT_EQ(std::string(szLabel), part.strLabel);

        CExt2FileSystem fs(pDevice.get(), part.nStart + 2);
        EXPECT_EQ(fs.GetPartitionStart(), part.nStart);
        const auto manifest = rvdtest::ReadManifest(c.pszImage, c.nIndex);
        const rvdtest::ManifestEntry* pHello = rvdtest::FindManifestEntry(manifest, "/hello.txt");
        ASSERT_NE(pHello, nullptr);
        CExt2Inode inode;
        fs.LoadInode(static_cast<uint32_t>(pHello->nId), &inode);
        EXPECT_EQ(rvdtest::Sha256Hex(ReadThroughBlocks(inode, pHello->nSize)), pHello->strSha256);

        // Another start sector finds nothing.
        CExt2Volume wrong(pDevice.get(), part.nStart + 1);
        EXPECT_EQ(wrong.GetFileSystemType(), 7);
        EXPECT_EQ(wrong.GetTotalSectors(), 0u);
    }
}

// ---------------------------------------------------------------------------------------------
// Images made here
// ---------------------------------------------------------------------------------------------

void RunShell(const std::string& strCommand)
{
    ASSERT_EQ(0, system((strCommand + " >/dev/null 2>&1").c_str())) << strCommand;
}

std::vector<uint8_t> Pattern(const std::string& strSeed, size_t nSize)
{
    std::vector<uint8_t> out(nSize);
    uint32_t x = 2166136261u;
    for (char c : strSeed)
        x = (x ^ static_cast<uint8_t>(c)) * 16777619u;
    for (size_t i = 0; i < nSize; ++i) {
        x = x * 1103515245u + 12345u;
        out[i] = static_cast<uint8_t>((x >> 16) | 1);  // never a zero block, so never a hole
    }
    return out;
}

// Double indirect blocks with 4 KiB blocks (a file past 12 + 1024 blocks), and triple indirect
// ones with 1 KiB blocks (a sparse file with data past block 12 + 256 + 65536).
TEST(Ext2Layer, DoubleAndTripleIndirectBlocks)
{
    rvdtest::CTempDir dir;
    RunShell("mkdir " + Quote(dir.File("big")) + " " + Quote(dir.File("sparse")));
    const std::vector<uint8_t> big = Pattern("big", 1100 * 4096 + 123);
    rvdtest::WriteFileBytes(dir.File("big/big.bin"), big);
    // Data at logical blocks 3, 300 (double), 70000 and 70001 (triple) of 1 KiB; the rest holes.
    std::vector<uint8_t> sparse(70002 * 1024, 0);
    for (uint64_t nBlock : {3, 300, 70000, 70001}) {
        const std::vector<uint8_t> chunk = Pattern("sparse" + std::to_string(nBlock), 1024);
        std::copy(chunk.begin(), chunk.end(), sparse.begin() + nBlock * 1024);
    }
    {
        std::vector<uint8_t> head(sparse.begin(), sparse.begin() + 4 * 1024);
        rvdtest::WriteFileBytes(dir.File("sparse/sparse.bin"), head);
        FILE* f = fopen(dir.File("sparse/sparse.bin").c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        for (uint64_t nBlock : {300, 70000, 70001}) {
            fseek(f, static_cast<long>(nBlock * 1024), SEEK_SET);
            fwrite(sparse.data() + nBlock * 1024, 1, 1024, f);
        }
        fclose(f);
    }
    const struct {
        const char* pszName;
        const char* pszArgs;
        const char* pszFile;
        const std::vector<uint8_t>* pData;
        const char* pszLevel;
    } kCases[] = {{"big.img", "-b 4096 -I 256", "/big.bin", &big, "(DIND)"},
                  {"sparse.img", "-b 1024 -I 128", "/sparse.bin", &sparse, "(TIND)"}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszName);
        const std::string strImage = dir.File(c.pszName);
        const std::string strSource = dir.File(std::string(c.pszName) == "big.img" ? "big" : "sparse");
        RunShell(std::string("mke2fs -q -F -t ext2 ") + c.pszArgs + " -d " + Quote(strSource) + " " + Quote(strImage) + " 8M");
        const std::vector<std::string> out = Debugfs(strImage, {std::string("stat ") + c.pszFile});
        ASSERT_NE(out[0].find(c.pszLevel), std::string::npos) << out[0];
        const StatInfo st = ParseStat(out[0]);
        auto pDevice = LoadImage(strImage);
        CExt2FileSystem fs(pDevice.get(), 2);
        if (c.pData == &big) {
            // mke2fs gives a small file system with 4 KiB blocks one inode per block: as many
            // inodes as blocks is a valid superblock.
            EXPECT_EQ(fs.GetSuperBlock().GetInodesCount(), fs.GetBlocksCount());
        }
        CExt2DirIterator root([&] {
            CExt2Inode r;
            fs.LoadInode(2, &r);
            return r;
        }());
        uint32_t nInode = 0;
        for (; !root.IsEnd(); root.Next()) {
            CExt2Inode child;
            root.GetInode(&child);
            if (std::string(child.GetName()) == c.pszFile + 1)
                nInode = child.GetInodeNumber();
        }
        ASSERT_NE(nInode, 0u);
        CExt2Inode inode;
        fs.LoadInode(nInode, &inode);
        CExt2BlockIterator it(inode);
        for (const auto& b : st.blocks) {
            EXPECT_EQ(it.MapBlock(b.first), b.second) << "logical block " << b.first;
        }
        if (c.pData == &sparse) {
            EXPECT_EQ(it.MapBlock(299), 0u);  // holes
            EXPECT_EQ(it.MapBlock(69999), 0u);
            EXPECT_EQ(it.MapBlock(70002), 0u);
        }
        EXPECT_TRUE(ReadThroughBlocks(inode, c.pData->size()) == *c.pData);
    }
    // The sparse file has far fewer sectors than its size counts blocks: a short inode, walked to
    // its size.
    auto pDevice = LoadImage(dir.File("sparse.img"));
    CExt2FileSystem fs(pDevice.get(), 2);
    CExt2Inode inode;
    fs.LoadInode(12, &inode);
    EXPECT_TRUE(inode.IsShort());
    EXPECT_EQ(inode.GetBlockCount(), 70002u);
}

// Directories packed to their end: the entries that start in the last 264 bytes of a directory
// (where a walk that looked a whole entry's length ahead would ask for a block past the end) are
// all listed.
TEST(Ext2Layer, EntriesAtTheEndOfADirectory)
{
    rvdtest::CTempDir dir;
    size_t nNearEnd = 0;
    for (int nFiles : {13, 14, 29, 30}) {
        SCOPED_TRACE(std::to_string(nFiles) + " files");
        const std::string strSource = dir.File("src" + std::to_string(nFiles));
        RunShell("mkdir " + Quote(strSource));
        // Names of 56 bytes: 64-byte entries.
        for (int i = 0; i < nFiles; ++i) {
            char szName[64];
            snprintf(szName, sizeof(szName), "/file %02d with a name long enough to fill the entry.txt", i);
            rvdtest::WriteFileBytes(strSource + szName, Pattern(szName, 10));
        }
        const std::string strImage = dir.File("full" + std::to_string(nFiles) + ".img");
        RunShell("mke2fs -q -F -t ext2 -b 1024 -d " + Quote(strSource) + " " + Quote(strImage) + " 2M");
        const std::vector<LsEntry> expected = ParseLs(Debugfs(strImage, {"ls -p <2>"})[0]);
        auto pDevice = LoadImage(strImage);
        CExt2FileSystem fs(pDevice.get(), 2);
        CExt2Inode root;
        fs.LoadInode(2, &root);
        std::vector<std::string> names;
        for (CExt2DirIterator it(root); !it.IsEnd(); it.Next()) {
            nNearEnd += it.GetPosition() > 0 && it.GetPosition() + 264 > it.GetEndPosition();
            CExt2Inode child;
            it.GetInode(&child);
            names.push_back(child.GetName());
        }
        ASSERT_EQ(names.size(), expected.size());
        for (size_t k = 0; k < names.size(); ++k)
            EXPECT_EQ(names[k], expected[k].strName);
    }
    EXPECT_GT(nNearEnd, 0u);
}

// A file system of eight 1 KiB-block groups with backups in groups 1, 3, 5 and 7.
class Ext2Groups : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_strImage = m_Dir.File("groups.img");
        RunShell("mke2fs -q -F -t ext2 -b 1024 -g 1024 -N 256 " + Quote(m_strImage) + " 8M");
        m_Dump = Dumpe2fs(m_strImage);
        ASSERT_EQ(m_Dump.inodeTables.size(), 8u);
    }
    // Sector of the descriptor table that follows group g's superblock copy.
    uint64_t TableSector(uint64_t g) const { return (g * 1024 + 2) * 2; }
    void ZeroTable(CMemoryDevice& d, uint64_t g) { memset(d.At(TableSector(g) * 512), 0, 512); }
    void CheckIntact(const CExt2FileSystem& fs)
    {
        ASSERT_EQ(fs.GetGroupCount(), 8u);
        for (uint32_t g = 0; g < 8; ++g)
            EXPECT_EQ(fs.GetGroupDescTable().GetInodeTable(g), m_Dump.inodeTables[g]);
    }

    rvdtest::CTempDir m_Dir;
    std::string m_strImage;
    DumpInfo m_Dump;
};

TEST_F(Ext2Groups, DamagedPrimaryTableFallsBackToABackup)
{
    {
        SCOPED_TRACE("primary table zeroed: group 1's copy, confirmed by group 3's");
        auto pDevice = LoadImage(m_strImage);
        ZeroTable(*pDevice, 0);
        CExt2FileSystem fs(pDevice.get(), 2);
        CheckIntact(fs);
    }
    {
        SCOPED_TRACE("primary and group 1 zeroed: groups 3 and 5");
        auto pDevice = LoadImage(m_strImage);
        ZeroTable(*pDevice, 0);
        ZeroTable(*pDevice, 1);
        CExt2FileSystem fs(pDevice.get(), 2);
        CheckIntact(fs);
    }
    {
        SCOPED_TRACE("primary table unreadable: the backups are still tried");
        auto pDevice = LoadImage(m_strImage);
        pDevice->FailSectors(TableSector(0), 2);
        CExt2FileSystem fs(pDevice.get(), 2);
        CheckIntact(fs);
    }
    {
        SCOPED_TRACE("only group 7's copy left, its superblock copy intact");
        auto pDevice = LoadImage(m_strImage);
        for (uint64_t g : {0, 1, 3, 5})
            ZeroTable(*pDevice, g);
        CExt2FileSystem fs(pDevice.get(), 2);
        CheckIntact(fs);
    }
    {
        SCOPED_TRACE("a backup whose superblock belongs to another file system is skipped");
        auto pDevice = LoadImage(m_strImage);
        ZeroTable(*pDevice, 0);
        pDevice->At((1024 + 1) * 1024 + ext2::kSbUuid)[0] ^= 0xFF;
        CExt2FileSystem fs(pDevice.get(), 2);
        CheckIntact(fs);
    }
    {
        SCOPED_TRACE("no good copy at all");
        auto pDevice = LoadImage(m_strImage);
        for (uint64_t g : {0, 1, 3, 5, 7})
            ZeroTable(*pDevice, g);
        EXPECT_THROW(CExt2FileSystem(pDevice.get(), 2), CExt2BadGroupDescriptor);
        CExt2Volume volume(pDevice.get(), 0);
        EXPECT_EQ(volume.GetFileSystemType(), 7);
    }
}

// Meta groups: 32 groups of 512 1 KiB blocks and 64-byte descriptors, 16 a block. Group 0's
// block after the superblock holds groups 0 to 15; the block of groups 16 to 31 lies at the
// start of group 16 (neither it nor its copies in groups 17 and 31 follow a superblock copy),
// and the block after group 1's superblock copy holds groups 0 to 15 again.
class Ext2MetaGroups : public Ext2Groups {
protected:
    void SetUp() override
    {
        m_strImage = m_Dir.File("meta.img");
        RunShell("mke2fs -q -F -t ext4 -b 1024 -O meta_bg,^resize_inode -g 512 -N 256 " + Quote(m_strImage) +
                 " 16M");
        m_Dump = Dumpe2fs(m_strImage);
        ASSERT_EQ(m_Dump.inodeTables.size(), 32u);
    }
    static uint64_t BlockSector(uint64_t nBlock) { return nBlock * 2; }
    void ZeroBlock(CMemoryDevice& d, uint64_t nBlock) { memset(d.At(BlockSector(nBlock) * 512), 0, 1024); }
    void CheckAllGroups(const CExt2FileSystem& fs)
    {
        ASSERT_EQ(fs.GetGroupCount(), 32u);
        for (uint32_t g = 0; g < 32; ++g) {
            EXPECT_EQ(fs.GetGroupDescTable().GetBlockBitmap(g), m_Dump.blockBitmaps[g]) << g;
            EXPECT_EQ(fs.GetGroupDescTable().GetInodeTable(g), m_Dump.inodeTables[g]) << g;
        }
    }
};

TEST_F(Ext2MetaGroups, DescriptorsAreReadFromTheirMetaGroups)
{
    {
        SCOPED_TRACE("intact: every group, and the group marks count");
        auto pDevice = LoadImage(m_strImage);
        CExt2FileSystem fs(pDevice.get(), 2);
        CheckAllGroups(fs);
        EXPECT_TRUE(fs.GetGroupDescTable().IsPrimary());
    }
    {
        SCOPED_TRACE("the meta group's own block zeroed: its copy in group 17, whose marks are the format's");
        auto pDevice = LoadImage(m_strImage);
        ZeroBlock(*pDevice, 16 * 512 + 1);
        CExt2FileSystem fs(pDevice.get(), 2);
        CheckAllGroups(fs);
        EXPECT_FALSE(fs.GetGroupDescTable().IsPrimary());
    }
    {
        SCOPED_TRACE("the copy in group 17 unreadable as well: the one in group 31");
        auto pDevice = LoadImage(m_strImage);
        ZeroBlock(*pDevice, 16 * 512 + 1);
        pDevice->FailSectors(BlockSector(17 * 512 + 1), 2);
        CExt2FileSystem fs(pDevice.get(), 2);
        CheckAllGroups(fs);
    }
    {
        SCOPED_TRACE("the first meta group's block zeroed: group 1's copy after its superblock copy");
        auto pDevice = LoadImage(m_strImage);
        ZeroBlock(*pDevice, 2);
        CExt2FileSystem fs(pDevice.get(), 2);
        CheckAllGroups(fs);
    }
    {
        SCOPED_TRACE("no copy of groups 16 to 31 left");
        auto pDevice = LoadImage(m_strImage);
        for (uint64_t g : {16, 17, 31})
            ZeroBlock(*pDevice, g * 512 + 1);
        EXPECT_THROW(CExt2FileSystem(pDevice.get(), 2), CExt2BadGroupDescriptor);
    }
}

// ---------------------------------------------------------------------------------------------
// Damaged superblocks
// ---------------------------------------------------------------------------------------------

TEST(Ext2Layer, DamagedSuperBlocksAreRejected)
{
    const std::string strImage = rvdtest::FixturePath("ext2-4k-256.img");
    const std::vector<uint8_t> good = rvdtest::ReadFileBytes(strImage);
    const struct {
        const char* pszWhat;
        size_t nOffset;
        int nWidth;  // 0: zero the whole superblock
        uint32_t nValue;
    } kCases[] = {
        {"zeroed superblock", 0, 0, 0},
        {"bad magic", ext2::kSbMagic, 2, 0xEF54},
        {"zero blocks per group", ext2::kSbBlocksPerGroup, 4, 0},
        {"zero inodes per group", ext2::kSbInodesPerGroup, 4, 0},
        {"zero blocks count", ext2::kSbBlocksCount, 4, 0},
        {"inode size 0", ext2::kSbInodeSize, 2, 0},
        {"inode size 100", ext2::kSbInodeSize, 2, 100},
        {"inode size 384", ext2::kSbInodeSize, 2, 384},
        {"inode size larger than a block", ext2::kSbInodeSize, 2, 8192},
        {"inode size 65535", ext2::kSbInodeSize, 2, 65535},
        {"8 KiB blocks", ext2::kSbLogBlockSize, 4, 3},
        {"block size shift past 32 bits", ext2::kSbLogBlockSize, 4, 40},
        {"more blocks per group than a bitmap covers", ext2::kSbBlocksPerGroup, 4, 8 * 4096 + 8},
        {"more inodes per group than a bitmap covers", ext2::kSbInodesPerGroup, 4, 8 * 4096 + 8},
        {"an inode table larger than its group", ext2::kSbInodesPerGroup, 4, 32768},
        {"one block per group", ext2::kSbBlocksPerGroup, 4, 1},
        {"group number past the group count", ext2::kSbBlockGroupNr, 2, 3},
        {"larger than the device", ext2::kSbBlocksCount, 4, 4097},
        {"blocks count of 2^32 - 1", ext2::kSbBlocksCount, 4, 0xFFFFFFFF},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszWhat);
        CMemoryDevice device(good);
        uint8_t* pSuper = device.At(1024);
        if (c.nWidth == 0)
            memset(pSuper, 0, 1024);
        else if (c.nWidth == 2)
            SetLe16(pSuper + c.nOffset, static_cast<uint16_t>(c.nValue));
        else
            SetLe32(pSuper + c.nOffset, c.nValue);
        EXPECT_THROW(CExt2FileSystem(&device, 2), CExt2BadSuperBlock);
        CExt2Volume volume(&device, 0);
        EXPECT_EQ(volume.GetFileSystemType(), 7);
        EXPECT_EQ(volume.GetTotalSectors(), 0u);
        char szLabel[100];
        memset(szLabel, 'x', sizeof(szLabel));
        volume.GetVolumeLabel(szLabel, sizeof(szLabel));
        EXPECT_EQ(szLabel[0], 0);
    }
    // A superblock that would put the partition before sector 0.
    CMemoryDevice device(good);
    EXPECT_THROW(CExt2FileSystem(&device, 1), CExt2BadSuperBlock);
    // A device that cannot be read at the superblock.
    device.FailSectors(2, 2);
    EXPECT_THROW(CExt2FileSystem(&device, 2), CExt2ReadSectorError);
}

TEST(Ext2Layer, SuperBlockNormalisation)
{
    const std::vector<uint8_t> image = rvdtest::ReadFileBytes(rvdtest::FixturePath("ext2-1k-256.img"));
    const CExt2SuperBlock good(image.data() + 1024, 1024);
    ASSERT_TRUE(good.IsValid());
    EXPECT_EQ(good.GetInodeSize(), 256u);  // 256-byte inodes validate as they stand
    EXPECT_EQ(good.GetGroupCount(), 2u);
    EXPECT_EQ(good.GetCopyOffset(), 0);

    // Revision 0: no inode-size or first-inode fields; inodes are 128 bytes from number 11.
    CExt2SuperBlock old(good);
    uint8_t raw[1024];
    memcpy(raw, old.GetData(), 1024);
    SetLe32(raw + ext2::kSbRevLevel, 0);
    SetLe16(raw + ext2::kSbInodeSize, 0x1234);
    SetLe32(raw + ext2::kSbFirstInode, 0);
    old.Assign(raw, 1024);
    EXPECT_FALSE(old.IsValid());
    EXPECT_TRUE(old.IsValidNormalised());
    old.Normalise();
    EXPECT_EQ(old.GetInodeSize(), 128u);
    EXPECT_EQ(old.GetFirstInode(), 11u);

    // The first data block follows the block size; an inodes count that the groups cannot hold
    // becomes groups x inodes per group.
    memcpy(raw, good.GetData(), 1024);
    SetLe32(raw + ext2::kSbFirstDataBlock, 7);
    SetLe32(raw + ext2::kSbInodesCount, 100000);
    CExt2SuperBlock odd(raw, 1024);
    EXPECT_FALSE(odd.IsValid());
    odd.Normalise();
    EXPECT_EQ(odd.GetFirstDataBlock(), 1u);
    EXPECT_EQ(odd.GetInodesCount(), 2 * good.GetInodesPerGroup());
    EXPECT_TRUE(odd.IsValid());
    EXPECT_TRUE(odd.IsEqual(good));

    // Zero blocks per group: no group count, no division.
    SetLe32(raw + ext2::kSbBlocksPerGroup, 0);
    CExt2SuperBlock noGroups(raw, 1024);
    EXPECT_EQ(noGroups.GetGroupCount(), 0u);
    noGroups.Normalise();
    EXPECT_FALSE(noGroups.IsValid());

    // A label of all 16 bytes has no terminator on disk.
    memcpy(raw, good.GetData(), 1024);
    memcpy(raw + ext2::kSbVolumeName, "ABCDEFGHIJKLMNOP", 16);
    char szName[17];
    EXPECT_EQ(CExt2SuperBlock(raw, 1024).GetVolumeName(szName), 16u);
    EXPECT_STREQ(szName, "ABCDEFGHIJKLMNOP");

    // A short input is completed with zeros and is no superblock.
    EXPECT_FALSE(CExt2SuperBlock(image.data() + 1024, 50).IsValidNormalised());
}

TEST(Ext2Layer, VolumeLabelBufferLengths)
{
    std::vector<uint8_t> image = rvdtest::ReadFileBytes(rvdtest::FixturePath("ext3-1k-128.img"));
    memcpy(image.data() + 1024 + ext2::kSbVolumeName, "ABCDEFGHIJKLMNOP", 16);
    CMemoryDevice device(image);
    CExt2Volume volume(&device, 0);
    EXPECT_EQ(volume.GetFileSystemType(), 5);
    char sz[120];
    memset(sz, 'x', sizeof(sz));
    volume.GetVolumeLabel(sz, 0);
    EXPECT_EQ(sz[0], 'x');
    volume.GetVolumeLabel(sz, 1);
    EXPECT_EQ(sz[0], 0);
    EXPECT_EQ(sz[1], 'x');
    volume.GetVolumeLabel(sz, 5);
    EXPECT_STREQ(sz, "ABCD");
    volume.GetVolumeLabel(sz, sizeof(sz));
    EXPECT_STREQ(sz, "ABCDEFGHIJKLMNOP");
}

// ---------------------------------------------------------------------------------------------
// Reads, directories, pointers
// ---------------------------------------------------------------------------------------------

TEST(Ext2Layer, ReadBlocksStaysOnTheDeviceAndZeroFillsFailures)
{
    auto pDevice = LoadImage(rvdtest::FixturePath("ext2-1k-128.img"));
    CExt2FileSystem fs(pDevice.get(), 2);
    const uint64_t nBlocks = pDevice->GetTotalSectors() / 2;
    std::vector<uint8_t> buf(8 * 1024);
    const struct {
        uint64_t nFirst, nCount;
    } kOutside[] = {{nBlocks, 1}, {nBlocks - 1, 2}, {nBlocks - 4, 8}, {~0ull, 1}, {1, ~0ull}, {~0ull / 2, 4}};
    for (const auto& c : kOutside) {
        try {
            fs.ReadBlocks(buf.data(), c.nFirst, c.nCount);
            ADD_FAILURE() << "read " << c.nFirst << " + " << c.nCount;
        } catch (const std::range_error& e) {
            EXPECT_STREQ(e.what(), "CExt2FileSystem::ReadBlocks");
        }
    }
    fs.ReadBlocks(buf.data(), nBlocks - 8, 8);
    EXPECT_EQ(0, memcmp(buf.data(), pDevice->At((nBlocks - 8) * 1024), 8 * 1024));

    // Large reads are split into pieces the devices accept.
    std::vector<uint8_t> big(6000 * 1024);
    fs.ReadBlocks(big.data(), 0, 6000);
    EXPECT_LE(pDevice->m_nLargestRead.load(), 8192u);
    EXPECT_EQ(0, memcmp(big.data(), pDevice->At(0), big.size()));

    // A failed read leaves zeros, not the device's garbage.
    pDevice->FailSectors(200, 1);
    memset(buf.data(), 0xAB, buf.size());
    EXPECT_THROW(fs.ReadBlocks(buf.data(), 99, 4), CExt2ReadSectorError);
    EXPECT_TRUE(std::all_of(buf.begin(), buf.begin() + 4 * 1024, [](uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::all_of(buf.begin() + 4 * 1024, buf.end(), [](uint8_t b) { return b == 0xAB; }));
}

TEST(Ext2Layer, InodeTableReadErrors)
{
    auto pDevice = LoadImage(rvdtest::FixturePath("ext2-4k-128.img"));
    CExt2FileSystem fs(pDevice.get(), 2);
    const uint64_t nTable = fs.GetGroupDescTable().GetInodeTable(0);
    pDevice->FailSectors(nTable * 8, 1);
    CExt2InodeEnumerator en(&fs);
    CExt2Inode inode;
    EXPECT_THROW(en.Load(11, &inode), CExt2ReadSectorError);
    EXPECT_EQ(inode.GetMode(), 0u);
    const int nReads = pDevice->m_nReads;
    en.Load(12, &inode);  // the failed stretch is not read again
    EXPECT_EQ(inode.GetMode(), 0u);
    EXPECT_EQ(pDevice->m_nReads, nReads);
    EXPECT_THROW(fs.LoadInode(11, &inode), CExt2ReadSectorError);
    EXPECT_EQ(inode.GetMode(), 0u);

    // Numbers outside every group are all zeros; a table beyond the device's end ends with a
    // range error.
    fs.LoadInode(0, &inode);
    EXPECT_EQ(inode.GetMode(), 0u);
    fs.LoadInode(fs.GetSuperBlock().GetInodesCount() + 1, &inode);
    EXPECT_EQ(inode.GetMode(), 0u);
    pDevice->SetTotalSectors(fs.GetGroupDescTable().GetInodeTable(1) * 8);
    EXPECT_THROW(en.Load(fs.GetSuperBlock().GetInodesPerGroup() + 1, &inode), std::range_error);
}

// On a device that may be read from two threads, the next stretch of inode table is read on a
// helper thread while the one in use is walked. Every inode, every failed stretch (zeros, and
// one read error) and a table cut off by the device's end (the walk's end) come out as when
// each stretch is read when it is needed, and no stretch of table is read twice.
TEST(Ext2Layer, InodeTablesReadAheadGiveWhatReadingInTurnGives)
{
    enum DAMAGE { DAMAGE_NONE, DAMAGE_FAILED_STRETCH, DAMAGE_CUT_TABLE };
    struct WALK {
        std::vector<std::vector<uint8_t>> Raws;
        std::vector<std::string> Events;
        int nTableReads = 0;  // reads of inode tables
        int nReadsElsewhere = 0;
    };
    const auto walk = [](bool bConcurrent, DAMAGE nDamage) {
        WALK result;
        auto pDevice = LoadImage(rvdtest::FixturePath("ext2-1k-128.img"));
        pDevice->m_bConcurrent = bConcurrent;
        CExt2FileSystem fs(pDevice.get(), 2);
        EXPECT_GE(fs.GetGroupCount(), 2u);
        const uint64_t nSectorsPerBlock = fs.GetSectorsPerBlock();
        if (nDamage == DAMAGE_FAILED_STRETCH)
            pDevice->FailSectors(fs.GetGroupDescTable().GetInodeTable(1) * nSectorsPerBlock + 3, 1);
        if (nDamage == DAMAGE_CUT_TABLE)
            pDevice->SetTotalSectors((fs.GetGroupDescTable().GetInodeTable(1) + 2) * nSectorsPerBlock);
        const size_t nReadsBefore = pDevice->m_Starts.size();
        CExt2InodeEnumerator en(&fs);
        for (en.Begin(); !en.IsEnd(); en.Next()) {
            CExt2Inode inode;
            try {
                en.Load(&inode);
            } catch (const CExt2ReadSectorError&) {
                result.Events.push_back("read error at " + std::to_string(en.GetInodeNumber()));
            } catch (const std::range_error&) {
                result.Events.push_back("off the device at " + std::to_string(en.GetInodeNumber()));
                break;
            }
            result.Raws.emplace_back(inode.GetRawData(), inode.GetRawData() + ext2::kInodeBytes);
        }
        const uint64_t nTableSectors =
            (static_cast<uint64_t>(fs.GetSuperBlock().GetInodesPerGroup()) * fs.GetInodeSize() + 511) / 512;
        for (size_t i = nReadsBefore; i < pDevice->m_Starts.size(); ++i)
            for (uint32_t g = 0; g < fs.GetGroupCount(); ++g) {
                const uint64_t nTable = fs.GetGroupDescTable().GetInodeTable(g) * nSectorsPerBlock;
                if (pDevice->m_Starts[i] >= nTable && pDevice->m_Starts[i] < nTable + nTableSectors)
                    ++result.nTableReads;
            }
        result.nReadsElsewhere = pDevice->m_nReadsElsewhere;
        return result;
    };
    for (DAMAGE nDamage : {DAMAGE_NONE, DAMAGE_FAILED_STRETCH, DAMAGE_CUT_TABLE}) {
        SCOPED_TRACE(nDamage);
        const WALK inTurn = walk(false, nDamage);
        const WALK ahead = walk(true, nDamage);
        EXPECT_EQ(inTurn.Events, ahead.Events);
        EXPECT_EQ(nDamage == DAMAGE_NONE ? 0u : 1u, ahead.Events.size());
        EXPECT_EQ(inTurn.nTableReads, ahead.nTableReads);
        EXPECT_EQ(0, inTurn.nReadsElsewhere);
        // (A table cut off by the device's end is never read.)
        if (nDamage != DAMAGE_CUT_TABLE) {
            EXPECT_GT(ahead.nReadsElsewhere, 0) << "the next stretch was read on the helper thread";
        }
        ASSERT_EQ(inTurn.Raws.size(), ahead.Raws.size());
        for (size_t i = 0; i < inTurn.Raws.size(); ++i)
            ASSERT_EQ(inTurn.Raws[i], ahead.Raws[i]) << "inode " << i + 11;
    }
}

// Directory entries damaged in the first block of /Documents: the walk lists what comes before
// the damage, shows the damaged entry as invalid and ends; it never loops.
TEST(Ext2Layer, DamagedDirectoryEntryEndsTheWalk)
{
    const std::string strImage = rvdtest::FixturePath("ext2-1k-128.img");
    const auto manifest = rvdtest::ReadManifest("ext2-1k-128.img");
    const uint32_t nDocuments = static_cast<uint32_t>(rvdtest::FindManifestEntry(manifest, "/Documents")->nId);
    const struct {
        const char* pszWhat;
        uint16_t nRecordLength;
    } kCases[] = {{"zero record length", 0}, {"record length not a multiple of 4", 18},
                  {"record length shorter than the name", 12}, {"record length past the block", 1024}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszWhat);
        auto pDevice = LoadImage(strImage);
        CExt2FileSystem fs(pDevice.get(), 2);
        CExt2Inode dir;
        fs.LoadInode(nDocuments, &dir);
        uint8_t* pBlock = pDevice->At(static_cast<uint64_t>(dir.GetBlockPointer(0)) * 1024);
        // ".", "..", then the third entry ("Letters", 7 bytes of name, 16 bytes needed).
        ASSERT_EQ(GetLe16(pBlock + 4), 12u);
        ASSERT_EQ(GetLe16(pBlock + 12 + 4), 12u);
        ASSERT_EQ(pBlock[24 + 6], 7u);
        SetLe16(pBlock + 24 + 4, c.nRecordLength);
        std::vector<std::string> names;
        std::vector<bool> valid;
        int nSteps = 0;
        for (CExt2DirIterator it(dir); !it.IsEnd() && nSteps < 100; it.Next(), ++nSteps) {
            CExt2Inode child;
            it.GetInode(&child);
            names.push_back(child.GetName());
            valid.push_back(it.GetEntry().IsValid());
            if (!valid.back()) {
                EXPECT_EQ(child.GetMode(), 0u);  // an invalid entry's inode is not loaded
                EXPECT_EQ(child.GetInodeNumber(), GetLe32(pBlock + 24));
            }
        }
        EXPECT_EQ(names, (std::vector<std::string>{".", "..", "Letters"}));
        EXPECT_EQ(valid, (std::vector<bool>{true, true, false}));
    }
}

TEST(Ext2Layer, EmptyAndUnreadableDirectories)
{
    auto pDevice = LoadImage(rvdtest::FixturePath("ext2-1k-128.img"));
    CExt2FileSystem fs(pDevice.get(), 2);
    CExt2Inode dir;
    fs.LoadInode(2, &dir);
    uint8_t raw[ext2::kInodeBytes];
    // No size and no sectors: at the end at once.
    memcpy(raw, dir.GetRawData(), sizeof(raw));
    SetLe32(raw + ext2::kInSize, 0);
    SetLe32(raw + ext2::kInSectors, 0);
    CExt2Inode empty = dir;
    empty.SetRawData(raw);
    CExt2DirIterator e(empty);
    EXPECT_TRUE(e.IsEnd());
    // A first block pointer of 0: nothing loaded, and asking for an entry says so.
    memcpy(raw, dir.GetRawData(), sizeof(raw));
    SetLe32(raw + ext2::kInBlocks, 0);
    CExt2Inode hole = dir;
    hole.SetRawData(raw);
    CExt2DirIterator h(hole);
    EXPECT_TRUE(h.IsEnd());
    EXPECT_THROW(h.GetEntry(), CExt2DirEntry::CBadDir);
    // A first block that cannot be read ends the walk too.
    pDevice->FailSectors(static_cast<uint64_t>(dir.GetBlockPointer(0)) * 2, 1);
    CExt2DirIterator bad(dir);
    EXPECT_TRUE(bad.IsEnd());
}

// Block pointers beyond the file system: the inode is not usable, and the map yields holes
// instead of following them.
TEST(Ext2Layer, AbsurdBlockPointers)
{
    auto pDevice = LoadImage(rvdtest::FixturePath("ext2-1k-128.img"));
    CExt2FileSystem fs(pDevice.get(), 2);
    const auto manifest = rvdtest::ReadManifest("ext2-1k-128.img");
    const uint32_t nReport = static_cast<uint32_t>(
        rvdtest::FindManifestEntry(manifest, "/Documents/Quarterly report for the board.txt")->nId);
    const uint32_t nBig = static_cast<uint32_t>(rvdtest::FindManifestEntry(manifest, "/Big File.bin")->nId);
    const uint32_t kWild = 0xFFFFFFF0;

    SetLe32(pDevice->At(InodeByte(fs, nReport) + ext2::kInBlocks + 4), kWild);
    CExt2Inode report;
    fs.LoadInode(nReport, &report);
    EXPECT_FALSE(report.IsUsable());
    CExt2BlockIterator r(report);
    EXPECT_NE(r.MapBlock(0), 0u);
    EXPECT_EQ(r.MapBlock(1), 0u);
    r.SetIndex(1);
    uint32_t nLength = 99;
    EXPECT_EQ(r.GetData(&nLength), nullptr);
    EXPECT_EQ(nLength, 0u);

    CExt2Inode big;
    fs.LoadInode(nBig, &big);
    ASSERT_TRUE(big.IsUsable());
    CExt2BlockIterator before(big);
    const uint32_t nSingle = big.GetBlockPointer(ext2::kSingleIndirect);
    const uint32_t nDouble = big.GetBlockPointer(ext2::kDoubleIndirect);
    const uint32_t nMapped100 = before.MapBlock(100), nMapped280 = before.MapBlock(280);
    ASSERT_NE(nMapped100, 0u);
    ASSERT_NE(nMapped280, 0u);
    // A wild entry inside the single indirect block.
    SetLe32(pDevice->At(static_cast<uint64_t>(nSingle) * 1024 + 4 * (100 - 12)), kWild);
    // A wild single indirect block inside the double indirect block.
    SetLe32(pDevice->At(static_cast<uint64_t>(nDouble) * 1024), kWild);
    CExt2BlockIterator after(big);
    EXPECT_EQ(after.MapBlock(100), 0u);
    EXPECT_EQ(after.MapBlock(101), before.MapBlock(101));
    EXPECT_EQ(after.MapBlock(280), 0u);
    // The indirect pointers themselves wild.
    uint64_t nByte = InodeByte(fs, nBig);
    SetLe32(pDevice->At(nByte + ext2::kInBlocks + 4 * ext2::kSingleIndirect), kWild);
    SetLe32(pDevice->At(nByte + ext2::kInBlocks + 4 * ext2::kDoubleIndirect), 0);
    SetLe32(pDevice->At(nByte + ext2::kInBlocks + 4 * ext2::kTripleIndirect), kWild);
    CExt2FileSystem reopened(pDevice.get(), 2);  // fs keeps the inode's block as first read
    reopened.LoadInode(nBig, &big);
    EXPECT_FALSE(big.IsUsable());  // pointer 12 is among the first 13 checked
    CExt2BlockIterator wild(big);
    EXPECT_NE(wild.MapBlock(11), 0u);
    EXPECT_EQ(wild.MapBlock(12), 0u);
    EXPECT_EQ(wild.MapBlock(280), 0u);
    EXPECT_EQ(wild.MapBlock(70000), 0u);
    EXPECT_EQ(wild.MapBlock(~0ull), 0u);
}

// The scan's file-type filter judges names found in directories; an inode read from the inode
// table has no name yet and stays usable.
TEST(Ext2Layer, FileTypeFilterJudgesNames)
{
    auto pDevice = LoadImage(rvdtest::FixturePath("ext2-4k-256.img"));
    CExt2FileSystem fs(pDevice.get(), 2);
    const auto manifest = rvdtest::ReadManifest("ext2-4k-256.img");
    const uint32_t nPhotos = static_cast<uint32_t>(rvdtest::FindManifestEntry(manifest, "/Photos")->nId);
    struct Restore {
        ~Restore() { CPubic::GetScanTypeFilter().EmptyTypeInfo(); }
    } restore;
    CPubic::GetScanTypeFilter().SaveTypeInfo(".jpg");
    std::map<std::string, bool> usable;
    CExt2Inode photos;
    fs.LoadInode(nPhotos, &photos);
    for (CExt2DirIterator it(photos); !it.IsEnd(); it.Next()) {
        CExt2Inode child;
        it.GetInode(&child);
        usable[child.GetName()] = child.IsUsable();
    }
    EXPECT_TRUE(usable.at("holiday-001.jpg"));
    EXPECT_FALSE(usable.at("Filler number two.bin"));
    EXPECT_TRUE(usable.at(".."));  // folders always pass
    CExt2Inode unnamed;
    fs.LoadInode(static_cast<uint32_t>(rvdtest::FindManifestEntry(manifest, "/readme.txt")->nId), &unnamed);
    EXPECT_TRUE(unnamed.IsUsable());
    unnamed.SetName("readme.txt", 10);
    EXPECT_FALSE(unnamed.IsUsable());
}

TEST(Ext2Layer, TimeStampsAreLocalClockReadings)
{
    const uint64_t kEpoch = rvd::kFileTimeUnixEpoch, kSecond = rvd::kFileTimeTicksPerSecond;
    {
        rvdtest::CScopedTimeZone zone("UTC0");
        EXPECT_EQ(CExt2Inode::TimeToFileTime(1500000000).qwTicks, kEpoch + 1500000000ull * kSecond);
        EXPECT_EQ(CExt2Inode::TimeToFileTime(0).qwTicks, kEpoch);
        EXPECT_EQ(CExt2Inode::TimeToFileTime(0x80000000u).qwTicks, kEpoch);  // negative as signed
        EXPECT_EQ(CExt2Inode::TimeToFileTime(0xFFFFFFFFu).qwTicks, kEpoch);
    }
    rvdtest::CScopedTimeZone zone("XYZ-2");  // two hours east of UTC
    EXPECT_EQ(CExt2Inode::TimeToFileTime(1500000000).qwTicks, kEpoch + (1500000000ull + 7200) * kSecond);
}

// Inodes in the collected heap stay intact through collections on a registered worker thread.
TEST(Ext2Layer, CollectedInodesOnAWorkerThread)
{
    auto pDevice = LoadImage(rvdtest::FixturePath("ext3-4k-256.img"));
    CExt2FileSystem fs(pDevice.get(), 2);
    bool bIntact = false;
    std::thread worker([&] {
        CExt2CollectorThread registration;
        CExt2Inode* apInodes[16];
        for (uint32_t i = 0; i < 16; ++i) {
            apInodes[i] = CExt2Inode::NewCollected();
            fs.LoadInode(11 + i, apInodes[i]);
        }
        for (int i = 0; i < 20000; ++i)
            CExt2Inode::NewCollected();  // garbage, to make the collector run
        GC_gcollect();
        bIntact = true;
        for (uint32_t i = 0; i < 16; ++i) {
            CExt2Inode fresh;
            fs.LoadInode(11 + i, &fresh);
            bIntact &= apInodes[i]->GetInodeNumber() == 11 + i &&
                       memcmp(apInodes[i]->GetRawData(), fresh.GetRawData(), ext2::kInodeBytes) == 0;
        }
        CExt2Inode::FreeCollected(apInodes[0]);
    });
    worker.join();
    EXPECT_TRUE(bIntact);
}

} // namespace
