#include "DynamicVolumeDevice.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>

#include "DiskDevice.h"
#include "DynamicVolumeNames.h"
#include "EngineSettings.h"
#include "GlobalAdvanceSettingData.h"
#include "Veskel.h"

namespace {

const uint64_t kUnit = STORAGE_UNIT_BYTES;
// Largest read handed to a disk at once: the disk device refuses more than one block of the
// block scan (8192 sectors), and a volume may be read in larger requests than that.
const uint64_t kMaxDiskRead = 8192;

// One stripe to rebuild a stripe that cannot be read, allocated when first needed: most reads
// never need it.
class CStripeBuffer {
public:
    explicit CStripeBuffer(size_t nSize) : m_pData(nullptr), m_nSize(nSize) {}
    ~CStripeBuffer() { FreeBuffer(m_pData); }
    CStripeBuffer(const CStripeBuffer&) = delete;
    CStripeBuffer& operator=(const CStripeBuffer&) = delete;
    uint8_t* Get()
    {
        if (m_pData == nullptr)
            m_pData = reinterpret_cast<uint8_t*>(AllocBuffer(m_nSize));
        return m_pData;
    }

private:
    uint8_t* m_pData;
    size_t m_nSize;
};

// A physical disk answers bad sectors with zeros and success when the user ignores them; a
// member with a redundant copy must see the failure to turn to that copy.
int ReadDisk(IStorageDevice* pDisk, uint8_t* pBuffer, uint64_t u64Start, uint64_t u64Count, bool bReportBadSectors)
{
    if (bReportBadSectors) {
        if (CDiskDevice* pPhysical = dynamic_cast<CDiskDevice*>(pDisk))
            return pPhysical->ReadSectorsReportingBadSectors(pBuffer, u64Start, u64Count);
    }
    return pDisk->ReadSectors(pBuffer, u64Start, u64Count);
}

size_t CountExtentsWithDisk(const CLdmExtentList& extents)
{
    size_t nCount = 0;
    for (const LDM_EXTENT* pExtent : extents) {
        if (pExtent != nullptr && pExtent->pDisk != nullptr)
            ++nCount;
    }
    return nCount;
}

size_t CountExtents(const CLdmExtentList& extents)
{
    size_t nCount = 0;
    for (const LDM_EXTENT* pExtent : extents) {
        if (pExtent != nullptr)
            ++nCount;
    }
    return nCount;
}

} // namespace

bool IsSameExtent(const LDM_EXTENT& a, const LDM_EXTENT& b)
{
    return a.u64Length == b.u64Length && a.u64DiskStart == b.u64DiskStart && a.u64VolumeOffset == b.u64VolumeOffset &&
           a.pDisk == b.pDisk && strncmp(a.szDiskId, b.szDiskId, sizeof(a.szDiskId)) == 0;
}

// ----- common -----------------------------------------------------------------------------------

CDynamicVolumeDevice::CDynamicVolumeDevice(int nKind, const DYNAMIC_VOLUME_DESC& desc) : m_Desc(desc), m_nKind(nKind)
{
    m_Desc.szDiskGroupName[sizeof(m_Desc.szDiskGroupName) - 1] = '\0';
    m_Desc.szVolumeName[sizeof(m_Desc.szVolumeName) - 1] = '\0';
}

bool CDynamicVolumeDevice::BeginRead(void* pBuffer, uint64_t u64Start, uint64_t u64Count, uint64_t* pu64Count)
{
    // The caller's buffer holds u64Count units; a count whose byte size cannot even be formed is
    // no buffer at all, and is refused below without touching it.
    if (pBuffer != nullptr && u64Count <= SIZE_MAX / kUnit)
        memset(pBuffer, 0, static_cast<size_t>(u64Count * kUnit));
    const uint64_t u64Size = m_Desc.u64VolumeSectors;
    if (pBuffer == nullptr || u64Start > u64Size || u64Count > u64Size)
        return false;
    *pu64Count = std::min(u64Count, u64Size - u64Start);
    return true;
}

