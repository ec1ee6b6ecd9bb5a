#include "NTFSSystemFileImages.h"

#include <cstring>
#include <mutex>

#include "ByteOrder.h"

namespace {

const NTFS_UPCASE_RANGE kUpCaseRanges[] = {
#include "NTFSUpCaseRanges.inc"
};

struct ATTRDEF_ROW {
    const char* pszName;
    uint32_t nType;
    uint32_t nFlags;
    int64_t llMinimum;
    int64_t llMaximum;
};

// Display and collation rules are 0 in every row.
const ATTRDEF_ROW kAttrDefRows[] = {
    {"$STANDARD_INFORMATION", 0x10, 0x40, 48, 72},  {"$ATTRIBUTE_LIST", 0x20, 0x80, 0, -1},
    {"$FILE_NAME", 0x30, 0x42, 68, 578},            {"$OBJECT_ID", 0x40, 0x40, 0, 256},
    {"$SECURITY_DESCRIPTOR", 0x50, 0x80, 0, -1},     {"$VOLUME_NAME", 0x60, 0x40, 2, 256},
    {"$VOLUME_INFORMATION", 0x70, 0x40, 12, 12},     {"$DATA", 0x80, 0x00, 0, -1},
    {"$INDEX_ROOT", 0x90, 0x40, 0, -1},              {"$INDEX_ALLOCATION", 0xA0, 0x80, 0, -1},
    {"$BITMAP", 0xB0, 0x80, 0, -1},                  {"$REPARSE_POINT", 0xC0, 0x80, 0, 16384},
    {"$EA_INFORMATION", 0xD0, 0x40, 8, 8},           {"$EA", 0xE0, 0x00, 0, 65536},
    {"$LOGGED_UTILITY_STREAM", 0x100, 0x80, 0, 65536},
};

const size_t kAttrDefEntryBytes = 160;

uint8_t g_AttrDef[NTFS_ATTRDEF_IMAGE_BYTES];
uint8_t g_UpCase[NTFS_UPCASE_IMAGE_BYTES];
std::once_flag g_AttrDefOnce;
std::once_flag g_UpCaseOnce;

void BuildAttrDef()
{
    memset(g_AttrDef, 0, sizeof(g_AttrDef));
    size_t nOffset = 0;
    for (const ATTRDEF_ROW& row : kAttrDefRows) {
        uint8_t* p = g_AttrDef + nOffset;
        for (size_t i = 0; row.pszName[i] != 0; ++i)
            rvd::StoreLE16(p + 2 * i, static_cast<uint8_t>(row.pszName[i]));
        rvd::StoreLE32(p + 128, row.nType);
        rvd::StoreLE32(p + 140, row.nFlags);
        rvd::StoreLE64(p + 144, static_cast<uint64_t>(row.llMinimum));
        rvd::StoreLE64(p + 152, static_cast<uint64_t>(row.llMaximum));
        nOffset += kAttrDefEntryBytes;
    }
}

void BuildUpCase()
{
    for (size_t c = 0; c < NTFS_UPCASE_UNITS; ++c)
        rvd::StoreLE16(g_UpCase + 2 * c, static_cast<uint16_t>(c));
    for (const NTFS_UPCASE_RANGE& range : kUpCaseRanges)
        for (uint32_t c = range.nFirst; c <= range.nLast; c += range.nStep)
            rvd::StoreLE16(g_UpCase + 2 * c, static_cast<uint16_t>(static_cast<int32_t>(c) + range.nDelta));
}

} // namespace

const uint8_t* GetNTFSAttrDefImage()
{
    std::call_once(g_AttrDefOnce, BuildAttrDef);
    return g_AttrDef;
}

const uint8_t* GetNTFSUpCaseImage()
{
    std::call_once(g_UpCaseOnce, BuildUpCase);
    return g_UpCase;
}

const NTFS_UPCASE_RANGE* GetNTFSUpCaseRanges(size_t* pCount)
{
    if (pCount != nullptr)
        *pCount = sizeof(kUpCaseRanges) / sizeof(kUpCaseRanges[0]);
    return kUpCaseRanges;
}

uint16_t NTFSUpCaseUnit(uint16_t nUnit)
{
    return rvd::LoadLE16(GetNTFSUpCaseImage() + 2 * static_cast<size_t>(nUnit));
}
