#include "NTFSFileProperties.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "CharConversion.h"
#include "DataStreamIO.h"
#include "IStorageDevice.h"
#include "NTFSFileRecord.h"
#include "NTFSFileRecordAttribute.h"
#include "NTFSFullFileRecord.h"
#include "NTFSRunList.h"
#include "Pubic.h"

using namespace DataStreamIO;

namespace {

// Records 0 to 4 are system files and 5 the root folder; a name whose parent is below 5 does
// not place its file in a folder.
const uint64_t kFirstFolderNumber = 5;
const uint8_t kNamespaceWin32 = 1;
// $STANDARD_INFORMATION attribute bits that the properties show.
const uint16_t kStandardAttributeBits = 0x01 | 0x02 | 0x04 | 0x20;
// A UTF-16 unit takes at most 3 bytes of UTF-8 (a surrogate pair takes 4 for 2 units).
const size_t kUtf8BytesPerUnit = 3;

// The narrow (UTF-8) form of a name. A unit that cannot be converted (an unpaired surrogate)
// becomes '_', and so does U+0000, which no NTFS name holds: in a damaged record it would end the
// name early for everything that reads it as a C string. Empty when the conversion yields nothing.
std::string ConvertName(const std::u16string& strWide)
{
    std::u16string strClean(strWide);
    for (size_t i = 0; i < strClean.size(); ++i) {
        const char16_t c = strClean[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < strClean.size() && strClean[i + 1] >= 0xDC00 &&
            strClean[i + 1] <= 0xDFFF) {
            ++i;
            continue;
        }
        if ((c >= 0xD800 && c <= 0xDFFF) || c == 0)
            strClean[i] = u'_';
    }
    std::string strNarrow(strClean.size() * kUtf8BytesPerUnit + 1, '\0');
    const int nBytes = dnc::WideToAnsi(strClean.data(), strClean.size(), &strNarrow[0], strNarrow.size());
    if (nBytes <= 0)
        return std::string();
    strNarrow.resize(static_cast<size_t>(nBytes));
    return strNarrow;
}

// The non-resident runs in VCN order as a data-run list. A stretch of VCNs that no run covers
// (an extent whose extension record was not found) becomes a sparse run, so that the data after
// it stays at its place in the file; a run that overlaps what is already covered is dropped.
CNoneResidentNTFSDataRunList* MakeDataRunList(CNTFSRunList& runs)
{
    runs.SortByVcn();
    CNoneResidentNTFSDataRunList* pList = new CNoneResidentNTFSDataRunList();
    uint64_t ullNextVcn = 0;
    for (const NTFS_RUN* pRun : runs) {
        if (pRun->ullLength == 0 || pRun->ullVcn < ullNextVcn)
            continue;
        if (pRun->ullVcn > ullNextVcn)
            pList->AddRun(DATA_RUN(DATA_RUN_SPARSE_START, pRun->ullVcn - ullNextVcn));
        const uint64_t ullStart = pRun->llLcn < 0 ? DATA_RUN_SPARSE_START : static_cast<uint64_t>(pRun->llLcn);
        pList->AddRun(DATA_RUN(ullStart, pRun->ullLength));
        ullNextVcn = pRun->ullVcn + pRun->ullLength;
        if (ullNextVcn < pRun->ullVcn)
            break;
    }
    return pList;
}

uint64_t TotalClusters(IDataRunList* pList)
{
    uint64_t ullTotal = 0;
    for (size_t i = 0; i < pList->GetRunCount(); ++i) {
        const uint64_t ullLength = pList->GetRun(i).ullLength;
        ullTotal = ullLength > UINT64_MAX - ullTotal ? UINT64_MAX : ullTotal + ullLength;
    }
    return ullTotal;
}

// Clusters of a compression unit. The attribute holds the power of two (offset 34); Windows
// writes 4 and reads compressed data in no other unit, so a damaged value changes nothing.
const uint32_t kCompressionUnitClusters = 16;

} // namespace

CNTFSFileProperties::CNTFSFileProperties()
    : m_ullRecordSector(0), m_pRecordExtents(nullptr), m_ullValidSize(UINT64_MAX), m_nCompressionUnitClusters(0)
{
}

CNTFSFileProperties::~CNTFSFileProperties()
{
    delete m_pRecordExtents;
}

