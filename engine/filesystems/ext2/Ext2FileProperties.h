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
#include "FileProperties.h"
#include "PackedDataRuns.h"

// Attribute bit of a file with fewer allocated sectors than its size counts blocks (truncated or
// sparse): no runs are given for it, since its blocks cannot be told from its holes.
const uint16_t EXT2_ATTR_SHORT = 0x200;

class CExt2FileProperties : public IFileProperties {
public:
    typedef std::basic_string<char, std::char_traits<char>, CEngineAllocator<char>> CName;
    // Inode number -> the name a directory entry gives it.
    typedef std::map<uint32_t, CName, std::less<uint32_t>, CEngineAllocator<std::pair<const uint32_t, CName>>>
        CNameMap;

    CExt2FileProperties();
    ~CExt2FileProperties() override;
    CExt2FileProperties(const CExt2FileProperties&) = delete;
    CExt2FileProperties& operator=(const CExt2FileProperties&) = delete;

    // Keeps a copy of nLength bytes (at most 65535: the stored length is 16 bits).
    void SetName(const char* pName, size_t nLength);
    void SetName(const char* pszName);
    void SetSize(uint64_t ullSize) { m_ullSize = ullSize; }
    void SetAttributes(uint16_t nAttributes) { m_nAttributes = nAttributes; }
    void SetTimes(FILETIME creation, FILETIME modification, FILETIME access);
    void SetStatus(uint8_t nStatus) { m_nStatus = nStatus; }
    void SetInodeNumber(uint32_t nInode) { m_nInode = nInode; }
    uint32_t GetInodeNumber() const { return m_nInode; }
    // Packs the runs (a null or empty list leaves none), replaces any earlier ones and deletes
    // the list.
    void SetDataRunList(CExt2DataRunList* pList);
    bool HasDataRuns() const { return m_pPackedRuns != nullptr; }

    // Directory entries: a later name for the same inode replaces the earlier one. The map is
    // made on the first insert.
    void SetEntryName(uint32_t nInode, const char* pName, size_t nLength);
    // The name an entry gives nInode; null when none does.
    const CName* FindEntryName(uint32_t nInode) const;
    const CNameMap* GetNameMap() const;
    void ReleaseNameMap();

    int32_t GetNameLength() override { return m_nNameLength; }
    const char* GetName() override { return m_pszName != nullptr ? m_pszName : ""; }
    uint64_t GetSize() override { return m_ullSize; }
    uint16_t GetAttributes() override { return m_nAttributes; }
    void GetCreationTime(FILETIME* pTime) override;
    void GetModificationTime(FILETIME* pTime) override;
    void GetAccessTime(FILETIME* pTime) override;
    uint8_t GetStatus() override { return m_nStatus; }
    uint8_t GetCheckState() override { return m_nCheckState; }
    void SetCheckState(uint8_t nState) override { m_nCheckState = nState; }
    IDataRunList* GetDataRunList() override;
    int32_t GetValidPropertyMask() override { return 0xFF; }
    uint8_t GetFlag() override { return m_nFlag; }
    // Stores 1 for any non-zero flag; returns the previous flag.
    int32_t SetFlag(uint8_t nFlag) override;
    // Name length (u16), name, size (u64), attributes (u16), creation, modification and access
    // times (u64 each), status (u8), runs present (u32), then the packed runs when present.
    BOOL Save(IDataStream* pWriter) override;
    int32_t GetPropertiesKind() override { return PROPERTIES_KIND_EXT2; }
    // FALSE on a short or damaged record; the check state and the flag start at 0.
    BOOL Load(IDataStream* pReader) override;
    int32_t GetReservedValue() override { return 0; }

private:
    struct CNameMapHolder;

    char* m_pszName;
    uint16_t m_nNameLength;
    uint64_t m_ullSize;
    uint16_t m_nAttributes;
    FILETIME m_CreationTime;
    FILETIME m_ModificationTime;
    FILETIME m_AccessTime;
    uint8_t m_nStatus;
    uint8_t m_nCheckState;
    uint8_t m_nFlag;
    PACKED_DATA_RUNS* m_pPackedRuns;
    CNameMapHolder* m_pNameMap;
    uint32_t m_nInode;
};
