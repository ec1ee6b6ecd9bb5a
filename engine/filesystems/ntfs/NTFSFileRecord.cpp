#include "NTFSFileRecord.h"

#include "NTFSBytes.h"
#include "NTFSRunList.h"

using ntfsbytes::Put16;
using ntfsbytes::U16;
using ntfsbytes::U32;
using ntfsbytes::U48;
using ntfsbytes::U64;

namespace {

// Header offsets.
const size_t kUpdateSequenceOffset = 4;
const size_t kUpdateSequenceCount = 6;
const size_t kLogSequence = 8;
const size_t kFirstAttribute = 20;
const size_t kFlags = 22;
const size_t kBytesInUse = 24;
const size_t kBytesAllocated = 28;
const size_t kBaseRecord = 32;
const size_t kNumberGuard = 42;
const size_t kOwnNumber = 44;

const size_t kMaxUpdateSequenceCount = 16;
const size_t kMinUpdateSequenceOffset = 42;
const size_t kMaxUpdateSequenceOffset = 256;

// An attribute's type and length come first; a walk reads both before looking further.
const size_t kAttributeTypeAndLength = 8;
const size_t kMinAttributeRoom = 16;
const size_t kResidentHeaderBytes = 24;
const size_t kNonResidentHeaderBytes = 64;

// $FILE_NAME: the name starts at attribute offset 90 (value offset 24 + 66).
const size_t kFileNameNameLength = 88;
const size_t kFileNameNamespace = 89;
const size_t kFileNameName = 90;

bool HasHeader(const uint8_t* pRecord, size_t nLength)
{
    return pRecord != nullptr && nLength >= NTFS_FILE_RECORD_HEADER_BYTES;
}

// The attribute's field of nWidth bytes at nOffset lies inside its declared length.
bool Inside(const uint8_t* pAttr, size_t nOffset, size_t nWidth)
{
    return nOffset + nWidth <= GetAttributeLength(pAttr);
}

uint16_t AttrU16(const uint8_t* pAttr, size_t nOffset)
{
    return Inside(pAttr, nOffset, 2) ? U16(pAttr + nOffset) : 0;
}

uint32_t AttrU32(const uint8_t* pAttr, size_t nOffset)
{
    return Inside(pAttr, nOffset, 4) ? U32(pAttr + nOffset) : 0;
}

uint64_t AttrU64(const uint8_t* pAttr, size_t nOffset)
{
    return Inside(pAttr, nOffset, 8) ? U64(pAttr + nOffset) : 0;
}

uint8_t AttrU8(const uint8_t* pAttr, size_t nOffset)
{
    return Inside(pAttr, nOffset, 1) ? pAttr[nOffset] : 0;
}

// Calls fnVisit(attribute, room) for each attribute of the walk, until it returns false.
// bStopAtEnd: stop at the end marker. The room is what is left of the area after the
// attribute's start; an attribute whose length runs past it ends the walk unvisited.
template <class FVisit>
void WalkAttributes(const uint8_t* pRecord, size_t nLength, bool bStopAtEnd, FVisit fnVisit)
{
    const size_t nEnd = GetAttributeAreaEnd(pRecord, nLength);
    size_t nPos = GetFirstAttributeOffset(pRecord, nLength);
    while (nPos + kAttributeTypeAndLength <= nEnd) {
        const uint8_t* pAttr = pRecord + nPos;
        const uint32_t nType = U32(pAttr);
        const uint32_t nAttrLength = U32(pAttr + 4);
        if (bStopAtEnd && nType == NTFS_ATTR_END)
            return;
        if (nAttrLength > nEnd - nPos)
            return;
        if (!fnVisit(pAttr, nEnd - nPos))
            return;
        if (nAttrLength == 0)
            return;
        nPos += nAttrLength;
    }
}

// $FILE_NAME name spaces: 0 POSIX, 1 Win32, 2 DOS, 3 Win32 and DOS.
const uint8_t kNamespacePosix = 0;

// A POSIX name (what Linux's ntfs-3g writes) may hold every unit but NUL and '/'. The Win32
// and DOS name spaces also forbid " * : < > ? \ |, and a name breaking that rule marks a
// damaged record; the complete scan relies on it to tell FILE records of Windows volumes from
// look-alike bytes. A name space byte past 3 is itself damage and gets the strict rule.
bool IsFileNameUnitAllowed(uint16_t c, uint8_t byNamespace)
{
    if (byNamespace == kNamespacePosix)
        return c != '/';
    switch (c) {
    case '"':
    case '*':
    case '/':
    case ':':
    case '<':
    case '>':
    case '?':
    case '\\':
    case '|':
        return false;
    default:
        return true;
    }
}

} // namespace

