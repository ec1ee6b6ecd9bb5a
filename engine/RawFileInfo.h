// One file found by signature carving, and the container in which a scan collects them.
#pragma once

#include <cstdint>
#include <set>
#include <vector>

#include "EngineMemory.h"
#include "Iterator.h"

class IRawFileAnalyser;

class CRawFileInfo : public CEngineObject {
public:
    CRawFileInfo()
        : m_ullStartSector(0), m_ullSize(0), m_nType(0), m_nGroup(0xFFFF), m_pAnalyser(nullptr) {}

    void SetStartSector(uint64_t ullStartSector) { m_ullStartSector = ullStartSector; }
    uint64_t GetStartSector() const { return m_ullStartSector; }
    // Size in bytes; 0 while not measured.
    void SetSize(uint64_t ullSize) { m_ullSize = ullSize; }
    uint64_t GetSize() const { return m_ullSize; }
    // File-type id: built-in 1..72, user-defined 1000..1999, 0 none.
    void SetType(int32_t nType) { m_nType = nType; }
    int32_t GetType() const { return m_nType; }
    // The matching analyser's file-type group (-1 for the custom-type analyser).
    void SetGroup(int32_t nGroup) { m_nGroup = nGroup; }
    int32_t GetGroup() const { return m_nGroup; }
    // Not owned.
    void SetAnalyser(IRawFileAnalyser* pAnalyser) { m_pAnalyser = pAnalyser; }
    IRawFileAnalyser* GetAnalyser() const { return m_pAnalyser; }

private:
    uint64_t m_ullStartSector;
    uint64_t m_ullSize;
    int32_t m_nType;
    int32_t m_nGroup;
    IRawFileAnalyser* m_pAnalyser;
};

// Ordering of carved files: start sector ascending. Transparent, so the index can be searched
// by a bare sector number.
struct RawFileInfoLess {
    typedef void is_transparent;
    bool operator()(const CRawFileInfo* a, const CRawFileInfo* b) const
    {
        return a->GetStartSector() < b->GetStartSector();
    }
    bool operator()(const CRawFileInfo* a, uint64_t b) const { return a->GetStartSector() < b; }
    bool operator()(uint64_t a, const CRawFileInfo* b) const { return a < b->GetStartSector(); }
};

class CRawFileInfoContainer : public CEngineObject {
public:
    typedef std::vector<CRawFileInfo*, CEngineAllocator<CRawFileInfo*>> CRawFileInfoList;

    CRawFileInfoContainer();
    ~CRawFileInfoContainer();
    CRawFileInfoContainer(const CRawFileInfoContainer&) = delete;
    CRawFileInfoContainer& operator=(const CRawFileInfoContainer&) = delete;

    // Takes ownership; appends in scan order and indexes by start sector (a second record
    // with the same start sector is listed but not indexed). Null is ignored.
    void AddFile(CRawFileInfo* pFile);
    // The container's own iterator over the records in the order added; not to be deleted.
    IIterator<CRawFileInfo*>* GetIterator();
    // The first record added with exactly this start sector, or null.
    CRawFileInfo* FindByStartSector(uint64_t ullStartSector) const;
    size_t GetCount() const { return m_Files.size(); }

private:
    // The first record of each start sector, in start-sector order. A scan adds its hits in that
    // order, so a record is nearly always appended; one out of order is inserted.
    CRawFileInfoList m_Index;
    CRawFileInfoList m_Files;
    ListIterator<CRawFileInfo*, CRawFileInfoList> m_Iterator;
};
