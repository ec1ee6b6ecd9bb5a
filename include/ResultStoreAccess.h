// What the copy-out module reads of the result store: the ticked files (or any one file) with
// their folder path in the result tree, size, times, attributes and where their bytes lie on the
// scanned medium.
//
// libCorrand.so exports, beside CreateInstance:
//     extern "C" IResultStoreAccess* GetResultStoreAccess();
// which returns the same process-wide store object that CreateInstance hands out as ICorrand,
// so the copy-out module sees the tick states the result page set. Load the module the way the
// program does (dlopen of "libCorrand.so" from the module folder; a library that is already
// loaded is not loaded twice) and resolve the function by name.
//
// Both modules are built together by this project with the same compiler and standard library,
// so the records below carry standard strings and vectors. Every call is safe from any thread;
// each takes the store's lock only for its own duration.
//
// Positions on the medium. Every run is given in 512-byte sectors of the device the engine
// scanned for the result (STORED_VOLUME::Source): for a quick or a complete scan, the volume the
// engine found among the volumes it collects (a basic partition, a dynamic volume spread over
// several disks, a floppy), counted from that volume's first sector; for a whole-disk scan, the
// disk itself. The store has already turned clusters and blocks into sectors and added the
// start of a partition found inside the scanned device. A dynamic volume's sectors lie on its
// member disks in the volume's own layout, so runs must be read through the volume, never from
// one disk. A run whose sector is STORED_RUN_SPARSE has no bytes on the medium and reads as
// zeros. The runs may cover more than the file's size (the last cluster is whole); the file ends
// at ullSize.
//
// Resident data (small NTFS files): the bytes lie inside the file's FILE record, not in a run.
// ullResidentSector is the sector of the scanned device where that record begins and
// dwResidentOffset the byte offset of the data within the record; the data is ullSize bytes
// long. The record must be read whole (its length is the u32 at record offset 0x1C) and its
// update-sequence fix-ups applied before the bytes are taken, since every 512-byte stretch of a
// FILE record ends in two bytes that the fix-up array replaces on disk.
//
// Inline data (small EXT4 files): the bytes lie inside the file's inode. They are told from
// NTFS resident data by dwResidentOffset above 0xFFFF: its upper 16 bits are the inode record's
// size in bytes (a power of two from 128 to 32768), its lower 16 bits the byte offset, in the
// sector ullResidentSector, of the inode's 60-byte block area (the record begins 40 bytes
// before it, in that same sector). The first 60 bytes of the file are the block area's; the
// rest are the value of the "system.data" extended attribute kept in the record after its extra
// fields. The data is ullSize bytes long, never more than the block area and that value hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "DiskInfo.h"
#include "WinTypes.h"

constexpr ULONGLONG STORED_RUN_SPARSE = ~0ULL;

// Inline data (see above): where the block area lies in an inode record, and the largest record.
constexpr DWORD STORED_INLINE_AREA_OFFSET = 40;
constexpr DWORD STORED_INLINE_MAX_RECORD = 32768;

struct STORED_RUN {
    ULONGLONG ullSector;  // sector of the scanned device (see above), or STORED_RUN_SPARSE
    ULONGLONG ullSectors; // length in 512-byte sectors
};

// STORED_SOURCE::dwKind
enum : DWORD {
    STORED_SOURCE_DISK = 0,    // the disk dwDiskNumber itself (results of a whole-disk scan)
    STORED_SOURCE_VOLUME = 1,  // a volume the engine collects, named by the fields below
};

// The device a result's runs are counted on. A volume is named the way the engine finds the
// partition record it is given among the volumes it collects: the first collected volume whose
// first member lies on disk dwDiskNumber at ullStartSector and whose length is ullSectors (not
// compared when dwWholeDisk is set); a volume without a disk (a floppy, disk number 0xFFFFFFFF)
// by its drive letter.
struct STORED_SOURCE {
    DWORD dwKind = STORED_SOURCE_DISK;
    DWORD dwDiskNumber = 0;
    ULONGLONG ullStartSector = 0;  // STORED_SOURCE_VOLUME: its first member's start on the disk
    ULONGLONG ullSectors = 0;
    DWORD dwWholeDisk = 0;
    CHAR chDriveLetter = 0;        // 0 = none (records of partitions found by a scan carry none)
};

