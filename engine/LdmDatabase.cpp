#include "LdmDatabase.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#include "ByteOrder.h"

namespace {

// Copies a text field of nField bytes (NUL-padded, or filling the field) into a NUL-terminated
// buffer, cut to fit.
void CopyTextField(const uint8_t* pField, size_t nField, char* pszOut, size_t nOutSize)
{
    size_t nLength = 0;
    while (nLength < nField && pField[nLength] != 0)
        ++nLength;
    nLength = std::min(nLength, nOutSize - 1);
    memcpy(pszOut, pField, nLength);
    memset(pszOut + nLength, 0, nOutSize - nLength);
}

// Private header fields.
const size_t kPrivHeadDiskId = 48;
const size_t kPrivHeadDiskIdBytes = 64;
const size_t kPrivHeadGroupName = 240;
const size_t kPrivHeadGroupNameBytes = 32;
const size_t kPrivHeadLogicalDiskStart = 283;
const size_t kPrivHeadDatabaseStart = 299;

// Block and record head fields.
const size_t kVblkGroup = 8;
const size_t kVblkRecordNumber = 12;
const size_t kVblkBlockCount = 14;
const size_t kVblkFlags = 18;
const size_t kVblkType = 19;
const size_t kVblkDataLength = 20;

// Flags that announce a record's optional last fields.
const uint8_t kVolumeFlagHint = 0x02;
const uint8_t kComponentFlagStripe = 0x10;
const uint8_t kPartitionFlagIndex = 0x08;
const uint8_t kPartitionFlagIndexAlt = 0x48;

bool IsVblk(const uint8_t* pBlock)
{
    return memcmp(pBlock, "VBLK", 4) == 0;
}

} // namespace

bool ReadLdmPrivateHeader(const uint8_t* pData, size_t nSize, LDM_PRIVATE_HEADER* pHeader)
{
    memset(pHeader, 0, sizeof(*pHeader));
    if (pData == nullptr || nSize < LDM_SECTOR_BYTES || memcmp(pData, "PRIVHEAD", 8) != 0)
        return false;
    CopyTextField(pData + kPrivHeadDiskId, kPrivHeadDiskIdBytes, pHeader->szDiskId, sizeof(pHeader->szDiskId));
    CopyTextField(pData + kPrivHeadGroupName, kPrivHeadGroupNameBytes, pHeader->szDiskGroupName,
                  sizeof(pHeader->szDiskGroupName));
    pHeader->u64LogicalDiskStart = rvd::LoadBE64(pData + kPrivHeadLogicalDiskStart);
    pHeader->u64DatabaseStart = rvd::LoadBE64(pData + kPrivHeadDatabaseStart);
    return true;
}

uint64_t LdmDatabaseAreaSectors(uint64_t u64DiskSectors, uint64_t u64Start)
{
    if (u64Start >= u64DiskSectors)
        return 0;
    const uint64_t u64Room = u64DiskSectors - u64Start;
    if (u64Room <= 2)
        return 0;
    return std::min(u64Room - 2, LDM_DATABASE_SECTORS);
}

// ----- record assembly --------------------------------------------------------------------------