int32_t CNTFSFileProperties::SetFlag(uint8_t nFlag)
{
    const uint8_t byOld = m_nFlag;
    m_nFlag = nFlag;
    return byOld;
}

BOOL CNTFSFileProperties::GetDataStreamLayout(DATA_STREAM_LAYOUT* pLayout)
{
    const uint64_t ullSize = GetSignedSize() > 0 ? m_ullSize : 0;
    const uint64_t ullValid = m_ullValidSize < ullSize ? m_ullValidSize : ullSize;
    if (m_nCompressionUnitClusters == 0 && ullValid == ullSize)
        return FALSE;
    if (pLayout != nullptr) {
        pLayout->ullValidSize = ullValid;
        pLayout->nCompressionUnitClusters = m_nCompressionUnitClusters;
    }
    return TRUE;
}

bool CNTFSFileProperties::GetFileRecordSector(uint64_t* pullSector)
{
    if (pullSector != nullptr)
        *pullSector = m_ullRecordSector;
    return true;
}

void CNTFSFileProperties::SetRecordExtents(CRecordLocationList* pExtents)
{
    if (pExtents == m_pRecordExtents)
        return;
    delete m_pRecordExtents;
    m_pRecordExtents = pExtents;
}

void CNTFSFileProperties::SetName(const char* pszName, size_t nLength)
{
    // An NTFS name is at most 255 units (765 bytes of UTF-8); the 16-bit field bounds the copy.
    if (pszName == nullptr)
        ClearName();
    else
        AssignName(pszName, nLength);
}

void CNTFSFileProperties::SetDataRunList(IDataRunList* pList)
{
    PackRuns(pList);
    delete pList;
}

BOOL CNTFSFileProperties::Save(IDataStream* pWriter)
{
    const uint32_t nRunsPresent = HasDataRuns() ? 1 : 0;
    if (!SaveLeadingFields(pWriter) || !WriteLE(pWriter, m_ullRecordSector) || !WriteLE(pWriter, nRunsPresent))
        return FALSE;
    if (nRunsPresent != 0 && !SavePackedRuns(pWriter))
        return FALSE;
    const uint64_t ullCount = m_pRecordExtents != nullptr ? m_pRecordExtents->Items.size() : 0;
    if (!WriteLE(pWriter, ullCount))
        return FALSE;
    for (uint64_t i = 0; i < ullCount; ++i) {
        const RECORD_LOCATION& location = m_pRecordExtents->Items[static_cast<size_t>(i)];
        if (!WriteLE(pWriter, location.ullSector) || !WriteLE(pWriter, location.ullRecordNumber))
            return FALSE;
    }
    return TRUE;
}

BOOL CNTFSFileProperties::Load(IDataStream* pReader)
{
    LEADING_FIELDS fields;
    uint64_t ullRecordSector = 0;
    uint32_t nRunsPresent = 0;
    uint64_t ullCount = 0;
    PACKED_DATA_RUNS* pRuns = nullptr;
    CRecordLocationList* pExtents = nullptr;
    bool bOk = LoadLeadingFields(pReader, &fields) && ReadLE(pReader, ullRecordSector) && ReadLE(pReader, nRunsPresent);
    if (bOk && nRunsPresent == 1) {
        pRuns = LoadPackedDataRuns(pReader);
        bOk = pRuns != nullptr;
    } else if (bOk && nRunsPresent != 0) {
        bOk = false;
    }
    // The count comes from the stream: a damaged one must not size an allocation.
    bOk = bOk && ReadLE(pReader, ullCount) && ullCount <= NTFS_MAX_EXTENSION_RECORDS;
    if (bOk && ullCount > 0) {
        pExtents = new CRecordLocationList();
        for (uint64_t i = 0; bOk && i < ullCount; ++i) {
            RECORD_LOCATION location;
            bOk = ReadLE(pReader, location.ullSector) && ReadLE(pReader, location.ullRecordNumber);
            if (bOk)
                pExtents->Items.push_back(location);
        }
    }
    if (!bOk) {
        delete pRuns;
        delete pExtents;
        return FALSE;
    }
    AdoptLeadingFields(&fields);
    AdoptPackedRuns(pRuns);
    SetRecordExtents(pExtents);
    m_ullRecordSector = ullRecordSector;
    return TRUE;
}

