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

CFATFileProperties::CFATFileProperties() : m_nFirstCluster(0), m_nParentCluster(0) {}

void CFATFileProperties::SetName(const char* pszName)
{
    if (pszName == nullptr) {
        ClearName();
        return;
    }
    // A long name is at most 255 UTF-16 units, 765 bytes of UTF-8; the bound only guards the
    // 16-bit length field.
    AssignName(pszName, strlen(pszName));
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

void CFATFileProperties::SetDataRunList(CFATDataRunList* pList)
{
    PackRuns(pList);
    delete pList;
}

BOOL CFATFileProperties::Save(IDataStream* pWriter)
{
    const uint32_t nRunsPresent = HasDataRuns() ? 1 : 0;
    if (!SaveLeadingFields(pWriter) || !WriteLE(pWriter, m_nFirstCluster) || !WriteLE(pWriter, m_nParentCluster) ||
        !WriteLE(pWriter, nRunsPresent))
        return FALSE;
    return nRunsPresent != 0 ? SavePackedRuns(pWriter) : TRUE;
}

BOOL CFATFileProperties::Load(IDataStream* pReader)
{
    LEADING_FIELDS fields;
    uint32_t nFirst = 0, nParent = 0, nRunsPresent = 0;
    PACKED_DATA_RUNS* pRuns = nullptr;
    bool bOk = LoadLeadingFields(pReader, &fields) && ReadLE(pReader, nFirst) && ReadLE(pReader, nParent) &&
               ReadLE(pReader, nRunsPresent);
    if (bOk && nRunsPresent == 1) {
        pRuns = LoadPackedDataRuns(pReader);
        bOk = pRuns != nullptr;
    } else if (bOk && nRunsPresent != 0) {
        bOk = false;
    }
    if (!bOk) {
        delete pRuns;
        return FALSE;
    }
    AdoptLeadingFields(&fields);
    AdoptPackedRuns(pRuns);
    m_nFirstCluster = nFirst;
    m_nParentCluster = nParent;
    return TRUE;
}
