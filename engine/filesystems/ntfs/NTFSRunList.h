// Decoded NTFS mapping pairs: the runs of a non-resident attribute, each pairing a virtual
// cluster number (position within the attribute) with a logical cluster number (position in
// the volume).
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>

#include "EngineMemory.h"
#include "IDataStream.h"
#include "WinTypes.h"

struct NTFS_RUN : public CEngineObject {
    // First cluster in the volume; -1 for a sparse run.
    int64_t llLcn;
    uint64_t ullVcn;
    uint64_t ullLength;

    NTFS_RUN() : llLcn(0), ullVcn(0), ullLength(0) {}
    NTFS_RUN(int64_t lcn, uint64_t vcn, uint64_t length) : llLcn(lcn), ullVcn(vcn), ullLength(length) {}
};

// Most runs a saved list may claim; a damaged count beyond it fails the load at once.
const uint64_t MAX_STORED_NTFS_RUNS = 0x1000000;

class CNTFSRunList : public CEngineObject {
public:
    typedef std::list<NTFS_RUN*, CEngineAllocator<NTFS_RUN*>> CRunPointerList;
    typedef CRunPointerList::const_iterator const_iterator;

    CNTFSRunList();
    ~CNTFSRunList();
    CNTFSRunList(const CNTFSRunList&) = delete;
    CNTFSRunList& operator=(const CNTFSRunList&) = delete;

    bool IsEmpty() const;
    void Clear();
    size_t GetCount() const { return m_Runs.size(); }

    // Structural check: every pair has at most 4 length and 4 offset bytes, and the closing 0
    // header lies within the nSize bytes.
    static bool ValidateMappingPairs(const uint8_t* pData, size_t nSize);
    // Decodes and appends to pTarget without the check above, but never reads past nSize:
    // a pair that would run past the input ends the decoding and is dropped.
    static void ParseMappingPairs(const uint8_t* pData, size_t nSize, CNTFSRunList* pTarget);
    // Clear, then false when the string is invalid; else decode into this list.
    bool SetFromMappingPairs(const uint8_t* pData, size_t nSize);
    // Appends the runs of a further extent that starts at ullStartVcn; nothing when invalid.
    void AppendMappingPairs(const uint8_t* pData, size_t nSize, uint64_t ullStartVcn);
    // Sum of the length fields of a validated string (32-bit accumulator, sign-extended).
    // Stops at the 0 header or at the end of the nSize bytes, whichever comes first.
    static int64_t SumMappingPairLengths(const uint8_t* pData, size_t nSize);

    uint64_t GetTotalLength() const;
    bool ContainsLcn(int64_t llLcn) const;
    int64_t LcnToVcn(int64_t llLcn) const;
    int64_t VcnToLcn(int64_t llVcn) const;
    void CopyTo(CNTFSRunList* pOther) const;
    bool IsEqual(const CNTFSRunList* pOther) const;
    void SortByVcn();
    // Appends a copy of run.
    void AddRun(const NTFS_RUN& run);

    const_iterator begin() const { return m_Runs.begin(); }
    const_iterator end() const { return m_Runs.end(); }

    BOOL Save(IDataStream* pWriter) const;
    // Appends the saved runs; on a short record or an absurd count nothing is appended and
    // FALSE is returned.
    BOOL Load(IDataStream* pReader);

private:
    CRunPointerList m_Runs;
};
