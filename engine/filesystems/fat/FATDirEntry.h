// One 32-byte FAT directory entry, with the validity rules used when directories are found by
// scanning raw sectors, and the assembly of a file name from long-name entries and the 8.3
// entry that ends them.
//
// Entry layout: 0 base name (8, space-padded; first byte 0x00 ends the directory, 0xE5 marks a
// deleted entry), 8 extension (3), 11 attributes, 14 creation time, 16 creation date,
// 18 last-access date, 20 first cluster high word, 22 modification time, 24 modification
// date, 26 first cluster low word, 28 size. A long-name entry (attributes 0x0F) holds 13
// UTF-16 units at 1 (5), 14 (6) and 28 (2).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

const size_t FAT_DIR_ENTRY_BYTES = 32;
const size_t FAT_ENTRIES_PER_SECTOR = 16;

const uint8_t FAT_ATTR_VOLUME_LABEL = 0x08;
const uint8_t FAT_ATTR_DIRECTORY = 0x10;
const uint8_t FAT_ATTR_LONG_NAME = 0x0F;
const uint8_t FAT_DELETED_MARK = 0xE5;

// UTF-16 units in one long-name entry, and the most entries one name can take (255 units).
const size_t FAT_LONG_NAME_UNITS_PER_ENTRY = 13;
const size_t FAT_MAX_LONG_NAME_ENTRIES = 20;

// A view over one entry in the caller's buffer; the caller hands 32 readable bytes.
class CFATDirEntry {
public:
    CFATDirEntry() : m_pEntry(nullptr) {}
    explicit CFATDirEntry(const uint8_t* pEntry) : m_pEntry(pEntry) {}

    void Attach(const uint8_t* pEntry) { m_pEntry = pEntry; }
    // Attach, then IsValid(false).
    bool AttachAndCheck(const uint8_t* pEntry);
    const uint8_t* GetEntry() const { return m_pEntry; }

    bool IsDeleted() const { return m_pEntry[0] == FAT_DELETED_MARK; }
    bool IsDirectory() const { return (GetAttributes() & FAT_ATTR_DIRECTORY) != 0; }
    bool IsLongNameEntry() const { return GetAttributes() == FAT_ATTR_LONG_NAME; }
    bool IsVolumeLabel() const { return GetAttributes() == FAT_ATTR_VOLUME_LABEL; }
    bool IsEndMarker() const { return m_pEntry[0] == 0; }
    // All 32 bytes zero: the clean end of a directory.
    bool IsAllZero() const;

    uint8_t GetAttributes() const { return m_pEntry[11]; }
    uint32_t GetFirstCluster() const;
    uint16_t GetFirstClusterHigh() const;
    uint32_t GetFileSize() const;
    uint16_t GetCreationTime() const;
    uint16_t GetCreationDate() const;
    uint16_t GetAccessDate() const;
    uint16_t GetModificationTime() const;
    uint16_t GetModificationDate() const;

    // Exact byte comparison of the 8 base and 3 extension bytes.
    bool MatchesName(const char* pBase8, const char* pExt3) const;
    // "." and "..": the name, a blank extension and the directory bit.
    bool IsDotEntry() const;
    bool IsDotDotEntry() const;

    // The checks that tell an entry from stray bytes, in this order: a long-name entry is
    // valid; with bStrict, size and first cluster must agree (a file has both or neither; a
    // folder with a size has no high cluster word); the three dates and the two times must be
    // 0 or in range; a volume label is then valid; any other entry needs a plausible 8.3 name.
    bool IsValid(bool bStrict) const;

    // The 8.3 name in UTF-8 (the bytes are taken as DOS code page 437), trailing blanks cut; a
    // deleted entry's 0xE5 shows as '#'. File names join base and extension with a dot when
    // the extension is not empty. With bWithoutDot the 11 bytes are one text (a volume label).
    std::string GetShortName(bool bWithoutDot) const;

    // The entry's long-name units up to the first 0 unit (at most 13).
    std::u16string GetLongNameUnits() const;
    // Those units in UTF-8, '_' in place of a unit that cannot be converted (an unpaired
    // surrogate). False for an entry that is not a long-name entry.
    bool GetLongNamePart(std::string& strOut) const;

private:
    const uint8_t* m_pEntry;
};

// False for an empty text or one holding any of ? * | \ / : " < >.
bool IsValidLongName(const std::string& strName);

// The name of a file from a run of entries: long-name entries (stored last part first) ended
// by an 8.3 entry. The parts of the long-name entries just before the 8.3 entry (at most 20,
// the most one name can have) are joined; when there are none, or the joined text fails
// IsValidLongName, the name is the 8.3 name with a dot. Invalid entries inside the run are
// not looked at (the caller forms the run). False, with no name, when the run holds no 8.3
// entry; *pShortEntryOffset then receives the byte offset of the 8.3 entry when given.
bool GetNameFromEntries(const uint8_t* pEntries, size_t nLength, std::string& strName,
                        size_t* pShortEntryOffset = nullptr);
