#include "FileRecordHolder.h"

#include <cstring>

#include "NTFSFileRecord.h"

namespace {

struct SYSTEM_FILE {
    uint32_t nRecordNumber;
    const char16_t* pszName;
};

const SYSTEM_FILE kSystemFiles[] = {
    {0, u"$MFT"},      {1, u"$MFTMirr"}, {2, u"$LogFile"}, {3, u"$Volume"}, {4, u"$AttrDef"},
    {5, u"."},         {6, u"$Bitmap"},  {7, u"$Boot"},    {8, u"$BadClus"}, {9, u"$Secure"},
    {10, u"$UpCase"},  {11, u"$Extend"}, {32, u"$Quota"},  {33, u"$ObjId"}, {34, u"$Reparse"},
};

bool HasSystemAndHiddenBits(const CFileRecordHolder& holder)
{
    const uint8_t* pInfo = holder.FindAttribute(NTFS_ATTR_STANDARD_INFORMATION, 0);
    if (pInfo == nullptr)
        return false;
    const uint32_t nBits = NTFS_FILE_ATTR_SYSTEM | NTFS_FILE_ATTR_HIDDEN;
    return (GetStandardFileAttributes(pInfo) & nBits) == nBits;
}

} // namespace

CFileRecordHolder::CFileRecordHolder(uint8_t* pRecord, size_t nLength, bool bCopy)
    : m_pRecord(nullptr), m_nLength(nLength), m_bOwnsCopy(false), m_bFixupsApplied(false)
{
    if (pRecord == nullptr)
        return;
    uint8_t* pHeld = pRecord;
    if (bCopy) {
        pHeld = reinterpret_cast<uint8_t*>(AllocBuffer(nLength));
        std::memcpy(pHeld, pRecord, nLength);
    }
    if (!IsValidFileRecord(pHeld, nLength)) {
        if (bCopy)
            FreeBuffer(pHeld);
        return;
    }
    m_pRecord = pHeld;
    m_bOwnsCopy = bCopy;
    m_bFixupsApplied = ApplyFixups(m_pRecord, m_nLength);
}

CFileRecordHolder::~CFileRecordHolder()
{
    if (m_pRecord == nullptr)
        return;
    if (m_bFixupsApplied)
        RestoreFixups(m_pRecord, m_nLength);
    if (m_bOwnsCopy)
        FreeBuffer(m_pRecord);
}

const uint8_t* CFileRecordHolder::FindAttribute(uint32_t nType, int nIndex) const
{
    return m_pRecord != nullptr ? ::FindAttribute(static_cast<const uint8_t*>(m_pRecord), m_nLength, nType, nIndex)
                                : nullptr;
}

int CFileRecordHolder::CountAttributes(uint32_t nType) const
{
    return m_pRecord != nullptr ? ::CountAttributes(m_pRecord, m_nLength, nType) : 0;
}

bool CFileRecordHolder::IsDirectory() const
{
    return m_pRecord != nullptr && IsRecordDirectory(m_pRecord, m_nLength);
}

bool CFileRecordHolder::IsInUse() const
{
    return m_pRecord != nullptr && IsRecordInUse(m_pRecord, m_nLength);
}

bool CFileRecordHolder::IsExtension() const
{
    return m_pRecord != nullptr && IsExtensionRecord(m_pRecord, m_nLength);
}

uint64_t CFileRecordHolder::GetLogSequenceNumber() const
{
    return m_pRecord != nullptr ? ::GetLogSequenceNumber(m_pRecord, m_nLength) : 0;
}

bool CFileRecordHolder::HasOwnRecordNumber() const
{
    return m_pRecord != nullptr && ::HasOwnRecordNumber(m_pRecord, m_nLength);
}

uint32_t CFileRecordHolder::GetOwnRecordNumber() const
{
    return m_pRecord != nullptr ? ::GetOwnRecordNumber(m_pRecord, m_nLength) : 0;
}

