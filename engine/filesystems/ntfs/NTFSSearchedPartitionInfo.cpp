#include "NTFSSearchedPartitionInfo.h"

#include "DataStreamIO.h"

using namespace DataStreamIO;

namespace {
const uint64_t kUnknown = ~0ull;
// The FILE record size every NTFS version writes, in sectors.
const int32_t kDefaultRecordSectors = 2;
} // namespace

CSearchedNTFSPartitionInfo::CSearchedNTFSPartitionInfo()
    : m_ullSerialNumber(0), m_nRecordSectors(kDefaultRecordSectors), m_dwFlags(0), m_bUseMFTSets(0),
      m_bOnlyRecordsInMFT(0), m_ullClusterCount(kUnknown), m_ullLogFileSectorsSeen(kUnknown),
      m_ullAttrDefSectorsSeen(kUnknown), m_ullUpCaseSectorsSeen(kUnknown), m_ullMFTRecordSector(kUnknown),
      m_ullLogFileRecordSector(kUnknown), m_ullAttrDefRecordSector(kUnknown), m_ullUpCaseRecordSector(kUnknown),
      m_ullMFTReachSectors(kUnknown)
{
}

CSearchedNTFSPartitionInfo::~CSearchedNTFSPartitionInfo()
{
}

int32_t CSearchedNTFSPartitionInfo::GetType() const
{
    return SEARCHED_PARTITION_NTFS;
}

BOOL CSearchedNTFSPartitionInfo::Save(IDataStream* pWriter)
{
    if (!CSearchedPartitionInfo::Save(pWriter))
        return FALSE;
    bool bOk = WriteLE(pWriter, m_ullSerialNumber) && WriteLE(pWriter, m_nRecordSectors) &&
               WriteLE(pWriter, m_dwFlags) && WriteLE(pWriter, m_bUseMFTSets) && WriteLE(pWriter, m_bOnlyRecordsInMFT) &&
               WriteLE(pWriter, m_ullClusterCount) && WriteLE(pWriter, m_ullLogFileSectorsSeen) &&
               WriteLE(pWriter, m_ullAttrDefSectorsSeen) && WriteLE(pWriter, m_ullUpCaseSectorsSeen) &&
               WriteLE(pWriter, m_ullMFTRecordSector) && WriteLE(pWriter, m_ullLogFileRecordSector) &&
               WriteLE(pWriter, m_ullAttrDefRecordSector) && WriteLE(pWriter, m_ullUpCaseRecordSector) &&
               WriteLE(pWriter, m_ullMFTReachSectors);
    return bOk ? TRUE : FALSE;
}

BOOL CSearchedNTFSPartitionInfo::Load(IDataStream* pReader)
{
    // Read the whole record into a copy first so that a short one changes nothing.
    CSearchedNTFSPartitionInfo copy;
    if (!copy.CSearchedPartitionInfo::Load(pReader))
        return FALSE;
    if (!ReadLE(pReader, copy.m_ullSerialNumber) || !ReadLE(pReader, copy.m_nRecordSectors) ||
        !ReadLE(pReader, copy.m_dwFlags) || !ReadLE(pReader, copy.m_bUseMFTSets) ||
        !ReadLE(pReader, copy.m_bOnlyRecordsInMFT) || !ReadLE(pReader, copy.m_ullClusterCount) ||
        !ReadLE(pReader, copy.m_ullLogFileSectorsSeen) || !ReadLE(pReader, copy.m_ullAttrDefSectorsSeen) ||
        !ReadLE(pReader, copy.m_ullUpCaseSectorsSeen) || !ReadLE(pReader, copy.m_ullMFTRecordSector) ||
        !ReadLE(pReader, copy.m_ullLogFileRecordSector) || !ReadLE(pReader, copy.m_ullAttrDefRecordSector) ||
        !ReadLE(pReader, copy.m_ullUpCaseRecordSector) || !ReadLE(pReader, copy.m_ullMFTReachSectors))
        return FALSE;
    static_cast<CSearchedPartitionInfo&>(*this) = static_cast<const CSearchedPartitionInfo&>(copy);
    m_ullSerialNumber = copy.m_ullSerialNumber;
    m_nRecordSectors = copy.m_nRecordSectors;
    m_dwFlags = copy.m_dwFlags;
    m_bUseMFTSets = copy.m_bUseMFTSets;
    m_bOnlyRecordsInMFT = copy.m_bOnlyRecordsInMFT;
    m_ullClusterCount = copy.m_ullClusterCount;
    m_ullLogFileSectorsSeen = copy.m_ullLogFileSectorsSeen;
    m_ullAttrDefSectorsSeen = copy.m_ullAttrDefSectorsSeen;
    m_ullUpCaseSectorsSeen = copy.m_ullUpCaseSectorsSeen;
    m_ullMFTRecordSector = copy.m_ullMFTRecordSector;
    m_ullLogFileRecordSector = copy.m_ullLogFileRecordSector;
    m_ullAttrDefRecordSector = copy.m_ullAttrDefRecordSector;
    m_ullUpCaseRecordSector = copy.m_ullUpCaseRecordSector;
    m_ullMFTReachSectors = copy.m_ullMFTReachSectors;
    return TRUE;
}
