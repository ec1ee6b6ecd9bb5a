#include "CarvingSectorFilter.h"

#include <atomic>
#include <cstring>

namespace {

// Distinct key tests the table can hold; with more, every non-zero sector passes.
const uint32_t MAX_KEY_TESTS = 64;

// Analysers with a key byte that share their lead bytes and key offset make one test: the
// sector passes when its first byte is a lead byte and the byte at the offset one of the keys.
struct KEY_TEST {
    LEAD_BYTE_SET Lead;
    LEAD_BYTE_SET Key;
    uint32_t nOffset;
};

struct CARVING_SECTOR_TABLE {
    // Some analyser without a key byte may start with this byte.
    uint8_t abyLeadPasses[256];
    // For each first byte, the key tests to make: indexes into aTests from anStart[b] to
    // anStart[b + 1].
    uint16_t anStart[257];
    uint8_t abyIndex[256 * MAX_KEY_TESTS];
    KEY_TEST aTests[MAX_KEY_TESTS];
    uint32_t nTests;
    bool bPassAll;
};

CARVING_SECTOR_TABLE s_Table;
std::atomic<bool> s_bTableReady(false);

bool SameSet(const LEAD_BYTE_SET& a, const LEAD_BYTE_SET& b)
{
    return a.bits[0] == b.bits[0] && a.bits[1] == b.bits[1] && a.bits[2] == b.bits[2] && a.bits[3] == b.bits[3];
}

} // namespace

void SetCarvingSectorTable(const std::vector<IRawFileAnalyser*, CEngineAllocator<IRawFileAnalyser*>>& analysers)
{
    s_bTableReady.store(false, std::memory_order_release);
    CARVING_SECTOR_TABLE& t = s_Table;
    memset(&t, 0, sizeof(t));
    for (IRawFileAnalyser* pAnalyser : analysers) {
        LEAD_BYTE_SET lead;
        pAnalyser->GetLeadBytes(&lead);
        uint32_t nOffset = 0;
        LEAD_BYTE_SET key;
        key.Fill();
        if (!pAnalyser->GetKeyBytes(&nOffset, &key) || nOffset >= 512) {
            for (int b = 0; b < 256; ++b) {
                if (lead.Has(static_cast<uint8_t>(b)))
                    t.abyLeadPasses[b] = 1;
            }
            continue;
        }
        uint32_t k = 0;
        while (k < t.nTests && !(t.aTests[k].nOffset == nOffset && SameSet(t.aTests[k].Lead, lead)))
            ++k;
        if (k == MAX_KEY_TESTS) {
            t.bPassAll = true;
            continue;
        }
        if (k == t.nTests) {
            t.aTests[k].Lead = lead;
            t.aTests[k].Key.Clear();
            t.aTests[k].nOffset = nOffset;
            ++t.nTests;
        }
        for (int w = 0; w < 4; ++w)
            t.aTests[k].Key.bits[w] |= key.bits[w];
    }
    uint32_t n = 0;
    for (int b = 0; b < 256; ++b) {
        t.anStart[b] = static_cast<uint16_t>(n);
        for (uint32_t k = 0; k < t.nTests; ++k) {
            if (t.aTests[k].Lead.Has(static_cast<uint8_t>(b)))
                t.abyIndex[n++] = static_cast<uint8_t>(k);
        }
    }
    t.anStart[256] = static_cast<uint16_t>(n);
    s_bTableReady.store(true, std::memory_order_release);
}

bool MayStartCarvedFile(const uint8_t* pSector)
{
    if ((pSector[0] | pSector[1] | pSector[2] | pSector[3]) == 0)
        return false;
    if (!s_bTableReady.load(std::memory_order_acquire))
        return true;
    const CARVING_SECTOR_TABLE& t = s_Table;
    const uint8_t byLead = pSector[0];
    if (t.bPassAll || t.abyLeadPasses[byLead] != 0)
        return true;
    for (uint32_t i = t.anStart[byLead]; i < t.anStart[byLead + 1]; ++i) {
        const KEY_TEST& test = t.aTests[t.abyIndex[i]];
        if (test.Key.Has(pSector[test.nOffset]))
            return true;
    }
    return false;
}
