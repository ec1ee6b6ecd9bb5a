#include "Ext2FileSystem.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>
#include <stdexcept>

#include "Ext2Inode.h"
#include "StructuredException.h"

using namespace ext2;

namespace {

// Largest read handed to a device at once: the sector reader refuses more than 8192 sectors.
constexpr uint64_t kMaxSectorsPerRead = 8192;
constexpr uint64_t kNoBlock = std::numeric_limits<uint64_t>::max();

// Groups whose superblock and descriptor table have backups on a file system with sparse
// superblocks (0, 1 and the powers of 3, 5 and 7), tried in this order.
const uint32_t kDescriptorGroups[] = {0, 1, 3, 5, 7, 9, 25, 27, 49, 81, 125};

// Each way of opening sets up the fault translation once per process.
std::once_flag g_TranslatorFromSector;
std::once_flag g_TranslatorFromSuperBlock;
std::once_flag g_TranslatorFromCandidate;

void InstallTranslatorOnce(std::once_flag& flag)
{
    std::call_once(flag, [] { InstallStructuredExceptionTranslator(); });
}

} // namespace

bool CExt2FileSystem::ReadDeviceSectors(IStorageDevice* pDevice, void* pBuffer, uint64_t u64Start,
                                        uint64_t u64Count)
{
    uint8_t* pOut = static_cast<uint8_t*>(pBuffer);
    const uint64_t u64Total = pDevice ? pDevice->GetTotalSectors() : 0;
    bool bOk = u64Start < u64Total && u64Count <= u64Total - u64Start;
    for (uint64_t nDone = 0; bOk && nDone < u64Count;) {
        const uint64_t n = std::min(kMaxSectorsPerRead, u64Count - nDone);
        bOk = pDevice->ReadSectors(pOut + nDone * kSectorBytes, u64Start + nDone, n) == 1;
        nDone += n;
    }
    if (!bOk)
        memset(pOut, 0, u64Count * kSectorBytes);
    return bOk;
}

CExt2FileSystem::CExt2FileSystem(IStorageDevice* pDevice, uint64_t u64SuperBlockSector)
    : m_pDevice(pDevice), m_u64SuperBlockSector(u64SuperBlockSector), m_nBlockSize(0), m_nGroupCount(0),
      m_nInodeBlock(kNoBlock), m_pHeldBlocks(nullptr)
{
    InstallTranslatorOnce(g_TranslatorFromSector);
    uint8_t abySuper[kSuperBlockBytes];
    if (!ReadDeviceSectors(pDevice, abySuper, u64SuperBlockSector, kSuperBlockSectors))
        throw CExt2ReadSectorError();
    Open(CExt2SuperBlock(abySuper, sizeof(abySuper)));
}

CExt2FileSystem::CExt2FileSystem(IStorageDevice* pDevice, uint64_t u64SuperBlockSector,
                                 const CExt2SuperBlock& superBlock)
    : m_pDevice(pDevice), m_u64SuperBlockSector(u64SuperBlockSector), m_nBlockSize(0), m_nGroupCount(0),
      m_nInodeBlock(kNoBlock), m_pHeldBlocks(nullptr)
{
    InstallTranslatorOnce(g_TranslatorFromSuperBlock);
    Open(superBlock);
}

