#include "PackedDataRuns.h"

#include <cstring>

#include "ByteOrder.h"
#include "DataStreamIO.h"
#include "ntfs/NTFSRunList.h"

using namespace DataStreamIO;

uint32_t PackedStringLength(const uint8_t* pData, uint32_t nSize)
{
    uint32_t nPos = 0;
    while (nPos < nSize) {
        uint8_t nHeader = pData[nPos];
        if (nHeader == 0)
            return nPos + 1;
        unsigned nLengthBytes = nHeader & 0x0F;
        unsigned nOffsetBytes = nHeader >> 4;
        if (nLengthBytes > 8 || nOffsetBytes > 8)
            return 0;
        nPos += 1 + nLengthBytes + nOffsetBytes;
    }
    return 0;
}

uint8_t SignedByteCount(int64_t v)
{
    for (uint8_t n = 1; n < 8; ++n) {
        int64_t llLimit = int64_t(1) << (8 * n - 1);
        if (v >= -llLimit && v < llLimit)
            return n;
    }
    return 8;
}

void AppendRunPair(uint8_t nOffsetBytes, uint8_t nLengthBytes, int64_t llOffset, uint64_t ullLength,
                   std::vector<uint8_t, CEngineAllocator<uint8_t>>& bytes)
{
    bytes.push_back(static_cast<uint8_t>((nOffsetBytes << 4) | (nLengthBytes & 0x0F)));
    for (uint8_t i = 0; i < nLengthBytes; ++i)
        bytes.push_back(static_cast<uint8_t>(ullLength >> (8 * i)));
    uint64_t ullOffset = static_cast<uint64_t>(llOffset);
    for (uint8_t i = 0; i < nOffsetBytes; ++i)
        bytes.push_back(static_cast<uint8_t>(ullOffset >> (8 * i)));
}

uint8_t* EncodeDataRuns(IDataRunList* pList, uint32_t* pnLength)
{
    if (pnLength)
        *pnLength = 0;
    if (pList == nullptr)
        return nullptr;
    std::vector<uint8_t, CEngineAllocator<uint8_t>> bytes;
    bytes.reserve(128);
    uint64_t ullPreviousStart = 0;
    for (DATA_RUN* pRun = pList->GetFirstRun(); pRun != nullptr; pRun = pList->GetNextRun()) {
        int64_t llDelta = static_cast<int64_t>(pRun->ullStart - ullPreviousStart);
        // A length is written as a signed number; one with its top bit set would read back
        // as a small number from fewer bytes, so it takes all eight.
        int64_t llLength = static_cast<int64_t>(pRun->ullLength);
        uint8_t nLengthBytes = llLength < 0 ? 8 : SignedByteCount(llLength);
        uint8_t nOffsetBytes;
        if (pRun->ullStart == DATA_RUN_SPARSE_START) {
            nOffsetBytes = 0;
        } else {
            nOffsetBytes = SignedByteCount(llDelta);
            ullPreviousStart = pRun->ullStart;
        }
        AppendRunPair(nOffsetBytes, nLengthBytes, llDelta, pRun->ullLength, bytes);
    }
    if (bytes.empty())
        return nullptr;
    bytes.push_back(0);
    if (bytes.size() > MAX_PACKED_RUNS_LENGTH)
        return nullptr;
    uint8_t* pPacked = reinterpret_cast<uint8_t*>(AllocBuffer(bytes.size()));
    std::memcpy(pPacked, bytes.data(), bytes.size());
    if (pnLength)
        *pnLength = static_cast<uint32_t>(bytes.size());
    return pPacked;
}

