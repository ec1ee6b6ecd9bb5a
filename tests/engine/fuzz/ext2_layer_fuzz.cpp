// Fuzz target for the EXT2/EXT3 layer: the superblock and descriptor-table tests over the raw
// input; directory blocks and inode records from the input placed inside a small, valid file
// system, so that the directory walk, the inode loading and the block map run on fuzzer bytes;
// and the input as a whole volume (its sectors repeating over a larger device), opened and
// enumerated. Whatever the bytes, nothing reads outside its buffers and every walk ends.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

#include "FuzzDisk.h"
#include "ext2/Ext2BlockIterator.h"
#include "ext2/Ext2DirIterator.h"
#include "ext2/Ext2FileSystem.h"
#include "ext2/Ext2Inode.h"
#include "ext2/Ext2InodeEnumerator.h"

namespace {

using namespace ext2;

// A directory walk advances by at least 4 bytes per step or ends: more steps than this means
// it loops.
constexpr int kMaxSteps = 1 << 20;

class CMemoryDisk : public IStorageDevice {
public:
    explicit CMemoryDisk(std::vector<uint8_t>& data) : m_Data(data) {}
    int ReadSectors(void* pBuffer, uint64_t u64Start, uint64_t u64Count) override
    {
        if (u64Count > 8192)
            __builtin_trap();  // the layer splits its reads
        if (u64Start > m_Data.size() / 512 || u64Count > m_Data.size() / 512 - u64Start)
            return 0;
        memcpy(pBuffer, m_Data.data() + u64Start * 512, u64Count * 512);
        return 1;
    }
    uint64_t GetTotalSectors() override { return m_Data.size() / 512; }
    int GetSectorSize() override { return 512; }
    int Open() override { return 1; }
    int Close() override { return 1; }

private:
    std::vector<uint8_t>& m_Data;
};

void TouchInode(const CExt2Inode& inode)
{
    inode.IsDirectory();
    inode.IsDeleted();
    inode.GetGroup();
    inode.GetSize();
    inode.IsUsable();
    CExt2BlockIterator blocks(inode);
    const uint64_t nEnd = std::min<uint64_t>(blocks.GetEnd(), 300);
    for (blocks.Begin(); blocks.GetIndex() < nEnd; blocks.Next()) {
        uint32_t nLength = 0;
        const uint8_t* p = blocks.GetData(&nLength);
        if ((p == nullptr) != (nLength == 0) || nLength > inode.GetFileSystem()->GetBlockSize())
            abort();
    }
    blocks.MapBlock(~0ull);
    blocks.MapBlock(12 + 256 + 65536 + 7);
}

void WalkDirectory(const CExt2Inode& directory, int nDepth)
{
    int nSteps = 0;
    for (CExt2DirIterator it(directory); !it.IsEnd(); it.Next()) {
        if (++nSteps > kMaxSteps)
            abort();
        CExt2Inode child;
        try {
            it.GetEntry().IsValid();
            it.GetInode(&child);
        } catch (const std::exception&) {
            continue;
        }
        if (strlen(child.GetName()) > child.GetNameLength())
            abort();
        if (child.IsDirectory() && nDepth > 0)
            WalkDirectory(child, nDepth - 1);
        else
            TouchInode(child);
    }
}

// 64 blocks of 1 KiB, one group, 16 inodes of 128 bytes: superblock in block 1, descriptors in
// block 2, bitmaps in 3 and 4, the inode table in 5 and 6, the root directory in blocks 8 and 9.
// The input fills the root's two blocks, then the inode table around the root's own record,
// then blocks 10 onwards.
void FuzzInsideAFileSystem(const uint8_t* pData, size_t nSize)
{
    std::vector<uint8_t> image(64 * 1024, 0);
    uint8_t* sb = image.data() + 1024;
    SetLe32(sb + kSbInodesCount, 16);
    SetLe32(sb + kSbBlocksCount, 64);
    SetLe32(sb + kSbFirstDataBlock, 1);
    SetLe32(sb + kSbBlocksPerGroup, 8192);
    SetLe32(sb + kSbInodesPerGroup, 16);
    SetLe16(sb + kSbMagic, kMagic);
    SetLe32(sb + kSbRevLevel, 1);
    SetLe32(sb + kSbFirstInode, 11);
    SetLe16(sb + kSbInodeSize, 128);
    uint8_t* gd = image.data() + 2 * 1024;
    SetLe32(gd + kGdBlockBitmap, 3);
    SetLe32(gd + kGdInodeBitmap, 4);
    SetLe32(gd + kGdInodeTable, 5);

    size_t nUsed = std::min<size_t>(nSize, 2048);
    memcpy(image.data() + 8 * 1024, pData, nUsed);
    const size_t nTable = std::min<size_t>(nSize - nUsed, 2048);
    memcpy(image.data() + 5 * 1024, pData + nUsed, nTable);
    nUsed += nTable;
    memcpy(image.data() + 10 * 1024, pData + nUsed, std::min<size_t>(nSize - nUsed, 54 * 1024));

    uint8_t* root = image.data() + 5 * 1024 + 128;
    memset(root, 0, 128);
    SetLe16(root + kInMode, 0x41ED);
    SetLe32(root + kInSize, 2048);
    SetLe32(root + kInSectors, 4);
    SetLe32(root + kInBlocks, 8);
    SetLe32(root + kInBlocks + 4, 9);

    CMemoryDisk disk(image);
    try {
        CExt2FileSystem fs(&disk, 2);
        CExt2Inode dir;
        fs.LoadInode(kRootInode, &dir);
        WalkDirectory(dir, 1);
    } catch (const std::exception&) {
        abort();  // the frame itself is valid
    }
}

void FuzzWholeVolume(const uint8_t* pData, size_t nSize)
{
    CFuzzDisk disk(pData, nSize, 1ull << 16);
    try {
        CExt2FileSystem fs(&disk, 2);
        CExt2InodeEnumerator en(&fs);
        int nCount = 0;
        for (en.Begin(); !en.IsEnd() && nCount < 64; en.Next(), ++nCount) {
            CExt2Inode inode;
            try {
                en.Load(&inode);
            } catch (const std::exception&) {
                continue;
            }
            if (inode.IsDirectory())
                WalkDirectory(inode, 0);
            else
                TouchInode(inode);
        }
    } catch (const std::exception&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    for (size_t nOffset : {size_t(0), size_t(1024)}) {
        if (nSize < nOffset)
            break;
        CExt2SuperBlock sb(pData + nOffset, nSize - nOffset);
        sb.IsValid();
        CExt2SuperBlock copy(sb);
        copy.Normalise();
        if (copy.IsValid()) {
            const uint64_t nGroups = copy.GetGroupCount();
            copy.GetCopyOffset();
            copy.GetPartitionStartFromCopy(nOffset / 512);
            CExt2GroupDescTable table;
            if (table.Assign(pData, nSize, nGroups))
                table.IsValid(copy);
        }
        char szName[17];
        if (sb.GetVolumeName(szName) > 16)
            abort();
    }
    FuzzInsideAFileSystem(pData, nSize);
    FuzzWholeVolume(pData, nSize);
    return 0;
}
