// Hand-built compound files (the structured storage of Word and Excel 97-2003 documents), for
// the tests of the probe that tells Word from Excel. No Debian tool writes one, so the bytes are
// laid out here, the way the format describes them:
//
//   header (one sector: 512 bytes in version 3, 4096 in version 4, zero after byte 512)
//   sector 0 ..            the sector allocation table (FAT); each of its entries is the next
//                          sector of a chain, 0xFFFFFFFE at a chain's end, 0xFFFFFFFD for a FAT
//                          sector itself, 0xFFFFFFFC for a sector of the FAT's extra sector list
//   then                   the extra list sectors (only when the FAT needs more than the 109
//                          sectors the header can list)
//   then                   the directory: 128-byte entries, entry 0 the root storage; a storage's
//                          children hang from its child link as a tree of left/right links
//
// Streams are empty (no data sectors): the probe only opens the directory. Tests damage the
// bytes afterwards through the offsets this builder reports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rvdtest {

struct CompoundEntry {
    std::u16string strName;
    uint8_t nType;          // 1 storage, 2 stream, 5 root
    uint32_t dwLeft = 0xFFFFFFFF;
    uint32_t dwRight = 0xFFFFFFFF;
    uint32_t dwChild = 0xFFFFFFFF;
};

struct CompoundLayout {
    uint32_t dwSectorSize = 512;
    uint32_t dwFatSectors = 1;
    uint32_t dwFirstDirSector = 0;
    uint32_t dwDirSectors = 0;
    // Byte offset of sector n.
    size_t SectorOffset(uint32_t n) const { return (static_cast<size_t>(n) + 1) * dwSectorSize; }
    // Byte offset of FAT entry n (the FAT's sectors are the first ones).
    size_t FatEntryOffset(uint32_t n) const
    {
        const uint32_t dwPer = dwSectorSize / 4;
        return SectorOffset(n / dwPer) + 4 * (n % dwPer);
    }
    // Byte offset of directory entry n (the directory chain is laid out in order).
    size_t EntryOffset(uint32_t n) const
    {
        const uint32_t dwPer = dwSectorSize / 128;
        return SectorOffset(dwFirstDirSector + n / dwPer) + 128 * (n % dwPer);
    }
};

inline void PutLE16(std::vector<uint8_t>& v, size_t nOff, uint16_t w)
{
    v[nOff] = static_cast<uint8_t>(w);
    v[nOff + 1] = static_cast<uint8_t>(w >> 8);
}

inline void PutLE32(std::vector<uint8_t>& v, size_t nOff, uint32_t d)
{
    for (int i = 0; i < 4; ++i)
        v[nOff + i] = static_cast<uint8_t>(d >> (8 * i));
}

