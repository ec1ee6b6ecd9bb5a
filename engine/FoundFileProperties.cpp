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
    if ((m_nStorage & STORAGE_RUNS_BLOCK) != 0)
        FreeBuffer(m_Runs.pBlock);
    else if ((m_nStorage & STORAGE_RUNS_INLINE) == 0)
        delete m_Runs.pRecord;
    m_nStorage &= ~STORAGE_RUNS_PLAIN;
    m_Runs.pRecord = nullptr;
}

void CFoundFileProperties::HoldRunString(const uint8_t* pString, uint32_t nLength)
{
    FreeRuns();
    if (nLength <= RUNS_INLINE_BYTES) {
        memset(m_Runs.abyInline, 0, sizeof(m_Runs.abyInline));
        memcpy(m_Runs.abyInline, pString, nLength);
        m_nStorage |= STORAGE_RUNS_INLINE;
        return;
    }
    uint8_t* pBlock = reinterpret_cast<uint8_t*>(AllocBuffer(sizeof(uint32_t) + nLength));
    memcpy(pBlock, &nLength, sizeof(nLength));
    memcpy(pBlock + sizeof(uint32_t), pString, nLength);
    m_Runs.pBlock = pBlock;
    m_nStorage |= STORAGE_RUNS_BLOCK;
}

const uint8_t* CFoundFileProperties::PlainRunString(uint32_t* pnLength) const
{
    if ((m_nStorage & STORAGE_RUNS_INLINE) != 0) {
        *pnLength = PackedStringLength(m_Runs.abyInline, RUNS_INLINE_BYTES);
        return m_Runs.abyInline;
    }
    if ((m_nStorage & STORAGE_RUNS_BLOCK) != 0) {
        memcpy(pnLength, m_Runs.pBlock, sizeof(uint32_t));
        return m_Runs.pBlock + sizeof(uint32_t);
    }
    *pnLength = 0;
    return nullptr;
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
    uint32_t nLength = 0;
    if (const uint8_t* pString = PlainRunString(&nLength))
        return UnpackDataRuns(pString, nLength, 0);
    return m_Runs.pRecord != nullptr ? m_Runs.pRecord->CreateDataRunList() : nullptr;
}

BOOL CFoundFileProperties::GetNonResidentRuns(std::vector<DATA_RUN>* pRuns)
{
    // The cases of GetDataRunList: a plain string, or a record without a resident value, unpack
    // to a non-resident list.
    uint32_t nLength = 0;
    const uint8_t* pString = PlainRunString(&nLength);
    if (pString == nullptr && m_Runs.pRecord != nullptr && m_Runs.pRecord->m_pPacked != nullptr) {
        if (m_Runs.pRecord->m_nResidentValue != 0)
            return FALSE;
        pString = m_Runs.pRecord->m_pPacked;
        nLength = m_Runs.pRecord->GetPackedLength();
    }
    pRuns->clear();
    if (pString != nullptr)
        DecodeDataRuns(pRuns, pString, nLength);
    return TRUE;
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
    if (pList != nullptr && pList->GetType() == DATA_RUN_LIST_NTFS_RESIDENT && pList->GetResidentValue() != 0) {
        AdoptPackedRuns(PackDataRunList(pList));
        return;
    }
    uint32_t nLength = 0;
    uint8_t* pString = EncodeDataRuns(pList, &nLength);
    if (pString == nullptr) {
        FreeRuns();
        return;
    }
    HoldRunString(pString, nLength);
    FreeBuffer(pString);
}

void CFoundFileProperties::PackRuns(const DATA_RUN* pRuns, size_t nCount)
{
    const uint64_t ullLength = PackedRunsLength(pRuns, nCount);
    if (ullLength == 0 || ullLength > MAX_PACKED_RUNS_LENGTH) {
        FreeRuns();
        return;
    }
    const uint32_t nLength = static_cast<uint32_t>(ullLength);
    if (nLength <= RUNS_INLINE_BYTES) {
        uint8_t abyString[RUNS_INLINE_BYTES];
        WritePackedRuns(pRuns, nCount, abyString);
        HoldRunString(abyString, nLength);
        return;
    }
    FreeRuns();
    uint8_t* pBlock = reinterpret_cast<uint8_t*>(AllocBuffer(sizeof(uint32_t) + nLength));
    memcpy(pBlock, &nLength, sizeof(nLength));
    WritePackedRuns(pRuns, nCount, pBlock + sizeof(uint32_t));
    m_Runs.pBlock = pBlock;
    m_nStorage |= STORAGE_RUNS_BLOCK;
}

void CFoundFileProperties::AdoptPackedRuns(PACKED_DATA_RUNS* pRuns)
{
    if ((m_nStorage & STORAGE_RUNS_PLAIN) == 0 && pRuns == m_Runs.pRecord)
        return;
    if (pRuns == nullptr) {
        FreeRuns();
        return;
    }
    // A string without a resident value is kept as a string; its saved form and its list are
    // the record's. A record without a string, or with a resident value, is kept as it is.
    const uint32_t nLength =
        pRuns->m_pPacked != nullptr ? PackedStringLength(pRuns->m_pPacked, pRuns->m_nPackedSize) : 0;
    if (pRuns->m_nResidentValue == 0 && nLength != 0) {
        HoldRunString(pRuns->m_pPacked, nLength);
        delete pRuns;
        return;
    }
    FreeRuns();
    m_Runs.pRecord = pRuns;
}

BOOL CFoundFileProperties::SavePackedRuns(IDataStream* pWriter) const
{
    uint32_t nLength = 0;
    if (const uint8_t* pString = PlainRunString(&nLength)) {
        if (pWriter == nullptr)
            return FALSE;
        const uint16_t nResidentValue = 0;
        return WriteLE(pWriter, nLength) && WriteBytes(pWriter, pString, nLength) && WriteLE(pWriter, nResidentValue)
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