bool IsFileRecordHeader(const uint8_t* pRecord, size_t nLength)
{
    if (!HasHeader(pRecord, nLength) || U32(pRecord) != NTFS_FILE_SIGNATURE)
        return false;
    const size_t nCount = U16(pRecord + kUpdateSequenceCount);
    const size_t nOffset = U16(pRecord + kUpdateSequenceOffset);
    if (nCount > kMaxUpdateSequenceCount)
        return false;
    if (nCount > 0 && nCount - 1 > nLength / NTFS_FIXUP_STRIDE)
        return false;
    if (nOffset < kMinUpdateSequenceOffset || nOffset > kMaxUpdateSequenceOffset)
        return false;
    // The array itself must lie inside the record (it can pass the end of a record under 512
    // bytes).
    return nOffset + 2 * nCount <= nLength;
}

bool VerifyFixups(const uint8_t* pRecord, size_t nLength)
{
    if (!IsFileRecordHeader(pRecord, nLength))
        return false;
    const size_t nCount = U16(pRecord + kUpdateSequenceCount);
    if (nCount < 2)
        return true;
    const uint8_t* pArray = pRecord + U16(pRecord + kUpdateSequenceOffset);
    const uint16_t wNumber = U16(pArray);
    for (size_t i = 0; i + 1 < nCount; ++i)
        if (U16(pRecord + i * NTFS_FIXUP_STRIDE + NTFS_FIXUP_STRIDE - 2) != wNumber)
            return false;
    return true;
}

bool ApplyFixups(uint8_t* pRecord, size_t nLength)
{
    return VerifyFixups(pRecord, nLength) && ApplyFixupsUnchecked(pRecord, nLength);
}

bool ApplyFixupsUnchecked(uint8_t* pRecord, size_t nLength)
{
    if (!IsFileRecordHeader(pRecord, nLength))
        return false;
    const size_t nCount = U16(pRecord + kUpdateSequenceCount);
    const uint8_t* pArray = pRecord + U16(pRecord + kUpdateSequenceOffset);
    for (size_t i = 0; i + 1 < nCount; ++i)
        Put16(pRecord + i * NTFS_FIXUP_STRIDE + NTFS_FIXUP_STRIDE - 2, U16(pArray + 2 * (i + 1)));
    return true;
}

void RestoreFixups(uint8_t* pRecord, size_t nLength)
{
    if (!IsFileRecordHeader(pRecord, nLength))
        return;
    const size_t nCount = U16(pRecord + kUpdateSequenceCount);
    uint8_t* pArray = pRecord + U16(pRecord + kUpdateSequenceOffset);
    const uint16_t wNumber = nCount > 0 ? U16(pArray) : 0;
    for (size_t i = 0; i + 1 < nCount; ++i) {
        uint8_t* pWord = pRecord + i * NTFS_FIXUP_STRIDE + NTFS_FIXUP_STRIDE - 2;
        Put16(pArray + 2 * (i + 1), U16(pWord));
        Put16(pWord, wNumber);
    }
}

bool IsValidFileRecord(uint8_t* pRecord, size_t nLength)
{
    if (!IsFileRecordHeader(pRecord, nLength))
        return false;
    const bool bApplied = ApplyFixups(pRecord, nLength);
    const bool bValid = ValidateAttributes(pRecord, nLength);
    if (bApplied)
        RestoreFixups(pRecord, nLength);
    return bValid;
}

size_t GetAttributeAreaEnd(const uint8_t* pRecord, size_t nLength)
{
    if (!HasHeader(pRecord, nLength))
        return 0;
    const size_t nInUse = U32(pRecord + kBytesInUse);
    return nInUse < nLength ? nInUse : nLength;
}

