#include "SearchedPartitionInfo.h"

#include "DataStreamIO.h"
#include "FileNode.h"
#include "ntfs/NTFSDBR.h"

using namespace DataStreamIO;

CSearchedPartitionInfo::CSearchedPartitionInfo()
    : m_nFileSystemKind(FILE_SYSTEM_UNKNOWN), m_bySectorsPerCluster(0), m_ullEvidenceSector(0), m_ullStartSector(0),
      m_ullRawFileMatches(0), m_ullRecordMatches(0), m_nExtra(0), m_ullSectorCount(0), m_ullConfidence(1),
      m_dScore(0.0), m_nSelected(0)
{
}

CSearchedPartitionInfo::~CSearchedPartitionInfo()
{
}

int32_t CSearchedPartitionInfo::GetType() const
{
    return SEARCHED_PARTITION_BASE;
}

BOOL CSearchedPartitionInfo::Save(IDataStream* pWriter)
{
    if (pWriter == nullptr)
        return FALSE;
    bool bOk = WriteLE(pWriter, m_nFileSystemKind) && WriteLE(pWriter, EncodeNTFSSectorsPerCluster(m_bySectorsPerCluster)) &&
               WriteLE(pWriter, m_ullEvidenceSector) && WriteLE(pWriter, m_ullStartSector) &&
               WriteLE(pWriter, m_ullRawFileMatches) && WriteLE(pWriter, m_ullRecordMatches) &&
               WriteLE(pWriter, m_nExtra) && WriteLE(pWriter, m_ullSectorCount) && WriteLE(pWriter, m_ullConfidence) &&
               WriteLE(pWriter, m_dScore) && WriteLE(pWriter, m_nSelected);
    return bOk ? TRUE : FALSE;
}

BOOL CSearchedPartitionInfo::Load(IDataStream* pReader)
{
    if (pReader == nullptr)
        return FALSE;
    // Read into a copy so that a short record leaves this candidate as it was.
    int32_t nKind, nExtra, nSelected;
    uint8_t bySectorsPerCluster;
    uint64_t ullEvidence, ullStart, ullRawMatches, ullRecordMatches, ullCount, ullConfidence;
    double dScore;
    if (!ReadLE(pReader, nKind) || !ReadLE(pReader, bySectorsPerCluster) || !ReadLE(pReader, ullEvidence) ||
        !ReadLE(pReader, ullStart) || !ReadLE(pReader, ullRawMatches) || !ReadLE(pReader, ullRecordMatches) ||
        !ReadLE(pReader, nExtra) || !ReadLE(pReader, ullCount) || !ReadLE(pReader, ullConfidence) ||
        !ReadLE(pReader, dScore) || !ReadLE(pReader, nSelected))
        return FALSE;
    m_nFileSystemKind = nKind;
    m_bySectorsPerCluster = StoredNTFSSectorsPerCluster(bySectorsPerCluster);
    m_ullEvidenceSector = ullEvidence;
    m_ullStartSector = ullStart;
    m_ullRawFileMatches = ullRawMatches;
    m_ullRecordMatches = ullRecordMatches;
    m_nExtra = nExtra;
    m_ullSectorCount = ullCount;
    m_ullConfidence = ullConfidence;
    m_dScore = dScore;
    m_nSelected = nSelected;
    return TRUE;
}
