// The interface of every carving analyser: a header test that recognises the first sector of a
// file of its format, and a length rule that measures a hit whose header does not state its
// length by reading on from the hit's start through a sector device.
//
// Analysers read bytes from disk images that may be damaged or hostile. They are bounds-safe by
// construction: every multi-byte field is read with the getters of ByteOrder.h from a pointer
// that the window reader (SectorWindowReader.h) vouches for, every position is 64-bit, and no
// analyser relies on a fault being caught (the guards below catch C++ exceptions only).
#pragma once

#include <cstdint>

#include "EngineMemory.h"
#include "RawFileInfo.h"
#include "WinTypes.h"

class IStorageDevice;

// The first bytes a format's header can start with, one bit per byte value. The raw search
// controller tries an analyser on a sector only when the sector's first byte is in its set;
// an analyser whose header may start with any byte leaves the set full.
struct LEAD_BYTE_SET {
    uint64_t bits[4];

    void Clear() { bits[0] = bits[1] = bits[2] = bits[3] = 0; }
    void Fill() { bits[0] = bits[1] = bits[2] = bits[3] = ~0ull; }
    void Add(uint8_t nByte) { bits[nByte >> 6] |= 1ull << (nByte & 63); }
    bool Has(uint8_t nByte) const { return (bits[nByte >> 6] >> (nByte & 63)) & 1; }
};

class IRawFileAnalyser : public CEngineObject {
public:
    IRawFileAnalyser() : m_nFileType(-1) {}
    virtual ~IRawFileAnalyser() {}

    // Works out the length of a hit whose header did not give it, reading from the record's start
    // sector through pDevice (the ring of recent runs during the scan, the partition or disk when
    // the tree of carved files is built), and stores it with pInfo->SetSize. The base leaves the
    // size unchanged and returns TRUE.
    virtual BOOL AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice)
    {
        (void)pInfo;
        (void)pDevice;
        return TRUE;
    }
    // Tests one 512-byte sector as the first sector of a file of this format. On a match sets the
    // record's type (and its size where the header states it) and returns TRUE; otherwise FALSE
    // with the size 0 (the type may have been set: the next test sets its own).
    virtual BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) = 0;
    // Fills pSet with the first bytes this format's header can start with; the base allows any.
    virtual void GetLeadBytes(LEAD_BYTE_SET* pSet) { pSet->Fill(); }
    // For a format whose header may start with any byte but always holds one of a few bytes at a
    // fixed offset (below 512): that offset and those bytes, and TRUE. The controller then tries
    // the analyser only on sectors with such a byte there. The base has no key byte (FALSE).
    virtual BOOL GetKeyBytes(uint32_t* pnOffset, LEAD_BYTE_SET* pSet)
    {
        (void)pnOffset;
        (void)pSet;
        return FALSE;
    }

    // The analyser's own type number (a FILE_TYPE_ID; -1 for the custom analyser): copied into
    // each hit's group, by which the tree of carved files finds the analyser again.
    int32_t m_nFileType;

    IRawFileAnalyser(const IRawFileAnalyser&) = delete;
    IRawFileAnalyser& operator=(const IRawFileAnalyser&) = delete;
};

// The header test inside a guard: an exception counts as no match.
BOOL GuardedAnalyzeFileHeader(IRawFileAnalyser* pAnalyser, const uint8_t* pSector, CRawFileInfo* pInfo);
// The length rule inside a guard: FALSE when it threw (the record's size is then as the rule
// left it; callers decide what that means).
BOOL GuardedAnalyzeFileSize(IRawFileAnalyser* pAnalyser, CRawFileInfo* pInfo, IStorageDevice* pDevice,
                            bool* pbThrew = nullptr);

// Upper bound in bytes of every length search of a carved file and the cap of a length measured
// when the tree of carved files is built: the scan settings' carved-size limit, read afresh at
// each call (a negative setting counts as 0).
uint64_t GetCarvedSizeLimit();
