#include "NTFSRunList.h"

#include "ByteOrder.h"
#include "DataStreamIO.h"

using namespace DataStreamIO;

namespace {

// Reads n (1..8) little-endian bytes as a two's-complement number of that width.
int64_t ReadSigned(const uint8_t* p, unsigned n)
{
    uint64_t v = rvd::LoadLEBytes(p, n);
    if (n < 8 && (v & (1ull << (8 * n - 1))))
        v |= ~0ull << (8 * n);
    return static_cast<int64_t>(v);
}

} // namespace

CNTFSRunList::CNTFSRunList()
{
}

CNTFSRunList::~CNTFSRunList()
{
    Clear();
}

bool CNTFSRunList::IsEmpty() const
{
    return m_Runs.empty();
}

void CNTFSRunList::Clear()
{
    for (NTFS_RUN* pRun : m_Runs)
        delete pRun;
    m_Runs.clear();
}

void CNTFSRunList::AddRun(const NTFS_RUN& run)
{
    m_Runs.push_back(new NTFS_RUN(run.llLcn, run.ullVcn, run.ullLength));
}

bool CNTFSRunList::ValidateMappingPairs(const uint8_t* pData, size_t nSize)
{
    if (pData == nullptr)
        return false;
    size_t nPos = 0;
    // The position is checked before every header byte, so an empty input or one without
    // its closing 0 is refused without reading past it.
    while (nPos < nSize) {
        uint8_t nHeader = pData[nPos];
        if (nHeader == 0)
            return true;
        unsigned nLengthBytes = nHeader & 0x0F;
        unsigned nOffsetBytes = nHeader >> 4;
        // This reader handles volumes of up to 2^31 clusters: at most 4 bytes each.
        if (nOffsetBytes > 4 || nLengthBytes > 4)
            return false;
        nPos += 1 + nLengthBytes + nOffsetBytes;
    }
    return false;
}

void CNTFSRunList::ParseMappingPairs(const uint8_t* pData, size_t nSize, CNTFSRunList* pTarget)
{
    if (pData == nullptr || pTarget == nullptr)
        return;
    size_t nPos = 0;
    int64_t llPreviousLcn = 0;
    uint64_t ullNextVcn = 0;
    while (nPos < nSize && pData[nPos] != 0) {
        unsigned nLengthBytes = pData[nPos] & 0x0F;
        unsigned nOffsetBytes = pData[nPos] >> 4;
        // A count above 8 cannot fit a 64-bit field, and a pair that runs past the input is
        // cut off: both end the string.
        if (nLengthBytes > 8 || nOffsetBytes > 8 || nSize - nPos - 1 < nLengthBytes + nOffsetBytes)
            return;
        const uint8_t* p = pData + nPos + 1;
        uint64_t ullLength = rvd::LoadLEBytes(p, nLengthBytes);
        int64_t llOffset = nOffsetBytes ? ReadSigned(p + nLengthBytes, nOffsetBytes) : 0;
        int64_t llLcn = nOffsetBytes ? static_cast<int64_t>(static_cast<uint64_t>(llPreviousLcn) +
                                                             static_cast<uint64_t>(llOffset))
                                     : -1;
        pTarget->m_Runs.push_back(new NTFS_RUN(llLcn, ullNextVcn, ullLength));
        llPreviousLcn = static_cast<int64_t>(static_cast<uint64_t>(llPreviousLcn) + static_cast<uint64_t>(llOffset));
        ullNextVcn += ullLength;
        nPos += 1 + nLengthBytes + nOffsetBytes;
    }
}

bool CNTFSRunList::SetFromMappingPairs(const uint8_t* pData, size_t nSize)
{
    Clear();
    if (!ValidateMappingPairs(pData, nSize))
        return false;
    ParseMappingPairs(pData, nSize, this);
    return true;
}

void CNTFSRunList::AppendMappingPairs(const uint8_t* pData, size_t nSize, uint64_t ullStartVcn)
{
    if (!ValidateMappingPairs(pData, nSize))
        return;
    CNTFSRunList extent;
    ParseMappingPairs(pData, nSize, &extent);
    for (NTFS_RUN* pRun : extent.m_Runs)
        pRun->ullVcn += ullStartVcn;
    m_Runs.splice(m_Runs.end(), extent.m_Runs);
}