// One result (volume) of the last scan.
struct STORED_VOLUME {
    DWORD dwVolume;               // the volume number that keys its files
    DWORD dwDiskNumber;           // the record's disk number
    // Disk sector at which the device the tree was built on began: the partition or volume (a
    // dynamic volume's first member) for a quick or a complete scan of one partition; 0, or the
    // found partition's start, for a scan of the whole disk. For the log and for messages only:
    // runs count from the first sector of Source (see above).
    ULONGLONG ullDeviceStart;
    STORED_SOURCE Source;         // what the runs are read through
    PARTITION_INFO_EX Partition;  // the record the engine handed over with this result
};

// STORED_FILE::dwFlags
enum : DWORD {
    STORED_FILE_FOLDER = 0x1,        // a folder: no runs, no data
    STORED_FILE_LOCAL_TIMES = 0x2,   // the times are the file system's own local clock readings
                                     // (FAT), not UTC
    STORED_FILE_RESIDENT = 0x4,      // the data is resident (see above)
    STORED_FILE_RUNS_DAMAGED = 0x8,  // some run could not be placed on the disk (an impossible
                                     // position or unit); it was stored as a sparse run
};

struct STORED_FILE {
    DWORD dwVolume = 0;
    DWORD dwRecord = 0;
    DWORD dwParentRecord = 0;
    DWORD dwFlags = 0;                 // STORED_FILE_*
    std::u16string strName;            // the name as found (may be empty, or hold any character)
    // Names of the folders from the volume's top down to the file's own folder; the first is
    // the result's root folder ("Deleted Files").
    std::vector<std::u16string> vecFolders;
    ULONGLONG ullSize = 0;
    FILETIME ftCreation{};             // 0 when unknown
    FILETIME ftModification{};
    FILETIME ftAccess{};
    WORD wAttributes = 0;              // Windows attribute bits (0x10 folder, 0x800 compressed,
                                       // 0x4000 encrypted)
    BYTE byStatus = 0;                 // 1 = deleted entry
    ULONGLONG ullResidentSector = 0;   // STORED_FILE_RESIDENT only
    DWORD dwResidentOffset = 0;        // STORED_FILE_RESIDENT only (above 0xFFFF: inline data)
    std::vector<STORED_RUN> vecRuns;   // in file order
    // Bytes from the file's start that hold its data (NTFS valid data length); past them, up
    // to ullSize, the file reads as zeros whatever its runs hold. ~0 (or anything from ullSize
    // up): the whole file.
    ULONGLONG ullValidSize = ~0ULL;
    // 0: the runs hold the file's bytes as they are. Otherwise NTFS compression: the runs,
    // taken from the file's start in units of this many sectors, hold LZNT1 compression units.
    // A unit whose sectors are all sparse is zeros; a unit whose sectors all lie on the medium
    // is stored as it is; a unit that lies on the medium in part and is sparse for the rest
    // holds that many sectors of LZNT1 chunks that give the unit's bytes.
    DWORD dwCompressionUnitSectors = 0;
};

// Largest compression unit a store hands out, in sectors: 16 clusters of 64 KiB, the largest
// NTFS cluster.
constexpr DWORD MAX_COMPRESSION_UNIT_SECTORS = 2048;

// Position of a walk over the ticked files; start with a value-initialised cursor.
struct CHECKED_FILE_CURSOR {
    DWORD dwVolume = 0;
    DWORD dwNextRecord = 0;
    bool bDone = false;
};

class IResultStoreAccess {
public:
    virtual ~IResultStoreAccess() {}

    // Number of volumes of the current result.
    virtual int32_t GetVolumeCount(DWORD* pdwCount) = 0;
    // 0 and *pVolume filled; non-zero when there is no such volume.
    virtual int32_t GetVolume(DWORD dwVolume, STORED_VOLUME* pVolume) = 0;
    // 0 and *pFile filled (runs and folder path included); non-zero when there is no such record.
    virtual int32_t GetStoredFile(DWORD dwVolume, DWORD dwRecord, STORED_FILE* pFile) = 0;
    // Number and total size of the ticked files of every volume.
    virtual int32_t GetCheckedTotals(ULONGLONG* pullFiles, ULONGLONG* pullBytes) = 0;
    // Appends up to nMax ticked files to *pvecFiles, volume by volume, each folder's files and
    // subfolders in tree order, and moves the cursor on. 0 while files were appended; non-zero
    // (and nothing appended) once the walk is done or on an error.
    virtual int32_t GetNextCheckedFiles(CHECKED_FILE_CURSOR* pCursor, std::vector<STORED_FILE>* pvecFiles,
                                        size_t nMax) = 0;
};

typedef IResultStoreAccess* (*PFN_GET_RESULT_STORE_ACCESS)();
