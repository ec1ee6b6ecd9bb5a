// The compound-file probe that tells Word from Excel: the root's streams decide, by name in any
// case, in version 3 and 4 files and past the header's FAT slots; a damaged file (looping
// chains, sector numbers and links past its end, a cut directory, random changes) is no office
// document or a smaller one, and never hangs or reads outside the file.
#include <QBuffer>
#include <QString>

#include <functional>
#include <random>

#include <gtest/gtest.h>

#include "CompoundFile.h"
#include "CompoundFileBuilder.h"
#include "OfficeHandOff.h"
#include "TestSupport.h"

namespace {

using rvdtest::BuildCompoundFile;
using rvdtest::BuildCompoundWithStreams;
using rvdtest::CompoundEntry;
using rvdtest::CompoundLayout;
using rvdtest::PutLE32;

struct Probe {
    bool bOpen;
    bool bWord;
    bool bExcel;
};

Probe ProbeBytes(const std::vector<uint8_t>& vecBytes)
{
    static rvdtest::CTempDir dir;
    const std::string strPath = dir.File("probe.tmp");
    rvdtest::WriteFileBytes(strPath, vecBytes);
    CCompoundFile storage;
    const bool bOpen = storage.Open(QString::fromStdString(strPath));
    EXPECT_EQ(IsOfficeDocument(QString::fromStdString(strPath)),
              bOpen && (IsWordDocument(&storage) || IsExcelDocument(&storage)));
    return {bOpen, IsWordDocument(bOpen ? &storage : nullptr), IsExcelDocument(bOpen ? &storage : nullptr)};
}

TEST(CompoundProbe, RootStreamsTellWordFromExcel)
{
    const struct {
        const char* pszCase;
        std::vector<std::u16string> vecStreams;
        int nVersion;
        bool bWord, bExcel;
    } cases[] = {
        {"Word", {u"\x01" u"CompObj", u"WordDocument", u"1Table"}, 3, true, false},
        {"Excel, Book only", {u"Book"}, 3, false, true},
        {"Excel, WorkBook only", {u"\x05SummaryInformation", u"WorkBook"}, 3, false, true},
        {"names compare in any case", {u"WORKBOOK", u"worddocument"}, 3, true, true},
        {"version 4 sectors", {u"WordDocument"}, 4, true, false},
        {"other streams only", {u"PowerPoint Document", u"Books"}, 3, false, false},
        {"no streams", {}, 3, false, false},
        // Five entries need two directory sectors: the Word stream lies in the second.
        {"directory over two sectors", {u"a", u"b", u"c", u"WordDocument"}, 3, true, false},
    };
    for (const auto& c : cases) {
        const Probe probe = ProbeBytes(BuildCompoundWithStreams(c.vecStreams, nullptr, c.nVersion));
        EXPECT_TRUE(probe.bOpen) << c.pszCase;
        EXPECT_EQ(probe.bWord, c.bWord) << c.pszCase;
        EXPECT_EQ(probe.bExcel, c.bExcel) << c.pszCase;
    }
}

TEST(CompoundProbe, OnlyStreamsOfTheRootCount)
{
    // "WordDocument" as a storage, and as a stream inside a sub-storage, is no Word document.
    std::vector<CompoundEntry> vecEntries{{u"Root Entry", 5}, {u"WordDocument", 1}, {u"ObjectPool", 1},
                                          {u"WordDocument", 2}, {u"Book", 2}};
    vecEntries[0].dwChild = 1;
    vecEntries[1].dwRight = 2;
    vecEntries[2].dwChild = 3;
    vecEntries[3].dwRight = 4;
    const Probe probe = ProbeBytes(BuildCompoundFile(vecEntries));
    EXPECT_TRUE(probe.bOpen);
    EXPECT_FALSE(probe.bWord);
    EXPECT_FALSE(probe.bExcel);
}

TEST(CompoundProbe, FatPastTheHeaderSlotsIsRead)
{
    // 110 FAT sectors: the header lists 109, the extra list sector the last one. The directory
    // lies behind them, so its chain is found only through the last FAT sector's entries.
    CompoundLayout layout;
    std::vector<uint8_t> bytes =
        BuildCompoundFile({{u"Root Entry", 5, 0xFFFFFFFF, 0xFFFFFFFF, 1}, {u"WordDocument", 2}}, &layout, 3, 110);
    ASSERT_EQ(layout.dwFatSectors, 110u);
    EXPECT_TRUE(ProbeBytes(bytes).bWord);
    // The header says there is no extra list sector: the FAT cannot be read.
    PutLE32(bytes, 0x48, 0);
    EXPECT_FALSE(ProbeBytes(bytes).bOpen);
    // The list links to itself and claims many sectors: the walk still ends.
    PutLE32(bytes, 0x48, 1000);
    PutLE32(bytes, layout.SectorOffset(110) + 4 * 127, 110);
    PutLE32(bytes, layout.SectorOffset(110), 0xFFFFFFFF);
    EXPECT_FALSE(ProbeBytes(bytes).bOpen);
}

TEST(CompoundProbe, DamagedFilesAreNoOfficeDocuments)
{
    CompoundLayout layout;
    const std::vector<uint8_t> good = BuildCompoundWithStreams({u"x", u"y", u"z", u"WordDocument"}, &layout);
    ASSERT_TRUE(ProbeBytes(good).bWord);
    ASSERT_EQ(layout.dwDirSectors, 2u);
    const uint32_t dwDir = layout.dwFirstDirSector;

    struct Damage {
        const char* pszCase;
        std::function<void(std::vector<uint8_t>&)> damage;
        bool bOpen; // the storage still opens (a damaged tree only hides streams)
    };
    const Damage cases[] = {
        {"plain text", [](std::vector<uint8_t>& v) { std::fill(v.begin(), v.end(), 'a'); }, false},
        {"header only", [](std::vector<uint8_t>& v) { v.resize(512); }, false},
        {"cut inside the second directory sector", [&](std::vector<uint8_t>& v) { v.resize(layout.SectorOffset(dwDir + 1) + 100); }, false},
        {"sector size of version 4 in a version 3 header", [](std::vector<uint8_t>& v) { rvdtest::PutLE16(v, 0x1E, 12); }, false},
        {"wrong byte order mark", [](std::vector<uint8_t>& v) { rvdtest::PutLE16(v, 0x1C, 0xFEFF); }, false},
        {"more FAT sectors than the file holds", [](std::vector<uint8_t>& v) { PutLE32(v, 0x2C, 0x40000000); }, false},
        {"FAT sector past the end", [](std::vector<uint8_t>& v) { PutLE32(v, 0x4C, 0x00FFFFFF); }, false},
        {"directory starts past the end", [](std::vector<uint8_t>& v) { PutLE32(v, 0x30, 5000); }, false},
        {"directory starts at a special number", [](std::vector<uint8_t>& v) { PutLE32(v, 0x30, 0xFFFFFFFC); }, false},
        {"directory chain loops", [&](std::vector<uint8_t>& v) { PutLE32(v, layout.FatEntryOffset(dwDir + 1), dwDir); }, false},
        {"directory chain runs past the FAT", [&](std::vector<uint8_t>& v) { PutLE32(v, layout.FatEntryOffset(dwDir), 0x7FFFFFFF); }, false},
        {"first entry is no root", [&](std::vector<uint8_t>& v) { v[layout.EntryOffset(0) + 0x42] = 1; }, false},
        {"root child past the entries", [&](std::vector<uint8_t>& v) { PutLE32(v, layout.EntryOffset(0) + 0x4C, 0x10000); }, true},
        {"sibling links back to the first child", [&](std::vector<uint8_t>& v) { PutLE32(v, layout.EntryOffset(2) + 0x48, 1); }, true},
        {"name length past the name field", [&](std::vector<uint8_t>& v) { rvdtest::PutLE16(v, layout.EntryOffset(4) + 0x40, 0x200); }, true},
    };
    for (const Damage& c : cases) {
        std::vector<uint8_t> bytes = good;
        c.damage(bytes);
        const Probe probe = ProbeBytes(bytes);
        EXPECT_EQ(probe.bOpen, c.bOpen) << c.pszCase;
        EXPECT_FALSE(probe.bWord) << c.pszCase;
        EXPECT_FALSE(probe.bExcel) << c.pszCase;
    }
}

TEST(CompoundProbe, NamesOfDocuments)
{
    const struct {
        const char* pszName;
        const char* pszExt;
        bool bPdf;
    } cases[] = {
        {"report.pdf", ".pdf", true},   {"REPORT.PDF", ".PDF", true}, {".pdf", ".pdf", false},
        {"a.pdf", ".pdf", true},        {"pdf", "", false},           {"old.tar.gz", ".gz", false},
        {"dir.x/noext", "", false},     {"dir.x\\noext", "", false},  {"sheet.XLSX", ".XLSX", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DisplayNameExtension(c.pszName), QString(c.pszExt)) << c.pszName;
        EXPECT_EQ(IsPdfDisplayName(c.pszName), c.bPdf) << c.pszName;
    }
}

TEST(CompoundProbe, RandomDamageEndsWithinTheFile)
{
    // Bytes of a good file changed at random in the header, the FAT and the directory, with
    // numbers that point past the end or back into the file; every open ends and answers.
    // Run under the sanitizer build, a read outside the file or a runaway walk shows here.
    CompoundLayout layout;
    const std::vector<uint8_t> good =
        BuildCompoundFile({{u"Root Entry", 5, 0xFFFFFFFF, 0xFFFFFFFF, 1}, {u"a", 2, 0xFFFFFFFF, 2}, {u"Book", 2, 3, 4},
                           {u"WordDocument", 2}, {u"s", 1, 0xFFFFFFFF, 0xFFFFFFFF, 5}, {u"t", 2}},
                          &layout, 3, 2);
    const uint32_t kInteresting[] = {0, 1, 2, 3, 5, 0x7F, 0xFFFFFFFA, 0xFFFFFFFB, 0xFFFFFFFC, 0xFFFFFFFD, 0xFFFFFFFE, 0xFFFFFFFF};
    std::mt19937 rand(20261211);
    int nOpened = 0;
    for (int nRun = 0; nRun < 3000; ++nRun) {
        std::vector<uint8_t> bytes = good;
        const int nChanges = 1 + static_cast<int>(rand() % 4);
        for (int i = 0; i < nChanges; ++i) {
            const size_t nOff = (rand() % (bytes.size() / 4)) * 4;
            if (rand() % 2)
                PutLE32(bytes, nOff, kInteresting[rand() % (sizeof(kInteresting) / sizeof(kInteresting[0]))]);
            else
                bytes[nOff + rand() % 4] = static_cast<uint8_t>(rand());
        }
        if (rand() % 8 == 0)
            bytes.resize(rand() % bytes.size());
        QByteArray data(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()));
        QBuffer buffer(&data);
        buffer.open(QIODevice::ReadOnly);
        CCompoundFile storage;
        if (storage.Open(&buffer)) {
            ++nOpened;
            IsWordDocument(&storage);
            IsExcelDocument(&storage);
        }
    }
    EXPECT_GT(nOpened, 0) << "most changes leave a file that still opens";
}

} // namespace
