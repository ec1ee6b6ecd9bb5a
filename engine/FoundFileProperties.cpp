#include "FoundFileProperties.h"

#include <cstring>

#include "DataStreamIO.h"

using namespace DataStreamIO;

CFoundFileProperties::CFoundFileProperties()
    : m_pszName(nullptr), m_nNameLength(0), m_nAttributes(0), m_nStatus(0), m_nCheckState(0), m_nFlag(0),
      m_ullSize(0), m_pPackedRuns(nullptr)
{
}

CFoundFileProperties::~CFoundFileProperties()
{
    FreeBuffer(m_pszName);
    delete m_pPackedRuns;
}

void CFoundFileProperties::GetCreationTime(FILETIME* pTime)
{
    if (pTime != nullptr)
        pTime->qwTicks = 0;
}

void CFoundFileProperties::GetModificationTime(FILETIME* pTime)
{
    if (pTime != nullptr)
        pTime->qwTicks = 0;
}

void CFoundFileProperties::GetAccessTime(FILETIME* pTime)
{
    if (pTime != nullptr)
        pTime->qwTicks = 0;
}

IDataRunList* CFoundFileProperties::GetDataRunList()
{
    return m_pPackedRuns != nullptr ? m_pPackedRuns->CreateDataRunList() : nullptr;
}

int32_t CFoundFileProperties::SetFlag(uint8_t nFlag)
{
    m_nFlag = nFlag;
    return 1;
}

void CFoundFileProperties::AssignName(const char* pName, size_t nLength)
{
    if (pName == nullptr)
        nLength = 0;
    if (nLength > NAME_MAX_BYTES)
        nLength = NAME_MAX_BYTES;
    char* pszName = AllocBuffer(nLength + 1);
    if (nLength != 0)
        memcpy(pszName, pName, nLength);
    pszName[nLength] = 0;
    AdoptName(pszName, static_cast<uint16_t>(nLength));
}

void CFoundFileProperties::ClearName()
{
    AdoptName(nullptr, 0);
}

void CFoundFileProperties::AdoptName(char* pszName, uint16_t nLength)
{
    if (pszName != m_pszName)
        FreeBuffer(m_pszName);
    m_pszName = pszName;
    m_nNameLength = pszName != nullptr ? nLength : 0;
}

void CFoundFileProperties::PackRuns(IDataRunList* pList)
{
    AdoptPackedRuns(PackDataRunList(pList));
}

void CFoundFileProperties::AdoptPackedRuns(PACKED_DATA_RUNS* pRuns)
{
    if (pRuns == m_pPackedRuns)
        return;
    delete m_pPackedRuns;
    m_pPackedRuns = pRuns;
}

CDatedFileProperties::CDatedFileProperties() : m_ftCreation{0}, m_ftModification{0}, m_ftAccess{0} {}

void CDatedFileProperties::GetCreationTime(FILETIME* pTime)
{
    if (pTime != nullptr)
        *pTime = m_ftCreation;
}

void CDatedFileProperties::GetModificationTime(FILETIME* pTime)
{
    if (pTime != nullptr)
        *pTime = m_ftModification;
}

void CDatedFileProperties::GetAccessTime(FILETIME* pTime)
{
    if (pTime != nullptr)
        *pTime = m_ftAccess;
}

BOOL CDatedFileProperties::SaveLeadingFields(IDataStream* pWriter) const
{
    return pWriter != nullptr && WriteLE(pWriter, m_nNameLength) && WriteBytes(pWriter, m_pszName, m_nNameLength) &&
           WriteLE(pWriter, m_ullSize) && WriteLE(pWriter, m_nAttributes) && WriteLE(pWriter, m_ftCreation.qwTicks) &&
           WriteLE(pWriter, m_ftModification.qwTicks) && WriteLE(pWriter, m_ftAccess.qwTicks) &&
           WriteLE(pWriter, m_nStatus);
}

bool CDatedFileProperties::LoadLeadingFields(IDataStream* pReader, LEADING_FIELDS* pFields)
{
    if (pReader == nullptr || !ReadLE(pReader, pFields->nNameLength))
        return false;
    FreeBuffer(pFields->pszName);
    pFields->pszName = AllocBuffer(static_cast<size_t>(pFields->nNameLength) + 1);
    pFields->pszName[pFields->nNameLength] = 0;
    return ReadBytes(pReader, pFields->pszName, pFields->nNameLength) && ReadLE(pReader, pFields->ullSize) &&
           ReadLE(pReader, pFields->nAttributes) && ReadLE(pReader, pFields->ftCreation.qwTicks) &&
           ReadLE(pReader, pFields->ftModification.qwTicks) && ReadLE(pReader, pFields->ftAccess.qwTicks) &&
           ReadLE(pReader, pFields->nStatus);
}

void CDatedFileProperties::AdoptLeadingFields(LEADING_FIELDS* pFields)
{
    AdoptName(pFields->pszName, pFields->nNameLength);
    pFields->pszName = nullptr;
    m_ullSize = pFields->ullSize;
    m_nAttributes = pFields->nAttributes;
    m_ftCreation = pFields->ftCreation;
    m_ftModification = pFields->ftModification;
    m_ftAccess = pFields->ftAccess;
    m_nStatus = pFields->nStatus;
    ResetSelection();
}
