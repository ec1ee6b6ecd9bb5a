#include "MFTRecordInfo.h"

#include <cstring>
#include <vector>

#include "DataStreamIO.h"
#include "FileRecordHolder.h"
#include "IStorageDevice.h"
#include "NTFSDBR.h"
#include "NTFSFileRecord.h"
#include "NTFSFileRecordAttribute.h"
#include "NTFSRecordMapping.h"

using namespace DataStreamIO;

namespace {

// A 1024-byte record in 512-byte sectors, the size every NTFS version writes.
const uint8_t kDefaultSectorsPerRecord = 2;

int64_t FirstClusterOf(const CNTFSRunList& runs)
{
    return runs.VcnToLcn(0);
}

// Appends the runs of every unnamed non-resident $DATA of a record held with its fix-ups.
void AppendDataRuns(const CFileRecordHolder& holder, CNTFSRunList* pRuns)
{
    const uint8_t* pRecord = holder.GetRecord();
    const size_t nEnd = GetAttributeAreaEnd(pRecord, holder.GetLength());
    for (int nIndex = 0;; ++nIndex) {
        const uint8_t* pAttr = holder.FindAttribute(NTFS_ATTR_DATA, nIndex);
        if (pAttr == nullptr)
            return;
        int64_t llRealSize = 0;
        uint64_t ullFirstVcn = 0;
        AppendAttributeRuns(pAttr, nEnd - static_cast<size_t>(pAttr - pRecord), &llRealSize, &ullFirstVcn, pRuns);
    }
}

} // namespace

CMFTRecordInfo::CMFTRecordInfo()
    : m_ullRecordSector(NTFS_UNKNOWN_SECTOR), m_bySectorsPerRecord(kDefaultSectorsPerRecord), m_bySectorsPerCluster(0)
{
}

bool CMFTRecordInfo::SetFromRecord(uint8_t* pRecord, size_t nLength, uint64_t ullSector)
{
    uint32_t bySectorsPerCluster = 0;
    if (!InferSectorsPerCluster(pRecord, nLength, &bySectorsPerCluster) || bySectorsPerCluster == 0)
        return false;
    CNTFSRunList runs;
    int64_t llRealSize = 0;
    if (!CollectDataRuns(pRecord, nLength, &runs, false, &llRealSize) || runs.IsEmpty())
        return false;
    m_Runs.Clear();
    runs.CopyTo(&m_Runs);
    m_bySectorsPerCluster = bySectorsPerCluster;
    m_ullRecordSector = ullSector;
    return true;
}

int64_t CMFTRecordInfo::GetFirstCluster() const
{
    return FirstClusterOf(m_Runs);
}

BOOL CMFTRecordInfo::Save(IDataStream* pWriter) const
{
    if (pWriter == nullptr)
        return FALSE;
    if (!WriteLE(pWriter, m_ullRecordSector) || !WriteLE(pWriter, m_bySectorsPerRecord) ||
        !WriteLE(pWriter, EncodeNTFSSectorsPerCluster(m_bySectorsPerCluster)))
        return FALSE;
    return m_Runs.Save(pWriter);
}

BOOL CMFTRecordInfo::Load(IDataStream* pReader)
{
    if (pReader == nullptr)
        return FALSE;
    uint64_t ullSector = 0;
    uint8_t bySectorsPerRecord = 0;
    uint8_t bySectorsPerCluster = 0;
    CNTFSRunList runs;
    if (!ReadLE(pReader, ullSector) || !ReadLE(pReader, bySectorsPerRecord) || !ReadLE(pReader, bySectorsPerCluster) ||
        !runs.Load(pReader))
        return FALSE;
    m_ullRecordSector = ullSector;
    m_bySectorsPerRecord = bySectorsPerRecord;
    m_bySectorsPerCluster = StoredNTFSSectorsPerCluster(bySectorsPerCluster);
    m_Runs.Clear();
    runs.CopyTo(&m_Runs);
    return TRUE;
}

CMFTRecordInfo* CreateMFTRecordInfo(uint8_t* pRecord, size_t nLength, uint64_t ullSector)
{
    CMFTRecordInfo* pInfo = new CMFTRecordInfo();
    if (!pInfo->SetFromRecord(pRecord, nLength, ullSector) || pInfo->GetFirstCluster() == -1) {
        delete pInfo;
        return nullptr;
    }
    return pInfo;
}

CMFTMirrRecordInfo::CMFTMirrRecordInfo() : m_ullRecordSector(NTFS_UNKNOWN_SECTOR), m_ullLogSequence(0), m_bySectorsPerCluster(0)
{
}

