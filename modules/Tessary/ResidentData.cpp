#include "ResidentData.h"

#include "ntfs/NTFSFileRecord.h"

namespace tessary {

namespace {

bool IsFileSignature(const uint8_t* pRecord, size_t nBytes)
{
    // The header check also wants a sound update sequence array; the signature alone tells a
    // record that is gone from one that is damaged.
    return pRecord != nullptr && nBytes >= NTFS_FILE_RECORD_HEADER_BYTES && pRecord[0] == 'F' && pRecord[1] == 'I' &&
           pRecord[2] == 'L' && pRecord[3] == 'E';
}

} // namespace

size_t FileRecordLength(const uint8_t* pRecord, size_t nBytes)
{
    if (!IsFileSignature(pRecord, nBytes))
        return 0;
    const uint32_t nLength = GetBytesAllocated(pRecord, nBytes);
    if (nLength < NTFS_FIXUP_STRIDE || nLength > FILE_RECORD_MAX_BYTES || nLength % NTFS_FIXUP_STRIDE != 0)
        return 0;
    return nLength;
}

bool ExtractResidentData(uint8_t* pRecord, size_t nRecordBytes, uint32_t dwOffset, uint64_t ullSize,
                         std::vector<uint8_t>* pvecData, bool* pbFixupsChecked, std::string* pstrProblem)
{
    pvecData->clear();
    *pbFixupsChecked = true;
    if (!IsFileSignature(pRecord, nRecordBytes)) {
        *pstrProblem = "its FILE record is no longer there";
        return false;
    }
    if (!IsFileRecordHeader(pRecord, nRecordBytes)) {
        *pstrProblem = "its FILE record has a damaged update sequence array";
        return false;
    }
    // A torn write still gives its bytes, after the fix-ups, and says so.
    *pbFixupsChecked = VerifyFixups(pRecord, nRecordBytes);
    ApplyFixupsUnchecked(pRecord, nRecordBytes);
    if (dwOffset >= nRecordBytes || ullSize > nRecordBytes - dwOffset) {
        *pstrProblem = "its data would lie outside its FILE record";
        return false;
    }
    pvecData->assign(pRecord + dwOffset, pRecord + dwOffset + ullSize);
    return true;
}

} // namespace tessary
