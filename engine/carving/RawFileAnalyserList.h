// The process-wide, ordered list of carving analysers and the factory that builds it from the
// user's choice of file-type numbers. The raw search controller tries the analysers on every
// sector in list order (the first whose header test matches wins); the tree of carved files
// finds a hit's analyser again by its type number.
#pragma once

#include <cstdint>
#include <vector>

#include "EngineMemory.h"
#include "RawFileAnalyser.h"

// Owns its analysers: an analyser removed from it must be deleted by whoever removes it.
class CRawFileAnalyserList : public std::vector<IRawFileAnalyser*, CEngineAllocator<IRawFileAnalyser*>> {
public:
    CRawFileAnalyserList() {}
    ~CRawFileAnalyserList();
    CRawFileAnalyserList(const CRawFileAnalyserList&) = delete;
    CRawFileAnalyserList& operator=(const CRawFileAnalyserList&) = delete;

    // Deletes every analyser and empties the list.
    void DeleteAll();
    // The first analyser whose m_nFileType equals nGroup, or null.
    IRawFileAnalyser* FindByFileType(int32_t nGroup) const;
};

// The process-wide list, filled on the first call with one analyser of each class.
CRawFileAnalyserList& GetRawFileAnalyserList();
// Appends one new analyser of each class, in the registry's fixed order.
void AddAllRawFileAnalysers(CRawFileAnalyserList& list);
// Appends the analyser(s) of type nType's row (two for DOC, HTM, SHW, WPD and WPG; none for DLL
// and EXE); any number outside 1..72 appends the custom analyser of user-defined types.
void CreateRawFileAnalyser(int32_t nType, CRawFileAnalyserList& list);
// Deletes what the list holds, then appends the analysers of each number of pTypes in order
// (nothing when pTypes is null). No duplicate check: a class named by several numbers is held
// several times, and only its first copy can win a sector.
void RebuildRawFileAnalyserList(CRawFileAnalyserList& list, const std::vector<int32_t>* pTypes);
