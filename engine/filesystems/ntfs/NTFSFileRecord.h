// Plain operations on a raw NTFS FILE record held in the caller's buffer: header check,
// update-sequence fix-ups, the attribute walk and its validation, and the header, attribute,
// $FILE_NAME and $STANDARD_INFORMATION fields. Nothing here allocates.
//
// Record header: 0 "FILE", 4 update sequence array offset, 6 update sequence count (the number
// and one saved word per 512-byte sector), 8 $LogFile sequence number, 20 first attribute,
// 22 flags (1 in use, 2 directory), 24 bytes in use, 28 bytes allocated, 32 base record
// reference (48-bit number, 16-bit sequence; 0 in a base record), 42 zero and 44 the record's
// own number in records whose update sequence array starts at 48 or later.
//
// Attribute header: 0 type (0xFFFFFFFF ends the list), 4 length, 8 non-resident flag, 9 name
// length, 12 flags (1 compressed, 0x4000 encrypted); resident: 16 value length, 20 value
// offset; non-resident: 16 first VCN, 24 last VCN, 32 mapping pairs offset, 34 compression
// unit, 40 allocated size, 48 real size, 56 initialized size.
//
// Every walk over the attributes starts at the first-attribute offset and is bounded by the
// record's bytes in use (and by the buffer): an attribute is handed out only when its whole
// declared length lies inside that area. The attribute getters below rely on this and read a
// field only when it lies inside the attribute's own length (0 otherwise), so an attribute
// pointer from FindAttribute can be read safely whatever its bytes say.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

const uint32_t NTFS_FILE_SIGNATURE = 0x454C4946;  // "FILE"
// Fix-ups protect the last word of every 512-byte stretch of a record.
const size_t NTFS_FIXUP_STRIDE = 512;
// Bytes of the header fields read here.
const size_t NTFS_FILE_RECORD_HEADER_BYTES = 48;

const uint16_t NTFS_RECORD_IN_USE = 0x0001;
const uint16_t NTFS_RECORD_DIRECTORY = 0x0002;

const uint32_t NTFS_ATTR_STANDARD_INFORMATION = 0x10;
const uint32_t NTFS_ATTR_ATTRIBUTE_LIST = 0x20;
const uint32_t NTFS_ATTR_FILE_NAME = 0x30;
const uint32_t NTFS_ATTR_VOLUME_NAME = 0x60;
const uint32_t NTFS_ATTR_DATA = 0x80;
const uint32_t NTFS_ATTR_INDEX_ROOT = 0x90;
const uint32_t NTFS_ATTR_INDEX_ALLOCATION = 0xA0;
const uint32_t NTFS_ATTR_END = 0xFFFFFFFF;

const uint16_t NTFS_ATTR_FLAG_COMPRESSED = 0x0001;
const uint16_t NTFS_ATTR_FLAG_ENCRYPTED = 0x4000;

// $FILE_NAME flags and $STANDARD_INFORMATION file attributes.
const uint32_t NTFS_FILE_NAME_FLAG_DIRECTORY = 0x10000000;
const uint32_t NTFS_FILE_ATTR_HIDDEN = 0x0002;
const uint32_t NTFS_FILE_ATTR_SYSTEM = 0x0004;

// ---- Header and fix-ups (nLength: the record's length in bytes) ----

// "FILE"; update sequence count at most 16 and count - 1 at most nLength / 512; the update
// sequence array at 42 to 256 and inside the record; at least the 48 header bytes.
bool IsFileRecordHeader(const uint8_t* pRecord, size_t nLength);
// The last word of every sector the update sequence count covers holds the update sequence
// number. False for a record that fails IsFileRecordHeader.
bool VerifyFixups(const uint8_t* pRecord, size_t nLength);
// VerifyFixups, then the saved words back into place; false, with nothing changed, when the
// check fails.
bool ApplyFixups(uint8_t* pRecord, size_t nLength);
// The saved words back into place without the check, for a record whose bytes are wanted even
// when it was not written whole; false, with nothing changed, for a record that fails
// IsFileRecordHeader.
bool ApplyFixupsUnchecked(uint8_t* pRecord, size_t nLength);
// The inverse of ApplyFixups.
void RestoreFixups(uint8_t* pRecord, size_t nLength);
// IsFileRecordHeader, the fix-ups when they check (a record whose check fails is examined
// without them), then ValidateAttributes. The bytes are as they were afterwards, whatever the
// verdict.
bool IsValidFileRecord(uint8_t* pRecord, size_t nLength);

// ---- Attributes ----

