#include "ext2/Ext2SearchController.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <map>
#include <tuple>

#include "IStorageDevice.h"
#include "StorageDeviceWithCache.h"
#include "StructuredException.h"
#include "ext2/Ext2FileSystem.h"
#include "ext2/Ext2GroupDescTable.h"
#include "ext2/Ext2Layout.h"
#include "ext2/Ext2TreeBuilder.h"

namespace {

const uint64_t kSector = ext2::kSectorBytes;
// Sectors of the window; a window is examined once its last sector has been read.
const uint32_t kWindowSectors = 8;

bool g_bTranslatorInstalled = false;

// A superblock has its magic at byte 56 of its first sector.
bool HasSuperBlockMagic(const uint8_t* pSector)
{
    return pSector[56] == 0x53 && pSector[57] == 0xEF;
}

// What makes two finds one file system: UUID, block size, blocks count and the three times.
typedef std::tuple<uint64_t, uint64_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t> IDENTITY;

IDENTITY IdentityOf(const CExt2SuperBlock& sb)
{
    const uint8_t* p = sb.GetData();
    uint64_t ullHigh = 0, ullLow = 0;
    for (int i = 7; i >= 0; --i) {
        ullHigh = (ullHigh << 8) | p[104 + i];
        ullLow = (ullLow << 8) | p[112 + i];
    }
    return IDENTITY(ullHigh, ullLow, sb.GetLogBlockSize(), sb.GetBlocksCount(), sb.GetMountTime(), sb.GetWriteTime(),
                    sb.GetLastCheckTime());
}

} // namespace

CEXT2SearchController::CEXT2SearchController()
    : m_pDevice(nullptr), m_pRawFiles(nullptr), m_nSectorsPerRead(0), m_pPending(nullptr), m_pProgress(nullptr),
      m_pCancel(nullptr), m_ullCarryFirst(0), m_nCarrySectors(0), m_ullNextWindow(0), m_pBlock(nullptr), m_ullBlockSectors(0),
      m_nFilterBit(-1)
{
    if (!g_bTranslatorInstalled) {
        g_bTranslatorInstalled = true;
        InstallStructuredExceptionTranslator();
    }
}

CEXT2SearchController::~CEXT2SearchController()
{
    for (CExt2SearchedPartitionInfo* p : m_Candidates)
        delete p;
    delete m_pPending;
    FreeBuffer(m_pBlock);
}

void CEXT2SearchController::SetStorageDevice(IStorageDevice* pDevice)
{
    m_pDevice = pDevice;
    // Through the read-ahead cache, the sectors with the magic are marked as each block is read.
    m_nFilterBit = -1;
    if (CStorageDeviceWithCache* pCache = dynamic_cast<CStorageDeviceWithCache*>(pDevice))
        m_nFilterBit = pCache->AddSectorFilter(&HasSuperBlockMagic);
}

void CEXT2SearchController::BeginSearch()
{
    m_nCarrySectors = 0;
}

void CEXT2SearchController::EndSearch()
{
    m_nCarrySectors = 0;
    m_pDevice = nullptr;
}

