#include "Ext2FileProperties.h"

#include <cstring>

#include "DataStreamIO.h"

// One per inode of a scan, millions on a large volume: with a short name and a short run string
// held in place, the object is all a found file costs besides its node. Keep it in one 80-byte
// block of the engine's small-object pool.
static_assert(sizeof(CExt2FileProperties) <= 80, "EXT properties outgrew their pool block");

CExt2FileProperties::CExt2FileProperties() : m_nInode(0) {}

CExt2FileProperties::~CExt2FileProperties() {}

void CExt2FileProperties::SetName(const char* pszName)
{
    SetName(pszName, pszName != nullptr ? strlen(pszName) : 0);
}

void CExt2FileProperties::SetTimes(FILETIME creation, FILETIME modification, FILETIME access)
{
    m_ftCreation = creation;
    m_ftModification = modification;
    m_ftAccess = access;
}

void CExt2FileProperties::SetDataRunList(CExt2DataRunList* pList)
{
    PackRuns(pList);
    delete pList;
}

void CExt2FileProperties::SetInlineData(uint64_t ullSector, uint32_t nRecordBytes, uint16_t nAreaOffset)
{
    if (nAreaOffset == 0) {
        PackRuns(nullptr);
        return;
    }
    CResidentNTFSDataRunList list;
    list.SetResidentRun(ullSector, nRecordBytes, nAreaOffset);
    PackRuns(&list);
}

int32_t CExt2FileProperties::SetFlag(uint8_t nFlag)
{
    const uint8_t nPrevious = m_nFlag;
    m_nFlag = nFlag != 0 ? 1 : 0;
    return nPrevious;
}

BOOL CExt2FileProperties::Save(IDataStream* pWriter)
{
    using namespace DataStreamIO;
    const uint32_t nRunsPresent = HasDataRuns() ? 1 : 0;
    if (!SaveLeadingFields(pWriter) || !WriteLE(pWriter, nRunsPresent))
        return FALSE;
    return nRunsPresent != 0 ? SavePackedRuns(pWriter) : TRUE;
}

BOOL CExt2FileProperties::Load(IDataStream* pReader)
{
    using namespace DataStreamIO;
    LEADING_FIELDS fields;
    uint32_t nRunsPresent = 0;
    PACKED_DATA_RUNS* pRuns = nullptr;
    bool bOk = LoadLeadingFields(pReader, &fields) && ReadLE(pReader, nRunsPresent);
    if (bOk && nRunsPresent != 0)
        bOk = (pRuns = LoadPackedDataRuns(pReader)) != nullptr;
    if (!bOk)
        return FALSE;
    AdoptLeadingFields(&fields);
    AdoptPackedRuns(pRuns);
    return TRUE;
}
