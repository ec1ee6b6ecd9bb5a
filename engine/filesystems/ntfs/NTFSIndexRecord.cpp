#include "NTFSIndexRecord.h"

#include "NTFSBytes.h"
#include "NTFSFileRecord.h"

using ntfsbytes::Put16;
using ntfsbytes::U16;
using ntfsbytes::U32;
using ntfsbytes::U48;
using ntfsbytes::U64;

namespace {

// INDX header offsets.
const size_t kUpdateSequenceOffset = 4;
const size_t kUpdateSequenceCount = 6;
const size_t kBlockVcn = 16;
const size_t kIndexHeader = 24;
const size_t kFirstEntry = 24;
const size_t kBytesInUse = 28;
const size_t kBytesAllocated = 32;
const size_t kIndexBlockHeaderBytes = 40;

const size_t kMaxUpdateSequenceCount = 16;
const size_t kMinUpdateSequenceOffset = 40;
const size_t kMaxUpdateSequenceOffset = 256;

// Index entry: the fixed header, then the key.
const size_t kEntryLength = 8;
const size_t kEntryFlags = 12;
const size_t kEntryHeaderBytes = 16;
// $FILE_NAME key fields read here.
const size_t kKeyAllocatedSize = 40;
const size_t kKeyRealSize = 48;
const size_t kKeyNameLength = 64;
// Bytes of a key the entry check reads (up to the real size).
const size_t kKeySizeFieldsBytes = 56;

// $INDEX_ROOT value: 16 bytes of root fields, then an index header (first entry, bytes in use).
const size_t kRootIndexHeader = 16;
const size_t kRootHeaderBytes = 32;

// RCRD page.
const size_t kRcrdUpdateSequenceOffset = 40;
const uint16_t kRcrdUpdateSequenceCount = 9;

uint16_t UpdateSequenceCount(const uint8_t* pBlock)
{
    return U16(pBlock + kUpdateSequenceCount);
}

uint16_t UpdateSequenceOffset(const uint8_t* pBlock)
{
    return U16(pBlock + kUpdateSequenceOffset);
}

// The end of the entry area, bounded by the block.
size_t EntryAreaEnd(const uint8_t* pBlock, size_t nSize)
{
    const uint64_t ullEnd = static_cast<uint64_t>(kIndexHeader) + U32(pBlock + kBytesInUse);
    return ullEnd < nSize ? static_cast<size_t>(ullEnd) : nSize;
}

// Entry check of a block whose fix-ups are applied. An entry shorter than its own fixed header
// ends the walk, a zero length included: stepping by it would never move on.
bool CheckIndexEntries(const uint8_t* pBlock, size_t nSize)
{
    const size_t nEnd = EntryAreaEnd(pBlock, nSize);
    const uint64_t ullFirst = static_cast<uint64_t>(kIndexHeader) + U32(pBlock + kFirstEntry);
    if (ullFirst >= nEnd)
        return true;
    size_t nPos = static_cast<size_t>(ullFirst);
    const size_t nFirst = nPos;
    while (nPos < nEnd) {
        if (nEnd - nPos < kEntryHeaderBytes)
            return true;
        const uint8_t* pEntry = pBlock + nPos;
        const size_t nLength = U16(pEntry + kEntryLength);
        const uint16_t wFlags = U16(pEntry + kEntryFlags);
        if (wFlags & NTFS_INDEX_ENTRY_LAST)
            return true;
        if (nLength < kEntryHeaderBytes)
            return true;
        if (wFlags != NTFS_INDEX_ENTRY_SUBNODE) {
            // The key fields must lie inside the entry and the area; so must the first
            // entry's parent reference that they are compared with.
            const size_t nEntryEnd = nLength < nEnd - nPos ? nPos + nLength : nEnd;
            if (nPos + kEntryHeaderBytes + kKeySizeFieldsBytes > nEntryEnd)
                return false;
            if (nFirst + kEntryHeaderBytes + 8 > nEnd)
                return false;
            const uint8_t* pKey = pEntry + kEntryHeaderBytes;
            if (U64(pKey + kKeyAllocatedSize) < U64(pKey + kKeyRealSize))
                return false;
            if (U64(pKey) != U64(pBlock + nFirst + kEntryHeaderBytes))
                return false;
        }
        nPos += nLength;
    }
    return true;
}

} // namespace