int32_t CEXT2SearchController::SearchSectors(uint64_t ullFirstSector, uint64_t ullSectorCount,
                                             SEARCH_STATISTICS* pStatistics)
{
    (void)pStatistics;
    if (m_pDevice == nullptr || ullSectorCount == 0)
        return 1;
    const uint8_t* pData = nullptr;
    const uint8_t* pMarks = nullptr;
    if (CStorageDeviceWithCache* pCache = dynamic_cast<CStorageDeviceWithCache*>(m_pDevice)) {
        pData = pCache->PeekSectors(ullFirstSector, ullSectorCount);
        if (pData != nullptr && m_nFilterBit >= 0)
            pMarks = pCache->PeekSectorMarks(ullFirstSector, ullSectorCount);
    }
    const uint8_t byMask = pMarks != nullptr ? static_cast<uint8_t>(1u << m_nFilterBit) : 0;
    if (pData == nullptr) {
        if (ullSectorCount > m_ullBlockSectors) {
            FreeBuffer(m_pBlock);
            m_pBlock = nullptr;
            m_ullBlockSectors = 0;
            m_pBlock = reinterpret_cast<uint8_t*>(AllocBuffer(static_cast<size_t>(ullSectorCount * kSector)));
            m_ullBlockSectors = ullSectorCount;
        }
        // A failed read reads as zeros: no stale superblock of an earlier block is found again.
        if (!m_pDevice->ReadSectors(m_pBlock, ullFirstSector, ullSectorCount))
            memset(m_pBlock, 0, static_cast<size_t>(ullSectorCount * kSector));
        pData = m_pBlock;
    }
    // The carried sectors must end right where this block starts; otherwise the scan starts over
    // with windows inside this block.
    if (m_nCarrySectors == 0 || m_ullCarryFirst + m_nCarrySectors != ullFirstSector) {
        m_nCarrySectors = 0;
        m_ullCarryFirst = ullFirstSector;
        m_ullNextWindow = ullFirstSector;
    }
    auto SectorAt = [&](uint64_t ullSector) -> const uint8_t* {
        if (ullSector >= ullFirstSector)
            return pData + (ullSector - ullFirstSector) * kSector;
        return m_abyCarry + (ullSector - m_ullCarryFirst) * kSector;
    };
    const uint64_t ullLast = ullFirstSector + ullSectorCount - 1;
    uint64_t w = m_ullNextWindow;
    try {
        // Every window [w, w + 8) whose last sector has now been read.
        for (; w + kWindowSectors - 1 <= ullLast; ++w) {
            if (m_pPending == nullptr && pMarks != nullptr && w >= ullFirstSector) {
                // The cache marked the sectors with the magic: go straight to the next one.
                const uint64_t ullEnd = ullLast + 2 - kWindowSectors;
                w = ullFirstSector + FindMarkedSector(pMarks, w - ullFirstSector, ullEnd - ullFirstSector, byMask);
                if (w >= ullEnd)
                    break;
            }
            const uint8_t* pFirst = SectorAt(w);
            // Only a window with the superblock magic, or one that a pending candidate collects
            // descriptors from, needs a closer look.
            if (m_pPending == nullptr && !HasSuperBlockMagic(pFirst))
                continue;
            Examine(w, pFirst, SectorAt(w + 1));
        }
    } catch (const std::exception& e) {
        LogExt2Exception(e);
        w = ullLast + 1 >= kWindowSectors - 1 ? std::max(w, ullLast + 1 - (kWindowSectors - 1)) : w;
    }
    m_ullNextWindow = w;
    // Keep the sectors from the next window on (at most seven) for the windows that end in the
    // next block.
    uint8_t abyKeep[(kWindowSectors - 1) * 512];
    const uint32_t nKeep = static_cast<uint32_t>(ullLast + 1 - std::min(w, ullLast + 1));
    for (uint32_t i = 0; i < nKeep && i < kWindowSectors - 1; ++i)
        memcpy(abyKeep + i * kSector, SectorAt(w + i), kSector);
    m_nCarrySectors = std::min<uint32_t>(nKeep, kWindowSectors - 1);
    memcpy(m_abyCarry, abyKeep, m_nCarrySectors * kSector);
    m_ullCarryFirst = w;
    return 1;
}