CExt2FileSystem::CExt2FileSystem(IStorageDevice* pDevice, uint64_t u64PartitionStart,
                                 const CExt2SuperBlock& superBlock, const CExt2GroupDescTable& table)
    : m_pDevice(pDevice), m_SuperBlock(superBlock), m_u64SuperBlockSector(u64PartitionStart + kSuperBlockSectors),
      m_nBlockSize(0), m_nGroupCount(0), m_nInodeBlock(kNoBlock), m_pHeldBlocks(nullptr)
{
    InstallTranslatorOnce(g_TranslatorFromCandidate);
    m_SuperBlock.Normalise();
    if (!m_SuperBlock.IsValid())
        throw CExt2BadSuperBlock();
    // Found through a backup copy or not, the file system is read as from its primary.
    m_SuperBlock.SetBlockGroupNumber(0);
    SetGeometry();
    // The table as the scan took it: descriptors of any size, their upper halves and whether it
    // is the primary copy. With meta groups the scan took the descriptors after the superblock;
    // the others are read from their meta groups.
    m_Table = table;
    if (m_Table.GetCount() < m_nGroupCount) {
        std::vector<uint8_t, CEngineAllocator<uint8_t>> meta;
        bool bMetaFromCopy = false;
        ReadMetaDescriptors(m_Table.GetCount(), &meta, &bMetaFromCopy);
        const uint64_t nMissing = m_nGroupCount - m_Table.GetCount();
        if (meta.empty() || !m_Table.Append(meta.data(), meta.size(), nMissing, m_SuperBlock.GetDescriptorBytes()))
            throw CExt2BadGroupDescriptor();
        if (bMetaFromCopy)
            m_Table.SetPrimary(false);
    }
    if (!m_Table.IsValid(m_SuperBlock))
        throw CExt2BadGroupDescriptor();
}

CExt2FileSystem::~CExt2FileSystem() {}

void CExt2FileSystem::Open(const CExt2SuperBlock& superBlock)
{
    m_SuperBlock = superBlock;
    m_SuperBlock.Normalise();
    if (!m_SuperBlock.IsValid() || m_u64SuperBlockSector < kSuperBlockSectors)
        throw CExt2BadSuperBlock();
    SetGeometry();
    // The file system must lie on the device: blocks count x block size from the partition start.
    const uint64_t u64Total = m_pDevice ? m_pDevice->GetTotalSectors() : 0;
    const uint64_t u64Needed = (m_SuperBlock.GetSizeInBytes() + kSectorBytes - 1) / kSectorBytes;
    if (u64Total < GetPartitionStart() || u64Needed > u64Total - GetPartitionStart())
        throw CExt2BadSuperBlock();
    FindGroupDescTable();
}

void CExt2FileSystem::SetGeometry()
{
    m_nBlockSize = m_SuperBlock.GetBlockSize();
    // Bounded by the validity test (the whole table fits in one group).
    m_nGroupCount = static_cast<uint32_t>(m_SuperBlock.GetGroupCount());
}

void CExt2FileSystem::ReadMetaDescriptors(uint64_t nFromGroup, std::vector<uint8_t, CEngineAllocator<uint8_t>>* pData,
                                          bool* pbFromCopy) const
{
    pData->clear();
    *pbFromCopy = false;
    const uint32_t nDescriptorBytes = m_SuperBlock.GetDescriptorBytes();
    const uint64_t nLeading = m_SuperBlock.GetLeadingTableGroups();
    if (nFromGroup >= m_nGroupCount || nFromGroup < nLeading || nDescriptorBytes == 0)
        return;
    const uint64_t nPerBlock = m_nBlockSize / nDescriptorBytes;
    // A block of descriptors starts at every multiple of the block's descriptors past the
    // leading groups.
    if ((nFromGroup - nLeading) % nPerBlock != 0)
        return;
    // Bounded by the superblock's validity test (the table fits in one group).
    pData->assign(static_cast<size_t>((m_nGroupCount - nFromGroup) * nDescriptorBytes), 0);
    const uint64_t nSectorsPerBlock = GetSectorsPerBlock();
    std::vector<uint8_t, CEngineAllocator<uint8_t>> block(m_nBlockSize);
    for (uint64_t nFirst = nFromGroup; nFirst < m_nGroupCount; nFirst += nPerBlock) {
        const uint64_t nCount = std::min<uint64_t>(nPerBlock, m_nGroupCount - nFirst);
        for (uint32_t nCopy = 0; nCopy < 3; ++nCopy) {
            const uint64_t nBlock = m_SuperBlock.GetMetaDescriptorBlock(nFirst, nCopy);
            if (nBlock >= m_SuperBlock.GetBlocksCount() ||
                !ReadDeviceSectors(m_pDevice, block.data(), GetPartitionStart() + nBlock * nSectorsPerBlock,
                                   nSectorsPerBlock))
                continue;
            CExt2GroupDescTable part;
            if (!part.Assign(block.data(), block.size(), nCount, nDescriptorBytes) ||
                !part.IsValidFrom(m_SuperBlock, nFirst))
                continue;
            memcpy(pData->data() + (nFirst - nFromGroup) * nDescriptorBytes, block.data(),
                   static_cast<size_t>(nCount * nDescriptorBytes));
            *pbFromCopy |= nCopy != 0;
            break;
        }
    }
}