void AssembleVblkRecords(const uint8_t* pArea, size_t nSize, CVblkRecordList& out)
{
    struct BLOCK_REF {
        uint32_t nGroup;
        size_t nBlock;
    };
    typedef std::vector<BLOCK_REF, CEngineAllocator<BLOCK_REF>> CBlockRefs;
    CBlockRefs firsts;
    CBlockRefs continuations;
    const size_t nBlocks = pArea != nullptr ? nSize / VBLK_BLOCK_BYTES : 0;
    for (size_t nBlock = 0; nBlock < nBlocks; ++nBlock) {
        const uint8_t* pBlock = pArea + nBlock * VBLK_BLOCK_BYTES;
        if (!IsVblk(pBlock))
            continue;
        const uint32_t nGroup = rvd::LoadBE32(pBlock + kVblkGroup);
        const uint16_t nNumber = rvd::LoadBE16(pBlock + kVblkRecordNumber);
        const uint16_t nCount = rvd::LoadBE16(pBlock + kVblkBlockCount);
        if (nGroup == 0)
            continue;
        if (nCount != 0 && nNumber == 0)
            firsts.push_back({nGroup, nBlock});
        else if (nCount > 1 && nNumber != 0)
            continuations.push_back({nGroup, nBlock});
    }
    auto byGroup = [](const BLOCK_REF& a, const BLOCK_REF& b) { return a.nGroup < b.nGroup; };
    // Grouped, each group's blocks still in area order.
    std::stable_sort(continuations.begin(), continuations.end(), byGroup);

    // A group stands for one record. A second first block of a group met earlier would claim the
    // same further blocks again; it is left out.
    CBlockRefs seen(firsts);
    std::stable_sort(seen.begin(), seen.end(), byGroup);

    std::vector<size_t, CEngineAllocator<size_t>> used;
    for (const BLOCK_REF& first : firsts) {
        const auto earliest = std::lower_bound(seen.begin(), seen.end(), first, byGroup);
        if (earliest->nBlock != first.nBlock)
            continue;
        const uint8_t* pBlock = pArea + first.nBlock * VBLK_BLOCK_BYTES;
        const uint64_t u64Count = rvd::LoadBE16(pBlock + kVblkBlockCount);
        const uint64_t u64Length = rvd::LoadBE32(pBlock + kVblkDataLength);
        // A record's data fills at most its first block and every further block.
        if (u64Length > VBLK_FIRST_DATA_BYTES + (u64Count - 1) * VBLK_NEXT_DATA_BYTES)
            continue;

        used.clear();
        if (u64Count > 1 && u64Length > VBLK_FIRST_DATA_BYTES) {
            uint64_t u64Remaining = u64Length - VBLK_FIRST_DATA_BYTES;
            uint64_t u64Next = 1;
            auto range = std::equal_range(continuations.begin(), continuations.end(), first, byGroup);
            for (auto it = range.first; it != range.second && u64Remaining > 0; ++it) {
                const uint8_t* pNext = pArea + it->nBlock * VBLK_BLOCK_BYTES;
                if (rvd::LoadBE16(pNext + kVblkRecordNumber) != u64Next)
                    continue;
                used.push_back(it->nBlock);
                u64Remaining -= std::min<uint64_t>(u64Remaining, VBLK_NEXT_DATA_BYTES);
                ++u64Next;
            }
            if (u64Remaining > 0 || u64Next != u64Count)
                continue;
        }

        VBLK_RECORD record;
        record.nGroup = first.nGroup;
        record.byFlags = pBlock[kVblkFlags];
        record.byType = pBlock[kVblkType];
        record.nDataLength = static_cast<uint32_t>(u64Length);
        record.bytes.assign(static_cast<size_t>(VBLK_HEADER_BYTES + u64Length), 0);
        memcpy(record.bytes.data(), pBlock, std::min<size_t>(record.bytes.size(), VBLK_BLOCK_BYTES));
        size_t nPos = VBLK_BLOCK_BYTES;
        for (size_t nBlock : used) {
            const size_t nTake = std::min(VBLK_NEXT_DATA_BYTES, record.bytes.size() - nPos);
            memcpy(record.bytes.data() + nPos, pArea + nBlock * VBLK_BLOCK_BYTES + VBLK_NEXT_DATA_OFFSET, nTake);
            nPos += nTake;
        }
        out.push_back(std::move(record));
    }
}

// ----- fields -----------------------------------------------------------------------------------

bool CVblkFieldReader::Take(size_t nCount)
{
    if (m_bOverrun || nCount > m_nSize - m_nPos) {
        m_bOverrun = true;
        return false;
    }
    return true;
}

uint64_t CVblkFieldReader::VarNumber()
{
    if (!Take(1))
        return UINT64_MAX;
    const size_t nLength = m_pData[m_nPos];
    if (nLength == 0 || nLength > 64 || nLength > m_nSize - m_nPos - 1) {
        ++m_nPos;
        return UINT64_MAX;
    }
    uint64_t u64Value = 0;
    for (size_t i = 1; i <= nLength; ++i)
        u64Value = (u64Value << 8) | m_pData[m_nPos + i];
    m_nPos += 1 + nLength;
    return u64Value;
}

void CVblkFieldReader::VarString(char* pszOut, size_t nOutSize)
{
    memset(pszOut, 0, nOutSize);
    if (!Take(1))
        return;
    const size_t nLength = m_pData[m_nPos];
    if (nLength == 0 || nLength > m_nSize - m_nPos - 1) {
        ++m_nPos;
        return;
    }
    memcpy(pszOut, m_pData + m_nPos + 1, std::min(nLength, nOutSize - 1));
    m_nPos += 1 + nLength;
}