const uint8_t* FindAttribute(const uint8_t* pRecord, size_t nLength, uint32_t nType, int nIndex)
{
    const uint8_t* pFound = nullptr;
    if (nIndex < 0)
        return nullptr;
    WalkAttributes(pRecord, nLength, true, [&](const uint8_t* pAttr, size_t) {
        if (U32(pAttr) == nType && nIndex-- == 0) {
            pFound = pAttr;
            return false;
        }
        return true;
    });
    return pFound;
}

uint8_t* FindAttribute(uint8_t* pRecord, size_t nLength, uint32_t nType, int nIndex)
{
    return const_cast<uint8_t*>(FindAttribute(static_cast<const uint8_t*>(pRecord), nLength, nType, nIndex));
}

int CountAttributes(const uint8_t* pRecord, size_t nLength, uint32_t nType)
{
    int nCount = 0;
    WalkAttributes(pRecord, nLength, false, [&](const uint8_t* pAttr, size_t) {
        if (U32(pAttr) == nType)
            ++nCount;
        return true;
    });
    return nCount;
}

bool ValidateAttributes(const uint8_t* pRecord, size_t nLength)
{
    if (!HasHeader(pRecord, nLength))
        return false;
    const size_t nEnd = GetAttributeAreaEnd(pRecord, nLength);
    size_t nPos = GetFirstAttributeOffset(pRecord, nLength);
    while (nPos + kAttributeTypeAndLength <= nEnd) {
        const uint8_t* pAttr = pRecord + nPos;
        if (U32(pAttr) == NTFS_ATTR_END)
            return true;
        const uint32_t nAttrLength = U32(pAttr + 4);
        if (nAttrLength == 0)
            return true;
        const size_t nRoom = nEnd - nPos;
        if (!IsValidAttribute(pAttr, nRoom))
            return false;
        if (U32(pAttr) == NTFS_ATTR_FILE_NAME && !IsValidFileNameAttribute(pAttr, nRoom))
            return false;
        nPos += nAttrLength;
    }
    return true;
}

bool IsValidAttribute(const uint8_t* pAttr, size_t nRoom)
{
    if (pAttr == nullptr || nRoom < kMinAttributeRoom)
        return false;
    const size_t nLength = U32(pAttr + 4);
    if (nRoom < nLength)
        return false;
    if (pAttr[8] == 0) {
        if (nLength < kResidentHeaderBytes)
            return false;
        return static_cast<uint64_t>(U16(pAttr + 20)) + U32(pAttr + 16) <= nLength;
    }
    if (nLength < kNonResidentHeaderBytes)
        return false;
    const size_t nPairs = U16(pAttr + 32);
    if (nPairs > nLength)
        return false;
    if (U32(pAttr) == NTFS_ATTR_DATA && !CNTFSRunList::ValidateMappingPairs(pAttr + nPairs, nLength - nPairs))
        return false;
    return true;
}

bool IsValidFileNameAttribute(const uint8_t* pAttr, size_t nRoom)
{
    if (!IsValidAttribute(pAttr, nRoom) || U32(pAttr) != NTFS_ATTR_FILE_NAME)
        return false;
    const size_t nLength = U32(pAttr + 4);
    if (nLength < kFileNameName)
        return false;
    const size_t nUnits = pAttr[kFileNameNameLength];
    if (kFileNameName + 2 * nUnits > nLength)
        return false;
    const uint8_t byNamespace = pAttr[kFileNameNamespace];
    for (size_t i = 0; i < nUnits; ++i) {
        const uint16_t c = U16(pAttr + kFileNameName + 2 * i);
        if (c == 0)
            break;
        if (!IsFileNameUnitAllowed(c, byNamespace))
            return false;
    }
    return true;
}

uint16_t GetFirstAttributeOffset(const uint8_t* pRecord, size_t nLength)
{
    return HasHeader(pRecord, nLength) ? U16(pRecord + kFirstAttribute) : 0;
}