void CEXT2SearchController::Examine(uint64_t ullSector, const uint8_t* pFirst, const uint8_t* pSecond)
{
    if (HasSuperBlockMagic(pFirst)) {
        uint8_t abySuperBlock[ext2::kSuperBlockBytes];
        memcpy(abySuperBlock, pFirst, kSector);
        memcpy(abySuperBlock + kSector, pSecond, kSector);
        CExt2SuperBlock copy(abySuperBlock, sizeof(abySuperBlock));
        copy.Normalise();
        const int64_t llStart = copy.IsValid() ? copy.GetPartitionStartFromCopy(ullSector) : -1;
        if (llStart >= 0) {
            // A new superblock ends the collection of the one before, complete or not.
            delete m_pPending;
            m_pPending = nullptr;
            CExt2SearchedPartitionInfo* pCandidate = new CExt2SearchedPartitionInfo();
            pCandidate->SetFromSuperBlock(abySuperBlock, ullSector, static_cast<uint64_t>(llStart));
            m_pPending = pCandidate;
            return;
        }
    }
    if (m_pPending == nullptr || m_pPending->IsTableComplete())
        return;
    const uint64_t ullStart = m_pPending->m_ullStartSector;
    const uint64_t ullPerBlock = m_pPending->m_Normalised.GetSectorsPerBlock();
    if (ullPerBlock == 0)
        return;
    const uint64_t ullExpected = ((m_pPending->m_ullEvidenceSector - ullStart) / ullPerBlock + 1) * ullPerBlock + ullStart;
    if (ullSector < ullExpected)
        return;
    m_pPending->AppendDescriptors(pFirst, ullSector);
    if (m_pPending->IsTableComplete())
        FinishPending();
}

void CEXT2SearchController::FinishPending()
{
    CExt2SearchedPartitionInfo* pPending = m_pPending;
    m_pPending = nullptr;
    CExt2GroupDescTable table;
    if (!pPending->m_Normalised.IsValid() || !pPending->GetTable(&table) ||
        !table.IsValidFrom(pPending->m_Normalised, 0)) {
        delete pPending;
        return;
    }
    if (CExt2SearchedPartitionInfo* pSame = FindEqual(*pPending)) {
        ++pSame->m_nConfirmations;
        delete pPending;
        return;
    }
    m_Candidates.push_back(pPending);
}

CExt2SearchedPartitionInfo* CEXT2SearchController::FindEqual(const CExt2SearchedPartitionInfo& candidate) const
{
    for (CExt2SearchedPartitionInfo* p : m_Candidates) {
        if (p == &candidate)
            return p;
        if (!p->HasTable() || !candidate.HasTable())
            continue;
        const bool bBackup = p->m_SuperBlock.GetBlockGroupNumber() != 0 ||
                             candidate.m_SuperBlock.GetBlockGroupNumber() != 0;
        if (bBackup && p->m_ullStartSector != candidate.m_ullStartSector)
            continue;
        const size_t nStride = p->GetDescriptorBytes();
        if (!p->m_SuperBlock.IsEqual(candidate.m_SuperBlock) || p->m_Table.size() != candidate.m_Table.size() ||
            nStride != candidate.GetDescriptorBytes() || nStride == 0)
            continue;
        // The first three fields of every descriptor: block bitmap, inode bitmap, inode table,
        // with their upper halves in descriptors of 64 bytes or more.
        bool bSame = true;
        for (size_t i = 0; bSame && i + nStride <= p->m_Table.size(); i += nStride)
            bSame = memcmp(p->m_Table.data() + i, candidate.m_Table.data() + i, 12) == 0 &&
                    (nStride < ext2::kGroupDesc64Bytes ||
                     memcmp(p->m_Table.data() + i + ext2::kGdBlockBitmapHigh,
                            candidate.m_Table.data() + i + ext2::kGdBlockBitmapHigh, 12) == 0);
        if (bSame)
            return p;
    }
    return nullptr;
}

