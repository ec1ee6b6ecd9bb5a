#include "RAWFileProperties.h"

#include <cstring>

#include "DataRunList.h"
#include "DataStreamIO.h"
#include "RawFileInfo.h"

CRAWFileProperties::CRAWFileProperties()
    : m_nNameLength(0), m_pszName(nullptr), m_ullSize(0), m_nAttributes(0), m_nCheckState(0), m_nFlag(0),
      m_nStatus(0), m_pPackedRuns(nullptr)
{
}

CRAWFileProperties::~CRAWFileProperties()
{
    FreeBuffer(m_pszName);
    delete m_pPackedRuns;
}

CRAWFileProperties* CRAWFileProperties::Create()
{
    return new CRAWFileProperties();
}

void CRAWFileProperties::SetFileName(const char* pszName)
{
    FreeBuffer(m_pszName);
    m_pszName = nullptr;
    m_nNameLength = 0;
    if (pszName == nullptr)
        return;
    const size_t nLength = strnlen(pszName, RAW_FILE_NAME_MAX);
    m_pszName = AllocBuffer(nLength + 1);
    memcpy(m_pszName, pszName, nLength);
    m_pszName[nLength] = 0;
    m_nNameLength = static_cast<uint8_t>(nLength + 1);
}

int32_t CRAWFileProperties::SetRawFileInfo(const CRawFileInfo* pInfo)
{
    if (pInfo == nullptr)
        return 0;
    m_ullSize = pInfo->GetSize();
    CRAWDataRunList runs;
    runs.AddRun(pInfo->GetStartSector(), m_ullSize / 512 + (m_ullSize % 512 != 0 ? 1 : 0));
    delete m_pPackedRuns;
    m_pPackedRuns = PackDataRunList(&runs);
    return 1;
}

void CRAWFileProperties::GetCreationTime(FILETIME* pTime)
{
    if (pTime != nullptr)
        pTime->qwTicks = 0;
}

void CRAWFileProperties::GetModificationTime(FILETIME* pTime)
{
    if (pTime != nullptr)
        pTime->qwTicks = 0;
}

void CRAWFileProperties::GetAccessTime(FILETIME* pTime)
{
    if (pTime != nullptr)
        pTime->qwTicks = 0;
}

IDataRunList* CRAWFileProperties::GetDataRunList()
{
    return m_pPackedRuns != nullptr ? m_pPackedRuns->CreateDataRunList() : nullptr;
}

BOOL CRAWFileProperties::Save(IDataStream* pWriter)
{
    using namespace DataStreamIO;
    if (pWriter == nullptr)
        return FALSE;
    // Without a name the record still holds a terminated empty one, so a reader never meets a
    // name of length 0.
    const uint8_t nNameLength = m_nNameLength != 0 ? m_nNameLength : 1;
    if (!WriteLE(pWriter, nNameLength) || !WriteBytes(pWriter, GetName(), nNameLength) ||
        !WriteLE(pWriter, m_ullSize) || !WriteLE(pWriter, m_nAttributes) || !WriteLE(pWriter, m_nStatus))
        return FALSE;
    if (m_pPackedRuns != nullptr)
        return m_pPackedRuns->Save(pWriter);
    PACKED_DATA_RUNS empty;
    return empty.Save(pWriter);
}

BOOL CRAWFileProperties::Load(IDataStream* pReader)
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