uint16_t GetRecordFlags(const uint8_t* pRecord, size_t nLength)
{
    return HasHeader(pRecord, nLength) ? U16(pRecord + kFlags) : 0;
}

bool IsRecordInUse(const uint8_t* pRecord, size_t nLength)
{
    return (GetRecordFlags(pRecord, nLength) & NTFS_RECORD_IN_USE) != 0;
}

bool IsRecordDirectory(const uint8_t* pRecord, size_t nLength)
{
    return (GetRecordFlags(pRecord, nLength) & NTFS_RECORD_DIRECTORY) != 0;
}

uint32_t GetBytesInUse(const uint8_t* pRecord, size_t nLength)
{
    return HasHeader(pRecord, nLength) ? U32(pRecord + kBytesInUse) : 0;
}

uint32_t GetBytesAllocated(const uint8_t* pRecord, size_t nLength)
{
    return HasHeader(pRecord, nLength) ? U32(pRecord + kBytesAllocated) : 0;
}

uint64_t GetLogSequenceNumber(const uint8_t* pRecord, size_t nLength)
{
    return HasHeader(pRecord, nLength) ? U64(pRecord + kLogSequence) : 0;
}

uint64_t GetBaseRecordNumber(const uint8_t* pRecord, size_t nLength)
{
    return HasHeader(pRecord, nLength) ? U48(pRecord + kBaseRecord) : 0;
}

bool IsExtensionRecord(const uint8_t* pRecord, size_t nLength)
{
    return HasHeader(pRecord, nLength) && U64(pRecord + kBaseRecord) != 0;
}

bool HasAttributeList(const uint8_t* pRecord, size_t nLength)
{
    return FindAttribute(pRecord, nLength, NTFS_ATTR_ATTRIBUTE_LIST, 0) != nullptr;
}

bool HasOwnRecordNumber(const uint8_t* pRecord, size_t nLength)
{
    return HasHeader(pRecord, nLength) && U16(pRecord + kUpdateSequenceOffset) >= NTFS_FILE_RECORD_HEADER_BYTES &&
           U16(pRecord + kNumberGuard) == 0;
}

uint32_t GetOwnRecordNumber(const uint8_t* pRecord, size_t nLength)
{
    return HasOwnRecordNumber(pRecord, nLength) ? U32(pRecord + kOwnNumber) : 0;
}

uint32_t GetAttributeType(const uint8_t* pAttr)
{
    return U32(pAttr);
}

uint32_t GetAttributeLength(const uint8_t* pAttr)
{
    return U32(pAttr + 4);
}

bool IsAttributeResident(const uint8_t* pAttr)
{
    return AttrU8(pAttr, 8) == 0;
}

bool IsAttributeNamed(const uint8_t* pAttr)
{
    return AttrU8(pAttr, 9) != 0;
}

uint16_t GetAttributeFlags(const uint8_t* pAttr)
{
    return AttrU16(pAttr, 12);
}

bool IsAttributeCompressed(const uint8_t* pAttr)
{
    return (GetAttributeFlags(pAttr) & NTFS_ATTR_FLAG_COMPRESSED) != 0;
}

bool IsAttributeEncrypted(const uint8_t* pAttr)
{
    return (GetAttributeFlags(pAttr) & NTFS_ATTR_FLAG_ENCRYPTED) != 0;
}

uint32_t GetResidentValueLength(const uint8_t* pAttr)
{
    return AttrU32(pAttr, 16);
}

uint16_t GetResidentValueOffset(const uint8_t* pAttr)
{
    return AttrU16(pAttr, 20);
}

const uint8_t* GetResidentValue(const uint8_t* pAttr, uint32_t* pLength)
{
    if (pLength != nullptr)
        *pLength = 0;
    if (!IsAttributeResident(pAttr) || !Inside(pAttr, 0, kResidentHeaderBytes))
        return nullptr;
    const uint32_t nValueLength = GetResidentValueLength(pAttr);
    const size_t nValueOffset = GetResidentValueOffset(pAttr);
    if (!Inside(pAttr, nValueOffset, nValueLength))
        return nullptr;
    if (pLength != nullptr)
        *pLength = nValueLength;
    return pAttr + nValueOffset;
}

