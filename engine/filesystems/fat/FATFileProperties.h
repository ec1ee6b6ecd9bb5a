// Properties of a file or folder found by the FAT reader: the directory entry's name, size,
// attribute byte and three times, whether it was deleted, the first clusters of the entry and of
// its folder, and the file's clusters. Runs are (data-area cluster index, cluster count), where
// index 0 is cluster 2; the tree root gives the sector of cluster 2 and the cluster size.
#pragma once

#include <cstdint>

#include "DataRunList.h"
#include "FoundFileProperties.h"

// Status values.
const uint8_t FAT_STATUS_LIVE = 0;
const uint8_t FAT_STATUS_DELETED = 1;
const uint8_t FAT_STATUS_TEMPORARY = 8;
// A folder the reader made up: deleted and temporary.
const uint8_t FAT_STATUS_SYNTHETIC = FAT_STATUS_DELETED | FAT_STATUS_TEMPORARY;

// First cluster of "Lost Folders", and parent cluster when none is known.
const uint32_t FAT_UNKNOWN_CLUSTER = 0xFFFFFFFF;

class CFATFileProperties : public CDatedFileProperties {
public:
    // Every field zero.
    static CFATFileProperties* Create();

    CFATFileProperties();

    int32_t GetValidPropertyMask() override { return 0xFF; }
    // The leading fields (name length, name, size, attributes, the three times, status), first
    // cluster, parent cluster, runs-present flag (u32 each), then the packed runs when present.
    BOOL Save(IDataStream* pWriter) override;
    int32_t GetPropertiesKind() override { return PROPERTIES_KIND_FAT; }
    // FALSE on a short or damaged record; the properties keep their old values then.
    BOOL Load(IDataStream* pReader) override;

    // Keeps a copy; null clears the name.
    void SetName(const char* pszName);
    void SetSize(uint64_t nSize) { m_ullSize = nSize; }
    // From a directory entry's DOS date and time, without time-zone conversion; a pair the
    // calendar rejects gives 0.
    void SetCreationTime(uint16_t wDate, uint16_t wTime);
    void SetModificationTime(uint16_t wDate, uint16_t wTime);
    void SetAccessTime(uint16_t wDate);
    void SetFirstCluster(uint32_t nCluster) { m_nFirstCluster = nCluster; }
    uint32_t GetFirstCluster() const { return m_nFirstCluster; }
    void SetParentCluster(uint32_t nCluster) { m_nParentCluster = nCluster; }
    uint32_t GetParentCluster() const { return m_nParentCluster; }
    uint64_t GetModificationTicks() const { return m_ftModification.qwTicks; }

    // Packs the list into the properties and deletes it.
    void SetDataRunList(CFATDataRunList* pList);
    // Packs the list into the properties; the caller keeps the list (the tree builder reuses one).
    void PackDataRuns(IDataRunList* pList) { PackRuns(pList); }

private:
    uint32_t m_nFirstCluster;
    uint32_t m_nParentCluster;
};
