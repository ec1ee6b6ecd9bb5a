// The walk of an RTF length rule (groups opened and closed, escapes stepped over) remembered over
// the hits of one scan or one tree build, so that a hit lying on a walk made before does not walk
// that stretch again.
//
// Every RTF hit walks on until its own group closes; on a disk where every sector starts an RTF
// header that costs hits x walk. A walk from a given position visits the same positions whatever
// the depth it starts with, so a hit whose first counted position (its start + 5) an earlier
// walk visited follows that walk: its depth at any later position of it is its own 1 plus the
// change of the earlier walk's depth since that position. The memo keeps, at each visited
// position that can be a hit's first (a sector's start + 5), the walk's depth there and, once
// known, the stretch between two such positions in which the depth first fell below it (where a
// hit from there ends); a monotonic stack finds these while walking. A hit resumes its own walk
// at the last such position before the stretch where it ends or before its limit, with its
// depth there, and reads at most a stretch itself; a hit that resumes at the walk's last position
// carries the walk on. Bytes are the same for every hit of one session (CarvingChainMemo.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "EngineMemory.h"

class IStorageDevice;

class CCarvingDepthMemo {
public:
    CCarvingDepthMemo();

    // The walk of a hit on pDevice whose first counted position is the absolute byte ullFirst and
    // whose positions may not pass ullLast: where it resumes (*pullPos, absolute) and its depth
    // there (*pllDepth). Starts recording when the walk goes on from the remembered walk's last
    // position, or afresh when the hit lies on no remembered walk.
    void Begin(const IStorageDevice* pDevice, uint64_t ullFirst, uint64_t ullLast, uint64_t* pullPos,
               int64_t* pllDepth);
    // The walk being recorded stands at ullPos with depth llDepth (positions ascending).
    void Visit(uint64_t ullPos, int64_t llDepth)
    {
        if (m_bRecording && (ullPos & 511) == 5 && (m_Checks.empty() || ullPos > m_Checks.back().ullPos))
            AddCheck(ullPos, llDepth);
    }
    // The depth of the walk being recorded fell to llDepth.
    void Fell(int64_t llDepth)
    {
        if (m_bRecording)
            Resolve(llDepth + m_llOffset);
    }
    // The walk ended (whatever the reason); nothing more is recorded until the next Begin.
    void End() { m_bRecording = false; }

    // Positions remembered per walk; beyond, the walk is not recorded further.
    static const size_t MAX_CHECKS = size_t(1) << 20;

private:
    struct CHECK {
        uint64_t ullPos;
        int64_t llLevel;   // the remembered walk's depth there
        size_t nStop;      // the check whose stretch holds the first fall below llLevel; SIZE_MAX: none yet
    };
    void AddCheck(uint64_t ullPos, int64_t llDepth);
    void Resolve(int64_t llLevel);

    uint64_t m_ullKey;  // session; 0 = nothing remembered
    const IStorageDevice* m_pDevice;
    std::vector<CHECK, CEngineAllocator<CHECK>> m_Checks;
    std::vector<size_t, CEngineAllocator<size_t>> m_Open;  // checks whose fall is not yet seen
    bool m_bRecording;
    int64_t m_llOffset;  // level = the recording walk's depth + m_llOffset
};