void CExt2FileSystem::FindGroupDescTable()
{
    const uint32_t nDescriptorBytes = m_SuperBlock.GetDescriptorBytes();
    // With meta groups only the leading descriptors follow each superblock copy; the rest are
    // read once, from their meta groups, and completed into every copy's table.
    const uint64_t nLeading = m_SuperBlock.GetLeadingTableGroups();
    const uint64_t nTableSectors = CExt2GroupDescTable::GetSectorCount(nLeading, nDescriptorBytes);
    std::vector<uint8_t, CEngineAllocator<uint8_t>> meta;
    bool bMetaFromCopy = false;
    ReadMetaDescriptors(nLeading, &meta, &bMetaFromCopy);
    std::vector<uint8_t, CEngineAllocator<uint8_t>> buffer(nTableSectors * kSectorBytes + meta.size());
    std::vector<CExt2GroupDescTable, CEngineAllocator<CExt2GroupDescTable>> remembered;
    CExt2GroupDescTable current;
    bool bCurrent = false;
    bool bMatched = false;
    const uint64_t nSectorsPerBlock = GetSectorsPerBlock();

    for (uint32_t nGroup : kDescriptorGroups) {
        if (nGroup >= m_nGroupCount)
            break;
        const uint64_t nSuperBlock =
            static_cast<uint64_t>(nGroup) * m_SuperBlock.GetBlocksPerGroup() + m_SuperBlock.GetFirstDataBlock();
        if (nGroup > 0) {
            // A backup superblock starts its block. An unreadable copy is passed over like a
            // damaged one: a bad sector in one copy is exactly when the others are needed.
            uint8_t abyCopy[kSuperBlockBytes];
            if (!ReadDeviceSectors(m_pDevice, abyCopy, GetPartitionStart() + nSuperBlock * nSectorsPerBlock,
                                   kSuperBlockSectors)) {
                bCurrent = false;
                continue;
            }
            CExt2SuperBlock copy(abyCopy, sizeof(abyCopy));
            copy.Normalise();
            if (!copy.IsEqual(m_SuperBlock))
                continue;
        }
        if (!ReadDeviceSectors(m_pDevice, buffer.data(), GetPartitionStart() + (nSuperBlock + 1) * nSectorsPerBlock,
                               nTableSectors)) {
            bCurrent = false;
            continue;
        }
        if (!meta.empty())
            memcpy(buffer.data() + nLeading * nDescriptorBytes, meta.data(), meta.size());
        CExt2GroupDescTable table;
        table.Assign(buffer.data(), buffer.size(), m_nGroupCount, nDescriptorBytes);
        // Descriptors taken from a copy keep the marks of the format, not the current ones.
        table.SetPrimary(nGroup == 0 && !bMetaFromCopy);
        if (!table.IsValid(m_SuperBlock)) {
            bCurrent = false;
            continue;
        }
        current = table;
        bCurrent = true;
        for (const CExt2GroupDescTable& earlier : remembered)
            if (earlier.IsEqual(table))
                bMatched = true;
        if (bMatched)
            break;
        remembered.push_back(table);
    }

    // The primary copy, when it agrees with the table chosen, is the one whose group marks are
    // current.
    if (bCurrent && !remembered.empty() && remembered.front().IsPrimary() && remembered.front().IsEqual(current))
        m_Table = remembered.front();
    else if (bCurrent)
        m_Table = current;
    else if (!remembered.empty())
        m_Table = remembered.front();
    else
        throw CExt2BadGroupDescriptor();
}

