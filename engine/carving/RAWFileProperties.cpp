#include "RAWFileProperties.h"

#include <cstring>

#include "DataRunList.h"
#include "DataStreamIO.h"
#include "RawFileInfo.h"

CRAWFileProperties* CRAWFileProperties::Create()
{
    return new CRAWFileProperties();
}

void CRAWFileProperties::SetFileName(const char* pszName)
{
    if (pszName == nullptr)
        ClearName();
    else
        AssignName(pszName, strnlen(pszName, RAW_FILE_NAME_MAX));
}

int32_t CRAWFileProperties::SetRawFileInfo(const CRawFileInfo* pInfo)
{
    if (pInfo == nullptr)
        return 0;
    SetRun(pInfo->GetStartSector(), pInfo->GetSize());
    return 1;
}

void CRAWFileProperties::SetRun(uint64_t ullStartSector, uint64_t ullSize)
{
    m_ullSize = ullSize;
    CRAWDataRunList runs;
    runs.AddRun(ullStartSector, ullSize / 512 + (ullSize % 512 != 0 ? 1 : 0));
    PackRuns(&runs);
}

BOOL CRAWFileProperties::Save(IDataStream* pWriter)
{
    using namespace DataStreamIO;
    if (pWriter == nullptr)
        return FALSE;
    // Without a name the record still holds a terminated empty one, so a reader never meets a
    // name of length 0.
    const uint8_t nNameLength = static_cast<uint8_t>(HasName() ? m_nNameLength + 1 : 1);
    if (!WriteLE(pWriter, nNameLength) || !WriteBytes(pWriter, GetName(), nNameLength) ||
        !WriteLE(pWriter, m_ullSize) || !WriteLE(pWriter, m_nAttributes) || !WriteLE(pWriter, m_nStatus))
        return FALSE;
    return SavePackedRuns(pWriter);
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
    // The length kept is without the terminator, as the stored one counts it.
    AdoptName(pszName, static_cast<uint16_t>(nNameLength != 0 ? nNameLength - 1 : 0));
    AdoptPackedRuns(pRuns);
    m_ullSize = ullSize;
    m_nAttributes = nAttributes;
    m_nStatus = nStatus;
    ResetSelection();
    return TRUE;
}
