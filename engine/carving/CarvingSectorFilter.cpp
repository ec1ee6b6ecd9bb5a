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
    // For each first byte, the key tests whose lead bytes hold it (bit k for aTests[k]).
    uint64_t aullLeadTests[256];
    // The offsets the key tests look at, each once, and for each of them and each byte value
    // there, the tests whose key bytes hold that value at that offset: a sector passes when a
    // test is in both its first byte's set and its own offset's set. Every offset is looked at
    // whatever the first byte, with no branch per test.
    uint32_t anOffsets[MAX_KEY_TESTS];
    uint64_t aullKeyTests[MAX_KEY_TESTS][256];
    uint32_t nOffsets;
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
    for (uint32_t k = 0; k < t.nTests; ++k) {
        const KEY_TEST& test = t.aTests[k];
        uint32_t i = 0;
        while (i < t.nOffsets && t.anOffsets[i] != test.nOffset)
            ++i;
        if (i == t.nOffsets)
            t.anOffsets[t.nOffsets++] = test.nOffset;
        for (int b = 0; b < 256; ++b) {
            if (test.Lead.Has(static_cast<uint8_t>(b)))
                t.aullLeadTests[b] |= 1ull << k;
            if (test.Key.Has(static_cast<uint8_t>(b)))
                t.aullKeyTests[i][b] |= 1ull << k;
        }
    }
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
    const uint64_t ullLeadTests = t.aullLeadTests[byLead];
    if (ullLeadTests == 0)
        return false;
    uint64_t ullKeyTests = 0;
    for (uint32_t i = 0; i < t.nOffsets; ++i)
        ullKeyTests |= t.aullKeyTests[i][pSector[t.anOffsets[i]]];
    return (ullLeadTests & ullKeyTests) != 0;
}