// End of the area the walks cover: the bytes in use, at most nLength; 0 for a buffer too short
// for the header.
size_t GetAttributeAreaEnd(const uint8_t* pRecord, size_t nLength);
// The nIndex-th (from 0) attribute of type nType; the walk stops at the end marker, at an
// attribute of length 0 (which is still looked at) and at one that runs past the area.
const uint8_t* FindAttribute(const uint8_t* pRecord, size_t nLength, uint32_t nType, int nIndex);
uint8_t* FindAttribute(uint8_t* pRecord, size_t nLength, uint32_t nType, int nIndex);
// The same walk, not stopped by the end marker.
int CountAttributes(const uint8_t* pRecord, size_t nLength, uint32_t nType);
// Every attribute up to the end marker passes IsValidAttribute (room: up to the area's end),
// every $FILE_NAME also IsValidFileNameAttribute; an attribute of length 0 ends the walk.
bool ValidateAttributes(const uint8_t* pRecord, size_t nLength);
// nRoom (the bytes from the attribute to the end of its record) holds the header and the
// attribute's length; a resident attribute holds its value; a non-resident one holds its
// 64-byte header and its mapping pairs offset, and a $DATA's mapping pairs are well formed.
bool IsValidAttribute(const uint8_t* pAttr, size_t nRoom);
// IsValidAttribute, type $FILE_NAME, the name inside the attribute, and no '/' among its units
// (a 0 unit ends the scan); outside the POSIX name space (0) none of " * : < > ? \ | either.
bool IsValidFileNameAttribute(const uint8_t* pAttr, size_t nRoom);

// ---- Record header fields (0 / false for a buffer shorter than the header) ----

uint16_t GetFirstAttributeOffset(const uint8_t* pRecord, size_t nLength);
uint16_t GetRecordFlags(const uint8_t* pRecord, size_t nLength);
bool IsRecordInUse(const uint8_t* pRecord, size_t nLength);
bool IsRecordDirectory(const uint8_t* pRecord, size_t nLength);
uint32_t GetBytesInUse(const uint8_t* pRecord, size_t nLength);
uint32_t GetBytesAllocated(const uint8_t* pRecord, size_t nLength);
uint64_t GetLogSequenceNumber(const uint8_t* pRecord, size_t nLength);
// Low 48 bits of the base record reference.
uint64_t GetBaseRecordNumber(const uint8_t* pRecord, size_t nLength);
// The base record reference is not 0.
bool IsExtensionRecord(const uint8_t* pRecord, size_t nLength);
bool HasAttributeList(const uint8_t* pRecord, size_t nLength);
// The update sequence array starts at 48 or later and the word at 42 is 0.
bool HasOwnRecordNumber(const uint8_t* pRecord, size_t nLength);
uint32_t GetOwnRecordNumber(const uint8_t* pRecord, size_t nLength);

// ---- Attribute fields (of an attribute handed out by a walk) ----

uint32_t GetAttributeType(const uint8_t* pAttr);
uint32_t GetAttributeLength(const uint8_t* pAttr);
bool IsAttributeResident(const uint8_t* pAttr);
bool IsAttributeNamed(const uint8_t* pAttr);
uint16_t GetAttributeFlags(const uint8_t* pAttr);
bool IsAttributeCompressed(const uint8_t* pAttr);
bool IsAttributeEncrypted(const uint8_t* pAttr);
uint32_t GetResidentValueLength(const uint8_t* pAttr);
uint16_t GetResidentValueOffset(const uint8_t* pAttr);
// The value of a resident attribute when it lies inside the attribute, else null.
const uint8_t* GetResidentValue(const uint8_t* pAttr, uint32_t* pLength);
uint64_t GetFirstVcn(const uint8_t* pAttr);
uint64_t GetLastVcn(const uint8_t* pAttr);
uint16_t GetMappingPairsOffset(const uint8_t* pAttr);
uint16_t GetCompressionUnit(const uint8_t* pAttr);
uint64_t GetAllocatedSize(const uint8_t* pAttr);
uint64_t GetRealSize(const uint8_t* pAttr);
uint64_t GetInitializedSize(const uint8_t* pAttr);
// The mapping pairs of a non-resident attribute: from their offset to the end of the
// attribute, cut at nRoom; null (and 0) for a resident attribute or an offset past the end.
const uint8_t* GetMappingPairs(const uint8_t* pAttr, size_t nRoom, size_t* pLength);

// ---- $FILE_NAME, read at the fixed value offset 24 of an unnamed resident attribute ----

uint64_t GetFileNameParent(const uint8_t* pAttr);  // low 48 bits
uint64_t GetFileNameCreationTime(const uint8_t* pAttr);
uint64_t GetFileNameModificationTime(const uint8_t* pAttr);
uint64_t GetFileNameAccessTime(const uint8_t* pAttr);
uint64_t GetFileNameRealSize(const uint8_t* pAttr);
uint32_t GetFileNameFlags(const uint8_t* pAttr);
uint8_t GetFileNameLength(const uint8_t* pAttr);
// 0 POSIX, 1 Win32, 2 DOS, 3 Win32 and DOS; larger values are reported as 4.
uint8_t GetFileNameNamespace(const uint8_t* pAttr);
// The name's units, cut where the attribute ends.
std::u16string GetFileNameText(const uint8_t* pAttr);
// The name equals pszName (0-terminated) unit for unit, case-sensitive.
bool FileNameEquals(const uint8_t* pAttr, const char16_t* pszName);

// ---- $STANDARD_INFORMATION, read at attribute offset 24 ----

// nRoom is at least the value offset + 40 and the fields below lie inside the attribute.
bool HasStandardInformationTimes(const uint8_t* pAttr, size_t nRoom);
uint64_t GetStandardCreationTime(const uint8_t* pAttr);
uint64_t GetStandardModificationTime(const uint8_t* pAttr);
uint64_t GetStandardAccessTime(const uint8_t* pAttr);
uint32_t GetStandardFileAttributes(const uint8_t* pAttr);
