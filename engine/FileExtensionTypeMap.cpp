#include "FileExtensionTypeMap.h"

#include <cstring>
#include <map>
#include <type_traits>

#include "EngineMemory.h"

namespace {

// Entries of 6 bytes: up to 5 characters and a terminating zero, in type-number order.
const char kTypeExtensions[FILE_TYPE_BUILTIN_LAST + 1][6] = {
    "Raw",  "3DS", "3GP", "ADP", "ANI", "AI",   "ASF", "AU",  "AVI", "BMP",  "CAB", "CDR",  "CHM",
    "CLK",  "CMX", "CPT", "CRW", "CSL", "CUR",  "DBX", "DLL", "DOC", "DWG",  "DXF", "EMF",  "EPS",
    "EXE",  "FH11", "GIF", "GZ", "HLP", "HTM",  "ICO", "JPG", "LZH", "MAX",  "MDB", "MID",  "MNY",
    "MOF",  "MOV", "MP3", "MP4", "MPP", "OLE",  "ONE", "PDF", "PNG", "PPT",  "PUB", "PSD",  "PSP",
    "PST",  "QPW", "RAR", "RIFF", "RTF", "SHW", "SWF", "TAR", "TIF", "TTF",  "VSD", "WAV",  "WPD",
    "WPG",  "WMF", "XLS", "ZIP", "DOCX", "XLSX", "PPTX", "ACCDB"};

const size_t kKeyChars = 5;

// A key: its length and up to 5 UTF-16 units, zero-terminated.
struct ExtensionKey {
    uint8_t byLength;
    char16_t wsz[kKeyChars + 1];
};

char16_t FoldCase(char16_t c)
{
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

// Case-insensitive order of the characters, as the extension lookup ignores case.
struct ExtensionKeyLess {
    bool operator()(const ExtensionKey& a, const ExtensionKey& b) const
    {
        for (size_t i = 0; i <= kKeyChars; ++i) {
            const char16_t ca = FoldCase(a.wsz[i]);
            const char16_t cb = FoldCase(b.wsz[i]);
            if (ca != cb)
                return ca < cb;
            if (ca == 0)
                return false;
        }
        return false;
    }
};

typedef std::map<ExtensionKey, uint16_t, ExtensionKeyLess,
                 CEngineAllocator<std::pair<const ExtensionKey, uint16_t>>>
    CFileExtensionTypeMap;

// Filled on first use; lookups run on the scan thread only.
const CFileExtensionTypeMap& TypeMap()
{
    static const CFileExtensionTypeMap map = [] {
        CFileExtensionTypeMap m;
        for (uint16_t wId = 1; wId <= FILE_TYPE_BUILTIN_LAST; ++wId) {
            ExtensionKey key = {};
            for (size_t i = 0; i < kKeyChars && kTypeExtensions[wId][i] != 0; ++i) {
                key.wsz[i] = static_cast<unsigned char>(kTypeExtensions[wId][i]);
                key.byLength = static_cast<uint8_t>(i + 1);
            }
            m.emplace(key, wId);
        }
        return m;
    }();
    return map;
}

template <class TChar>
uint16_t LookupExtension(const TChar* pName, uint8_t byLength)
{
    if (pName == nullptr || byLength <= 2)
        return 0;
    size_t nDot = byLength;
    for (size_t i = byLength; i-- > 0;) {
        if (pName[i] == static_cast<TChar>('.')) {
            nDot = i;
            break;
        }
    }
    // No dot, or a dot that opens the name (".jpg" is a hidden name, not an extension).
    if (nDot == byLength || nDot == 0)
        return 0;
    const size_t nExtLength = byLength - nDot - 1;
    // At most 4 characters: a 5-character extension such as ACCDB is in the table but never
    // looked up, so it cannot be told from longer names cut short.
    if (nExtLength == 0 || nExtLength >= kKeyChars)
        return 0;
    ExtensionKey key = {};
    key.byLength = static_cast<uint8_t>(nExtLength);
    for (size_t i = 0; i < nExtLength; ++i) {
        const TChar c = pName[nDot + 1 + i];
        // A zero inside the counted name ends the extension there; such a key finds nothing.
        key.wsz[i] = static_cast<char16_t>(static_cast<typename std::make_unsigned<TChar>::type>(c));
    }
    const CFileExtensionTypeMap& map = TypeMap();
    const auto it = map.find(key);
    return it == map.end() ? 0 : it->second;
}

} // namespace

const char* GetBuiltinFileTypeExtension(uint16_t wTypeId)
{
    return wTypeId <= FILE_TYPE_BUILTIN_LAST ? kTypeExtensions[wTypeId] : nullptr;
}

uint16_t GetFileTypeIdFromName(const char* pszName, uint8_t byLength)
{
    return LookupExtension(pszName, byLength);
}

uint16_t GetFileTypeIdFromWideName(const char16_t* pwszName, uint8_t byLength)
{
    return LookupExtension(pwszName, byLength);
}