bool CDynamicVolumeDevice::AcceptLostSectors(uint64_t u64FirstLost, uint64_t u64LostCount)
{
    if (u64LostCount == 0)
        return true;
    const bool bIgnore = GetEngineSettings()->m_nBadSectorIgnore != 0;
    LogInfo("DynamicVolume %s: %" PRIu64 " sectors from sector %" PRIu64 " unreadable on every member, %s\n",
            m_Desc.szVolumeName, u64LostCount, u64FirstLost, bIgnore ? "read as zeros" : "not ignored");
    return bIgnore;
}

bool CDynamicVolumeDevice::IsSameVolume(IDynamicDevice* pOther)
{
    if (pOther == nullptr || pOther->GetDynamicKind() != m_nKind)
        return false;
    CLdmExtentList theirs;
    pOther->GetMembers(theirs);
    CLdmExtentList mine;
    GetMembers(mine);
    for (const LDM_EXTENT* pMine : mine) {
        bool bFound = false;
        for (const LDM_EXTENT* pTheirs : theirs) {
            if (IsSameExtent(*pMine, *pTheirs)) {
                bFound = true;
                break;
            }
        }
        if (!bFound)
            return false;
    }
    return true;
}

char CDynamicVolumeDevice::GetDriveLetter()
{
    return GetDriveLetterFromDmVolume(m_Desc.szVolumeName, m_Desc.szDiskGroupName);
}

// ----- devices over extents ---------------------------------------------------------------------

CExtentVolumeDevice::CExtentVolumeDevice(int nKind, const DYNAMIC_VOLUME_DESC& desc, const CLdmExtentList& extents)
    : CDynamicVolumeDevice(nKind, desc)
{
    for (const LDM_EXTENT* pExtent : extents) {
        if (pExtent == nullptr)
            continue;
        LDM_EXTENT* pCopy = static_cast<LDM_EXTENT*>(AllocOrRaise(sizeof(LDM_EXTENT)));
        *pCopy = *pExtent;
        pCopy->szDiskId[sizeof(pCopy->szDiskId) - 1] = '\0';
        m_Extents.push_back(pCopy);
        m_Columns.push_back(pCopy);
    }
}

CExtentVolumeDevice::~CExtentVolumeDevice()
{
    for (LDM_EXTENT* pExtent : m_Extents)
        FreeMemory(pExtent);
}

int CExtentVolumeDevice::GetSectorSize()
{
    if (m_Extents.empty() || m_Extents.front()->pDisk == nullptr)
        return 512;
    return m_Extents.front()->pDisk->GetSectorSize();
}

void CExtentVolumeDevice::GetMembers(CLdmExtentList& out)
{
    out.insert(out.begin(), m_Extents.begin(), m_Extents.end());
}

int CExtentVolumeDevice::ReadExtent(const LDM_EXTENT& extent, uint64_t u64Offset, uint8_t* pBuffer, uint64_t u64Count,
                                    bool bReportBadSectors)
{
    const uint64_t u64Inside = u64Offset < extent.u64Length ? std::min(u64Count, extent.u64Length - u64Offset) : 0;
    if (u64Inside < u64Count)
        memset(pBuffer + u64Inside * kUnit, 0, static_cast<size_t>((u64Count - u64Inside) * kUnit));
    if (u64Inside == 0)
        return extent.pDisk != nullptr ? 1 : 0;
    // u64Offset + u64Inside is at most the extent's length; a disk start so large that the
    // extent would wrap round the sector numbers maps to nothing.
    if (extent.pDisk == nullptr || extent.u64DiskStart > UINT64_MAX - (u64Offset + u64Inside)) {
        memset(pBuffer, 0, static_cast<size_t>(u64Inside * kUnit));
        return 0;
    }
    int nResult = 1;
    for (uint64_t u64Done = 0; u64Done < u64Inside;) {
        const uint64_t u64Piece = std::min(u64Inside - u64Done, kMaxDiskRead);
        if (!ReadDisk(extent.pDisk, pBuffer + u64Done * kUnit, extent.u64DiskStart + u64Offset + u64Done, u64Piece,
                      bReportBadSectors))
            nResult = 0;
        u64Done += u64Piece;
    }
    return nResult;
}