bool IsValidIndexBlock(const uint8_t* pBlock, size_t nSize)
{
    if (pBlock == nullptr || nSize < kIndexBlockHeaderBytes || U32(pBlock) != NTFS_INDX_SIGNATURE)
        return false;
    const uint32_t nAllocated = U32(pBlock + kBytesAllocated);
    const uint32_t nInUse = U32(pBlock + kBytesInUse);
    const size_t nCount = UpdateSequenceCount(pBlock);
    const size_t nOffset = UpdateSequenceOffset(pBlock);
    if (nSize < nAllocated || nAllocated < nInUse)
        return false;
    if (nCount > kMaxUpdateSequenceCount || nCount == 0 || nSize / NTFS_FIXUP_STRIDE < nCount - 1)
        return false;
    const uint16_t wExpected = static_cast<uint16_t>((static_cast<uint64_t>(nAllocated) + kIndexHeader) / 512);
    if (nCount != static_cast<size_t>(static_cast<uint16_t>(wExpected + 1)))
        return false;
    if (nOffset < kMinUpdateSequenceOffset || nOffset > kMaxUpdateSequenceOffset)
        return false;
    return nOffset + 2 * nCount <= nSize;
}

bool VerifyIndexBlockFixups(const uint8_t* pBlock, size_t nSize)
{
    if (!IsValidIndexBlock(pBlock, nSize))
        return false;
    const size_t nCount = UpdateSequenceCount(pBlock);
    const uint16_t wNumber = U16(pBlock + UpdateSequenceOffset(pBlock));
    for (size_t i = 0; i + 1 < nCount; ++i)
        if (U16(pBlock + i * NTFS_FIXUP_STRIDE + NTFS_FIXUP_STRIDE - 2) != wNumber)
            return false;
    return true;
}

bool ApplyIndexBlockFixups(uint8_t* pBlock, size_t nSize)
{
    if (!VerifyIndexBlockFixups(pBlock, nSize))
        return false;
    const size_t nCount = UpdateSequenceCount(pBlock);
    const uint8_t* pArray = pBlock + UpdateSequenceOffset(pBlock);
    for (size_t i = 0; i + 1 < nCount; ++i)
        Put16(pBlock + i * NTFS_FIXUP_STRIDE + NTFS_FIXUP_STRIDE - 2, U16(pArray + 2 * (i + 1)));
    return true;
}

void RestoreIndexBlockFixups(uint8_t* pBlock, size_t nSize)
{
    if (!IsValidIndexBlock(pBlock, nSize))
        return;
    const size_t nCount = UpdateSequenceCount(pBlock);
    uint8_t* pArray = pBlock + UpdateSequenceOffset(pBlock);
    const uint16_t wNumber = U16(pArray);
    for (size_t i = 0; i + 1 < nCount; ++i) {
        uint8_t* pWord = pBlock + i * NTFS_FIXUP_STRIDE + NTFS_FIXUP_STRIDE - 2;
        Put16(pArray + 2 * (i + 1), U16(pWord));
        Put16(pWord, wNumber);
    }
}

bool ValidateIndexBlock(uint8_t* pBlock, size_t nSize)
{
    if (!IsValidIndexBlock(pBlock, nSize) || !ApplyIndexBlockFixups(pBlock, nSize))
        return false;
    const bool bValid = CheckIndexEntries(pBlock, nSize);
    RestoreIndexBlockFixups(pBlock, nSize);
    return bValid;
}

uint64_t GetIndexBlockParent(const uint8_t* pBlock, size_t nSize)
{
    if (pBlock == nullptr || nSize < kIndexBlockHeaderBytes)
        return NTFS_NO_RECORD_NUMBER;
    const uint64_t ullKey = static_cast<uint64_t>(kIndexHeader) + U32(pBlock + kFirstEntry) + kEntryHeaderBytes;
    if (ullKey + 6 > nSize)
        return NTFS_NO_RECORD_NUMBER;
    return U48(pBlock + ullKey);
}