bool CExt2FileSystem::IsSame(const CExt2FileSystem& other) const
{
    return m_SuperBlock.IsEqual(other.m_SuperBlock) && m_u64SuperBlockSector == other.m_u64SuperBlockSector;
}

void CExt2FileSystem::ReadBlocks(void* pBuffer, uint64_t nFirstBlock, uint64_t nCount)
{
    const uint64_t nSectorsPerBlock = GetSectorsPerBlock();
    const uint64_t u64Total = m_pDevice ? m_pDevice->GetTotalSectors() : 0;
    const uint64_t u64Base = GetPartitionStart();
    // first + count must lie on the device; checked so that no product or sum can wrap.
    const uint64_t nMaxBlocks = u64Total > u64Base ? (u64Total - u64Base) / nSectorsPerBlock : 0;
    if (nFirstBlock >= nMaxBlocks || nCount > nMaxBlocks - nFirstBlock)
        throw std::range_error("CExt2FileSystem::ReadBlocks");
    if (nCount == 0)
        return;
    if (nCount == 1 && m_pHeldBlocks != nullptr) {
        if (const uint8_t* pHeld = m_pHeldBlocks->Find(nFirstBlock, m_nBlockSize)) {
            memcpy(pBuffer, pHeld, m_nBlockSize);
            return;
        }
    }
    if (!ReadDeviceSectors(m_pDevice, pBuffer, u64Base + nFirstBlock * nSectorsPerBlock, nCount * nSectorsPerBlock))
        throw CExt2ReadSectorError();
}

const uint8_t* EXT2_HELD_BLOCKS::Find(uint64_t nBlock, uint32_t nBlockSize) const
{
    const auto it = std::lower_bound(Numbers.begin(), Numbers.end(), nBlock);
    if (it == Numbers.end() || *it != nBlock)
        return nullptr;
    const size_t nIndex = static_cast<size_t>(it - Numbers.begin());
    return Bytes.size() / nBlockSize > nIndex ? Bytes.data() + nIndex * nBlockSize : nullptr;
}

bool CExt2FileSystem::LocateInode(uint32_t nInode, uint64_t* pBlock, uint32_t* pOffset) const
{
    const uint32_t nPerGroup = m_SuperBlock.GetInodesPerGroup();
    if (nInode == 0 || nPerGroup == 0)
        return false;
    const uint32_t nGroup = (nInode - 1) / nPerGroup;
    if (nGroup >= m_nGroupCount)
        return false;
    const uint64_t nByte = static_cast<uint64_t>((nInode - 1) % nPerGroup) * GetInodeSize();
    const uint64_t nBlock = m_Table.GetInodeTable(nGroup) + nByte / m_nBlockSize;
    if (!IsValidBlock(nBlock))
        return false;
    *pBlock = nBlock;
    *pOffset = static_cast<uint32_t>(nByte % m_nBlockSize);
    return true;
}

void CExt2FileSystem::LoadInode(uint32_t nInode, CExt2Inode* pInode)
{
    pInode->Reset(this, nInode);
    if (const uint8_t* pRecord = GetInodeRecord(nInode))
        pInode->SetRawData(pRecord);
}

const uint8_t* CExt2FileSystem::GetInodeRecord(uint32_t nInode)
{
    uint64_t nBlock = 0;
    uint32_t nOffset = 0;
    if (!LocateInode(nInode, &nBlock, &nOffset))
        return nullptr;
    if (nBlock != m_nInodeBlock) {
        m_InodeBlock.resize(m_nBlockSize);
        m_nInodeBlock = kNoBlock;
        ReadBlocks(m_InodeBlock.data(), nBlock, 1);
        m_nInodeBlock = nBlock;
    }
    // The inode size is a power of two no larger than the block, so the record lies inside it.
    return m_InodeBlock.data() + nOffset;
}

uint32_t CExt2FileSystem::GetFirstEnumeratedInode() const
{
    return std::max<uint32_t>(1, std::min<uint32_t>(m_SuperBlock.GetFirstInode(), kGoodOldFirstInode));
}