int CSimpleVolumeDevice::ReadSectors(void* pBuffer, uint64_t u64StartSector, uint64_t u64SectorCount)
{
    uint64_t u64Count = 0;
    if (!BeginRead(pBuffer, u64StartSector, u64SectorCount, &u64Count))
        return 0;
    if (m_Extents.empty())
        return 0;
    const LDM_EXTENT& extent = *m_Extents.front();
    if (extent.pDisk == nullptr)
        return 0;
    if (u64Count == 0)
        return 1;
    return ReadExtent(extent, u64StartSector, static_cast<uint8_t*>(pBuffer), u64Count, IsRedundant());
}

int CSpannedVolumeDevice::ReadSectors(void* pBuffer, uint64_t u64StartSector, uint64_t u64SectorCount)
{
    uint64_t u64Remaining = 0;
    if (!BeginRead(pBuffer, u64StartSector, u64SectorCount, &u64Remaining))
        return 0;
    uint8_t* pOut = static_cast<uint8_t*>(pBuffer);
    uint64_t u64Pos = u64StartSector;
    bool bFailed = false;
    for (const LDM_EXTENT* pExtent : m_Extents) {
        if (u64Remaining == 0)
            break;
        if (u64Pos < pExtent->u64VolumeOffset || u64Pos - pExtent->u64VolumeOffset >= pExtent->u64Length)
            continue;
        const uint64_t u64InExtent = u64Pos - pExtent->u64VolumeOffset;
        const uint64_t u64Count = std::min(u64Remaining, pExtent->u64Length - u64InExtent);
        if (!ReadExtent(*pExtent, u64InExtent, pOut, u64Count, IsRedundant()))
            bFailed = true;
        u64Pos += u64Count;
        u64Remaining -= u64Count;
        pOut += u64Count * kUnit;
    }
    if (u64Remaining != 0)
        return 0;
    return bFailed && IsMirrorMember() ? 0 : 1;
}

int CStripedVolumeDevice::ReadSectors(void* pBuffer, uint64_t u64StartSector, uint64_t u64SectorCount)
{
    uint64_t u64Remaining = 0;
    if (!BeginRead(pBuffer, u64StartSector, u64SectorCount, &u64Remaining))
        return 0;
    const uint64_t u64Columns = m_Columns.size();
    if (u64Columns == 0)
        return 0;
    const uint64_t u64Stripe = static_cast<uint64_t>(m_nStripeSectors);
    uint8_t* pOut = static_cast<uint8_t*>(pBuffer);
    uint64_t u64Pos = u64StartSector;
    bool bFailed = false;
    while (u64Remaining > 0) {
        const uint64_t u64StripeNo = u64Pos / u64Stripe;
        const uint64_t u64Row = u64StripeNo / u64Columns;
        const LDM_EXTENT& extent = *m_Columns[static_cast<size_t>(u64StripeNo % u64Columns)];
        const uint64_t u64InStripe = u64Pos % u64Stripe;
        const uint64_t u64Count = std::min(u64Remaining, u64Stripe - u64InStripe);
        const uint64_t u64InColumn = u64Row * u64Stripe + u64InStripe;
        // A column that claims to begin further into the volume than this row has nothing here.
        if (u64InColumn < extent.u64VolumeOffset ||
            !ReadExtent(extent, u64InColumn - extent.u64VolumeOffset, pOut, u64Count, IsRedundant()))
            bFailed = true;
        u64Pos += u64Count;
        u64Remaining -= u64Count;
        pOut += u64Count * kUnit;
    }
    return bFailed && IsMirrorMember() ? 0 : 1;
}

int CRaid5VolumeDevice::ReadColumn(size_t nColumn, uint64_t u64Row, uint64_t u64InStripe, uint8_t* pBuffer,
                                   uint64_t u64Count)
{
    const LDM_EXTENT& extent = *m_Columns[nColumn];
    const uint64_t u64InColumn = u64Row * static_cast<uint64_t>(m_nStripeSectors) + u64InStripe;
    if (u64InColumn < extent.u64VolumeOffset) {
        memset(pBuffer, 0, static_cast<size_t>(u64Count * kUnit));
        return 0;
    }
    return ReadExtent(extent, u64InColumn - extent.u64VolumeOffset, pBuffer, u64Count, IsRedundant());
}