CNTFSFileProperties* CreateNTFSFileProperties(uint64_t ullRecordSector, CNTFSFullFileRecord& record,
                                              uint64_t ullClusterBytes, uint64_t* pullParent)
{
    if (!record.HasRecord())
        return nullptr;

    // The name: the Win32 name when the second $FILE_NAME is one, else the first.
    NTFS_FOUND_ATTRIBUTE first = {};
    NTFS_FOUND_ATTRIBUTE second = {};
    const bool bFirst = record.FindAttribute(NTFS_ATTR_FILE_NAME, 0, &first);
    const bool bSecond = record.FindAttribute(NTFS_ATTR_FILE_NAME, 1, &second);
    const uint8_t* pName = nullptr;
    if (bSecond && GetFileNameNamespace(second.pAttr) == kNamespaceWin32)
        pName = second.pAttr;
    else if (bFirst)
        pName = first.pAttr;
    if (pName == nullptr)
        return nullptr;
    // The folder is the one the chosen name lies in: names of hard links in other folders
    // must not put this name where it never was. The other name's folder serves only when the
    // chosen one names a system file.
    const uint8_t* pOther = pName == first.pAttr ? (bSecond ? second.pAttr : nullptr) : first.pAttr;
    uint64_t ullParent = GetFileNameParent(pName);
    if (ullParent < kFirstFolderNumber && pOther != nullptr && GetFileNameParent(pOther) >= kFirstFolderNumber)
        ullParent = GetFileNameParent(pOther);

    if (GetFileNameLength(pName) == 0)
        return nullptr;
    uint16_t wAttributes = (GetFileNameFlags(pName) & NTFS_FILE_NAME_FLAG_DIRECTORY) != 0 ? FILE_ATTR_DIRECTORY : 0;
    const std::string strName = ConvertName(GetFileNameText(pName));
    if (strName.empty())
        return nullptr;
    if (!CPubic::GetScanTypeFilter().CheckFilter(strName.c_str(), (wAttributes & FILE_ATTR_DIRECTORY) != 0))
        return nullptr;
    if (pullParent != nullptr && ullParent != NTFS_NO_RECORD_NUMBER)
        *pullParent = ullParent;

    const uint64_t ullNameTime = GetFileNameCreationTime(pName);
    uint64_t ullCreation = ullNameTime;
    uint64_t ullModification = ullNameTime;
    uint64_t ullAccess = ullNameTime;
    int64_t llSize = static_cast<int64_t>(GetFileNameRealSize(pName));

    NTFS_FOUND_ATTRIBUTE info = {};
    if (record.FindAttribute(NTFS_ATTR_STANDARD_INFORMATION, 0, &info) &&
        HasStandardInformationTimes(info.pAttr, info.nRoom)) {
        ullCreation = GetStandardCreationTime(info.pAttr);
        ullModification = GetStandardModificationTime(info.pAttr);
        ullAccess = GetStandardAccessTime(info.pAttr);
        wAttributes |= static_cast<uint16_t>(GetStandardFileAttributes(info.pAttr) & kStandardAttributeBits);
    }

    // The unnamed $DATA: resident data ends the walk; non-resident extents are gathered from
    // the base and the extension records.
    IDataRunList* pList = nullptr;
    CNTFSRunList runs;
    // Taken from the extent that starts at VCN 0, which alone carries the sizes.
    uint64_t ullValidSize = UINT64_MAX;
    uint32_t nUnitClusters = 0;
    for (int nIndex = 0;; ++nIndex) {
        NTFS_FOUND_ATTRIBUTE data = {};
        if (!record.FindAttribute(NTFS_ATTR_DATA, nIndex, &data))
            break;
        if (IsAttributeNamed(data.pAttr))
            continue;
        if (IsAttributeCompressed(data.pAttr))
            wAttributes |= FILE_ATTR_COMPRESSED;
        if (IsAttributeEncrypted(data.pAttr))
            wAttributes |= FILE_ATTR_ENCRYPTED;
        if (IsAttributeResident(data.pAttr)) {
            uint32_t nValueLength = 0;
            if (GetResidentValue(data.pAttr, &nValueLength) == nullptr)
                continue;
            CResidentNTFSDataRunList* pResident = new CResidentNTFSDataRunList();
            pResident->SetResidentRun(data.ullSector, 1,
                                      static_cast<int32_t>(data.nOffset + GetResidentValueOffset(data.pAttr)));
            pList = pResident;
            llSize = nValueLength;
            break;
        }
        int64_t llRealSize = 0;
        uint64_t ullFirstVcn = NTFS_NO_RECORD_NUMBER;
        AppendAttributeRuns(data.pAttr, data.nRoom, &llRealSize, &ullFirstVcn, &runs);
        // The extent at VCN 0 carries the data's own size, which is the file's: Windows leaves
        // the one in $FILE_NAME as it was when the name was last written, larger or smaller.
        // Only a zero there (a damaged extent) leaves the name's size standing.
        if (ullFirstVcn == 0 && (llRealSize > 0 || llSize <= 0))
            llSize = llRealSize;
        if (ullFirstVcn == 0) {
            ullValidSize = GetInitializedSize(data.pAttr);
            if (IsAttributeCompressed(data.pAttr))
                nUnitClusters = kCompressionUnitClusters;
        }
    }
    if (pList == nullptr) {
        pList = MakeDataRunList(runs);
        const uint64_t ullClusters = TotalClusters(pList);
        if (llSize < 0)
            llSize = 0;
        if (ullClusterBytes != 0 && ullClusterBytes % STORAGE_UNIT_BYTES == 0) {
            const uint64_t ullAllocated =
                ullClusters > static_cast<uint64_t>(INT64_MAX) / ullClusterBytes ? INT64_MAX : ullClusters * ullClusterBytes;
            if (static_cast<uint64_t>(llSize) > ullAllocated)
                llSize = static_cast<int64_t>(ullAllocated);
            if (llSize == 0 && ullAllocated != 0)
                llSize = static_cast<int64_t>(ullAllocated);
        }
    }
    if ((wAttributes & FILE_ATTR_COMPRESSED) && (wAttributes & FILE_ATTR_ENCRYPTED))
        wAttributes &= static_cast<uint16_t>(~FILE_ATTR_COMPRESSED);

    CNTFSFileProperties* pProperties = new CNTFSFileProperties();
    pProperties->SetName(strName.data(), strName.size());
    pProperties->SetSize(llSize);
    pProperties->SetAttributes(wAttributes);
    pProperties->SetTimes(ullCreation, ullModification, ullAccess);
    pProperties->SetRecordSector(ullRecordSector);
    pProperties->SetStatus(record.IsInUse() ? NTFS_STATUS_LIVE : NTFS_STATUS_DELETED);
    const bool bResident = pList != nullptr && pList->IsResident();
    pProperties->SetDataRunList(pList);
    // Resident data is never compressed and is valid to its end; encrypted data is copied as
    // stored, whatever its compressed flag says.
    if (!bResident)
        pProperties->SetDataStreamLayout(ullValidSize, (wAttributes & FILE_ATTR_COMPRESSED) != 0 ? nUnitClusters : 0);
    return pProperties;
}

