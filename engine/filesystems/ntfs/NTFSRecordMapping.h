// Between FILE record numbers and the sectors that hold them, through the run list of $MFT's
// data; and the extension records that a base record's $ATTRIBUTE_LIST names.
//
// Sector numbers are absolute on the device (the partition start included) and 64-bit; record
// numbers are the low 48 bits of a file reference. Both use ~0 for "unknown".
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "EngineMemory.h"

class CMFTRecordInfo;
class CNTFSRunList;
class IStorageDevice;

const uint64_t NTFS_UNKNOWN_SECTOR = ~0ull;
const uint64_t NTFS_NO_RECORD_NUMBER = ~0ull;

// An extension FILE record to be read: its sector (NTFS_UNKNOWN_SECTOR while unknown) and its
// record number.
struct RECORD_LOCATION {
    uint64_t ullSector;
    uint64_t ullRecordNumber;
};

class CRecordLocationList : public CEngineObject {
public:
    typedef std::vector<RECORD_LOCATION, CEngineAllocator<RECORD_LOCATION>> CItems;
    CItems Items;
};

// An $ATTRIBUTE_LIST is read whole into memory. Real lists stay far below this (the format
// keeps them under 256 KiB); a damaged size must not decide how much is allocated and read.
const uint64_t NTFS_MAX_ATTRIBUTE_LIST_BYTES = 1u << 20;
// An attribute-list entry: 0 type, 4 length, 6 name length, 7 name offset, 8 first VCN,
// 16 file reference of the record holding the attribute, 24 attribute id.
const size_t NTFS_ATTRIBUTE_LIST_ENTRY_MIN_BYTES = 26;
// Most extension records one file can name: one per list entry of the largest list read.
const uint64_t NTFS_MAX_EXTENSION_RECORDS = NTFS_MAX_ATTRIBUTE_LIST_BYTES / 32;

// Sector of record ullNumber: the record's first sector counted through $MFT's data (ullNumber x
// nSectorsPerRecord), mapped by the runs to a cluster. NTFS_UNKNOWN_SECTOR when the runs do not
// map it (sparse or beyond them) or a factor is 0.
uint64_t RecordNumberToSector(uint64_t ullNumber, uint64_t ullPartitionStart, uint32_t nSectorsPerCluster,
                              const CNTFSRunList& mftRuns, uint32_t nSectorsPerRecord);
// The inverse through a $MFT copy's runs and sectors per record: NTFS_NO_RECORD_NUMBER when
// the sector's cluster is not part of $MFT's data or the sector does not start a record.
uint64_t SectorToRecordNumber(uint64_t ullSector, uint64_t ullPartitionStart, const CMFTRecordInfo& mft,
                              uint32_t nSectorsPerCluster);

// The bytes of the record's $ATTRIBUTE_LIST: a resident value as it stands; a non-resident one
// read from the device run by run into a zeroed buffer of its allocated size (at most
// NTFS_MAX_ATTRIBUTE_LIST_BYTES), a run that would pass the buffer ending the reading. The
// record's fix-ups must be applied. False when the record has no list or its sizes are unusable.
bool ReadAttributeList(const uint8_t* pRecord, size_t nLength, uint64_t ullPartitionStart,
                       uint32_t nSectorsPerCluster, IStorageDevice* pDevice,
                       std::vector<uint8_t, CEngineAllocator<uint8_t>>& list);
// The distinct file references of a list's entries as locations with an unknown sector. The walk
// stops at an entry of type or length 0, one shorter than an entry's fixed part, one that runs
// past the list, and after NTFS_MAX_EXTENSION_RECORDS records.
void ParseAttributeListLocations(const uint8_t* pList, size_t nSize, CRecordLocationList::CItems& locations);

// The extension records of a valid base record with an $ATTRIBUTE_LIST, each with its sector
// through $MFT's runs; locations whose sector is unknown or is the base record's own
// (ullRecordSector) are left out. Null when the record is invalid, has no list, or names no
// other record. The record's bytes are as they were afterwards. The caller owns the list.
CRecordLocationList* CollectExtensionRecords(uint8_t* pRecord, size_t nLength, uint64_t ullRecordSector,
                                             uint64_t ullPartitionStart, uint32_t nSectorsPerCluster,
                                             const CNTFSRunList& mftRuns, uint32_t nSectorsPerRecord,
                                             IStorageDevice* pDevice);
