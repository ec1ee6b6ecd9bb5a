#include "TypedFileEntry.h"

#include "FileExtensionTypeMap.h"
#include "RawFileInfo.h"
#include "SearchedPartitionInfo.h"

namespace {

bool FillEntry(TYPED_FILE_ENTRY& entry, uint16_t wTypeId, uint64_t ullFirstCluster, uint64_t ullEntrySector)
{
    if (wTypeId == 0 || static_cast<int64_t>(ullFirstCluster) < 0 || static_cast<int64_t>(ullEntrySector) < 0)
        return false;
    entry.wTypeId = wTypeId;
    entry.ullFirstCluster = ullFirstCluster;
    entry.ullEntrySector = ullEntrySector;
    return true;
}

} // namespace

bool TYPED_FILE_ENTRY::SetFromName(const char* pszName, uint8_t byLength, uint64_t ullCluster, uint64_t ullSector)
{
    return FillEntry(*this, GetFileTypeIdFromName(pszName, byLength), ullCluster, ullSector);
}

bool TYPED_FILE_ENTRY::SetFromWideName(const char16_t* pwszName, uint8_t byLength, uint64_t ullCluster,
                                       uint64_t ullSector)
{
    return FillEntry(*this, GetFileTypeIdFromWideName(pwszName, byLength), ullCluster, ullSector);
}

void AddTypedFileEntry(CTypedFileEntryList& list, const char* pszName, uint8_t byLength, uint64_t ullFirstCluster,
                       uint64_t ullEntrySector)
{
    TYPED_FILE_ENTRY entry;
    if (entry.SetFromName(pszName, byLength, ullFirstCluster, ullEntrySector))
        list.push_back(entry);
}

void AppendTypedFileEntry(CTypedFileEntryList& list, const TYPED_FILE_ENTRY& entry)
{
    list.push_back(entry);
}

bool CandidateClusterSector(const CSearchedPartitionInfo& candidate, uint64_t ullCluster, uint64_t* pullSector)
{
    const uint64_t ullPerCluster = candidate.m_bySectorsPerCluster;
    uint64_t ullBase = candidate.m_ullStartSector;
    if (candidate.GetType() == SEARCHED_PARTITION_FAT) {
        // FAT numbers its data clusters from 2, starting at the first sector of the data area.
        if (ullCluster < 2)
            return false;
        ullCluster -= 2;
        ullBase = candidate.m_ullEvidenceSector;
    }
    if (ullPerCluster != 0 && ullCluster > (UINT64_MAX - ullBase) / ullPerCluster)
        return false;
    *pullSector = ullBase + ullCluster * ullPerCluster;
    return true;
}

void CountRawFileMatches(const CTypedFileEntryList& list, const CRawFileInfoContainer* pContainer,
                         CSearchedPartitionInfo* pCandidate)
{
    if (pContainer == nullptr || pCandidate == nullptr)
        return;
    const uint64_t ullStart = pCandidate->m_ullStartSector;
    // Candidate ranges come from disk values: the end is kept from wrapping past 2^64.
    const uint64_t ullEnd = pCandidate->m_ullSectorCount > UINT64_MAX - ullStart
                                ? UINT64_MAX
                                : ullStart + pCandidate->m_ullSectorCount;
    for (const TYPED_FILE_ENTRY& entry : list) {
        if (entry.ullEntrySector < ullStart)
            continue;
        if (entry.ullEntrySector >= ullEnd)
            break;
        uint64_t ullDataSector = 0;
        if (!CandidateClusterSector(*pCandidate, entry.ullFirstCluster, &ullDataSector))
            continue;
        if (ullDataSector < ullStart || ullDataSector >= ullEnd)
            continue;
        const CRawFileInfo* pFile = pContainer->FindByStartSector(ullDataSector);
        if (pFile != nullptr && pFile->GetType() == entry.wTypeId)
            ++pCandidate->m_ullRawFileMatches;
    }
}