uint64_t GetFirstVcn(const uint8_t* pAttr)
{
    return AttrU64(pAttr, 16);
}

uint64_t GetLastVcn(const uint8_t* pAttr)
{
    return AttrU64(pAttr, 24);
}

uint16_t GetMappingPairsOffset(const uint8_t* pAttr)
{
    return AttrU16(pAttr, 32);
}

uint16_t GetCompressionUnit(const uint8_t* pAttr)
{
    return AttrU16(pAttr, 34);
}

uint64_t GetAllocatedSize(const uint8_t* pAttr)
{
    return AttrU64(pAttr, 40);
}

uint64_t GetRealSize(const uint8_t* pAttr)
{
    return AttrU64(pAttr, 48);
}

uint64_t GetInitializedSize(const uint8_t* pAttr)
{
    return AttrU64(pAttr, 56);
}

const uint8_t* GetMappingPairs(const uint8_t* pAttr, size_t nRoom, size_t* pLength)
{
    if (pLength != nullptr)
        *pLength = 0;
    if (pAttr == nullptr || IsAttributeResident(pAttr) || !Inside(pAttr, 32, 2))
        return nullptr;
    size_t nEnd = GetAttributeLength(pAttr);
    if (nEnd > nRoom)
        nEnd = nRoom;
    const size_t nOffset = GetMappingPairsOffset(pAttr);
    if (nOffset > nEnd)
        return nullptr;
    if (pLength != nullptr)
        *pLength = nEnd - nOffset;
    return pAttr + nOffset;
}

uint64_t GetFileNameParent(const uint8_t* pAttr)
{
    return Inside(pAttr, 24, 6) ? U48(pAttr + 24) : 0;
}

uint64_t GetFileNameCreationTime(const uint8_t* pAttr)
{
    return AttrU64(pAttr, 32);
}

uint64_t GetFileNameModificationTime(const uint8_t* pAttr)
{
    return AttrU64(pAttr, 40);
}

uint64_t GetFileNameAccessTime(const uint8_t* pAttr)
{
    return AttrU64(pAttr, 56);
}

uint64_t GetFileNameRealSize(const uint8_t* pAttr)
{
    return AttrU64(pAttr, 72);
}

uint32_t GetFileNameFlags(const uint8_t* pAttr)
{
    return AttrU32(pAttr, 80);
}

uint8_t GetFileNameLength(const uint8_t* pAttr)
{
    return AttrU8(pAttr, kFileNameNameLength);
}

uint8_t GetFileNameNamespace(const uint8_t* pAttr)
{
    const uint8_t n = AttrU8(pAttr, kFileNameNamespace);
    return n > 4 ? 4 : n;
}

std::u16string GetFileNameText(const uint8_t* pAttr)
{
    std::u16string text;
    const size_t nUnits = GetFileNameLength(pAttr);
    for (size_t i = 0; i < nUnits && Inside(pAttr, kFileNameName + 2 * i, 2); ++i)
        text += static_cast<char16_t>(U16(pAttr + kFileNameName + 2 * i));
    return text;
}

bool FileNameEquals(const uint8_t* pAttr, const char16_t* pszName)
{
    if (pAttr == nullptr || pszName == nullptr)
        return false;
    return GetFileNameText(pAttr) == pszName;
}

bool HasStandardInformationTimes(const uint8_t* pAttr, size_t nRoom)
{
    if (pAttr == nullptr)
        return false;
    // The getters read offsets 24 to 59, whatever the value offset says.
    return static_cast<size_t>(GetResidentValueOffset(pAttr)) + 40 <= nRoom && Inside(pAttr, 24, 36) &&
           60 <= nRoom;
}

uint64_t GetStandardCreationTime(const uint8_t* pAttr)
{
    return AttrU64(pAttr, 24);
}

uint64_t GetStandardModificationTime(const uint8_t* pAttr)
{
    return AttrU64(pAttr, 32);
}

uint64_t GetStandardAccessTime(const uint8_t* pAttr)
{
    return AttrU64(pAttr, 48);
}

uint32_t GetStandardFileAttributes(const uint8_t* pAttr)
{
    return AttrU32(pAttr, 56);
}
