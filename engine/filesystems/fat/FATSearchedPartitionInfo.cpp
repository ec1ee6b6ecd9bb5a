#include "FATSearchedPartitionInfo.h"

#include "DataStreamIO.h"

using namespace DataStreamIO;

CFATSearchedPartitionInfo::CFATSearchedPartitionInfo()
    : m_wReservedSectors(0), m_nSectorsPerFAT(0), m_nClusterCount(0), m_nRootInfo(0), m_nFlags(0)
{
}

CFATSearchedPartitionInfo::~CFATSearchedPartitionInfo()
{
}

int32_t CFATSearchedPartitionInfo::GetType() const
{
    return SEARCHED_PARTITION_FAT;
}

BOOL CFATSearchedPartitionInfo::Save(IDataStream* pWriter)
{
    if (!CSearchedPartitionInfo::Save(pWriter))
        return FALSE;
    const bool bOk = WriteLE(pWriter, m_wReservedSectors) && WriteLE(pWriter, m_nSectorsPerFAT) &&
                     WriteLE(pWriter, m_nClusterCount) && WriteLE(pWriter, m_nRootInfo) &&
                     WriteLE(pWriter, m_nFlags);
    return bOk ? TRUE : FALSE;
}

BOOL CFATSearchedPartitionInfo::Load(IDataStream* pReader)
{
    if (pReader == nullptr)
        return FALSE;
    // The base is loaded into a copy first, so that a record cut short in the FAT fields leaves
    // this candidate as it was.
    CSearchedPartitionInfo base;
    if (!base.Load(pReader))
        return FALSE;
    uint16_t wReserved;
    uint32_t nSectorsPerFAT, nClusters, nRootInfo, nFlags;
    if (!ReadLE(pReader, wReserved) || !ReadLE(pReader, nSectorsPerFAT) || !ReadLE(pReader, nClusters) ||
        !ReadLE(pReader, nRootInfo) || !ReadLE(pReader, nFlags))
        return FALSE;
    static_cast<CSearchedPartitionInfo&>(*this) = base;
    m_wReservedSectors = wReserved;
    m_nSectorsPerFAT = nSectorsPerFAT;
    m_nClusterCount = nClusters;
    m_nRootInfo = nRootInfo;
    m_nFlags = nFlags;
    return TRUE;
}

CFATSearchedPartitionInfo* CreateFATSearchedPartitionInfo()
{
    return new CFATSearchedPartitionInfo();
}

void DeleteFATSearchedPartitionInfo(CSearchedPartitionInfo* pInfo)
{
    delete pInfo;
}
