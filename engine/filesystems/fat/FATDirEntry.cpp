#include "FATDirEntry.h"

#include <cstring>
#include <string_view>

#include "Charset.h"
#include "FATBytes.h"

using fatbytes::U16;
using fatbytes::U32;

namespace {

// Where the fields of a short entry lie. IsValid reads them here directly, not through the
// getters: it runs on most sectors of a scan, and these reads then cost no call each.
const size_t kCreationTime = 14;
const size_t kCreationDate = 16;
const size_t kAccessDate = 18;
const size_t kFirstClusterHigh = 20;
const size_t kModificationTime = 22;
const size_t kModificationDate = 24;
const size_t kFirstClusterLow = 26;
const size_t kFileSize = 28;

uint32_t FirstClusterOf(const uint8_t* pEntry)
{
    return (static_cast<uint32_t>(U16(pEntry + kFirstClusterHigh)) << 16) | U16(pEntry + kFirstClusterLow);
}

// The date and time tests combine their parts without a branch each: on sectors of other data
// (most sectors a scan looks at) the outcome of each part is a coin toss that a branch would
// mispredict.
bool IsValidDate(uint16_t wDate)
{
    const unsigned nDay = wDate & 0x1F;
    const unsigned nMonth = (wDate >> 5) & 0x0F;
    return (wDate == 0) | ((nMonth - 1u < 12u) & (nDay - 1u < 31u));
}

bool IsValidTime(uint16_t wTime)
{
    const unsigned nHalfSeconds = wTime & 0x1F;
    const unsigned nMinutes = (wTime >> 5) & 0x3F;
    const unsigned nHours = wTime >> 11;
    return (wTime == 0) | ((nHours < 24) & (nMinutes < 60) & (nHalfSeconds < 30));
}

constexpr bool IsShortNameByte(uint8_t c)
{
    if (c < 0x1A || c == 0xFF)
        return false;
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

struct SHORT_NAME_BYTES {
    uint8_t abyAllowed[256];
};

constexpr SHORT_NAME_BYTES MakeShortNameBytes()
{
    SHORT_NAME_BYTES table{};
    for (int c = 0; c < 256; ++c)
        table.abyAllowed[c] = IsShortNameByte(static_cast<uint8_t>(c)) ? 1 : 0;
    return table;
}

// 1 for each byte a short name may hold: the eleven bytes of a name are tested by table, their
// results combined without a branch each.
constexpr SHORT_NAME_BYTES kShortNameBytes = MakeShortNameBytes();

std::string_view TrimBlanks(const char* p, size_t n)
{
    while (n > 0 && p[n - 1] == ' ')
        --n;
    return std::string_view(p, n);
}

} // namespace

bool CFATDirEntry::AttachAndCheck(const uint8_t* pEntry)
{
    Attach(pEntry);
    return IsValid(false);
}

bool CFATDirEntry::IsAllZero() const
{
    for (size_t i = 0; i < FAT_DIR_ENTRY_BYTES; ++i)
        if (m_pEntry[i] != 0)
            return false;
    return true;
}

uint32_t CFATDirEntry::GetFirstCluster() const
{
    return FirstClusterOf(m_pEntry);
}

uint16_t CFATDirEntry::GetFirstClusterHigh() const
{
    return U16(m_pEntry + kFirstClusterHigh);
}

uint32_t CFATDirEntry::GetFileSize() const
{
    return U32(m_pEntry + kFileSize);
}

uint16_t CFATDirEntry::GetCreationTime() const
{
    return U16(m_pEntry + kCreationTime);
}

uint16_t CFATDirEntry::GetCreationDate() const
{
    return U16(m_pEntry + kCreationDate);
}

uint16_t CFATDirEntry::GetAccessDate() const
{
    return U16(m_pEntry + kAccessDate);
}

uint16_t CFATDirEntry::GetModificationTime() const
{
    return U16(m_pEntry + kModificationTime);
}

uint16_t CFATDirEntry::GetModificationDate() const
{
    return U16(m_pEntry + kModificationDate);
}

bool CFATDirEntry::MatchesName(const char* pBase8, const char* pExt3) const
{
    return std::memcmp(m_pEntry, pBase8, 8) == 0 && std::memcmp(m_pEntry + 8, pExt3, 3) == 0;
}

bool CFATDirEntry::IsDotEntry() const
{
    return MatchesName(".       ", "   ") && IsDirectory();
}

bool CFATDirEntry::IsDotDotEntry() const
{
    return MatchesName("..      ", "   ") && IsDirectory();
}

bool CFATDirEntry::IsValid(bool bStrict) const
{
    const uint8_t* e = m_pEntry;
    const uint8_t byAttributes = e[11];
    if (byAttributes == FAT_ATTR_LONG_NAME)
        return true;
    bool bValid = IsValidDate(U16(e + kCreationDate)) & IsValidDate(U16(e + kModificationDate)) &
                  IsValidDate(U16(e + kAccessDate)) & IsValidTime(U16(e + kCreationTime)) &
                  IsValidTime(U16(e + kModificationTime));
    if (bStrict) {
        const uint32_t nSize = U32(e + kFileSize);
        if ((byAttributes & FAT_ATTR_DIRECTORY) != 0)
            bValid &= (nSize == 0) | (U16(e + kFirstClusterHigh) == 0);
        else
            bValid &= (nSize == 0) == (FirstClusterOf(e) == 0);
    }
    if (!bValid)
        return false;
    if (byAttributes == FAT_ATTR_VOLUME_LABEL)
        return true;
    const uint8_t* t = kShortNameBytes.abyAllowed;
    return (e[0] != ' ') & ((t[e[0]] & t[e[1]] & t[e[2]] & t[e[3]] & t[e[4]] & t[e[5]] & t[e[6]] & t[e[7]] & t[e[8]] &
                             t[e[9]] & t[e[10]]) != 0);
}

namespace {

void AsciiToLower(std::string& str)
{
    for (char& ch : str) {
        if (ch >= 'A' && ch <= 'Z')
            ch = static_cast<char>(ch - 'A' + 'a');
    }
}

} // namespace

std::string CFATDirEntry::GetShortName(bool bWithoutDot) const
{
    char name[11];
    std::memcpy(name, m_pEntry, sizeof(name));
    if (static_cast<uint8_t>(name[0]) == FAT_DELETED_MARK)
        name[0] = '#';
    std::string strBytes;
    if (bWithoutDot) {
        // A label is one 11-byte text: a blank between its 8th and 9th character is kept.
        strBytes = TrimBlanks(name, 11);
    } else {
        // Windows and Linux store an all-lower-case 8.3 name ("readme.txt") without a long name,
        // as upper-case bytes plus two flags in byte 12: 0x08 the base, 0x10 the extension.
        const uint8_t byCase = m_pEntry[12];
        strBytes = TrimBlanks(name, 8);
        if (byCase & 0x08)
            AsciiToLower(strBytes);
        std::string ext(TrimBlanks(name + 8, 3));
        if (byCase & 0x10)
            AsciiToLower(ext);
        if (!ext.empty()) {
            strBytes += '.';
            strBytes += ext;
        }
    }
    return rvd::Utf16ToUtf8(rvd::Cp437ToUtf16(strBytes));
}

std::u16string CFATDirEntry::GetLongNameUnits() const
{
    static const size_t kUnitOffsets[FAT_LONG_NAME_UNITS_PER_ENTRY] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    std::u16string units;
    for (size_t nOffset : kUnitOffsets) {
        const char16_t c = static_cast<char16_t>(U16(m_pEntry + nOffset));
        if (c == 0)
            break;
        units += c;
    }
    return units;
}

bool CFATDirEntry::GetLongNamePart(std::string& strOut) const
{
    if (!IsLongNameEntry())
        return false;
    strOut = rvd::Utf16ToUtf8(GetLongNameUnits(), "_");
    return true;
}

bool IsValidLongName(const std::string& strName)
{
    return !strName.empty() && strName.find_first_of("?*|\\/:\"<>") == std::string::npos;
}

bool GetNameFromEntries(const uint8_t* pEntries, size_t nLength, std::string& strName, size_t* pShortEntryOffset)
{
    strName.clear();
    if (pEntries == nullptr)
        return false;
    const size_t nCount = nLength / FAT_DIR_ENTRY_BYTES;
    size_t nShort = nCount;
    for (size_t i = 0; i < nCount; ++i) {
        if (!CFATDirEntry(pEntries + i * FAT_DIR_ENTRY_BYTES).IsLongNameEntry()) {
            nShort = i;
            break;
        }
    }
    if (nShort == nCount)
        return false;

    // The parts are gathered as UTF-16 and converted once, so that a character whose surrogate
    // pair is split between two entries comes out whole.
    std::u16string units;
    size_t nFirst = nShort > FAT_MAX_LONG_NAME_ENTRIES ? nShort - FAT_MAX_LONG_NAME_ENTRIES : 0;
    const uint8_t* pShortBytes = pEntries + nShort * FAT_DIR_ENTRY_BYTES;
    if (nShort > 0 && pShortBytes[0] != FAT_DELETED_MARK) {
        // A live entry's long name is whole only when its parts count down to 1 just before the
        // 8.3 entry and the farthest carries the last-part flag (or the run reaches the longest
        // name). A run cut short (its first parts in a directory cluster nobody reads any more)
        // would give a fragment of the name: the 8.3 name is the true one then. Deleted entries
        // lost their sequence bytes to the delete mark and keep the old rule.
        size_t nStart = nShort;
        bool bWhole = false;
        for (size_t nPart = 1; nStart > nFirst; ++nPart) {
            const uint8_t* pPart = pEntries + (nStart - 1) * FAT_DIR_ENTRY_BYTES;
            if ((pPart[0] & 0x1F) != nPart)
                break;
            --nStart;
            if ((pPart[0] & 0x40) || nPart == FAT_MAX_LONG_NAME_ENTRIES) {
                bWhole = true;
                break;
            }
        }
        if (!bWhole)
            nStart = nShort;
        nFirst = nStart;
    }
    for (size_t i = nShort; i > nFirst; --i)
        units += CFATDirEntry(pEntries + (i - 1) * FAT_DIR_ENTRY_BYTES).GetLongNameUnits();

    const CFATDirEntry shortEntry(pEntries + nShort * FAT_DIR_ENTRY_BYTES);
    std::string strLong = rvd::Utf16ToUtf8(units, "_");
    if (!units.empty() && IsValidLongName(strLong))
        strName = std::move(strLong);
    else
        strName = shortEntry.GetShortName(false);
    if (pShortEntryOffset != nullptr)
        *pShortEntryOffset = nShort * FAT_DIR_ENTRY_BYTES;
    return true;
}