namespace {

// Hands each run of a mapping-pair string to append (see DecodeDataRuns).
template <typename APPEND>
BOOL DecodeRunPairs(const uint8_t* pData, size_t nSize, APPEND append)
{
    size_t nPos = 0;
    uint64_t ullPreviousStart = 0;
    while (nPos < nSize && pData[nPos] != 0) {
        unsigned nLengthBytes = pData[nPos] & 0x0F;
        unsigned nOffsetBytes = pData[nPos] >> 4;
        // The encoder never writes more than 8 bytes per field; a pair that would run past the
        // input is cut off. Either ends the string without reading further.
        if (nLengthBytes > 8 || nOffsetBytes > 8 || nSize - nPos - 1 < nLengthBytes + nOffsetBytes)
            return FALSE;
        const uint8_t* p = pData + nPos + 1;
        uint64_t ullLength = rvd::LoadLEBytes(p, nLengthBytes);
        uint64_t ullOffset = 0;
        if (nOffsetBytes > 0) {
            ullOffset = rvd::LoadLEBytes(p + nLengthBytes, nOffsetBytes);
            if (nOffsetBytes < 8 && (ullOffset & (1ull << (8 * nOffsetBytes - 1))))
                ullOffset |= ~0ull << (8 * nOffsetBytes);
        }
        uint64_t ullStart = nOffsetBytes > 0 ? ullPreviousStart + ullOffset : DATA_RUN_SPARSE_START;
        append(DATA_RUN(ullStart, ullLength));
        ullPreviousStart += ullOffset;
        nPos += 1 + nLengthBytes + nOffsetBytes;
    }
    return TRUE;
}

} // namespace

BOOL DecodeDataRuns(IDataRunList* pList, const uint8_t* pData, size_t nSize)
{
    if (pList == nullptr || pData == nullptr)
        return FALSE;
    return DecodeRunPairs(pData, nSize, [pList](const DATA_RUN& run) { pList->AppendRun(run); });
}

BOOL DecodeDataRuns(std::vector<DATA_RUN>* pRuns, const uint8_t* pData, size_t nSize)
{
    if (pRuns == nullptr || pData == nullptr)
        return FALSE;
    return DecodeRunPairs(pData, nSize, [pRuns](const DATA_RUN& run) { pRuns->push_back(run); });
}

PACKED_DATA_RUNS::PACKED_DATA_RUNS() : m_nResidentValue(0), m_pPacked(nullptr), m_nPackedSize(0)
{
}

PACKED_DATA_RUNS::~PACKED_DATA_RUNS()
{
    FreeBuffer(m_pPacked);
}

uint32_t PACKED_DATA_RUNS::GetPackedLength() const
{
    if (m_pPacked == nullptr)
        return 0;
    uint32_t nLength = PackedStringLength(m_pPacked, m_nPackedSize);
    // Every string held here was checked when it was made or loaded; should one not end
    // inside its buffer, the whole buffer is what there is.
    return nLength ? nLength : m_nPackedSize;
}

BOOL PACKED_DATA_RUNS::Save(IDataStream* pWriter) const
{
    if (pWriter == nullptr)
        return FALSE;
    uint32_t nLength = GetPackedLength();
    if (!WriteLE(pWriter, nLength))
        return FALSE;
    if (nLength > 0 && !WriteBytes(pWriter, m_pPacked, nLength))
        return FALSE;
    return WriteLE(pWriter, static_cast<uint16_t>(m_nResidentValue)) ? TRUE : FALSE;
}

IDataRunList* PACKED_DATA_RUNS::CreateDataRunList() const
{
    if (m_pPacked == nullptr)
        return nullptr;
    return UnpackDataRuns(m_pPacked, GetPackedLength(), m_nResidentValue);
}

IDataRunList* UnpackDataRuns(const uint8_t* pPacked, uint32_t nLength, int32_t nResidentValue)
{
    if (pPacked == nullptr)
        return nullptr;
    if (nResidentValue != 0) {
        CNTFSRunList runs;
        CNTFSRunList::ParseMappingPairs(pPacked, nLength, &runs);
        if (runs.IsEmpty())
            return nullptr;
        const NTFS_RUN* pFirst = *runs.begin();
        CResidentNTFSDataRunList* pList = new CResidentNTFSDataRunList();
        pList->SetResidentRun(static_cast<uint64_t>(pFirst->llLcn), pFirst->ullLength, nResidentValue);
        return pList;
    }
    CNoneResidentNTFSDataRunList* pList = new CNoneResidentNTFSDataRunList();
    DecodeDataRuns(pList, pPacked, nLength);
    if (pList->GetRunCount() == 0) {
        delete pList;
        return nullptr;
    }
    return pList;
}

PACKED_DATA_RUNS* PackDataRunList(IDataRunList* pList)
{
    if (pList == nullptr)
        return nullptr;
    uint32_t nLength = 0;
    uint8_t* pPacked = EncodeDataRuns(pList, &nLength);
    if (pPacked == nullptr)
        return nullptr;
    PACKED_DATA_RUNS* pRecord = new PACKED_DATA_RUNS();
    pRecord->m_nResidentValue = pList->GetType() == DATA_RUN_LIST_NTFS_RESIDENT ? pList->GetResidentValue() : 0;
    pRecord->m_pPacked = pPacked;
    pRecord->m_nPackedSize = nLength;
    return pRecord;
}

