// The forward searches of the length rules (a closing tag, a trailer text, the first character
// that ends a text), remembered over the hits of one scan or one tree build so that a hit lying
// within a stretch searched before does not search it again.
//
// On a disk where every sector starts a page, each hit searches on for its footer up to its
// bound: without a memo that costs hits x bound. A search finds the first position at or after a
// byte where the format's test holds, and the test at a position depends only on the bytes there,
// which every hit of one session reads alike (CarvingChainMemo.h). So a search that checked the
// positions [from, to) and found nothing (its match, if any, at to) answers a later hit
// starting within that stretch: the later hit's search starts at to, reading through its own
// window reader, and keeps its own bound (a match beyond it is no match for it). Only positions
// whose test read no byte past the device's end are remembered. Outside a session nothing is.
#pragma once

#include <cstdint>

class IStorageDevice;

class CCarvingSearchMemo {
public:
    CCarvingSearchMemo();

    // The absolute byte at which the search of a hit, from the absolute byte ullFrom on pDevice,
    // carries on: the end of a remembered stretch holding ullFrom (its match, when it found one),
    // or ullFrom itself.
    uint64_t Resume(const IStorageDevice* pDevice, uint64_t ullFrom);
    // A search from ullFrom checked the positions below ullTo without a match (a match found at
    // ullTo is found again there by the hits that resume at it). Extends the remembered stretch
    // when ullFrom lies within it.
    void Record(const IStorageDevice* pDevice, uint64_t ullFrom, uint64_t ullTo);

private:
    uint64_t m_ullKey;  // session; 0 = nothing remembered
    const IStorageDevice* m_pDevice;
    uint64_t m_ullFrom;
    uint64_t m_ullTo;
};
