#include "CarvingSectorFilter.h"

#include <atomic>
#include <cstring>

namespace {

// Distinct key-byte offsets the table can hold; further offsets let every sector through.
const int MAX_KEY_OFFSETS = 8;

struct CARVING_SECTOR_TABLE {
    // Some analyser without a key byte may start with this byte.
    uint8_t byLeadPasses[256];
    // For the analysers that may start with any byte and have a key byte: the bytes each key
    // offset may hold.
    uint32_t nKeyOffsets;
    uint32_t anKeyOffset[MAX_KEY_OFFSETS];
    LEAD_BYTE_SET aKeySet[MAX_KEY_OFFSETS];
    // Every non-zero sector passes (a key offset beyond the table's room).
    bool bPassAll;
};

CARVING_SECTOR_TABLE s_Table;
std::atomic<bool> s_bTableReady(false);

bool IsFull(const LEAD_BYTE_SET& set)
{
    return (set.bits[0] & set.bits[1] & set.bits[2] & set.bits[3]) == ~0ull;
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
        const bool bKeyed = pAnalyser->GetKeyBytes(&nOffset, &key) && nOffset < 512 && IsFull(lead);
        if (!bKeyed) {
            for (int b = 0; b < 256; ++b) {
                if (lead.Has(static_cast<uint8_t>(b)))
                    t.byLeadPasses[b] = 1;
            }
            continue;
        }
        uint32_t k = 0;
        while (k < t.nKeyOffsets && t.anKeyOffset[k] != nOffset)
            ++k;
        if (k == MAX_KEY_OFFSETS) {
            t.bPassAll = true;
            continue;
        }
        if (k == t.nKeyOffsets) {
            t.anKeyOffset[k] = nOffset;
            t.aKeySet[k].Clear();
            ++t.nKeyOffsets;
        }
        for (int w = 0; w < 4; ++w)
            t.aKeySet[k].bits[w] |= key.bits[w];
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
    if (t.bPassAll || t.byLeadPasses[pSector[0]] != 0)
        return true;
    for (uint32_t k = 0; k < t.nKeyOffsets; ++k) {
        if (t.aKeySet[k].Has(pSector[t.anKeyOffset[k]]))
            return true;
    }
    return false;
}