void CEXT2SearchController::CollectSearchedPartitions(CSearchedPartitionInfoList* pCandidates)
{
    try {
        std::map<IDENTITY, CExt2SearchedPartitionInfo*, std::less<IDENTITY>,
                 CEngineAllocator<std::pair<const IDENTITY, CExt2SearchedPartitionInfo*>>>
            groups;
        auto Absorb = [](CExt2SearchedPartitionInfo* pKeeper, const CExt2SearchedPartitionInfo* pOther) {
            if (pOther->m_ullEvidenceSector < pKeeper->m_ullLowestSuperBlockSector &&
                pKeeper->m_SuperBlock.GetBlockGroupNumber() == 0) {
                pKeeper->m_ullLowestSuperBlockSector = pOther->m_ullEvidenceSector;
                pKeeper->m_ullStartSector = pOther->m_ullStartSector;
                pKeeper->m_bRawValid = pOther->m_bRawValid;
            }
        };
        for (CExt2SearchedPartitionInfo* p : m_Candidates) {
            auto it = groups.find(IdentityOf(p->m_SuperBlock));
            if (it == groups.end()) {
                groups.emplace(IdentityOf(p->m_SuperBlock), p);
            } else if (p->m_nConfirmations > it->second->m_nConfirmations) {
                Absorb(p, it->second);
                it->second = p;
            } else {
                Absorb(it->second, p);
            }
        }
        for (auto& item : groups) {
            CExt2SearchedPartitionInfo* p = item.second;
            const bool bRaw = p->m_SuperBlock.IsValid();
            const bool bAtStart = p->m_ullEvidenceSector - p->m_ullStartSector == ext2::kSuperBlockSectors;
            if (p->m_nConfirmations == 1)
                p->m_ullConfidence = bRaw ? (bAtStart ? 60 : 45) : (bAtStart ? 30 : 20);
            else if (p->m_nConfirmations >= 2)
                p->m_ullConfidence = bAtStart && p->m_bRawValid ? (bRaw ? 100 : 80) : (bRaw ? 90 : 70);
            if (pCandidates != nullptr)
                pCandidates->push_back(p);
            m_Candidates.erase(std::find(m_Candidates.begin(), m_Candidates.end(), p));
            if (pCandidates == nullptr)
                delete p;
        }
    } catch (const std::exception& e) {
        LogExt2Exception(e);
    }
}

CFileSystemNode* CEXT2SearchController::BuildFileTree(CSearchedPartitionInfo* pCandidate, IStorageDevice* pDisk,
                                                      int32_t nIndex, int32_t nOption)
{
    if (pCandidate == nullptr || pDisk == nullptr || pCandidate->GetType() != SEARCHED_PARTITION_EXT2)
        return nullptr;
    CExt2SearchedPartitionInfo* p = static_cast<CExt2SearchedPartitionInfo*>(pCandidate);
    try {
        CExt2GroupDescTable table;
        if (!p->HasTable()) {
            // Loaded from a saved scan: the superblock and the table are read again.
            uint8_t abySuperBlock[ext2::kSuperBlockBytes];
            if (!pDisk->ReadSectors(abySuperBlock, p->m_ullEvidenceSector, ext2::kSuperBlockSectors))
                return nullptr;
            const uint64_t ullStart = p->m_ullStartSector;
            const uint64_t ullTableSector = p->m_ullDescTableSector;
            const int32_t bRawValid = p->m_bRawValid;
            p->SetFromSuperBlock(abySuperBlock, p->m_ullEvidenceSector, ullStart);
            p->m_bRawValid = bRawValid;
            if (!p->m_Normalised.IsValid())
                return nullptr;
            const uint64_t ullGroups = p->GetGroupCount();
            const uint64_t ullSectors = CExt2GroupDescTable::GetSectorCount(ullGroups, p->GetDescriptorBytes());
            std::vector<uint8_t, CEngineAllocator<uint8_t>> data(static_cast<size_t>(ullSectors * kSector), 0);
            if (!CExt2FileSystem::ReadDeviceSectors(pDisk, data.data(), ullTableSector, ullSectors))
                return nullptr;
            p->m_Table.assign(data.begin(), data.begin() + static_cast<size_t>(p->GetTableBytes()));
            p->m_ullDescTableSector = ullTableSector;
            p->m_nTableBytesCollected = p->GetTableBytes();
        }
        if (!p->GetTable(&table))
            return nullptr;
        CExt2FileSystem fileSystem(pDisk, p->m_ullStartSector, p->m_SuperBlock, table);
        CExt2TreeBuilder builder;
        builder.SetProgress(m_pProgress, m_pCancel);
        return builder.BuildTree(&fileSystem, nOption, m_pRawFiles, nIndex);
    } catch (const std::exception& e) {
        LogExt2Exception(e);
        return nullptr;
    }
}