int GetSystemFileNumber(const CFileRecordHolder& holder)
{
    if (!holder.IsValid() || holder.IsExtension())
        return -1;
    const uint8_t* pName = holder.FindAttribute(NTFS_ATTR_FILE_NAME, 0);
    if (pName == nullptr)
        return -1;
    const std::u16string name = GetFileNameText(pName);
    for (const SYSTEM_FILE& file : kSystemFiles)
        if (name == file.pszName)
            return static_cast<int>(file.nRecordNumber);
    return -1;
}

bool IsProtectedSystemFile(const CFileRecordHolder& holder)
{
    return GetSystemFileNumber(holder) != -1 && HasSystemAndHiddenBits(holder);
}

bool IsNamedSystemFileRecord(const CFileRecordHolder& holder, const char16_t* pszName)
{
    if (!holder.IsValid() || !HasSystemAndHiddenBits(holder))
        return false;
    const uint8_t* pName = holder.FindAttribute(NTFS_ATTR_FILE_NAME, 0);
    return pName != nullptr && FileNameEquals(pName, pszName);
}

bool IsNamedSystemFileRecord(uint8_t* pRecord, size_t nLength, const char16_t* pszName)
{
    const CFileRecordHolder holder(pRecord, nLength, false);
    return IsNamedSystemFileRecord(holder, pszName);
}

bool IsVolumeFileRecord(const CFileRecordHolder& holder)
{
    return IsNamedSystemFileRecord(holder, u"$Volume");
}

bool IsVolumeFileRecord(uint8_t* pRecord, size_t nLength)
{
    return IsNamedSystemFileRecord(pRecord, nLength, u"$Volume");
}

bool IsMFTFileRecord(const CFileRecordHolder& holder)
{
    return IsNamedSystemFileRecord(holder, u"$MFT");
}

bool IsMFTFileRecord(uint8_t* pRecord, size_t nLength)
{
    return IsNamedSystemFileRecord(pRecord, nLength, u"$MFT");
}

bool IsMFTMirrFileRecord(const CFileRecordHolder& holder)
{
    return IsNamedSystemFileRecord(holder, u"$MFTMirr");
}

bool IsMFTMirrFileRecord(uint8_t* pRecord, size_t nLength)
{
    return IsNamedSystemFileRecord(pRecord, nLength, u"$MFTMirr");
}

bool IsLogFileFileRecord(const CFileRecordHolder& holder)
{
    return IsNamedSystemFileRecord(holder, u"$LogFile");
}

bool IsLogFileFileRecord(uint8_t* pRecord, size_t nLength)
{
    return IsNamedSystemFileRecord(pRecord, nLength, u"$LogFile");
}

bool IsAttrDefFileRecord(const CFileRecordHolder& holder)
{
    return IsNamedSystemFileRecord(holder, u"$AttrDef");
}

bool IsAttrDefFileRecord(uint8_t* pRecord, size_t nLength)
{
    return IsNamedSystemFileRecord(pRecord, nLength, u"$AttrDef");
}

bool IsUpCaseFileRecord(const CFileRecordHolder& holder)
{
    return IsNamedSystemFileRecord(holder, u"$UpCase");
}

bool IsUpCaseFileRecord(uint8_t* pRecord, size_t nLength)
{
    return IsNamedSystemFileRecord(pRecord, nLength, u"$UpCase");
}

bool IsBitmapFileRecord(const CFileRecordHolder& holder)
{
    return IsNamedSystemFileRecord(holder, u"$Bitmap");
}

bool IsFolderWithIndexAllocation(const CFileRecordHolder& holder)
{
    if (!holder.IsDirectory())
        return false;
    const uint8_t* pIndex = holder.FindAttribute(NTFS_ATTR_INDEX_ALLOCATION, 0);
    return pIndex != nullptr && !IsAttributeResident(pIndex);
}

bool IsFolderWithIndexAllocation(uint8_t* pRecord, size_t nLength)
{
    const CFileRecordHolder holder(pRecord, nLength, false);
    return IsFolderWithIndexAllocation(holder);
}
