// One EXT2/EXT3 directory entry, read in place from a directory block: 4-byte inode number,
// 2-byte record length, name length, file type, then the name (UTF-8, not terminated). The view
// runs from the entry to the end of the data of its block; no field is read outside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>

#include "Ext2Layout.h"

class CExt2DirEntry {
public:
    // Thrown when an entry is asked of a directory walk that has no block loaded.
    class CBadDir : public std::exception {
    public:
        const char* what() const noexcept override;
    };

    CExt2DirEntry(const uint8_t* pData, size_t nSize) : m_pData(pData), m_nSize(pData ? nSize : 0) {}

    // The 8 header bytes are inside the view.
    bool HasHeader() const { return m_nSize >= ext2::kDeHeaderBytes; }
    uint32_t GetInodeNumber() const { return HasHeader() ? ext2::GetLe32(m_pData + ext2::kDeInode) : 0; }
    uint16_t GetRecordLength() const { return HasHeader() ? ext2::GetLe16(m_pData + ext2::kDeRecordLength) : 0; }
    uint8_t GetNameLength() const { return HasHeader() ? m_pData[ext2::kDeNameLength] : 0; }
    uint8_t GetFileType() const { return HasHeader() ? m_pData[ext2::kDeFileType] : 0; }
    bool IsDirectoryType() const { return (GetFileType() & ext2::kDeTypeMask) == ext2::kDeTypeDirectory; }

    // The name bytes, as many of the name length as the view holds.
    const char* GetName() const { return reinterpret_cast<const char*>(m_pData + ext2::kDeHeaderBytes); }
    size_t GetAvailableNameLength() const;

    // The record length is a multiple of 4 and covers the header and the name (at least
    // (name length + 11) rounded down to 4), and the record stays inside its block.
    bool IsValid() const;

private:
    const uint8_t* m_pData;
    size_t m_nSize;
};