int CRaid5VolumeDevice::RebuildColumn(size_t nColumn, uint64_t u64Row, uint64_t u64InStripe, uint8_t* pBuffer,
                                      uint64_t u64Count, uint8_t* pScratch)
{
    // Every other column of the row, parity included, exclusive-ored together gives back the
    // stripe that could not be read.
    const size_t nBytes = static_cast<size_t>(u64Count * kUnit);
    memset(pBuffer, 0, nBytes);
    for (size_t nOther = 0; nOther < m_Columns.size(); ++nOther) {
        if (nOther == nColumn)
            continue;
        if (!ReadColumn(nOther, u64Row, u64InStripe, pScratch, u64Count)) {
            memset(pBuffer, 0, nBytes);
            return 0;
        }
        for (size_t i = 0; i < nBytes; ++i)
            pBuffer[i] ^= pScratch[i];
    }
    return 1;
}

int CRaid5VolumeDevice::ReadSectors(void* pBuffer, uint64_t u64StartSector, uint64_t u64SectorCount)
{
    uint64_t u64Remaining = 0;
    if (!BeginRead(pBuffer, u64StartSector, u64SectorCount, &u64Remaining))
        return 0;
    // With fewer than three columns a row has no room for parity and two data stripes (and the
    // row arithmetic below would divide by zero).
    const uint64_t u64Columns = m_Columns.size();
    if (u64Columns < RAID5_MIN_COLUMNS)
        return 0;
    const uint64_t u64Stripe = static_cast<uint64_t>(m_nStripeSectors);
    const uint64_t u64RowData = (u64Columns - 1) * u64Stripe;
    CStripeBuffer scratch(static_cast<size_t>(u64Stripe * kUnit));
    uint8_t* pOut = static_cast<uint8_t*>(pBuffer);
    uint64_t u64Pos = u64StartSector;
    while (u64Remaining > 0) {
        const uint64_t u64Row = u64Pos / u64RowData;
        const uint64_t u64Parity = u64Columns - 1 - u64Row % u64Columns;
        const uint64_t u64DataStripe = (u64Pos / u64Stripe) % (u64Columns - 1);
        const size_t nColumn = static_cast<size_t>((u64Parity + 1 + u64DataStripe) % u64Columns);
        const uint64_t u64InStripe = u64Pos % u64Stripe;
        const uint64_t u64Count = std::min(u64Remaining, u64Stripe - u64InStripe);
        const size_t nBytes = static_cast<size_t>(u64Count * kUnit);

        if (!ReadColumn(nColumn, u64Row, u64InStripe, pOut, u64Count) &&
            !RebuildColumn(nColumn, u64Row, u64InStripe, pOut, u64Count, scratch.Get())) {
            // Bad sectors on two columns within one piece need not lie at the same sectors:
            // one sector at a time, each is read or rebuilt on its own.
            uint64_t u64FirstLost = 0;
            uint64_t u64Lost = 0;
            for (uint64_t i = 0; i < u64Count; ++i) {
                uint8_t* pSector = pOut + i * kUnit;
                if (ReadColumn(nColumn, u64Row, u64InStripe + i, pSector, 1) ||
                    RebuildColumn(nColumn, u64Row, u64InStripe + i, pSector, 1, scratch.Get()))
                    continue;
                if (u64Lost++ == 0)
                    u64FirstLost = u64Pos + i;
            }
            // Without ignoring, the read ends here; the sectors after the piece stay zero.
            if (!AcceptLostSectors(u64FirstLost, u64Lost))
                return 0;
        }
        u64Pos += u64Count;
        u64Remaining -= u64Count;
        pOut += nBytes;
    }
    return 1;
}

// ----- mirror -----------------------------------------------------------------------------------

CMirrorVolumeDevice::CMirrorVolumeDevice(int nKind, const DYNAMIC_VOLUME_DESC& desc, IDynamicDevice* pFirst,
                                         IDynamicDevice* pSecond)
    : CDynamicVolumeDevice(nKind, desc), m_nChunkSectors(MIRROR_CHUNK_SECTORS)
{
    if (pFirst != nullptr)
        m_Members.push_back(pFirst);
    if (pSecond != nullptr)
        m_Members.push_back(pSecond);
}

CMirrorVolumeDevice::~CMirrorVolumeDevice()
{
    for (IDynamicDevice* pMember : m_Members)
        delete pMember;
}

