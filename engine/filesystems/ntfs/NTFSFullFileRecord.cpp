#include "NTFSFullFileRecord.h"

#include <cstring>

#include "IStorageDevice.h"
#include "NTFSFileRecord.h"

namespace {

// Attributes of the type that FindAttribute hands out (the walk stops at the end marker).
int CountFindable(const uint8_t* pRecord, size_t nLength, uint32_t nType)
{
    int nCount = 0;
    while (::FindAttribute(pRecord, nLength, nType, nCount) != nullptr)
        ++nCount;
    return nCount;
}

} // namespace

CNTFSFullFileRecord::CNTFSFullFileRecord()
    : m_pRecord(nullptr), m_nLength(0), m_ullSector(0), m_bFixupsApplied(false), m_pDevice(nullptr)
{
}

CNTFSFullFileRecord::~CNTFSFullFileRecord()
{
    Close();
}

void CNTFSFullFileRecord::Open(uint8_t* pRecord, size_t nLength, uint64_t ullSector, IStorageDevice* pDevice,
                               const CRecordLocationList* pLocations)
{
    Close();
    if (!IsValidFileRecord(pRecord, nLength))
        return;
    m_pRecord = pRecord;
    m_nLength = nLength;
    m_ullSector = ullSector;
    m_pDevice = pDevice;
    m_bFixupsApplied = ApplyFixups(m_pRecord, m_nLength);
    if (pLocations != nullptr) {
        for (const RECORD_LOCATION& location : pLocations->Items)
            m_Extensions.push_back(EXTENSION{location.ullSector, location.ullRecordNumber, nullptr, false, false});
    }
}

void CNTFSFullFileRecord::Close()
{
    if (m_pRecord != nullptr && m_bFixupsApplied)
        RestoreFixups(m_pRecord, m_nLength);
    m_pRecord = nullptr;
    m_nLength = 0;
    m_bFixupsApplied = false;
    FreeExtensions();
}

void CNTFSFullFileRecord::FreeExtensions()
{
    for (EXTENSION& extension : m_Extensions)
        FreeBuffer(extension.pBuffer);
    m_Extensions.clear();
}

bool CNTFSFullFileRecord::IsInUse() const
{
    return m_pRecord != nullptr && IsRecordInUse(m_pRecord, m_nLength);
}

bool CNTFSFullFileRecord::IsDirectory() const
{
    return m_pRecord != nullptr && IsRecordDirectory(m_pRecord, m_nLength);
}

void CNTFSFullFileRecord::ReadExtension(EXTENSION& extension)
{
    extension.pBuffer = reinterpret_cast<uint8_t*>(AllocBuffer(m_nLength));
    const uint64_t ullSectors = m_nLength / STORAGE_UNIT_BYTES;
    if (m_pDevice == nullptr || ullSectors == 0 || !m_pDevice->ReadSectors(extension.pBuffer, extension.ullSector, ullSectors))
        memset(extension.pBuffer, 0, m_nLength);
    extension.bValid = IsValidFileRecord(extension.pBuffer, m_nLength) && BelongsHere(extension);
    if (extension.bValid)
        extension.bFixupsApplied = ApplyFixups(extension.pBuffer, m_nLength);
}

bool CNTFSFullFileRecord::BelongsHere(const EXTENSION& extension) const
{
    // An extension record names its base record; a base record of its own (a later file's),
    // or one naming another base, is not this file's.
    const uint8_t* pRecord = extension.pBuffer;
    if (!IsExtensionRecord(pRecord, m_nLength))
        return false;
    if (HasOwnRecordNumber(m_pRecord, m_nLength) &&
        static_cast<uint32_t>(GetBaseRecordNumber(pRecord, m_nLength)) != GetOwnRecordNumber(m_pRecord, m_nLength))
        return false;
    // A record that carries its number (its low 32 bits) is the one the list named.
    return !HasOwnRecordNumber(pRecord, m_nLength) ||
           GetOwnRecordNumber(pRecord, m_nLength) == static_cast<uint32_t>(extension.ullRecordNumber);
}

bool CNTFSFullFileRecord::FindAttribute(uint32_t nType, int nIndex, NTFS_FOUND_ATTRIBUTE* pFound)
{
    if (m_pRecord == nullptr || nIndex < 0 || pFound == nullptr)
        return false;
    const uint8_t* pAttr = ::FindAttribute(static_cast<const uint8_t*>(m_pRecord), m_nLength, nType, nIndex);
    const uint8_t* pRecord = m_pRecord;
    uint64_t ullSector = m_ullSector;
    if (pAttr == nullptr) {
        // The base record's own attributes of the type are counted off first.
        int nLeft = nIndex - CountFindable(m_pRecord, m_nLength, nType);
        for (EXTENSION& extension : m_Extensions) {
            if (extension.pBuffer == nullptr)
                ReadExtension(extension);
            if (!extension.bValid)
                continue;
            const int nHere = CountFindable(extension.pBuffer, m_nLength, nType);
            if (nLeft < nHere) {
                pAttr = ::FindAttribute(static_cast<const uint8_t*>(extension.pBuffer), m_nLength, nType, nLeft);
                pRecord = extension.pBuffer;
                ullSector = extension.ullSector;
                break;
            }
            nLeft -= nHere;
        }
    }
    if (pAttr == nullptr)
        return false;
    const size_t nOffset = static_cast<size_t>(pAttr - pRecord);
    pFound->pAttr = pAttr;
    pFound->nRoom = GetAttributeAreaEnd(pRecord, m_nLength) - nOffset;
    pFound->nOffset = static_cast<uint32_t>(nOffset);
    pFound->ullSector = ullSector;
    return true;
}
