// Fuzz target for the EXT2/EXT3 tree builder: the input as the inode table, the root directory
// and the data blocks of a small valid file system, so that inode modes, sizes, block pointers,
// ".." links and names all come from the fuzzer; and the input as a whole volume repeating over a
// larger device, so that every inode of every group looks alike (the case where one crafted
// record would otherwise be walked thousands of times). Whatever the bytes, the build ends, the
// tree it gives is finite and well linked, and freeing it frees everything.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Delvar.h"
#include "FileNode.h"
#include "FileSystemNode.h"
#include "FuzzDisk.h"
#include "FuzzTree.h"
#include "ext2/Ext2Layout.h"
#include "ext2/Ext2TreeBuilder.h"

namespace {

using namespace ext2;

void Build(IStorageDevice* pDevice, uint32_t nInodes)
{
    CExt2TreeBuilder builder;
    // One node per inode at most, and the root.
    CheckAndFreeTree(builder.BuildTree(pDevice, 0, 2, 1), static_cast<size_t>(nInodes) + 1, true);
}

class CMemoryDisk : public IStorageDevice {
public:
    explicit CMemoryDisk(std::vector<uint8_t>& data) : m_Data(data) {}
    int ReadSectors(void* pBuffer, uint64_t u64Start, uint64_t u64Count) override
    {
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

// 128 blocks of 1 KiB, one group, 32 inodes of 128 bytes: superblock in block 1, descriptors in
// block 2, bitmaps in 3 and 4, the inode table in blocks 5 to 8, the root directory in block 10.
// The input fills the inode table (the root's record excepted), then the root's block, then
// blocks 11 onwards.
void FuzzInsideAFileSystem(const uint8_t* pData, size_t nSize)
{
    std::vector<uint8_t> image(128 * 1024, 0);
    uint8_t* sb = image.data() + 1024;
    SetLe32(sb + kSbInodesCount, 32);
    SetLe32(sb + kSbBlocksCount, 128);
    SetLe32(sb + kSbFirstDataBlock, 1);
    SetLe32(sb + kSbBlocksPerGroup, 8192);
    SetLe32(sb + kSbInodesPerGroup, 32);
    SetLe16(sb + kSbMagic, kMagic);
    SetLe32(sb + kSbRevLevel, 1);
    SetLe32(sb + kSbFirstInode, 11);
    SetLe16(sb + kSbInodeSize, 128);
    uint8_t* gd = image.data() + 2 * 1024;
    SetLe32(gd + kGdBlockBitmap, 3);
    SetLe32(gd + kGdInodeBitmap, 4);
    SetLe32(gd + kGdInodeTable, 5);

    size_t nUsed = std::min<size_t>(nSize, 4096);
    memcpy(image.data() + 5 * 1024, pData, nUsed);
    const size_t nRoot = std::min<size_t>(nSize - nUsed, 1024);
    memcpy(image.data() + 10 * 1024, pData + nUsed, nRoot);
    nUsed += nRoot;
    memcpy(image.data() + 11 * 1024, pData + nUsed, std::min<size_t>(nSize - nUsed, 117 * 1024));

    uint8_t* root = image.data() + 5 * 1024 + 128;
    memset(root, 0, 128);
    SetLe16(root + kInMode, 0x41ED);
    SetLe32(root + kInSize, 1024);
    SetLe32(root + kInSectors, 2);
    SetLe32(root + kInBlocks, 10);

    CMemoryDisk disk(image);
    Build(&disk, 32);
}

void FuzzWholeVolume(const uint8_t* pData, size_t nSize)
{
    // 16 MiB, the size of the EXT fixtures whose first sectors seed the fuzzer: up to 16384
    // blocks of 1 KiB and fewer inodes, all made of the input's sectors.
    CFuzzDisk disk(pData, nSize, 1ull << 15);
    Build(&disk, 16384);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    FuzzInsideAFileSystem(pData, nSize);
    FuzzWholeVolume(pData, nSize);
    return 0;
}
