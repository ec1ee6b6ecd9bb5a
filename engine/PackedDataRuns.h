// The packed form in which every file-properties object keeps its runs: NTFS-style mapping
// pairs (header byte with the offset and length byte counts, the length, the start's delta to
// the previous non-sparse run), ended by a 0 byte. A found file costs a few bytes this way
// instead of a list; a fresh list is unpacked whenever one is asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "DataRunList.h"
#include "EngineMemory.h"
#include "IDataStream.h"
#include "WinTypes.h"

// Longest mapping-pair string a stored record may claim. A file's runs take at most 17 bytes
// each; this admits about a million fragments while stopping a damaged length early.
const uint32_t MAX_PACKED_RUNS_LENGTH = 16u << 20;

struct PACKED_DATA_RUNS : public CEngineObject {
    // Non-zero only for resident NTFS data; only its low 16 bits are stored.
    int32_t m_nResidentValue;
    // The mapping-pair string ended by a 0 byte, from AllocBuffer; null when there are no runs.
    uint8_t* m_pPacked;
    // Bytes allocated behind m_pPacked; no walk of the string goes past it.
    uint32_t m_nPackedSize;

    PACKED_DATA_RUNS();
    ~PACKED_DATA_RUNS();
    PACKED_DATA_RUNS(const PACKED_DATA_RUNS&) = delete;
    PACKED_DATA_RUNS& operator=(const PACKED_DATA_RUNS&) = delete;

    // Length of the string including its closing 0 byte; 0 without a string.
    uint32_t GetPackedLength() const;
    // Nothing when pWriter is null.
    BOOL Save(IDataStream* pWriter) const;
    // A new list (resident or non-resident NTFS type) that the caller deletes; null when
    // there is nothing to unpack.
    IDataRunList* CreateDataRunList() const;
};

// Length of the mapping-pair string in pData up to and including its 0 byte, walking only within
// nSize bytes; 0 when no well-formed pair sequence ends at a 0 byte inside them.
uint32_t PackedStringLength(const uint8_t* pData, uint32_t nSize);

// A new list from a mapping-pair string of nLength bytes, as PACKED_DATA_RUNS::CreateDataRunList
// gives it (resident when nResidentValue is not 0); null when there is nothing to unpack.
IDataRunList* UnpackDataRuns(const uint8_t* pPacked, uint32_t nLength, int32_t nResidentValue);

// Length, with its 0 byte, of the string PackDataRuns makes of nCount runs (0 for none); it may
// exceed MAX_PACKED_RUNS_LENGTH, in which case there is no such string.
uint64_t PackedRunsLength(const DATA_RUN* pRuns, size_t nCount);
// Writes that string (PackedRunsLength bytes) to pOut.
void WritePackedRuns(const DATA_RUN* pRuns, size_t nCount, uint8_t* pOut);

// Reads a packed record into a new object; null without a reader or on a short, oversized
// or malformed record.
PACKED_DATA_RUNS* LoadPackedDataRuns(IDataStream* pReader);

// Packs a list; null for a null or empty list. The list is left as it is.
PACKED_DATA_RUNS* PackDataRunList(IDataRunList* pList);

// Packs nCount runs held in an array (nothing is merged); null when nCount is 0. The same string
// as packing a list of these runs, written straight into its buffer: a reader that gathers its
// runs in a reused array packs a file with one allocation for the string and one for the record.
PACKED_DATA_RUNS* PackDataRuns(const DATA_RUN* pRuns, size_t nCount);

// The mapping-pair string of a list in a buffer from AllocBuffer (freed with FreeBuffer);
// null for an empty list. pnLength, when given, receives the string's length with its 0 byte.
uint8_t* EncodeDataRuns(IDataRunList* pList, uint32_t* pnLength = nullptr);

// Appends the runs of a mapping-pair string of nSize bytes to pList. Stops at the 0 byte, at
// the end of the input, at a header with a byte count above 8, or at a pair that would run
// past the input (that pair is dropped). TRUE when the string ended at a 0 byte or exactly at
// its end, FALSE when it was cut short or malformed.
BOOL DecodeDataRuns(IDataRunList* pList, const uint8_t* pData, size_t nSize);
// The same runs appended to a plain array.
BOOL DecodeDataRuns(std::vector<DATA_RUN>* pRuns, const uint8_t* pData, size_t nSize);

// Bytes (1..8) that v needs as a two's-complement number.
uint8_t SignedByteCount(int64_t v);

// Appends the header byte, the nLengthBytes low bytes of the length, then the nOffsetBytes low
// bytes of the offset, least significant first.
void AppendRunPair(uint8_t nOffsetBytes, uint8_t nLengthBytes, int64_t llOffset, uint64_t ullLength,
                   std::vector<uint8_t, CEngineAllocator<uint8_t>>& bytes);