uint8_t CVblkFieldReader::Byte()
{
    if (!Take(1))
        return 0;
    return m_pData[m_nPos++];
}

uint64_t CVblkFieldReader::U64()
{
    if (!Take(8))
        return 0;
    const uint64_t u64Value = rvd::LoadBE64(m_pData + m_nPos);
    m_nPos += 8;
    return u64Value;
}

void CVblkFieldReader::Bytes(uint8_t* pOut, size_t nCount)
{
    if (!Take(nCount)) {
        memset(pOut, 0, nCount);
        return;
    }
    memcpy(pOut, m_pData + m_nPos, nCount);
    m_nPos += nCount;
}

void CVblkFieldReader::Skip(size_t nCount)
{
    if (Take(nCount))
        m_nPos += nCount;
}

// ----- records ----------------------------------------------------------------------------------

namespace {

CVblkFieldReader RecordData(const VBLK_RECORD& record)
{
    // The assembler sizes every record to its header and data; a record made otherwise is read
    // no further than it reaches.
    const size_t nData = record.bytes.size() > VBLK_HEADER_BYTES ? record.bytes.size() - VBLK_HEADER_BYTES : 0;
    return CVblkFieldReader(record.bytes.data() + (nData > 0 ? VBLK_HEADER_BYTES : 0),
                            std::min<size_t>(nData, record.nDataLength));
}

} // namespace

bool ParseVblkVolume(const VBLK_RECORD& record, LDM_VOLUME_RECORD* pVolume)
{
    CVblkFieldReader reader = RecordData(record);
    pVolume->u64Id = reader.VarNumber();
    reader.VarString(pVolume->szName, sizeof(pVolume->szName));
    reader.VarString(pVolume->szTypeText, sizeof(pVolume->szTypeText));
    // A length-prefixed text: a single 0 in the databases the format was first read from, a
    // number text such as "8000000000000000" in others. Skipped by its length either way.
    char szUnused[LDM_VOLUME_NAME_CHARS];
    reader.VarString(szUnused, sizeof(szUnused));
    reader.Skip(14);                                    // volume state
    pVolume->byVolumeType = reader.Byte();
    reader.Skip(6);                                     // unknown, volume number, zeros, flags
    pVolume->u64Children = reader.VarNumber();
    reader.Skip(16);                                    // commit id, object id
    pVolume->u64Sectors = reader.VarNumber();
    reader.Skip(4);
    pVolume->byPartitionType = reader.Byte();
    reader.Bytes(pVolume->aGuid, sizeof(pVolume->aGuid));
    memset(pVolume->szHint, 0, sizeof(pVolume->szHint));
    if (record.byFlags == kVolumeFlagHint)
        reader.VarString(pVolume->szHint, sizeof(pVolume->szHint));
    return !reader.Overrun();
}

bool ParseVblkComponent(const VBLK_RECORD& record, LDM_COMPONENT_RECORD* pComponent)
{
    CVblkFieldReader reader = RecordData(record);
    pComponent->u64Id = reader.VarNumber();
    reader.VarString(pComponent->szName, sizeof(pComponent->szName));
    reader.VarString(pComponent->szState, sizeof(pComponent->szState));
    pComponent->byType = reader.Byte();
    reader.Skip(4);
    pComponent->u64Children = reader.VarNumber();
    reader.Skip(16);                                    // log commit id, zeros
    pComponent->u64ParentId = reader.VarNumber();
    pComponent->u64StripeSectors = 0;
    pComponent->u64Columns = 0;
    if (record.byFlags == kComponentFlagStripe) {
        reader.Skip(1);
        pComponent->u64StripeSectors = reader.VarNumber();
        pComponent->u64Columns = reader.VarNumber();
    }
    return !reader.Overrun();
}