int CMirrorVolumeDevice::GetSectorSize()
{
    return m_Members.empty() ? 512 : m_Members.front()->GetSectorSize();
}

void CMirrorVolumeDevice::GetMembers(CLdmExtentList& out)
{
    for (IDynamicDevice* pMember : m_Members) {
        CLdmExtentList member;
        pMember->GetMembers(member);
        out.splice(out.end(), member);
    }
}

int CMirrorVolumeDevice::ReadSectors(void* pBuffer, uint64_t u64StartSector, uint64_t u64SectorCount)
{
    uint64_t u64Remaining = 0;
    if (!BeginRead(pBuffer, u64StartSector, u64SectorCount, &u64Remaining))
        return 0;
    uint8_t* pOut = static_cast<uint8_t*>(pBuffer);
    uint64_t u64Pos = u64StartSector;
    bool bFailed = false;
    while (u64Remaining > 0) {
        const uint64_t u64Count = std::min(u64Remaining, static_cast<uint64_t>(m_nChunkSectors));
        bool bRead = false;
        for (IDynamicDevice* pMember : m_Members) {
            if (pMember->ReadSectors(pOut, u64Pos, u64Count)) {
                bRead = true;
                break;
            }
        }
        if (!bRead) {
            // Some sector of the piece is bad on every member that was asked for the whole
            // piece; one sector at a time, each comes from whichever member still has it.
            uint64_t u64FirstLost = 0;
            uint64_t u64Lost = 0;
            for (uint64_t i = 0; i < u64Count; ++i) {
                uint8_t* pSector = pOut + i * kUnit;
                bool bSector = false;
                for (IDynamicDevice* pMember : m_Members) {
                    if (pMember->ReadSectors(pSector, u64Pos + i, 1)) {
                        bSector = true;
                        break;
                    }
                }
                if (!bSector) {
                    memset(pSector, 0, kUnit);
                    if (u64Lost++ == 0)
                        u64FirstLost = u64Pos + i;
                }
            }
            // Without ignoring, the rest is still read: the caller gets every sector there is.
            if (!AcceptLostSectors(u64FirstLost, u64Lost))
                bFailed = true;
        }
        u64Pos += u64Count;
        u64Remaining -= u64Count;
        pOut += u64Count * kUnit;
    }
    return bFailed ? 0 : 1;
}

// ----- factories --------------------------------------------------------------------------------

IDynamicDevice* CreateSimpleVolumeDevice(int nKind, const DYNAMIC_VOLUME_DESC& desc, const CLdmExtentList& extents)
{
    if (CountExtentsWithDisk(extents) != 1)
        return nullptr;
    return new CSimpleVolumeDevice(nKind, desc, extents);
}

IDynamicDevice* CreateSpannedVolumeDevice(int nKind, const DYNAMIC_VOLUME_DESC& desc, const CLdmExtentList& extents)
{
    if (CountExtentsWithDisk(extents) == 0)
        return nullptr;
    return new CSpannedVolumeDevice(nKind, desc, extents);
}

IDynamicDevice* CreateStripedVolumeDevice(int nKind, const DYNAMIC_VOLUME_DESC& desc, const CLdmExtentList& extents)
{
    if (CountExtentsWithDisk(extents) == 0)
        return nullptr;
    return new CStripedVolumeDevice(nKind, desc, extents);
}

IDynamicDevice* CreateRaid5VolumeDevice(int nKind, const DYNAMIC_VOLUME_DESC& desc, const CLdmExtentList& extents)
{
    const size_t nExtents = CountExtents(extents);
    const size_t nWithDisk = CountExtentsWithDisk(extents);
    // Parity rebuilds one missing column; two missing leave nothing to rebuild from.
    if (nExtents < RAID5_MIN_COLUMNS || nWithDisk + 1 < nExtents)
        return nullptr;
    return new CRaid5VolumeDevice(nKind, desc, extents);
}

IDynamicDevice* CreateMirrorVolumeDevice(int nKind, const DYNAMIC_VOLUME_DESC& desc, IDynamicDevice* pFirst,
                                         IDynamicDevice* pSecond)
{
    if (pFirst == nullptr && pSecond == nullptr)
        return nullptr;
    return new CMirrorVolumeDevice(nKind, desc, pFirst, pSecond);
}
