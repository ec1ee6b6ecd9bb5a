// Resident data of a small NTFS file: its bytes lie inside its FILE record. The record must be
// taken whole and its update-sequence fix-ups applied first, since the last two bytes of every
// 512-byte stretch of the record hold the update sequence number on disk, and the bytes that
// belong there are kept in the record's update sequence array. The header check and the fix-ups
// are the engine's own (ntfs/NTFSFileRecord.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tessary {

// Bytes of a FILE record read before its own length is known: the smallest record NTFS makes.
constexpr size_t FILE_RECORD_FIRST_READ = 1024;
// Largest record length taken from a record's header (NTFS makes 1 KiB and 4 KiB records).
constexpr size_t FILE_RECORD_MAX_BYTES = 65536;

// The record's length (its allocated size, u32 at 0x1C) from its first bytes; 0 when the bytes
// are no FILE record or the length is not a whole number of 512-byte stretches within
// FILE_RECORD_MAX_BYTES.
size_t FileRecordLength(const uint8_t* pRecord, size_t nBytes);

// Applies the fix-ups to the whole record in place and copies the nSize bytes at nOffset into
// *pvecData. False, with the reason in *pstrProblem, when the record is no FILE record or the
// data does not lie inside it. *pbFixupsChecked is false when a protected word did not hold the
// update sequence number (a torn write): the data is still given, after the fix-ups.
bool ExtractResidentData(uint8_t* pRecord, size_t nRecordBytes, uint32_t dwOffset, uint64_t ullSize,
                         std::vector<uint8_t>* pvecData, bool* pbFixupsChecked, std::string* pstrProblem);

} // namespace tessary
