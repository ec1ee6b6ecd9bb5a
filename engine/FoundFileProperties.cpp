#include "FoundFileProperties.h"

#include <cstring>

#include "DataStreamIO.h"

using namespace DataStreamIO;

CFoundFileProperties::CFoundFileProperties()
    : m_ullSize(0), m_nNameLength(0), m_nAttributes(0), m_nStatus(0), m_nCheckState(0), m_nFlag(0), m_nStorage(0)
{
    m_Name.pszBuffer = nullptr;
    m_Runs.pRecord = nullptr;
}

CFoundFileProperties::~CFoundFileProperties()
{
    FreeName();
    FreeRuns();
}

void CFoundFileProperties::FreeName()
{
    if ((m_nStorage & STORAGE_NAME_INLINE) == 0)
        FreeBuffer(m_Name.pszBuffer);
    m_nStorage &= ~STORAGE_NAME_INLINE;
    m_Name.pszBuffer = nullptr;
    m_nNameLength = 0;
}

void CFoundFileProperties::FreeRuns()
{
    if ((m_nStorage & STORAGE_RUNS_INLINE) == 0)
        delete m_Runs.pRecord;
    m_nStorage &= ~STORAGE_RUNS_INLINE;
    m_Runs.pRecord = nullptr;
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
    if ((m_nStorage & STORAGE_RUNS_INLINE) != 0)
        return UnpackDataRuns(m_Runs.abyInline, PackedStringLength(m_Runs.abyInline, RUNS_INLINE_BYTES), 0);
    return m_Runs.pRecord != nullptr ? m_Runs.pRecord->CreateDataRunList() : nullptr;
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
    // The copy is made before the old name goes: pName may point into it.
    char szInline[NAME_INLINE_BYTES];
    char* pszBuffer = nLength < NAME_INLINE_BYTES ? nullptr : AllocBuffer(nLength + 1);
    char* pszName = pszBuffer != nullptr ? pszBuffer : szInline;
    if (nLength != 0)
        memcpy(pszName, pName, nLength);
    pszName[nLength] = 0;
    FreeName();
    if (pszBuffer != nullptr) {
        m_Name.pszBuffer = pszBuffer;
    } else {
        memcpy(m_Name.szInline, szInline, nLength + 1);
        m_nStorage |= STORAGE_NAME_INLINE;
    }
    m_nNameLength = static_cast<uint16_t>(nLength);
}

void CFoundFileProperties::ClearName()
{
    FreeName();
}

void CFoundFileProperties::AdoptName(char* pszName, uint16_t nLength)
{
    if (pszName != nullptr && pszName == NameOrNull()) {
        m_nNameLength = nLength;
        return;
    }
    FreeName();
    if (pszName == nullptr)
        return;
    if (nLength < NAME_INLINE_BYTES) {
        // The buffer's terminator comes along; the bytes before it are kept as they are.
        memcpy(m_Name.szInline, pszName, static_cast<size_t>(nLength) + 1);
        m_nStorage |= STORAGE_NAME_INLINE;
        FreeBuffer(pszName);
    } else {
        m_Name.pszBuffer = pszName;
    }
    m_nNameLength = nLength;
}

void CFoundFileProperties::PackRuns(IDataRunList* pList)
{
    AdoptPackedRuns(PackDataRunList(pList));
}

void CFoundFileProperties::PackRuns(const DATA_RUN* pRuns, size_t nCount)
{
    const uint64_t ullLength = PackedRunsLength(pRuns, nCount);
    if (ullLength == 0 || ullLength > RUNS_INLINE_BYTES) {
        AdoptPackedRuns(PackDataRuns(pRuns, nCount));
        return;
    }
    FreeRuns();
    memset(m_Runs.abyInline, 0, sizeof(m_Runs.abyInline));
    WritePackedRuns(pRuns, nCount, m_Runs.abyInline);
    m_nStorage |= STORAGE_RUNS_INLINE;
}

void CFoundFileProperties::AdoptPackedRuns(PACKED_DATA_RUNS* pRuns)
{
    if ((m_nStorage & STORAGE_RUNS_INLINE) == 0 && pRuns == m_Runs.pRecord)
        return;
    FreeRuns();
    if (pRuns == nullptr)
        return;
    // A short string without a resident value is held in place; its saved form and its list
    // are the record's.
    const uint32_t nLength =
        pRuns->m_pPacked != nullptr ? PackedStringLength(pRuns->m_pPacked, pRuns->m_nPackedSize) : 0;
    if (pRuns->m_nResidentValue == 0 && nLength != 0 && nLength <= RUNS_INLINE_BYTES) {
        memset(m_Runs.abyInline, 0, sizeof(m_Runs.abyInline));
        memcpy(m_Runs.abyInline, pRuns->m_pPacked, nLength);
        m_nStorage |= STORAGE_RUNS_INLINE;
        delete pRuns;
        return;
    }
    m_Runs.pRecord = pRuns;
}

BOOL CFoundFileProperties::SavePackedRuns(IDataStream* pWriter) const
{
    if ((m_nStorage & STORAGE_RUNS_INLINE) != 0) {
        if (pWriter == nullptr)
            return FALSE;
        const uint32_t nLength = PackedStringLength(m_Runs.abyInline, RUNS_INLINE_BYTES);
        const uint16_t nResidentValue = 0;
        return WriteLE(pWriter, nLength) && WriteBytes(pWriter, m_Runs.abyInline, nLength) &&
                       WriteLE(pWriter, nResidentValue)
                   ? TRUE
                   : FALSE;
    }
    if (m_Runs.pRecord != nullptr)
        return m_Runs.pRecord->Save(pWriter);
    PACKED_DATA_RUNS empty;
    return empty.Save(pWriter);
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
    return pWriter != nullptr && WriteLE(pWriter, m_nNameLength) && WriteBytes(pWriter, NameOrNull(), m_nNameLength) &&
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
