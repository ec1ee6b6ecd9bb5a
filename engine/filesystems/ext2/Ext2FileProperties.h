// The properties of a file or folder found on an EXT2/EXT3 file system: its name, size, times,
// inode number and the blocks that hold its data (packed).
#pragma once

#include <cstddef>
#include <cstdint>

#include "DataRunList.h"
#include "EngineMemory.h"
#include "FoundFileProperties.h"

// Status values.
const uint8_t EXT2_STATUS_LIVE = 0;
const uint8_t EXT2_STATUS_DELETED = 1;

// Attribute bit of a file with fewer allocated sectors than its size counts blocks (truncated or
// sparse): no runs are given for it, since its blocks cannot be told from its holes.
const uint16_t EXT2_ATTR_SHORT = 0x200;

class CExt2FileProperties : public CDatedFileProperties {
public:
    CExt2FileProperties();
    ~CExt2FileProperties() override;

    // Keeps a copy of nLength bytes (at most 65535: the stored length is 16 bits).
    void SetName(const char* pName, size_t nLength) { AssignName(pName, nLength); }
    void SetName(const char* pszName);
    void SetSize(uint64_t ullSize) { m_ullSize = ullSize; }
    void SetTimes(FILETIME creation, FILETIME modification, FILETIME access);
    void SetInodeNumber(uint32_t nInode) { m_nInode = nInode; }
    uint32_t GetInodeNumber() const { return m_nInode; }
    // Packs the runs (a null or empty list leaves none), replaces any earlier ones and deletes
    // the list.
    void SetDataRunList(CExt2DataRunList* pList);
    // Takes runs already packed (null for none), replacing any earlier ones.
    void SetPackedRuns(PACKED_DATA_RUNS* pRuns) { AdoptPackedRuns(pRuns); }
    // Packs nCount runs of an array (none: no runs), replacing any earlier ones.
    void SetRuns(const DATA_RUN* pRuns, size_t nCount) { PackRuns(pRuns, nCount); }
    // The file's bytes are kept in its inode (inline data), in place of any runs: a resident run
    // whose start is the sector (of the device the tree is built on) where the inode's record
    // begins, whose length is the record's size in bytes, and whose resident value is the byte
    // offset in that sector of the inode's block area, where the bytes begin (never 0).
    void SetInlineData(uint64_t ullSector, uint32_t nRecordBytes, uint16_t nAreaOffset);

    const char* GetName() override { return HasName() ? NameOrNull() : ""; }
    int32_t GetValidPropertyMask() override { return 0xFF; }
    // Stores 1 for any non-zero flag; returns the previous flag.
    int32_t SetFlag(uint8_t nFlag) override;
    // The leading fields (name length, name, size, attributes, the three times, status), runs
    // present (u32), then the packed runs when present.
    BOOL Save(IDataStream* pWriter) override;
    int32_t GetPropertiesKind() override { return PROPERTIES_KIND_EXT2; }
    // FALSE on a short or damaged record; the check state and the flag start at 0.
    BOOL Load(IDataStream* pReader) override;

private:
    uint32_t m_nInode;
};