void CompleteNTFSFileSize(CNTFSFileProperties* pProperties, uint32_t nSectorsPerCluster)
{
    if (pProperties == nullptr || pProperties->GetSignedSize() >= 0)
        return;
    IDataRunList* pList = pProperties->GetDataRunList();
    if (pList == nullptr)
        return;
    if (!pList->IsResident()) {
        const uint64_t ullClusterBytes = static_cast<uint64_t>(nSectorsPerCluster) * STORAGE_UNIT_BYTES;
        const uint64_t ullClusters = TotalClusters(pList);
        if (ullClusterBytes != 0)
            pProperties->SetSize(ullClusters > static_cast<uint64_t>(INT64_MAX) / ullClusterBytes
                                     ? INT64_MAX
                                     : static_cast<int64_t>(ullClusters * ullClusterBytes));
    }
    delete pList;
}

CNTFSFileProperties* CreateNTFSFolderProperties(const char* pszName, uint8_t byStatus)
{
    CNTFSFileProperties* pProperties = new CNTFSFileProperties();
    pProperties->SetName(pszName, pszName != nullptr ? strlen(pszName) : 0);
    pProperties->SetAttributes(FILE_ATTR_DIRECTORY);
    pProperties->SetStatus(byStatus);
    return pProperties;
}
