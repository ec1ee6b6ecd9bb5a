#include "DeletedFilesFolderProperties.h"

#include <cstring>

#include "DataRunList.h"
#include "DataStreamIO.h"

CDeletedFilesFolderProperties::CDeletedFilesFolderProperties()
    : m_nNameLength(0), m_pszName(nullptr), m_ullSize(0), m_nAttributes(0), m_nCheckState(0), m_nFlag(0),
      m_nStatus(0), m_pPackedRuns(nullptr)
{
}

CDeletedFilesFolderProperties::~CDeletedFilesFolderProperties()
{
    FreeBuffer(m_pszName);
    delete m_pPackedRuns;
}

void CDeletedFilesFolderProperties::SetFileName(const char* pszName)
{
    FreeBuffer(m_pszName);
    m_pszName = nullptr;
    m_nNameLength = 0;
    if (pszName == nullptr)
        return;
    size_t nLength = strlen(pszName);
    if (nLength > 254)
        nLength = 254;
    m_pszName = AllocBuffer(nLength + 1);
    memcpy(m_pszName, pszName, nLength);
    m_pszName[nLength] = 0;
    m_nNameLength = static_cast<uint8_t>(nLength + 1);
}

void CDeletedFilesFolderProperties::SetRun(uint64_t ullStartSector, uint64_t ullSize)
{
    m_ullSize = ullSize;
    CRAWDataRunList runs;
    runs.AddRun(ullStartSector, ullSize / 512 + (ullSize % 512 != 0 ? 1 : 0));
    delete m_pPackedRuns;
    m_pPackedRuns = PackDataRunList(&runs);
}

int32_t CDeletedFilesFolderProperties::GetNameLength()
{
    return m_nNameLength;
}

const char* CDeletedFilesFolderProperties::GetName()
{
    return m_pszName;
}

void CDeletedFilesFolderProperties::GetCreationTime(FILETIME* pTime)
{
    if (pTime != nullptr)
        pTime->qwTicks = 0;
}

void CDeletedFilesFolderProperties::GetModificationTime(FILETIME* pTime)
{
    if (pTime != nullptr)
        pTime->qwTicks = 0;
}

void CDeletedFilesFolderProperties::GetAccessTime(FILETIME* pTime)
{
    if (pTime != nullptr)
        pTime->qwTicks = 0;
}

IDataRunList* CDeletedFilesFolderProperties::GetDataRunList()
{
    return m_pPackedRuns != nullptr ? m_pPackedRuns->CreateDataRunList() : nullptr;
}

int32_t CDeletedFilesFolderProperties::SetFlag(uint8_t nFlag)
{
    m_nFlag = nFlag;
    return 1;
}

BOOL CDeletedFilesFolderProperties::Save(IDataStream* pWriter)
{
    using namespace DataStreamIO;
    if (pWriter == nullptr)
        return FALSE;
    if (!WriteLE(pWriter, m_nNameLength) || !WriteBytes(pWriter, m_pszName, m_nNameLength) ||
        !WriteLE(pWriter, m_ullSize) || !WriteLE(pWriter, m_nAttributes) || !WriteLE(pWriter, m_nStatus))
        return FALSE;
    if (m_pPackedRuns != nullptr)
        return m_pPackedRuns->Save(pWriter);
    PACKED_DATA_RUNS empty;
    return empty.Save(pWriter);
}

BOOL CDeletedFilesFolderProperties::Load(IDataStream* pReader)
{
    using namespace DataStreamIO;
    if (pReader == nullptr)
        return FALSE;
    uint8_t nNameLength = 0;
    if (!ReadLE(pReader, nNameLength))
        return FALSE;
    char* pszName = nullptr;
    if (nNameLength != 0) {
        pszName = AllocBuffer(nNameLength);
        if (!ReadBytes(pReader, pszName, nNameLength)) {
            FreeBuffer(pszName);
            return FALSE;
        }
        // The stored terminator is not trusted.
        pszName[nNameLength - 1] = 0;
    }
    uint64_t ullSize = 0;
    uint16_t nAttributes = 0;
    uint8_t nStatus = 0;
    PACKED_DATA_RUNS* pRuns = nullptr;
    if (!ReadLE(pReader, ullSize) || !ReadLE(pReader, nAttributes) || !ReadLE(pReader, nStatus) ||
        (pRuns = LoadPackedDataRuns(pReader)) == nullptr) {
        FreeBuffer(pszName);
        return FALSE;
    }
    FreeBuffer(m_pszName);
    delete m_pPackedRuns;
    m_nNameLength = nNameLength;
    m_pszName = pszName;
    m_ullSize = ullSize;
    m_nAttributes = nAttributes;
    m_nStatus = nStatus;
    m_pPackedRuns = pRuns;
    m_nCheckState = 0;
    m_nFlag = 0;
    return TRUE;
}
