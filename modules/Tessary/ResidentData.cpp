#include "ResidentData.h"

#include "ByteOrder.h"

namespace tessary {

namespace {

constexpr size_t FIXUP_STRIDE = 512;
constexpr size_t HEADER_BYTES = 48;

bool IsFileSignature(const uint8_t* p)
{
    return p[0] == 'F' && p[1] == 'I' && p[2] == 'L' && p[3] == 'E';
}

} // namespace

size_t FileRecordLength(const uint8_t* pRecord, size_t nBytes)
{
    if (pRecord == nullptr || nBytes < HEADER_BYTES || !IsFileSignature(pRecord))
        return 0;
    const uint32_t nLength = rvd::LoadLE32(pRecord + 0x1C);
    if (nLength < FIXUP_STRIDE || nLength > FILE_RECORD_MAX_BYTES || nLength % FIXUP_STRIDE != 0)
        return 0;
    return nLength;
}

bool ExtractResidentData(uint8_t* pRecord, size_t nRecordBytes, uint32_t dwOffset, uint64_t ullSize,
                         std::vector<uint8_t>* pvecData, bool* pbFixupsChecked, std::string* pstrProblem)
{
    pvecData->clear();
    *pbFixupsChecked = true;
    if (pRecord == nullptr || nRecordBytes < HEADER_BYTES || !IsFileSignature(pRecord)) {
        *pstrProblem = "its FILE record is no longer there";
        return false;
    }
    // Update sequence array: the sequence number, then one saved word per 512-byte stretch.
    const size_t nArrayOffset = rvd::LoadLE16(pRecord + 4);
    const size_t nArrayCount = rvd::LoadLE16(pRecord + 6);
    if (nArrayCount < 1 || nArrayOffset < 42 || nArrayOffset + 2 * nArrayCount > nRecordBytes ||
        (nArrayCount - 1) * FIXUP_STRIDE > nRecordBytes) {
        *pstrProblem = "its FILE record has a damaged update sequence array";
        return false;
    }
    const uint8_t* pArray = pRecord + nArrayOffset;
    for (size_t i = 1; i < nArrayCount; ++i) {
        uint8_t* pWord = pRecord + i * FIXUP_STRIDE - 2;
        if (pWord[0] != pArray[0] || pWord[1] != pArray[1])
            *pbFixupsChecked = false;
        pWord[0] = pArray[2 * i];
        pWord[1] = pArray[2 * i + 1];
    }
    if (dwOffset >= nRecordBytes || ullSize > nRecordBytes - dwOffset) {
        *pstrProblem = "its data would lie outside its FILE record";
        return false;
    }
    pvecData->assign(pRecord + dwOffset, pRecord + dwOffset + ullSize);
    return true;
}

} // namespace tessary
