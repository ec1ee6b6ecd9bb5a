#include "Ext2InlineData.h"

#include <cstring>

#include "Ext2Layout.h"

using namespace ext2;

namespace {

// Extra fields: their length (u16) right after the first 128 bytes.
constexpr size_t kExtraSize = 128;
constexpr uint32_t kAttributeMagic = 0xEA020000;
constexpr size_t kEntryHeaderBytes = 16;
constexpr size_t kEntryNameLength = 0;
constexpr size_t kEntryNameIndex = 1;
constexpr size_t kEntryValueOffset = 2;
constexpr size_t kEntryValueInode = 4;
constexpr size_t kEntryValueSize = 8;
// "system." names carry index 7; the inline data's is "data".
constexpr uint8_t kSystemIndex = 7;
const char kDataName[] = "data";
constexpr size_t kDataNameBytes = 4;

} // namespace

bool CExt2InlineData::Read(const uint8_t* pRecord, size_t nRecordBytes)
{
    m_nValueOffset = 0;
    m_nValueBytes = 0;
    if (pRecord == nullptr || nRecordBytes < kInodeBytes)
        return false;
    // The extra fields' length comes first; the attributes follow them, 4-byte aligned.
    if (nRecordBytes < kExtraSize + 2)
        return true;
    const size_t nExtra = GetLe16(pRecord + kExtraSize);
    if (nExtra % 4 != 0 || nExtra > nRecordBytes - kExtraSize || nRecordBytes - kExtraSize - nExtra < 4)
        return true;
    const size_t nHeader = kExtraSize + nExtra;
    if (GetLe32(pRecord + nHeader) != kAttributeMagic)
        return true;
    const size_t nFirst = nHeader + 4;
    for (size_t nEntry = nFirst; nEntry + 4 <= nRecordBytes && GetLe32(pRecord + nEntry) != 0;) {
        if (nRecordBytes - nEntry < kEntryHeaderBytes)
            break;
        const size_t nNameLength = pRecord[nEntry + kEntryNameLength];
        if (nNameLength > nRecordBytes - nEntry - kEntryHeaderBytes)
            break;
        if (pRecord[nEntry + kEntryNameIndex] == kSystemIndex && nNameLength == kDataNameBytes &&
            memcmp(pRecord + nEntry + kEntryHeaderBytes, kDataName, kDataNameBytes) == 0) {
            // A value kept in an inode of its own is not the inline data's; a value must lie
            // inside this record.
            const uint64_t nOffset = nFirst + static_cast<uint64_t>(GetLe16(pRecord + nEntry + kEntryValueOffset));
            const uint64_t nBytes = GetLe32(pRecord + nEntry + kEntryValueSize);
            if (GetLe32(pRecord + nEntry + kEntryValueInode) == 0 && nOffset <= nRecordBytes &&
                nBytes <= nRecordBytes - nOffset) {
                m_nValueOffset = static_cast<uint32_t>(nOffset);
                m_nValueBytes = static_cast<uint32_t>(nBytes);
            }
            break;
        }
        nEntry += (kEntryHeaderBytes + nNameLength + 3) & ~size_t(3);
    }
    return true;
}

bool CExt2InlineData::IsFastSymlink(const uint8_t* pRecord, size_t nRecordBytes)
{
    if (pRecord == nullptr || nRecordBytes < kInodeBytes)
        return false;
    return (GetLe16(pRecord + kInMode) & kModeTypeMask) == kModeSymlink &&
           GetLe32(pRecord + kInSize) < kFastSymlinkBytes && (GetLe32(pRecord + kInFlags) & kFlagInlineData) == 0;
}
