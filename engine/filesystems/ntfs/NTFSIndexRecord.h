// Checks of the NTFS structures that a sector scan meets outside FILE records: INDX blocks of a
// folder's $INDEX_ALLOCATION, the entries of a folder's $INDEX_ROOT, and $LogFile RCRD pages.
//
// INDX block: 0 "INDX", 4 update sequence array offset, 6 update sequence count (the number and
// one saved word per 512-byte sector), 16 VCN of the block, and at 24 the index header: 24 first
// entry, 28 bytes of entries in use, 32 bytes allocated (all three counted from offset 24).
// Index entry: 0 file reference, 8 entry length, 10 key length, 12 flags (1 has a sub-node,
// 2 last entry), 16 the key, a $FILE_NAME value (0 parent reference, 40 allocated size, 48 real
// size, 64 name length).
//
// Every routine takes the size of the bytes it is given and reads nothing outside them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "NTFSRecordMapping.h"

const uint32_t NTFS_INDX_SIGNATURE = 0x58444E49;  // "INDX"
const uint32_t NTFS_RCRD_SIGNATURE = 0x44524352;  // "RCRD"
// A $LogFile log record page: eight sectors, its update sequence array at 40 with 9 words.
const size_t NTFS_RCRD_PAGE_BYTES = 4096;

const uint16_t NTFS_INDEX_ENTRY_SUBNODE = 0x01;
const uint16_t NTFS_INDEX_ENTRY_LAST = 0x02;

// "INDX"; the size holds the allocated bytes, which hold the bytes in use; an update sequence
// count of at most 16 that covers exactly the allocated area ((allocated + 24) / 512 + 1) and
// fits the size; the array at 40 to 256 and inside the block.
bool IsValidIndexBlock(const uint8_t* pBlock, size_t nSize);
// IsValidIndexBlock, the fix-ups checked and applied, every entry's key consistent with the
// first entry's (same parent, allocated size not below real size), then the fix-ups undone:
// the block's bytes are as they were afterwards. True only when everything passed.
bool ValidateIndexBlock(uint8_t* pBlock, size_t nSize);
// The 48-bit parent number in the key of the block's first entry; NTFS_NO_RECORD_NUMBER when
// that key does not lie inside the block.
uint64_t GetIndexBlockParent(const uint8_t* pBlock, size_t nSize);
// The block's VCN (offset 16); 0 for a buffer too short to hold it.
uint64_t GetIndexBlockVCN(const uint8_t* pBlock, size_t nSize);

// Fix-ups of an INDX block whose header IsValidIndexBlock accepted (the same scheme as a FILE
// record's): the check, applying (false, nothing changed, when the check fails) and undoing.
bool VerifyIndexBlockFixups(const uint8_t* pBlock, size_t nSize);
bool ApplyIndexBlockFixups(uint8_t* pBlock, size_t nSize);
void RestoreIndexBlockFixups(uint8_t* pBlock, size_t nSize);

// The signature "RCRD".
bool IsRCRDPage(const uint8_t* pPage, size_t nSize);
// A whole page: "RCRD", update sequence array at 40 with count 9, and the last word of each of
// the 8 sectors equal to the update sequence number.
bool IsValidRCRDPage(const uint8_t* pPage, size_t nSize);

// The folder a resident $INDEX_ROOT belongs to: the common parent of the entries its root node
// holds; NTFS_NO_RECORD_NUMBER when the entries name different parents, when none was seen, or
// when the attribute is not a resident index root that holds its entries. nRoom: the bytes from
// the attribute to the end of its record's area.
uint64_t GetFolderNumberFromIndexRoot(const uint8_t* pAttr, size_t nRoom);
