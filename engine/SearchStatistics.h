// Counters of one block scan, shared by every search controller of the scan: each controller's
// SearchSectors receives a pointer to the same record and counts what it found there.
#pragma once

#include <cstdint>

struct SEARCH_STATISTICS {
    uint64_t ullSpare1;
    uint64_t FATBootRecords;      // FAT controller: boot records found
    uint64_t FATFolders;          // FAT controller: directory starts found
    uint64_t FATFolderParts;      // FAT controller: directory continuation sectors found
    uint64_t NTFSBootRecords;     // NTFS controller: boot records found
    uint64_t NTFSFileRecords;     // NTFS controller: FILE records found
    uint64_t FilesIdentified;     // carving controller: files identified by signature
    uint64_t TotalFilesFound;     // FAT, NTFS and carving; mirrored into the progress record
    uint64_t ullBlockCounter9;    // per-block counters: zeroed before every block
    uint64_t ullBlockCounter10;
    uint64_t ullSpare11;
    uint64_t ullBlockCounter12;
    uint64_t ullNTFSCounter13;    // NTFS controller, counted across blocks
    uint64_t ullNTFSCounter14;
    uint64_t ullBlockCounter15;
    uint64_t ullBlockCounter16;   // per block; counted by the NTFS controller
};

static_assert(sizeof(SEARCH_STATISTICS) == 16 * 8, "sixteen 64-bit counters");
