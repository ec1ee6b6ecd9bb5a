// One loaded EXT2/EXT3 inode: the first 128 bytes of its record, its number, and the name it was
// found under (empty when it was read from the inode table rather than through a directory).
//
// The tree builder keeps many of these and allocates them from the collected heap: the class
// owns no memory and needs no destructor, so an object may live in GC_MALLOC'd storage
// (NewCollected) as well as on the stack or in any container.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Ext2Layout.h"
#include "WinTypes.h"

class CExt2FileSystem;

class CExt2Inode {
public:
    CExt2Inode();
    // A copy takes the name's own bytes only, not the whole room for one: the block iterator
    // copies every file's inode, which mostly has no name (read from its table) or a short one.
    CExt2Inode(const CExt2Inode& other) { *this = other; }
    CExt2Inode& operator=(const CExt2Inode& other);

    // All zeros, no name, number nInode, belonging to pFileSystem.
    void Reset(CExt2FileSystem* pFileSystem, uint32_t nInode);
    // Copies the 128 inode bytes.
    void SetRawData(const uint8_t* pRaw);
    // At most 255 bytes are kept; the name stays zero-terminated.
    void SetName(const char* pName, size_t nLength);

    CExt2FileSystem* GetFileSystem() const { return m_pFileSystem; }
    const uint8_t* GetRawData() const { return m_abyRaw; }
    uint32_t GetInodeNumber() const { return m_nInode; }
    const char* GetName() const { return m_szName; }
    uint32_t GetNameLength() const { return m_nNameLength; }

    uint16_t GetMode() const { return ext2::GetLe16(m_abyRaw + ext2::kInMode); }
    bool IsDirectory() const { return (GetMode() & ext2::kModeTypeMask) == ext2::kModeDirectory; }
    bool IsDeleted() const { return GetDeletionTime() != 0; }
    uint32_t GetSizeField() const { return Le32(ext2::kInSize); }
    uint32_t GetAccessTime() const { return Le32(ext2::kInAccessTime); }
    uint32_t GetChangeTime() const { return Le32(ext2::kInChangeTime); }
    uint32_t GetModificationTime() const { return Le32(ext2::kInModificationTime); }
    uint32_t GetDeletionTime() const { return Le32(ext2::kInDeletionTime); }
    uint32_t GetAllocatedSectors() const { return Le32(ext2::kInSectors); }
    uint32_t GetFlags() const { return Le32(ext2::kInFlags); }
    // The block pointers hold the root of an extent tree (files of file systems made with
    // extents); its header is checked when blocks are mapped.
    bool UsesExtents() const { return (GetFlags() & ext2::kFlagExtents) != 0; }
    // Pointer i of the 15: 12 direct, then single, double and triple indirect; 0 past them.
    uint32_t GetBlockPointer(uint32_t i) const;

    // Group of the inode: (number - 1) / inodes per group; 0 without a file system.
    uint32_t GetGroup() const;
    // The size field, or the allocated sectors x 512 when the field is 0.
    uint64_t GetSize() const;
    // The file's length in bytes: the size field, with its upper 32 bits for a regular file of a
    // revision 1 or later file system, where files may pass 4 GiB.
    uint64_t GetFileSize() const;
    // Fewer allocated sectors than the size field counts blocks (a truncated or sparse file).
    bool IsShort() const;
    // Logical blocks to walk: size field / block size for a short inode, else allocated sectors
    // / sectors per block.
    uint64_t GetBlockCount() const;
    // In use (mode set), no wild pointer among the first min(size / block size, 13) block
    // pointers (an extent tree's header sound instead; nothing for inline data), and accepted by the scan's file-type filter. An inode read from the inode table
    // has no name yet and is not judged by the filter: its name, if any, is judged when a
    // directory entry names it.
    bool IsUsable() const;

    // An inode time (seconds since 1970; zero or negative as 32-bit signed gives 0) broken down
    // in local time and turned into a FILETIME of that local clock reading; 0 when it cannot be.
    static FILETIME TimeToFileTime(uint32_t nSeconds);

    // An inode in the collected heap (Boehm GC), zeroed; the calling thread must be known to the
    // collector (see CExt2CollectorThread). FreeCollected returns one that is no longer needed
    // at once, as when loading it failed.
    static CExt2Inode* NewCollected();
    static void FreeCollected(CExt2Inode* pInode);

private:
    uint32_t Le32(size_t nOffset) const { return ext2::GetLe32(m_abyRaw + nOffset); }

    CExt2FileSystem* m_pFileSystem;
    uint8_t m_abyRaw[ext2::kInodeBytes];
    char m_szName[ext2::kMaxNameBytes + 1];
    uint32_t m_nNameLength;
    uint32_t m_nInode;
};

// Makes the calling thread known to the garbage collector for the lifetime of the object, when
// it is not known yet: the collector scans only the stacks of threads it knows, so a worker
// thread that holds collected inodes on its stack must be registered, and must unregister before
// it ends. Threads already registered (the main thread) are left as they are.
class CExt2CollectorThread {
public:
    CExt2CollectorThread();
    ~CExt2CollectorThread();
    CExt2CollectorThread(const CExt2CollectorThread&) = delete;
    CExt2CollectorThread& operator=(const CExt2CollectorThread&) = delete;

private:
    bool m_bRegistered;
};
