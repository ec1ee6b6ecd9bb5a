// The chains of records that a length rule hops along (TAR member headers, ...), remembered over
// the hits of one scan or one tree build so that a hit lying on a chain already walked shares it.
//
// Every member header of a TAR archive is sector-aligned and carries the magic, so every member
// is a hit of its own, and each of them walks the headers on to the archive's end: without a
// memo, measuring the hits of an archive costs members x archive reads. Hits are measured in
// ascending start order (a scan's retries aside), so a chain walked from one hit holds the
// later ones. A chain records the absolute byte of each record it passed and why it stopped:
//  - at a natural end (the format's end mark, a record of another kind): final. A hit Q on it
//    gets min(end - Q, limit) without a read, exactly what its own walk would give.
//  - cut (a read failed, or the carved-size limit was passed): the walk of a later hit resumes
//    where it stopped, reading again through that hit's own window reader, so a read that fails
//    (and the scan's view saying "not yet") fails for that hit as it always did.
// The records a walk passes depend only on the bytes at them, and the bytes a device answers at a
// given position are the same for every hit of one session; so the sizes are those of a walk
// from each hit. A session is keyed by a number that never repeats (a device object may be made
// again at the same address by a later scan), and outside a session nothing is remembered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "EngineMemory.h"

class IStorageDevice;

// Opens the memo for measurements through pDevice under ullKey for its own life (and restores
// the session it replaced). The code measuring the hits of a scan or a tree build opens one
// around each measurement, or around all of them; a new key (NewKey) wherever the bytes the
// device answers may have changed (a new scan, a restarted ring, a new tree build).
class CCarvingChainSession {
public:
    CCarvingChainSession(const IStorageDevice* pDevice, uint64_t ullKey);
    ~CCarvingChainSession();
    CCarvingChainSession(const CCarvingChainSession&) = delete;
    CCarvingChainSession& operator=(const CCarvingChainSession&) = delete;

    static uint64_t NewKey();
    // The key of the open session for pDevice; 0 when none is open for it.
    static uint64_t KeyFor(const IStorageDevice* pDevice);
    // Switches every memo off (true) or back on, for comparing with plain walks.
    static void SetDisabled(bool bDisabled);

private:
    const IStorageDevice* m_pSavedDevice;
    uint64_t m_ullSavedKey;
};

// The chains one analyser walked lately: a few, for archives nested in archives.
class CCarvingChainMemo {
public:
    CCarvingChainMemo();

    struct CHAIN {
        uint64_t ullKey;     // session; 0 = slot free
        const IStorageDevice* pDevice;
        std::vector<uint64_t, CEngineAllocator<uint64_t>> Records;  // absolute bytes, ascending
        uint64_t ullStop;    // absolute byte where the walk ended or was cut
        bool bEnded;         // a natural end, final
        bool bWalking;       // a walk is adding to it
        uint64_t ullUsed;    // for choosing the slot to reuse
    };
    static const int CHAINS = 8;
    // Records kept per chain; beyond, the oldest half is dropped (hits before it walk afresh).
    static const size_t MAX_RECORDS = size_t(1) << 20;

    CHAIN m_Chains[CHAINS];
    uint64_t m_ullUseCount;
};

enum CHAIN_FOUND {
    CHAIN_NONE,   // walk from the hit's start
    CHAIN_ENDED,  // the size is known: min(*pullStop, limit)
    CHAIN_CUT,    // continue the walk at *pullStop (the position to read next)
};

// One length walk from one hit, recording into (or continuing) a chain of pMemo.
class CCarvingChainWalk {
public:
    CCarvingChainWalk(CCarvingChainMemo* pMemo, const IStorageDevice* pDevice, uint64_t ullStartSector);
    // Drops a chain left half-walked (the rule threw or gave up on the hit itself).
    ~CCarvingChainWalk();
    CCarvingChainWalk(const CCarvingChainWalk&) = delete;
    CCarvingChainWalk& operator=(const CCarvingChainWalk&) = delete;

    // Whether the hit lies on a remembered chain; *pullStop is relative to the hit's first byte.
    CHAIN_FOUND Find(uint64_t* pullStop);
    // After Find gave CHAIN_NONE: this walk is not remembered (its result depends on more than
    // the records it passes).
    void WalkAlone() { m_ullKey = 0; }
    // The walk passed a record at ullPos (relative, above every earlier one of this walk).
    void Pass(uint64_t ullPos);
    // The walk ended naturally at ullPos (final), or was cut there (to be resumed).
    void End(uint64_t ullPos) { Finish(ullPos, true); }
    void Cut(uint64_t ullPos) { Finish(ullPos, false); }

private:
    void Finish(uint64_t ullPos, bool bEnded);

    CCarvingChainMemo* m_pMemo;
    const IStorageDevice* m_pDevice;
    uint64_t m_ullKey;   // 0: no session, nothing is remembered
    uint64_t m_ullStart; // absolute byte of the hit
    CCarvingChainMemo::CHAIN* m_pChain;
};