int64_t CNTFSRunList::SumMappingPairLengths(const uint8_t* pData, size_t nSize)
{
    if (pData == nullptr)
        return 0;
    uint32_t nSum = 0;
    size_t nPos = 0;
    while (nPos < nSize && pData[nPos] != 0) {
        unsigned nLengthBytes = pData[nPos] & 0x0F;
        unsigned nOffsetBytes = pData[nPos] >> 4;
        if (nLengthBytes > 8 || nOffsetBytes > 8 || nSize - nPos - 1 < nLengthBytes + nOffsetBytes)
            break;
        nSum += static_cast<uint32_t>(rvd::LoadLEBytes(pData + nPos + 1, nLengthBytes));
        nPos += 1 + nLengthBytes + nOffsetBytes;
    }
    return static_cast<int64_t>(static_cast<int32_t>(nSum));
}

uint64_t CNTFSRunList::GetTotalLength() const
{
    uint64_t ullTotal = 0;
    for (const NTFS_RUN* pRun : m_Runs)
        ullTotal += pRun->ullLength;
    return ullTotal;
}

// Sparse runs have no clusters in the volume: the LCN lookups pass over them, and a VCN inside
// one maps to -1 (no cluster), never to the clusters just after LCN -1.
bool CNTFSRunList::ContainsLcn(int64_t llLcn) const
{
    return LcnToVcn(llLcn) != -1;
}

int64_t CNTFSRunList::LcnToVcn(int64_t llLcn) const
{
    for (const NTFS_RUN* pRun : m_Runs) {
        if (pRun->llLcn < 0)
            continue;
        uint64_t ullDistance = static_cast<uint64_t>(llLcn) - static_cast<uint64_t>(pRun->llLcn);
        if (llLcn >= pRun->llLcn && ullDistance < pRun->ullLength)
            return static_cast<int64_t>(pRun->ullVcn + ullDistance);
    }
    return -1;
}

int64_t CNTFSRunList::VcnToLcn(int64_t llVcn) const
{
    for (const NTFS_RUN* pRun : m_Runs) {
        int64_t llRunVcn = static_cast<int64_t>(pRun->ullVcn);
        uint64_t ullDistance = static_cast<uint64_t>(llVcn) - pRun->ullVcn;
        if (llVcn >= llRunVcn && ullDistance < pRun->ullLength) {
            if (pRun->llLcn < 0)
                return -1;
            return static_cast<int64_t>(static_cast<uint64_t>(pRun->llLcn) + ullDistance);
        }
    }
    return -1;
}

void CNTFSRunList::CopyTo(CNTFSRunList* pOther) const
{
    if (pOther == nullptr || pOther == this)
        return;
    for (const NTFS_RUN* pRun : m_Runs)
        pOther->AddRun(*pRun);
}

bool CNTFSRunList::IsEqual(const CNTFSRunList* pOther) const
{
    if (pOther == nullptr || pOther->m_Runs.size() != m_Runs.size())
        return false;
    auto it = pOther->m_Runs.begin();
    for (const NTFS_RUN* pRun : m_Runs) {
        const NTFS_RUN* pOtherRun = *it++;
        if (pRun->ullVcn != pOtherRun->ullVcn || pRun->llLcn != pOtherRun->llLcn ||
            pRun->ullLength != pOtherRun->ullLength)
            return false;
    }
    return true;
}

void CNTFSRunList::SortByVcn()
{
    if (m_Runs.size() < 2)
        return;
    // std::list::sort is a stable merge sort.
    m_Runs.sort([](const NTFS_RUN* a, const NTFS_RUN* b) {
        return static_cast<int64_t>(a->ullVcn) < static_cast<int64_t>(b->ullVcn);
    });
}

BOOL CNTFSRunList::Save(IDataStream* pWriter) const
{
    if (pWriter == nullptr)
        return FALSE;
    if (!WriteLE(pWriter, static_cast<uint64_t>(m_Runs.size())))
        return FALSE;
    for (const NTFS_RUN* pRun : m_Runs) {
        if (!WriteLE(pWriter, pRun->llLcn) || !WriteLE(pWriter, pRun->ullLength) || !WriteLE(pWriter, pRun->ullVcn))
            return FALSE;
    }
    return TRUE;
}

BOOL CNTFSRunList::Load(IDataStream* pReader)
{
    if (pReader == nullptr)
        return FALSE;
    uint64_t ullCount = 0;
    if (!ReadLE(pReader, ullCount) || ullCount > MAX_STORED_NTFS_RUNS)
        return FALSE;
    // Read into a list of its own first, so a short record appends nothing.
    CNTFSRunList loaded;
    for (uint64_t i = 0; i < ullCount; ++i) {
        NTFS_RUN run;
        if (!ReadLE(pReader, run.llLcn) || !ReadLE(pReader, run.ullLength) || !ReadLE(pReader, run.ullVcn))
            return FALSE;
        loaded.AddRun(run);
    }
    m_Runs.splice(m_Runs.end(), loaded.m_Runs);
    return TRUE;
}
