#include "FATFileProperties.h"

#include <cstring>

#include "DataStreamIO.h"
#include "Time.h"

using namespace DataStreamIO;

namespace {

FILETIME DosToFileTime(uint16_t wDate, uint16_t wTime)
{
    FILETIME ft;
    ft.qwTicks = 0;
    if (!rvd::DosDateTimeToFileTime(wDate, wTime, ft))
        ft.qwTicks = 0;
    return ft;
}

} // namespace

CFATFileProperties* CFATFileProperties::Create()
{
    return new CFATFileProperties();
}

CFATFileProperties::CFATFileProperties()
    : m_nNameLength(0), m_pszName(nullptr), m_nSize(0), m_wAttributes(0), m_ftCreation(), m_ftModification(),
      m_ftAccess(), m_byStatus(0), m_byCheckState(0), m_byFlag(0), m_nFirstCluster(0), m_nParentCluster(0),
      m_pPackedRuns(nullptr)
{
    m_ftCreation.qwTicks = 0;
    m_ftModification.qwTicks = 0;
    m_ftAccess.qwTicks = 0;
}

CFATFileProperties::~CFATFileProperties()
{
    FreeBuffer(m_pszName);
    delete m_pPackedRuns;
}

void CFATFileProperties::SetName(const char* pszName)
{
    FreeBuffer(m_pszName);
    m_pszName = nullptr;
    m_nNameLength = 0;
    if (pszName == nullptr)
        return;
    size_t nLength = strlen(pszName);
    // A long name is at most 255 UTF-16 units, 765 bytes of UTF-8; the bound only guards the
    // 16-bit length field.
    if (nLength > 0xFFFF)
        nLength = 0xFFFF;
    m_pszName = AllocBuffer(nLength + 1);
    memcpy(m_pszName, pszName, nLength);
    m_pszName[nLength] = 0;
    m_nNameLength = static_cast<uint16_t>(nLength);
}

void CFATFileProperties::SetCreationTime(uint16_t wDate, uint16_t wTime)
{
    m_ftCreation = DosToFileTime(wDate, wTime);
}

void CFATFileProperties::SetModificationTime(uint16_t wDate, uint16_t wTime)
{
    m_ftModification = DosToFileTime(wDate, wTime);
}

void CFATFileProperties::SetAccessTime(uint16_t wDate)
{
    m_ftAccess = DosToFileTime(wDate, 0);
}

void CFATFileProperties::GetCreationTime(FILETIME* pTime)
{
    if (pTime != nullptr)
        *pTime = m_ftCreation;
}

void CFATFileProperties::GetModificationTime(FILETIME* pTime)
{
    if (pTime != nullptr)
        *pTime = m_ftModification;
}

void CFATFileProperties::GetAccessTime(FILETIME* pTime)
{
    if (pTime != nullptr)
        *pTime = m_ftAccess;
}

IDataRunList* CFATFileProperties::GetDataRunList()
{
    return m_pPackedRuns != nullptr ? m_pPackedRuns->CreateDataRunList() : nullptr;
}

int32_t CFATFileProperties::SetFlag(uint8_t nFlag)
{
    m_byFlag = nFlag;
    return 1;
}

void CFATFileProperties::SetDataRunList(CFATDataRunList* pList)
{
    PackDataRuns(pList);
    delete pList;
}

void CFATFileProperties::PackDataRuns(IDataRunList* pList)
{
    delete m_pPackedRuns;
    m_pPackedRuns = PackDataRunList(pList);
}

BOOL CFATFileProperties::Save(IDataStream* pWriter)
{
    if (pWriter == nullptr)
        return FALSE;
    const uint32_t nRunsPresent = m_pPackedRuns != nullptr ? 1 : 0;
    if (!WriteLE(pWriter, m_nNameLength) || !WriteBytes(pWriter, m_pszName, m_nNameLength) ||
        !WriteLE(pWriter, m_nSize) || !WriteLE(pWriter, m_wAttributes) || !WriteLE(pWriter, m_ftCreation.qwTicks) ||
        !WriteLE(pWriter, m_ftModification.qwTicks) || !WriteLE(pWriter, m_ftAccess.qwTicks) ||
        !WriteLE(pWriter, m_byStatus) || !WriteLE(pWriter, m_nFirstCluster) || !WriteLE(pWriter, m_nParentCluster) ||
        !WriteLE(pWriter, nRunsPresent))
        return FALSE;
    if (m_pPackedRuns != nullptr)
        return m_pPackedRuns->Save(pWriter);
    return TRUE;
}

BOOL CFATFileProperties::Load(IDataStream* pReader)
{
    if (pReader == nullptr)
        return FALSE;
    uint16_t nNameLength = 0;
    if (!ReadLE(pReader, nNameLength))
        return FALSE;
    char* pszName = AllocBuffer(static_cast<size_t>(nNameLength) + 1);
    pszName[nNameLength] = 0;
    uint64_t nSize = 0;
    uint16_t wAttributes = 0;
    FILETIME ftCreation, ftModification, ftAccess;
    uint8_t byStatus = 0;
    uint32_t nFirst = 0, nParent = 0, nRunsPresent = 0;
    PACKED_DATA_RUNS* pRuns = nullptr;
    bool bOk = ReadBytes(pReader, pszName, nNameLength) && ReadLE(pReader, nSize) && ReadLE(pReader, wAttributes) &&
               ReadLE(pReader, ftCreation.qwTicks) && ReadLE(pReader, ftModification.qwTicks) &&
               ReadLE(pReader, ftAccess.qwTicks) && ReadLE(pReader, byStatus) && ReadLE(pReader, nFirst) &&
               ReadLE(pReader, nParent) && ReadLE(pReader, nRunsPresent);
    if (bOk && nRunsPresent == 1) {
        pRuns = LoadPackedDataRuns(pReader);
        bOk = pRuns != nullptr;
    } else if (bOk && nRunsPresent != 0) {
        bOk = false;
    }
    if (!bOk) {
        FreeBuffer(pszName);
        delete pRuns;
        return FALSE;
    }
    FreeBuffer(m_pszName);
    delete m_pPackedRuns;
    m_nNameLength = nNameLength;
    m_pszName = pszName;
    m_nSize = nSize;
    m_wAttributes = wAttributes;
    m_ftCreation = ftCreation;
    m_ftModification = ftModification;
    m_ftAccess = ftAccess;
    m_byStatus = byStatus;
    m_nFirstCluster = nFirst;
    m_nParentCluster = nParent;
    m_pPackedRuns = pRuns;
    m_byCheckState = 0;
    m_byFlag = 0;
    return TRUE;
}