bool ParseVblkPartition(const VBLK_RECORD& record, LDM_PARTITION_RECORD* pPartition)
{
    CVblkFieldReader reader = RecordData(record);
    pPartition->u64Id = reader.VarNumber();
    reader.VarString(pPartition->szName, sizeof(pPartition->szName));
    reader.Skip(12);                                    // zeros, log commit id
    pPartition->u64Start = reader.U64();
    pPartition->u64VolumeOffset = reader.U64();
    pPartition->u64Sectors = reader.VarNumber();
    pPartition->u64ParentId = reader.VarNumber();
    pPartition->u64DiskId = reader.VarNumber();
    pPartition->u64Index = 0;
    if (record.byFlags == kPartitionFlagIndex || record.byFlags == kPartitionFlagIndexAlt)
        pPartition->u64Index = reader.VarNumber();
    pPartition->pDisk = nullptr;
    return !reader.Overrun();
}

bool ParseVblkDisk(const VBLK_RECORD& record, LDM_DISK_RECORD* pDisk)
{
    CVblkFieldReader reader = RecordData(record);
    pDisk->u64Id = reader.VarNumber();
    reader.VarString(pDisk->szName, sizeof(pDisk->szName));
    memset(pDisk->szSecondName, 0, sizeof(pDisk->szSecondName));
    if (record.byType == VBLK_TYPE_DISK_RAW_ID) {
        // The 16 bytes written out in stored order in the GUID text form of the private header,
        // so that the member disk is found by the same text comparison.
        uint8_t aId[16];
        reader.Bytes(aId, sizeof(aId));
        snprintf(pDisk->szDiskId, sizeof(pDisk->szDiskId),
                 "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", aId[0], aId[1], aId[2],
                 aId[3], aId[4], aId[5], aId[6], aId[7], aId[8], aId[9], aId[10], aId[11], aId[12], aId[13],
                 aId[14], aId[15]);
    } else {
        reader.VarString(pDisk->szDiskId, sizeof(pDisk->szDiskId));
        reader.VarString(pDisk->szSecondName, sizeof(pDisk->szSecondName));
    }
    return !reader.Overrun();
}

// ----- the database -----------------------------------------------------------------------------

void CLdmDatabase::Load(const uint8_t* pArea, size_t nSize)
{
    m_Volumes.clear();
    m_Components.clear();
    m_Partitions.clear();
    m_Disks.clear();

    CVblkRecordList records;
    AssembleVblkRecords(pArea, nSize, records);
    for (const VBLK_RECORD& record : records) {
        switch (record.byType) {
        case VBLK_TYPE_VOLUME: {
            LDM_VOLUME_RECORD volume;
            if (ParseVblkVolume(record, &volume))
                m_Volumes.push_back(std::move(volume));
            break;
        }
        case VBLK_TYPE_COMPONENT: {
            LDM_COMPONENT_RECORD component;
            if (ParseVblkComponent(record, &component))
                m_Components.push_back(std::move(component));
            break;
        }
        case VBLK_TYPE_PARTITION: {
            LDM_PARTITION_RECORD partition;
            if (ParseVblkPartition(record, &partition))
                m_Partitions.push_back(partition);
            break;
        }
        case VBLK_TYPE_DISK:
        case VBLK_TYPE_DISK_RAW_ID: {
            LDM_DISK_RECORD disk;
            if (ParseVblkDisk(record, &disk))
                m_Disks.push_back(disk);
            break;
        }
        default:
            break;      // disk groups and record kinds the volumes do not need
        }
    }
    Link();
}

void CLdmDatabase::Link()
{
    typedef std::map<uint64_t, size_t, std::less<uint64_t>, CEngineAllocator<std::pair<const uint64_t, size_t>>> CIdIndex;
    CIdIndex volumes;
    for (size_t i = 0; i < m_Volumes.size(); ++i)
        volumes.emplace(m_Volumes[i].u64Id, i);
    CIdIndex components;
    for (size_t i = 0; i < m_Components.size(); ++i)
        components.emplace(m_Components[i].u64Id, i);
    CIdIndex disks;
    for (size_t i = 0; i < m_Disks.size(); ++i)
        disks.emplace(m_Disks[i].u64Id, i);

    for (LDM_COMPONENT_RECORD& component : m_Components) {
        auto it = volumes.find(component.u64ParentId);
        if (it != volumes.end())
            m_Volumes[it->second].components.push_front(&component);
    }
    for (LDM_PARTITION_RECORD& partition : m_Partitions) {
        auto disk = disks.find(partition.u64DiskId);
        partition.pDisk = disk != disks.end() ? &m_Disks[disk->second] : nullptr;
        auto it = components.find(partition.u64ParentId);
        if (it != components.end())
            m_Components[it->second].partitions.push_front(&partition);
    }
}
