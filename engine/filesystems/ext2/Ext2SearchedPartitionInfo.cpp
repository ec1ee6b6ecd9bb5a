#include "ext2/Ext2SearchedPartitionInfo.h"

#include <algorithm>
#include <cstring>

#include "DataStreamIO.h"
#include "ext2/Ext2Layout.h"

using namespace DataStreamIO;

CExt2SearchedPartitionInfo::CExt2SearchedPartitionInfo()
    : m_nConfirmations(1), m_nTableBytesCollected(0), m_ullDescTableSector(0), m_ullLowestSuperBlockSector(0),
      m_bRawValid(0)
{
}

CExt2SearchedPartitionInfo::~CExt2SearchedPartitionInfo() {}

int32_t CExt2SearchedPartitionInfo::GetType() const
{
    return SEARCHED_PARTITION_EXT2;
}

BOOL CExt2SearchedPartitionInfo::Save(IDataStream* pWriter)
{
    if (!CSearchedPartitionInfo::Save(pWriter))
        return FALSE;
    return WriteLE(pWriter, m_ullDescTableSector) && WriteLE(pWriter, static_cast<uint32_t>(m_bRawValid)) ? TRUE : FALSE;
}

BOOL CExt2SearchedPartitionInfo::Load(IDataStream* pReader)
{
    if (!CSearchedPartitionInfo::Load(pReader))
        return FALSE;
    uint64_t ullSector = 0;
    uint32_t nRawValid = 0;
    if (!ReadLE(pReader, ullSector) || !ReadLE(pReader, nRawValid))
        return FALSE;
    m_ullDescTableSector = ullSector;
    m_bRawValid = static_cast<int32_t>(nRawValid);
    m_Table.clear();
    m_nTableBytesCollected = 0;
    return TRUE;
}

void CExt2SearchedPartitionInfo::SetFromSuperBlock(const uint8_t* pSuperBlock, uint64_t ullSector, uint64_t ullStart)
{
    m_SuperBlock.Assign(pSuperBlock, ext2::kSuperBlockBytes);
    m_Normalised = m_SuperBlock;
    m_Normalised.Normalise();
    m_nFileSystemKind = m_Normalised.GetFileSystemKind();
    m_bySectorsPerCluster = static_cast<uint8_t>(std::min<uint32_t>(m_Normalised.GetSectorsPerBlock(), 255));
    m_ullEvidenceSector = ullSector;
    m_ullStartSector = ullStart;
    m_ullSectorCount = m_Normalised.GetSizeInBytes() / ext2::kSectorBytes;
    m_ullLowestSuperBlockSector = ullSector;
    m_nConfirmations = 1;
    m_nTableBytesCollected = 0;
    m_Table.clear();
    m_bRawValid = m_SuperBlock.IsValid() ? 1 : 0;
}

uint64_t CExt2SearchedPartitionInfo::GetGroupCount() const
{
    return m_Normalised.GetGroupCount();
}

uint64_t CExt2SearchedPartitionInfo::GetCollectedGroups() const
{
    const uint64_t nGroups = GetGroupCount();
    const uint64_t nLeading = m_Normalised.GetLeadingTableGroups();
    const uint32_t nDescriptorBytes = GetDescriptorBytes();
    if (nLeading >= nGroups || nDescriptorBytes == 0)
        return nLeading;
    return std::max<uint64_t>(nLeading, std::min<uint64_t>(nGroups, m_Normalised.GetBlockSize() / nDescriptorBytes));
}

void CExt2SearchedPartitionInfo::AppendDescriptors(const uint8_t* pSector, uint64_t ullSector)
{
    // The table's size is bounded by the superblock's validity test (it fits in one group).
    const uint64_t ullTableBytes = GetTableBytes();
    if (m_Table.empty()) {
        m_Table.assign(static_cast<size_t>(ullTableBytes), 0);
        m_ullDescTableSector = ullSector;
    }
    if (m_nTableBytesCollected >= ullTableBytes)
        return;
    const uint64_t ullTake = std::min<uint64_t>(ext2::kSectorBytes, ullTableBytes - m_nTableBytesCollected);
    memcpy(m_Table.data() + m_nTableBytesCollected, pSector, static_cast<size_t>(ullTake));
    m_nTableBytesCollected += ullTake;
}

bool CExt2SearchedPartitionInfo::GetTable(CExt2GroupDescTable* pTable) const
{
    if (!IsTableComplete() ||
        !pTable->Assign(m_Table.data(), m_Table.size(), GetCollectedGroups(), GetDescriptorBytes()))
        return false;
    // Only the primary copy keeps the groups' current marks (the backups keep the format's).
    pTable->SetPrimary(m_SuperBlock.GetBlockGroupNumber() == 0);
    return true;
}
