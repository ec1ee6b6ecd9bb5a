// A found file's properties, implemented per file system (FAT, NTFS, EXT2/EXT3) and for
// carved files, on the shared base of FoundFileProperties.h. Every implementation keeps its runs
// packed (PACKED_DATA_RUNS) and unpacks a new list on each GetDataRunList.
#pragma once

#include <cstdint>
#include <vector>

#include "DataRunList.h"
#include "EngineMemory.h"
#include "IDataStream.h"
#include "WinTypes.h"

// Windows file-attribute bits that the tree's statistics read.
const uint16_t FILE_ATTR_DIRECTORY = 0x10;
const uint16_t FILE_ATTR_ARCHIVE = 0x20;
const uint16_t FILE_ATTR_COMPRESSED = 0x800;
const uint16_t FILE_ATTR_ENCRYPTED = 0x4000;

// Selection states.
const uint8_t CHECK_STATE_NONE = 0;
const uint8_t CHECK_STATE_PARTIAL = 1;
const uint8_t CHECK_STATE_SELECTED = 2;

// Values of GetPropertiesKind.
enum {
    PROPERTIES_KIND_NTFS = 0,
    PROPERTIES_KIND_FAT = 1,
    PROPERTIES_KIND_EXT2 = 2,
    PROPERTIES_KIND_RAW = 3,
};

// How a file's bytes follow from its runs where a plain copy of them would be wrong (NTFS).
struct DATA_STREAM_LAYOUT {
    // Bytes from the start of the file that hold its data; past them the file reads as zeros
    // whatever its clusters hold (NTFS valid data length). At most the file's size.
    uint64_t ullValidSize;
    // 0: the runs hold the bytes as they are. Otherwise the runs hold LZNT1 compression units
    // of this many clusters each: a unit whose clusters are all sparse is zeros, a unit whose
    // clusters all hold data is stored as it is, any other unit is compressed.
    uint32_t nCompressionUnitClusters;
};

class IFileProperties : public CEngineObject {
public:
    // Releases the object and its packed runs.
    virtual ~IFileProperties() {}
    // Name length in bytes, without terminator.
    virtual int32_t GetNameLength() = 0;
    // Narrow (UTF-8) name, owned by the properties.
    virtual const char* GetName() = 0;
    virtual uint64_t GetSize() = 0;
    virtual uint16_t GetAttributes() = 0;
    virtual void GetCreationTime(FILETIME* pTime) = 0;
    virtual void GetModificationTime(FILETIME* pTime) = 0;
    virtual void GetAccessTime(FILETIME* pTime) = 0;
    // 1 marks a deleted entry; the readers give their made-up folders further values.
    virtual uint8_t GetStatus() = 0;
    virtual uint8_t GetCheckState() = 0;
    virtual void SetCheckState(uint8_t nState) = 0;
    // A new list that the caller deletes; null when the file has no runs.
    virtual IDataRunList* GetDataRunList() = 0;
    virtual int32_t GetValidPropertyMask() = 0;
    virtual uint8_t GetFlag() = 0;
    virtual int32_t SetFlag(uint8_t nFlag) = 0;
    virtual BOOL Save(IDataStream* pWriter) = 0;
    virtual int32_t GetPropertiesKind() = 0;
    // FALSE on a short or damaged record.
    virtual BOOL Load(IDataStream* pReader) = 0;
    virtual int32_t GetReservedValue() = 0;
    // FALSE (and *pLayout untouched) when a plain copy of the runs up to the size gives the
    // file's bytes; the file systems whose data can be compressed or partly initialised say
    // otherwise.
    virtual BOOL GetDataStreamLayout(DATA_STREAM_LAYOUT* pLayout)
    {
        (void)pLayout;
        return FALSE;
    }
    // The runs of the non-resident list GetDataRunList would give, put into *pRuns (emptied
    // first; left empty where it would give null) without making the list: for a walk over many
    // files that spares a list's allocations per file. FALSE, and *pRuns untouched, when only
    // GetDataRunList can say (a resident list, or properties that do not tell).
    virtual BOOL GetNonResidentRuns(std::vector<DATA_RUN>* pRuns)
    {
        (void)pRuns;
        return FALSE;
    }
};
