// The properties of a file or folder found on an EXT2/EXT3 file system: its name, size, times and
// the blocks that hold its data (packed), and, while the tree is being linked, the names under
// which a directory's entries list other inodes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "DataRunList.h"
#include "EngineMemory.h"
#include "FoundFileProperties.h"

// Attribute bit of a file with fewer allocated sectors than its size counts blocks (truncated or
// sparse): no runs are given for it, since its blocks cannot be told from its holes.
const uint16_t EXT2_ATTR_SHORT = 0x200;

class CExt2FileProperties : public CDatedFileProperties {
public:
    typedef std::basic_string<char, std::char_traits<char>, CEngineAllocator<char>> CName;
    // Inode number -> the name a directory entry gives it.
    typedef std::map<uint32_t, CName, std::less<uint32_t>, CEngineAllocator<std::pair<const uint32_t, CName>>>
        CNameMap;

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

    // Directory entries: a later name for the same inode replaces the earlier one. The map is
    // made on the first insert.
    void SetEntryName(uint32_t nInode, const char* pName, size_t nLength);
    // The name an entry gives nInode; null when none does.
    const CName* FindEntryName(uint32_t nInode) const;
    const CNameMap* GetNameMap() const;
    void ReleaseNameMap();

    const char* GetName() override { return m_pszName != nullptr ? m_pszName : ""; }
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
    struct CNameMapHolder;

    CNameMapHolder* m_pNameMap;
    uint32_t m_nInode;
};
