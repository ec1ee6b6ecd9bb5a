// Fuzz target for the NTFS boot sector and FILE-record parsers: the input is a boot sector and
// a FILE record (of the input's own length, of 1024 bytes when that fits, and the records found
// at sector steps inside a volume's first sectors). Whatever the bytes, nothing reads past the
// record, every operation leaves the record's bytes as they were, and names and labels stay
// bounded.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FuzzDisk.h"
#include "ntfs/FileRecordHolder.h"
#include "ntfs/NTFSDBR.h"
#include "ntfs/NTFSFileRecord.h"
#include "ntfs/NTFSFileRecordAttribute.h"
#include "ntfs/NTFSRunList.h"
#include "ntfs/NTFSVolumeLabelReader.h"

namespace {

const uint32_t kTypes[] = {NTFS_ATTR_STANDARD_INFORMATION, NTFS_ATTR_ATTRIBUTE_LIST, NTFS_ATTR_FILE_NAME,
                           NTFS_ATTR_VOLUME_NAME,          NTFS_ATTR_DATA,           NTFS_ATTR_INDEX_ROOT,
                           NTFS_ATTR_INDEX_ALLOCATION,     NTFS_ATTR_END};

void Check(bool bCondition)
{
    if (!bCondition)
        abort();
}

void ReadAttribute(const uint8_t* pRecord, size_t nLength, const uint8_t* pAttr)
{
    const size_t nOffset = static_cast<size_t>(pAttr - pRecord);
    Check(nOffset + 8 <= nLength);
    const size_t nAttrLength = GetAttributeLength(pAttr);
    Check(nOffset + nAttrLength <= nLength);
    const size_t nRoom = nLength - nOffset;
    IsValidAttribute(pAttr, nRoom);
    IsValidFileNameAttribute(pAttr, nRoom);
    IsAttributeResident(pAttr);
    IsAttributeNamed(pAttr);
    IsAttributeCompressed(pAttr);
    IsAttributeEncrypted(pAttr);
    uint32_t nValue = 0;
    const uint8_t* pValue = GetResidentValue(pAttr, &nValue);
    if (pValue != nullptr)
        Check(pValue >= pAttr && pValue + nValue <= pAttr + nAttrLength);
    GetFirstVcn(pAttr);
    GetLastVcn(pAttr);
    GetCompressionUnit(pAttr);
    GetAllocatedSize(pAttr);
    GetRealSize(pAttr);
    GetInitializedSize(pAttr);
    size_t nPairs = 0;
    const uint8_t* pPairs = GetMappingPairs(pAttr, nRoom, &nPairs);
    if (pPairs != nullptr)
        Check(pPairs >= pAttr && pPairs + nPairs <= pRecord + nLength);
    GetFileNameParent(pAttr);
    GetFileNameCreationTime(pAttr);
    GetFileNameFlags(pAttr);
    Check(GetFileNameNamespace(pAttr) <= 4);
    Check(GetFileNameText(pAttr).size() <= 255);
    FileNameEquals(pAttr, u"$MFT");
    if (HasStandardInformationTimes(pAttr, nRoom)) {
        GetStandardCreationTime(pAttr);
        GetStandardFileAttributes(pAttr);
    }
    CNTFSRunList runs;
    DecodeAttributeRuns(pAttr, nRoom, &runs);
    GetAttributeClusterCount(pAttr, nRoom);
    SectorsPerClusterOfAttribute(pAttr, nRoom);
    int64_t i64Size = 0;
    uint64_t u64Vcn = 0;
    AppendAttributeRuns(pAttr, nRoom, &i64Size, &u64Vcn, &runs);
}

void FuzzRecord(std::vector<uint8_t>& record)
{
    uint8_t* p = record.data();
    const size_t n = record.size();
    const std::vector<uint8_t> original = record;

    IsFileRecordHeader(p, n);
    VerifyFixups(p, n);
    IsValidFileRecord(p, n);
    Check(record == original);
    ValidateAttributes(p, n);
    GetLogSequenceNumber(p, n);
    GetBaseRecordNumber(p, n);
    GetOwnRecordNumber(p, n);
    HasAttributeList(p, n);
    for (uint32_t nType : kTypes) {
        CountAttributes(p, n, nType);
        for (int i = 0; i < 4; ++i) {
            const uint8_t* pAttr = FindAttribute(static_cast<const uint8_t*>(p), n, nType, i);
            if (pAttr == nullptr)
                break;
            ReadAttribute(p, n, pAttr);
        }
    }

    {
        CFileRecordHolder holder(p, n, false);
        if (holder.IsValid()) {
            for (uint32_t nType : kTypes)
                for (int i = 0; const uint8_t* pAttr = holder.FindAttribute(nType, i); ++i)
                    ReadAttribute(holder.GetRecord(), holder.GetLength(), pAttr);
        }
        GetSystemFileNumber(holder);
        IsProtectedSystemFile(holder);
        IsBitmapFileRecord(holder);
        IsFolderWithIndexAllocation(holder);
        CNTFSRunList runs;
        int64_t i64Size = 0;
        CollectDataRuns(holder, &runs, true, &i64Size);
        runs.Clear();
        CollectDataRuns(holder, &runs, false, &i64Size);
        uint32_t nSectors = 0;
        InferSectorsPerCluster(holder, &nSectors);
        Check(nSectors <= NTFS_MAX_SECTORS_PER_CLUSTER && (nSectors & (nSectors - 1)) == 0);
    }
    Check(record == original);
    IsVolumeFileRecord(p, n);
    IsMFTFileRecord(p, n);
    IsFolderWithIndexAllocation(p, n);
    {
        CNTFSRunList runs;
        CollectDataRuns(p, n, &runs, true, nullptr);
    }
    char szName[NTFS_VOLUME_LABEL_BUFFER + 1];
    memset(szName, 0, NTFS_VOLUME_LABEL_BUFFER);
    szName[NTFS_VOLUME_LABEL_BUFFER] = 0x7F;
    GetVolumeNameFromFileRecord(p, n, szName);
    Check(szName[NTFS_VOLUME_LABEL_BUFFER] == 0x7F && strnlen(szName, NTFS_VOLUME_LABEL_BUFFER) < NTFS_VOLUME_LABEL_BUFFER);
    Check(record == original);
    {
        CFileRecordHolder copy(p, n, true);
        GetSystemFileNumber(copy);
    }
    Check(record == original);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize > NTFS_MAX_FILE_RECORD_BYTES)
        return 0;
    HasNTFSOEMID(pData, nSize);
    CNTFSDBR dbr;
    if (dbr.SetIfValid(pData, nSize)) {
        const uint32_t nRecord = dbr.GetFileRecordSize();
        Check(nRecord == 0 || (nRecord >= 256 && nRecord <= 65536 && (nRecord & (nRecord - 1)) == 0));
        CFuzzDisk device(pData, nSize, 1ull << 22);
        CNTFSVolumeLabelReader reader(&device);
        char szLabel[NTFS_VOLUME_LABEL_BUFFER + 1];
        memset(szLabel, 0, NTFS_VOLUME_LABEL_BUFFER);
        szLabel[NTFS_VOLUME_LABEL_BUFFER] = 0x7F;
        reader.ReadVolumeLabel(0, &dbr, szLabel);
        Check(szLabel[NTFS_VOLUME_LABEL_BUFFER] == 0x7F);
    }

    std::vector<uint8_t> record(pData, pData + nSize);
    FuzzRecord(record);
    if (nSize > 1024) {
        std::vector<uint8_t> first(pData, pData + 1024);
        FuzzRecord(first);
    }
    // The seeds are the starts of whole volumes: the FILE records in them are fuzzed as well.
    int nRecords = 0;
    for (size_t nOffset = 512; nOffset + 1024 <= nSize && nRecords < 8; nOffset += 512) {
        if (memcmp(pData + nOffset, "FILE", 4) != 0)
            continue;
        std::vector<uint8_t> inner(pData + nOffset, pData + nOffset + 1024);
        FuzzRecord(inner);
        ++nRecords;
    }
    return 0;
}