uint64_t GetIndexBlockVCN(const uint8_t* pBlock, size_t nSize)
{
    if (pBlock == nullptr || nSize < kBlockVcn + 8)
        return 0;
    return U64(pBlock + kBlockVcn);
}

bool IsRCRDPage(const uint8_t* pPage, size_t nSize)
{
    return pPage != nullptr && nSize >= 4 && U32(pPage) == NTFS_RCRD_SIGNATURE;
}

bool IsValidRCRDPage(const uint8_t* pPage, size_t nSize)
{
    if (!IsRCRDPage(pPage, nSize) || nSize < NTFS_RCRD_PAGE_BYTES)
        return false;
    if (U16(pPage + kUpdateSequenceOffset) != kRcrdUpdateSequenceOffset ||
        U16(pPage + kUpdateSequenceCount) != kRcrdUpdateSequenceCount)
        return false;
    const uint16_t wNumber = U16(pPage + kRcrdUpdateSequenceOffset);
    for (size_t i = 0; i < NTFS_RCRD_PAGE_BYTES / NTFS_FIXUP_STRIDE; ++i)
        if (U16(pPage + i * NTFS_FIXUP_STRIDE + NTFS_FIXUP_STRIDE - 2) != wNumber)
            return false;
    return true;
}

uint64_t GetFolderNumberFromIndexRoot(const uint8_t* pAttr, size_t nRoom)
{
    if (pAttr == nullptr || nRoom < 8 || GetAttributeLength(pAttr) > nRoom || !IsAttributeResident(pAttr))
        return NTFS_NO_RECORD_NUMBER;
    uint32_t nValueLength = 0;
    const uint8_t* pValue = GetResidentValue(pAttr, &nValueLength);
    if (pValue == nullptr || nValueLength < kRootHeaderBytes)
        return NTFS_NO_RECORD_NUMBER;
    const uint8_t* pHeader = pValue + kRootIndexHeader;
    const uint64_t ullFirst = U32(pHeader);
    const uint64_t ullInUse = U32(pHeader + 4);
    if (nValueLength < ullInUse + kRootIndexHeader || ullInUse < kEntryHeaderBytes)
        return NTFS_NO_RECORD_NUMBER;
    // Positions count from the index header; an entry is looked at only while a whole entry
    // header is left before the end of the entries in use.
    const uint64_t ullLimit = ullInUse - kEntryHeaderBytes;
    const uint64_t ullValueRoom = nValueLength - kRootIndexHeader;
    uint64_t ullParent = NTFS_NO_RECORD_NUMBER;
    bool bSeen = false;
    for (uint64_t ullPos = ullFirst; ullPos < ullLimit;) {
        const uint8_t* pEntry = pHeader + ullPos;
        const uint64_t ullLength = U16(pEntry + kEntryLength);
        const uint16_t wFlags = U16(pEntry + kEntryFlags);
        if (ullLength < kEntryHeaderBytes || wFlags == NTFS_INDEX_ENTRY_LAST)
            break;
        // The key's fields up to the name length must lie inside the entry and the value.
        const uint64_t ullEntryEnd = ullPos + ullLength < ullValueRoom ? ullPos + ullLength : ullValueRoom;
        if (ullPos + kEntryHeaderBytes + kKeyNameLength + 1 > ullEntryEnd)
            break;
        const uint8_t* pKey = pEntry + kEntryHeaderBytes;
        if (wFlags != NTFS_INDEX_ENTRY_SUBNODE &&
            (pKey[kKeyNameLength] == 0 || U64(pKey + kKeyAllocatedSize) < U64(pKey + kKeyRealSize)))
            break;
        const uint64_t ullEntryParent = U48(pKey);
        if (!bSeen) {
            ullParent = ullEntryParent;
            bSeen = true;
        } else if (ullEntryParent != ullParent) {
            return NTFS_NO_RECORD_NUMBER;
        }
        ullPos += ullLength;
    }
    return bSeen ? ullParent : NTFS_NO_RECORD_NUMBER;
}