uint64_t PackedRunsLength(const DATA_RUN* pRuns, size_t nCount)
{
    if (pRuns == nullptr || nCount == 0)
        return 0;
    // The byte counts EncodeDataRuns takes.
    uint64_t ullLength = 1;
    uint64_t ullPreviousStart = 0;
    for (size_t i = 0; i < nCount; ++i) {
        const DATA_RUN& run = pRuns[i];
        const int64_t llLength = static_cast<int64_t>(run.ullLength);
        ullLength += 1 + (llLength < 0 ? 8 : SignedByteCount(llLength));
        if (run.ullStart != DATA_RUN_SPARSE_START) {
            ullLength += SignedByteCount(static_cast<int64_t>(run.ullStart - ullPreviousStart));
            ullPreviousStart = run.ullStart;
        }
    }
    return ullLength;
}

void WritePackedRuns(const DATA_RUN* pRuns, size_t nCount, uint8_t* pOut)
{
    uint8_t* p = pOut;
    uint64_t ullPreviousStart = 0;
    for (size_t i = 0; i < nCount; ++i) {
        const DATA_RUN& run = pRuns[i];
        const int64_t llDelta = static_cast<int64_t>(run.ullStart - ullPreviousStart);
        const int64_t llLength = static_cast<int64_t>(run.ullLength);
        const uint8_t nLengthBytes = llLength < 0 ? 8 : SignedByteCount(llLength);
        uint8_t nOffsetBytes = 0;
        if (run.ullStart != DATA_RUN_SPARSE_START) {
            nOffsetBytes = SignedByteCount(llDelta);
            ullPreviousStart = run.ullStart;
        }
        *p++ = static_cast<uint8_t>((nOffsetBytes << 4) | nLengthBytes);
        for (uint8_t b = 0; b < nLengthBytes; ++b)
            *p++ = static_cast<uint8_t>(run.ullLength >> (8 * b));
        for (uint8_t b = 0; b < nOffsetBytes; ++b)
            *p++ = static_cast<uint8_t>(static_cast<uint64_t>(llDelta) >> (8 * b));
    }
    *p = 0;
}

PACKED_DATA_RUNS* PackDataRuns(const DATA_RUN* pRuns, size_t nCount)
{
    const uint64_t ullLength = PackedRunsLength(pRuns, nCount);
    if (ullLength == 0 || ullLength > MAX_PACKED_RUNS_LENGTH)
        return nullptr;
    uint8_t* pPacked = reinterpret_cast<uint8_t*>(AllocBuffer(static_cast<size_t>(ullLength)));
    WritePackedRuns(pRuns, nCount, pPacked);
    PACKED_DATA_RUNS* pRecord = new PACKED_DATA_RUNS();
    pRecord->m_nResidentValue = 0;
    pRecord->m_pPacked = pPacked;
    pRecord->m_nPackedSize = static_cast<uint32_t>(ullLength);
    return pRecord;
}

PACKED_DATA_RUNS* LoadPackedDataRuns(IDataStream* pReader)
{
    if (pReader == nullptr)
        return nullptr;
    uint32_t nLength = 0;
    if (!ReadLE(pReader, nLength) || nLength > MAX_PACKED_RUNS_LENGTH)
        return nullptr;
    PACKED_DATA_RUNS* pRecord = new PACKED_DATA_RUNS();
    try {
        if (nLength > 0) {
            pRecord->m_pPacked = reinterpret_cast<uint8_t*>(AllocBuffer(nLength));
            pRecord->m_nPackedSize = nLength;
            // The string must be whole pairs ending at a 0 byte inside what was stored;
            // anything else is damage and is not handed to the decoders.
            if (!ReadBytes(pReader, pRecord->m_pPacked, nLength) ||
                PackedStringLength(pRecord->m_pPacked, nLength) == 0) {
                delete pRecord;
                return nullptr;
            }
        }
        uint16_t nResidentValue = 0;
        if (!ReadLE(pReader, nResidentValue)) {
            delete pRecord;
            return nullptr;
        }
        pRecord->m_nResidentValue = nResidentValue;
    } catch (...) {
        delete pRecord;
        return nullptr;
    }
    return pRecord;
}
