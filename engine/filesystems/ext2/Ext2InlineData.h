// Where an EXT4 inode with inline data keeps its bytes. The first 60 lie where the block
// pointers would be; the rest are the value of the "system.data" extended attribute kept in the
// inode's own extra space, after the extra fields: a 4-byte magic, then 16-byte entries (name
// length, name index, value offset from the first entry, value inode, value size, hash, then
// the name, padded to 4 bytes), ended by four zero bytes. A directory kept inline holds its
// parent's inode number in the first 4 bytes of the block area and its entries after them and
// in the attribute's value.
#pragma once

#include <cstddef>
#include <cstdint>

class CExt2InlineData {
public:
    // Reads the inline area of one whole inode record (nRecordBytes: the file system's inode
    // size). The attribute's value is taken only when the record holds its entry and its whole
    // value; otherwise the inode keeps its 60 bytes of block area alone. False when the record
    // is shorter than the inode's first 128 bytes.
    bool Read(const uint8_t* pRecord, size_t nRecordBytes);

    // The attribute's value: its offset in the record and its length (0 when there is none).
    uint32_t GetValueOffset() const { return m_nValueOffset; }
    uint32_t GetValueBytes() const { return m_nValueBytes; }
    // Most bytes the inode holds: the block area's and the value's.
    uint64_t GetCapacity() const { return kBlockAreaBytes + static_cast<uint64_t>(m_nValueBytes); }

    // A symbolic link whose target is shorter than the block area keeps the target there as
    // text (a fast link), without the inline-data flag; its bytes are the block area's alone.
    static bool IsFastSymlink(const uint8_t* pRecord, size_t nRecordBytes);

    // The block area: 60 bytes from byte 40 of the record.
    static constexpr uint32_t kBlockAreaOffset = 40;
    static constexpr uint32_t kBlockAreaBytes = 60;

private:
    uint32_t m_nValueOffset = 0;
    uint32_t m_nValueBytes = 0;
};