bool CMFTMirrRecordInfo::SetFromRecord(uint8_t* pRecord, size_t nLength, uint64_t ullSector)
{
    uint32_t bySectorsPerCluster = 0;
    if (!InferSectorsPerCluster(pRecord, nLength, &bySectorsPerCluster))
        return false;
    CNTFSRunList runs;
    int64_t llRealSize = 0;
    if (!CollectDataRuns(pRecord, nLength, &runs, false, &llRealSize) || runs.IsEmpty())
        return false;
    m_bySectorsPerCluster = bySectorsPerCluster;
    m_Runs.Clear();
    runs.CopyTo(&m_Runs);
    m_ullRecordSector = ullSector;
    m_ullLogSequence = GetLogSequenceNumber(pRecord, nLength);
    return true;
}

int64_t CMFTMirrRecordInfo::GetFirstCluster() const
{
    return FirstClusterOf(m_Runs);
}

CMFTMirrRecordInfo* CreateMFTMirrRecordInfo(uint8_t* pRecord, size_t nLength, uint64_t ullSector)
{
    CMFTMirrRecordInfo* pInfo = new CMFTMirrRecordInfo();
    if (!pInfo->SetFromRecord(pRecord, nLength, ullSector)) {
        delete pInfo;
        return nullptr;
    }
    return pInfo;
}

CBitmapRecordInfo::CBitmapRecordInfo() : m_ullRecordSector(NTFS_UNKNOWN_SECTOR), m_ullBitmapSize(~0ull)
{
}

bool CBitmapRecordInfo::SetFromRecord(uint8_t* pRecord, size_t nLength, uint64_t ullSector)
{
    CNTFSRunList runs;
    int64_t llRealSize = 0;
    if (!CollectDataRuns(pRecord, nLength, &runs, true, &llRealSize) || llRealSize <= 0 || runs.GetTotalLength() == 0)
        return false;
    m_ullBitmapSize = static_cast<uint64_t>(llRealSize);
    m_ullRecordSector = ullSector;
    return true;
}

bool CollectMFTRunsAcrossExtensions(uint8_t* pRecord, size_t nLength, uint64_t ullPartitionStart,
                                    uint32_t nSectorsPerCluster, uint32_t nSectorsPerRecord, IStorageDevice* pDevice,
                                    CNTFSRunList* pRuns)
{
    if (pRuns == nullptr || pDevice == nullptr || nSectorsPerRecord == 0)
        return false;
    CRecordLocationList::CItems locations;
    {
        const CFileRecordHolder holder(pRecord, nLength, false);
        if (!holder.IsValid())
            return false;
        AppendDataRuns(holder, pRuns);
        std::vector<uint8_t, CEngineAllocator<uint8_t>> list;
        if (ReadAttributeList(pRecord, nLength, ullPartitionStart, nSectorsPerCluster, pDevice, list))
            ParseAttributeListLocations(list.data(), list.size(), locations);
    }
    // The base record ($MFT is record 0) holds no further runs.
    for (size_t i = locations.size(); i-- > 0;)
        if (locations[i].ullRecordNumber == 0)
            locations.erase(locations.begin() + static_cast<std::ptrdiff_t>(i));

    // An extension record may lie in clusters that only another extension record's runs reach,
    // so the locations are tried again while a pass still finds one.
    const size_t nRecordBytes = static_cast<size_t>(nSectorsPerRecord) * STORAGE_UNIT_BYTES;
    std::vector<uint8_t, CEngineAllocator<uint8_t>> buffer(nRecordBytes);
    bool bProgress = true;
    while (bProgress && !locations.empty()) {
        bProgress = false;
        for (size_t i = 0; i < locations.size();) {
            const uint64_t ullSector = RecordNumberToSector(locations[i].ullRecordNumber, ullPartitionStart,
                                                            nSectorsPerCluster, *pRuns, nSectorsPerRecord);
            if (ullSector == NTFS_UNKNOWN_SECTOR) {
                ++i;
                continue;
            }
            if (!pDevice->ReadSectors(buffer.data(), ullSector, nSectorsPerRecord))
                memset(buffer.data(), 0, buffer.size());
            const CFileRecordHolder extension(buffer.data(), buffer.size(), false);
            if (extension.IsValid())
                AppendDataRuns(extension, pRuns);
            locations.erase(locations.begin() + static_cast<std::ptrdiff_t>(i));
            bProgress = true;
        }
    }
    pRuns->SortByVcn();
    return !pRuns->IsEmpty();
}