// The root's children as a chain of right links: entry 1 is the root's child, entry k links to
// k + 1. Version 3 (512-byte sectors) unless nVersion is 4; nMinFatSectors forces a bigger FAT
// (past 109 sectors it needs the extra sector list).
inline std::vector<uint8_t> BuildCompoundFile(std::vector<CompoundEntry> vecEntries, CompoundLayout* pLayout = nullptr,
                                              int nVersion = 3, uint32_t nMinFatSectors = 1)
{
    CompoundLayout layout;
    layout.dwSectorSize = nVersion == 4 ? 4096 : 512;
    const uint32_t dwSize = layout.dwSectorSize;
    const uint32_t dwPerDir = dwSize / 128;
    layout.dwDirSectors = static_cast<uint32_t>((vecEntries.size() + dwPerDir - 1) / dwPerDir);
    // FAT sectors cover every sector, themselves included; list sectors hold size/4 - 1 slots.
    uint32_t dwFat = nMinFatSectors, dwDifat = 0;
    for (;;) {
        dwDifat = dwFat > 109 ? (dwFat - 109 + dwSize / 4 - 2) / (dwSize / 4 - 1) : 0;
        const uint32_t dwTotal = dwFat + dwDifat + layout.dwDirSectors;
        if (dwTotal <= dwFat * (dwSize / 4))
            break;
        ++dwFat;
    }
    layout.dwFatSectors = dwFat;
    layout.dwFirstDirSector = dwFat + dwDifat;
    const uint32_t dwTotal = dwFat + dwDifat + layout.dwDirSectors;
    std::vector<uint8_t> v((static_cast<size_t>(dwTotal) + 1) * dwSize, 0);

    static const uint8_t kSig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::copy(kSig, kSig + 8, v.begin());
    PutLE16(v, 0x18, 0x3E);                         // minor version
    PutLE16(v, 0x1A, static_cast<uint16_t>(nVersion)); // major version
    PutLE16(v, 0x1C, 0xFFFE);                       // byte order mark
    PutLE16(v, 0x1E, nVersion == 4 ? 12 : 9);       // sector shift
    PutLE16(v, 0x20, 6);                            // mini sector shift
    PutLE32(v, 0x2C, dwFat);
    PutLE32(v, 0x30, layout.dwFirstDirSector);
    PutLE32(v, 0x38, 0x1000);                       // mini stream cut-off
    PutLE32(v, 0x3C, 0xFFFFFFFE);                   // no mini FAT
    PutLE32(v, 0x44, dwDifat ? dwFat : 0xFFFFFFFE);
    PutLE32(v, 0x48, dwDifat);
    for (uint32_t i = 0; i < 109; ++i)
        PutLE32(v, 0x4C + 4 * i, i < dwFat ? i : 0xFFFFFFFF);
    // Extra list sectors: the FAT sectors past the header's 109, then the link to the next.
    for (uint32_t d = 0; d < dwDifat; ++d) {
        const size_t nBase = layout.SectorOffset(dwFat + d);
        const uint32_t dwSlots = dwSize / 4 - 1;
        for (uint32_t i = 0; i < dwSlots; ++i) {
            const uint32_t dwFatIndex = 109 + d * dwSlots + i;
            PutLE32(v, nBase + 4 * i, dwFatIndex < dwFat ? dwFatIndex : 0xFFFFFFFF);
        }
        PutLE32(v, nBase + 4 * dwSlots, d + 1 < dwDifat ? dwFat + d + 1 : 0xFFFFFFFE);
    }
    // The FAT: every entry free, then the FAT and list sectors marked, the directory chained.
    for (uint32_t n = 0; n < dwFat * (dwSize / 4); ++n)
        PutLE32(v, layout.FatEntryOffset(n), 0xFFFFFFFF);
    for (uint32_t n = 0; n < dwFat; ++n)
        PutLE32(v, layout.FatEntryOffset(n), 0xFFFFFFFD);
    for (uint32_t n = 0; n < dwDifat; ++n)
        PutLE32(v, layout.FatEntryOffset(dwFat + n), 0xFFFFFFFC);
    for (uint32_t n = 0; n < layout.dwDirSectors; ++n) {
        const uint32_t dwSector = layout.dwFirstDirSector + n;
        PutLE32(v, layout.FatEntryOffset(dwSector), n + 1 < layout.dwDirSectors ? dwSector + 1 : 0xFFFFFFFE);
    }
    // The directory; unused slots of its last sector stay empty with no links.
    const uint32_t dwSlots = layout.dwDirSectors * dwPerDir;
    for (uint32_t n = 0; n < dwSlots; ++n) {
        const size_t e = layout.EntryOffset(n);
        CompoundEntry entry{u"", 0};
        if (n < vecEntries.size())
            entry = vecEntries[n];
        for (size_t i = 0; i < entry.strName.size() && i < 31; ++i)
            PutLE16(v, e + 2 * i, entry.strName[i]);
        if (entry.nType != 0)
            PutLE16(v, e + 0x40, static_cast<uint16_t>(2 * (std::min<size_t>(entry.strName.size(), 31) + 1)));
        v[e + 0x42] = entry.nType;
        v[e + 0x43] = 1; // black
        PutLE32(v, e + 0x44, entry.dwLeft);
        PutLE32(v, e + 0x48, entry.dwRight);
        PutLE32(v, e + 0x4C, entry.dwChild);
        PutLE32(v, e + 0x74, 0xFFFFFFFE); // no data
    }
    if (pLayout)
        *pLayout = layout;
    return v;
}

// A root holding the given streams (as its children, chained through right links).
inline std::vector<uint8_t> BuildCompoundWithStreams(const std::vector<std::u16string>& vecStreams,
                                                     CompoundLayout* pLayout = nullptr, int nVersion = 3)
{
    std::vector<CompoundEntry> vecEntries{{u"Root Entry", 5}};
    if (!vecStreams.empty())
        vecEntries[0].dwChild = 1;
    for (size_t i = 0; i < vecStreams.size(); ++i) {
        CompoundEntry entry{vecStreams[i], 2};
        if (i + 1 < vecStreams.size())
            entry.dwRight = static_cast<uint32_t>(i + 2);
        vecEntries.push_back(entry);
    }
    return BuildCompoundFile(vecEntries, pLayout, nVersion);
}

} // namespace rvdtest
