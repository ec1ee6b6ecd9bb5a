#include "Ext2FileProperties.h"

#include <cstring>

#include "DataStreamIO.h"

struct CExt2FileProperties::CNameMapHolder : public CEngineObject {
    CNameMap Map;
};

namespace {

// The stored name length is 16 bits.
const size_t kMaxStoredName = 0xFFFF;

} // namespace

CExt2FileProperties::CExt2FileProperties()
    : m_pszName(nullptr), m_nNameLength(0), m_ullSize(0), m_nAttributes(0), m_CreationTime{0},
      m_ModificationTime{0}, m_AccessTime{0}, m_nStatus(0), m_nCheckState(0), m_nFlag(0), m_pPackedRuns(nullptr),
      m_pNameMap(nullptr), m_nInode(0)
{
}

CExt2FileProperties::~CExt2FileProperties()
{
    FreeBuffer(m_pszName);
    delete m_pPackedRuns;
    delete m_pNameMap;
}

void CExt2FileProperties::SetName(const char* pName, size_t nLength)
{
    if (pName == nullptr)
        nLength = 0;
    if (nLength > kMaxStoredName)
        nLength = kMaxStoredName;
    char* pszName = AllocBuffer(nLength + 1);
    if (nLength != 0)
        memcpy(pszName, pName, nLength);
    pszName[nLength] = 0;
    FreeBuffer(m_pszName);
    m_pszName = pszName;
    m_nNameLength = static_cast<uint16_t>(nLength);
}

void CExt2FileProperties::SetName(const char* pszName)
{
    SetName(pszName, pszName != nullptr ? strlen(pszName) : 0);
}

void CExt2FileProperties::SetTimes(FILETIME creation, FILETIME modification, FILETIME access)
{
    m_CreationTime = creation;
    m_ModificationTime = modification;
    m_AccessTime = access;
}

void CExt2FileProperties::SetDataRunList(CExt2DataRunList* pList)
{
    PACKED_DATA_RUNS* pPacked = PackDataRunList(pList);
    delete pList;
    delete m_pPackedRuns;
    m_pPackedRuns = pPacked;
}

void CExt2FileProperties::SetEntryName(uint32_t nInode, const char* pName, size_t nLength)
{
    if (m_pNameMap == nullptr)
        m_pNameMap = new CNameMapHolder();
    m_pNameMap->Map[nInode].assign(pName, nLength);
}

const CExt2FileProperties::CName* CExt2FileProperties::FindEntryName(uint32_t nInode) const
{
    if (m_pNameMap == nullptr)
        return nullptr;
    const CNameMap::const_iterator it = m_pNameMap->Map.find(nInode);
    return it != m_pNameMap->Map.end() ? &it->second : nullptr;
}

const CExt2FileProperties::CNameMap* CExt2FileProperties::GetNameMap() const
{
    return m_pNameMap != nullptr ? &m_pNameMap->Map : nullptr;
}

void CExt2FileProperties::ReleaseNameMap()
{
    delete m_pNameMap;
    m_pNameMap = nullptr;
}

void CExt2FileProperties::GetCreationTime(FILETIME* pTime)
{
    if (pTime != nullptr)
        *pTime = m_CreationTime;
}

void CExt2FileProperties::GetModificationTime(FILETIME* pTime)
{
    if (pTime != nullptr)
        *pTime = m_ModificationTime;
}

void CExt2FileProperties::GetAccessTime(FILETIME* pTime)
{
    if (pTime != nullptr)
        *pTime = m_AccessTime;
}

IDataRunList* CExt2FileProperties::GetDataRunList()
{
    return m_pPackedRuns != nullptr ? m_pPackedRuns->CreateDataRunList() : nullptr;
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
    if (pWriter == nullptr)
        return FALSE;
    const uint32_t nRunsPresent = m_pPackedRuns != nullptr ? 1 : 0;
    if (!WriteLE(pWriter, m_nNameLength) || !WriteBytes(pWriter, m_pszName, m_nNameLength) ||
        !WriteLE(pWriter, m_ullSize) || !WriteLE(pWriter, m_nAttributes) ||
        !WriteLE(pWriter, m_CreationTime.qwTicks) || !WriteLE(pWriter, m_ModificationTime.qwTicks) ||
        !WriteLE(pWriter, m_AccessTime.qwTicks) || !WriteLE(pWriter, m_nStatus) || !WriteLE(pWriter, nRunsPresent))
        return FALSE;
    return nRunsPresent != 0 ? m_pPackedRuns->Save(pWriter) : TRUE;
}

BOOL CExt2FileProperties::Load(IDataStream* pReader)
{
    using namespace DataStreamIO;
    if (pReader == nullptr)
        return FALSE;
    uint16_t nNameLength = 0;
    if (!ReadLE(pReader, nNameLength))
        return FALSE;
    char* pszName = nullptr;
    if (nNameLength != 0) {
        pszName = AllocBuffer(static_cast<size_t>(nNameLength) + 1);
        if (!ReadBytes(pReader, pszName, nNameLength)) {
            FreeBuffer(pszName);
            return FALSE;
        }
        pszName[nNameLength] = 0;
    }
    uint64_t ullSize = 0;
    uint16_t nAttributes = 0;
    FILETIME creation{0}, modification{0}, access{0};
    uint8_t nStatus = 0;
    uint32_t nRunsPresent = 0;
    PACKED_DATA_RUNS* pRuns = nullptr;
    bool bOk = ReadLE(pReader, ullSize) && ReadLE(pReader, nAttributes) && ReadLE(pReader, creation.qwTicks) &&
               ReadLE(pReader, modification.qwTicks) && ReadLE(pReader, access.qwTicks) &&
               ReadLE(pReader, nStatus) && ReadLE(pReader, nRunsPresent);
    if (bOk && nRunsPresent != 0)
        bOk = (pRuns = LoadPackedDataRuns(pReader)) != nullptr;
    if (!bOk) {
        FreeBuffer(pszName);
        return FALSE;
    }
    FreeBuffer(m_pszName);
    delete m_pPackedRuns;
    m_pszName = pszName;
    m_nNameLength = nNameLength;
    m_ullSize = ullSize;
    m_nAttributes = nAttributes;
    m_CreationTime = creation;
    m_ModificationTime = modification;
    m_AccessTime = access;
    m_nStatus = nStatus;
    m_pPackedRuns = pRuns;
    m_nCheckState = 0;
    m_nFlag = 0;
    return TRUE;
}
