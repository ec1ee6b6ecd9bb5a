// Routines that several carving analysers share to find where a file ends: ZIP records, RAR
// blocks, the MP4/QuickTime atom walk, the ID3 synchsafe size, MPEG audio frame headers and the
// footer search. Offsets count from the candidate's first byte (its start sector x 512).
#pragma once

#include <cstddef>
#include <cstdint>

#include "WinTypes.h"

class CCarvingSearchMemo;
class CRawFileInfo;
class IStorageDevice;

// ---- ZIP (little-endian records) --------------------------------------------------------------
const uint32_t ZIP_LOCAL_HEADER_SIGNATURE = 0x04034B50;
const uint32_t ZIP_CENTRAL_HEADER_SIGNATURE = 0x02014B50;
const uint32_t ZIP_END_RECORD_SIGNATURE = 0x06054B50;
// Longest file name a local header may state and still count as a ZIP record.
const uint16_t ZIP_MAX_NAME_LENGTH = 1040;

// pRecord points at a record start with at least 46 readable bytes (a window read guarantees 512).
// A local header is valid when its method is at most 10 and its name at most 1,040 bytes; a
// central header and an end record by their signature.
BOOL IsZipRecord(const uint8_t* pRecord);
// The record's whole length (fixed part, name, extra field and data or comment). With bPackage,
// a local or central header named after the relationship part of a Word, Excel or PowerPoint
// package stores 69, 70 or 71 in *pnType. FALSE for any other signature.
BOOL GetZipRecordLength(const uint8_t* pRecord, uint32_t* pnLength, bool bPackage, int32_t* pnType);

// ---- RAR 1.5-4.x blocks (HEAD_TYPE at 2, HEAD_SIZE at 5, little-endian) -----------------------
// nAvailable: bytes readable from pBlock; a block whose fields lie beyond them is invalid.
BOOL IsRarBlockValid(const uint8_t* pBlock, int nAvailable);
BOOL GetRarBlockSize(const uint8_t* pBlock, int nAvailable, uint32_t* pnLow, uint32_t* pnHigh);

// ---- MP4 / QuickTime ---------------------------------------------------------------------------
// Walks the top-level atoms from the candidate's start (the first atom whatever its name, then up
// to 500 atoms named mdat, moov, free, moof or mfra, while the position stays within the
// carved-size limit) and sets the size to where the walk ended. FALSE when not even the first
// atom can be read.
BOOL WalkMp4Atoms(CRawFileInfo* pInfo, IStorageDevice* pDevice);

// ---- MPEG audio --------------------------------------------------------------------------------
// An ID3v2 size: four 7-bit bytes, most significant first; FALSE when a byte has bit 7 set.
BOOL DecodeSynchsafeSize(const uint8_t* pBytes, uint32_t* pnSize);
// h: the four header bytes read big-endian. Sync, version, layer, bitrate and sample rate usable.
BOOL IsMpegFrameHeader(uint32_t h);
// The frame's length in bytes by the standard tables (MPEG-1, MPEG-2 and MPEG-2.5, layers I-III),
// padding included; 0 for a header that IsMpegFrameHeader refuses.
BOOL GetMpegFrameLength(uint32_t h, uint32_t* pnLength);

// ---- Footer search -----------------------------------------------------------------------------
struct FOOTER_PATTERN {
    uint8_t pattern[64];
    int32_t nLength;        // bytes compared, 1..64
    uint64_t ullSearchLimit; // 0 = the carved-size limit

    FOOTER_PATTERN();
    // Copies a text pattern (at most 64 bytes); the search limit stays as it is.
    void SetText(const char* pszPattern);
};

// Finds the pattern (letter case ignored) at or after the candidate's first byte: the size becomes
// the end of the first match, TRUE. No match up to the limit: the size becomes limit + 1, TRUE.
// FALSE when the device ends or fails before the pattern or the limit is reached. pMemo, when
// given, shares the stretches searched among the hits of one session (CarvingSearchMemo.h).
BOOL SearchFooter(CRawFileInfo* pInfo, IStorageDevice* pDevice, const FOOTER_PATTERN& pattern,
                  CCarvingSearchMemo* pMemo = nullptr);
