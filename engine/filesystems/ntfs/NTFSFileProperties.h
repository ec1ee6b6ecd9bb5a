// Properties of a file or folder found in an NTFS FILE record: the name of its chosen $FILE_NAME,
// size, attributes and times, whether the record is deleted, the sector of its FILE record, the
// extension records its $ATTRIBUTE_LIST names, and where its data lies.
//
// Data runs are clusters counted from the partition start (-1 start for sparse runs); resident
// data is one run {sector of the FILE record that holds it, 1} whose resident value is the
// data's offset in that record (read with the record's fix-ups applied).
#pragma once

#include <cstdint>

#include "ClusterUseBitMap.h"
#include "DataRunList.h"
#include "FoundFileProperties.h"
#include "NTFSRecordMapping.h"

class CNTFSFullFileRecord;

// Status values.
const uint8_t NTFS_STATUS_LIVE = 0;
const uint8_t NTFS_STATUS_DELETED = 1;
// A folder the tree builder made for files whose folder it could not reach.
const uint8_t NTFS_STATUS_LOST_FILES = 8;

class CNTFSFileProperties : public CDatedFileProperties, public IFileRecordLocation {
public:
    CNTFSFileProperties();
    ~CNTFSFileProperties() override;

    int32_t GetValidPropertyMask() override { return 0xFF; }
    // Returns the previous flag.
    int32_t SetFlag(uint8_t nFlag) override;
    // The leading fields (name length, name, size, attributes, the three times, status), record
    // sector (u64), runs present (u32), the packed runs when present, extension-record count
    // (u64), then each extension record's sector and number (8 bytes each).
    BOOL Save(IDataStream* pWriter) override;
    int32_t GetPropertiesKind() override { return PROPERTIES_KIND_NTFS; }
    // FALSE on a short or damaged record (a count beyond NTFS_MAX_EXTENSION_RECORDS included);
    // the properties keep their old values then.
    BOOL Load(IDataStream* pReader) override;
    // TRUE for non-resident data that is compressed or whose valid data length stops short of
    // the size. Not part of the saved form: loaded properties copy their runs as they are.
    BOOL GetDataStreamLayout(DATA_STREAM_LAYOUT* pLayout) override;

    bool GetFileRecordSector(uint64_t* pullSector) override;
    uint64_t GetRecordSector() const { return m_ullRecordSector; }
    const CRecordLocationList* GetRecordExtents() const { return m_pRecordExtents; }
    // Takes the list over (null clears it).
    void SetRecordExtents(CRecordLocationList* pExtents);

    // Keeps a copy of nLength bytes; null clears the name.
    void SetName(const char* pszName, size_t nLength);
    // The size as the record gives it: negative while CompleteNTFSFileSize has yet to work it out.
    int64_t GetSignedSize() const { return static_cast<int64_t>(m_ullSize); }
    void SetSize(int64_t llSize) { m_ullSize = static_cast<uint64_t>(llSize); }
    void SetTimes(uint64_t ullCreation, uint64_t ullModification, uint64_t ullAccess)
    {
        SetTimeTicks(ullCreation, ullModification, ullAccess);
    }
    void SetRecordSector(uint64_t ullSector) { m_ullRecordSector = ullSector; }
    // Packs the list into the properties and deletes it (null clears the runs).
    void SetDataRunList(IDataRunList* pList);
    // The $DATA attribute's valid data length (clamped to the size when the layout is asked
    // for) and its compression unit in clusters (0 when not compressed).
    void SetDataStreamLayout(uint64_t ullValidSize, uint32_t nCompressionUnitClusters)
    {
        m_ullValidSize = ullValidSize;
        m_nCompressionUnitClusters = nCompressionUnitClusters;
    }

private:
    uint64_t m_ullRecordSector;
    CRecordLocationList* m_pRecordExtents;
    uint64_t m_ullValidSize;            // UINT64_MAX: the whole size
    uint32_t m_nCompressionUnitClusters;
};

// The properties of the file in a full record (base and extension records); null when it has
// no record or no $FILE_NAME, an empty name, or a name the scan's file-type filter refuses.
// ullClusterBytes sizes the allocation that caps the file size (512 x sectors per cluster).
// *pullParent, when given, receives the folder the chosen name places the file in.
CNTFSFileProperties* CreateNTFSFileProperties(uint64_t ullRecordSector, CNTFSFullFileRecord& record,
                                              uint64_t ullClusterBytes, uint64_t* pullParent);

// A negative size becomes the clusters of the non-resident runs x sectors per cluster x 512.
void CompleteNTFSFileSize(CNTFSFileProperties* pProperties, uint32_t nSectorsPerCluster);

// Properties of a folder the tree builder makes itself (the volume root, a lost-files folder).
CNTFSFileProperties* CreateNTFSFolderProperties(const char* pszName, uint8_t byStatus);
