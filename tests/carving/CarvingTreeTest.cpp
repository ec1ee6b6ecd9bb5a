// The tree of carved files, the carved-file properties, the raw search controller's rules and
// the analyser registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "CarvingTestSupport.h"
#include "ClusterUseBitMap.h"
#include "Delvar.h"
#include "DataRunList.h"
#include "EngineSettings.h"
#include "FileNode.h"
#include "FileSystemNode.h"
#include "FileTypeId.h"
#include "GlobalAdvanceSettingData.h"
#include "ImageAnalysers.h"
#include "MemoryDataStream.h"
#include "RAWFileProperties.h"
#include "CarvingSectorFilter.h"
#include "RAWSearchController.h"
#include "RAWTreeBuilder.h"
#include "RawFileAnalyserList.h"
#include "RawFileInfo.h"
#include "SearchProgress.h"
#include "SearchStatistics.h"

namespace {

// An analyser of group 33 whose length rule gives a fixed length (or throws), joined to the
// process-wide list for one test.
class CFixedLengthAnalyser : public IRawFileAnalyser {
public:
    explicit CFixedLengthAnalyser(uint64_t ullLength, bool bThrow = false) : m_ullLength(ullLength), m_bThrow(bThrow)
    {
        m_nFileType = 33;
    }
    BOOL AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice*) override
    {
        ++m_nCalls;
        if (m_bThrow)
            throw std::runtime_error("damaged");
        pInfo->SetSize(m_ullLength);
        return TRUE;
    }
    BOOL AnalyzeFileHeader(const uint8_t*, CRawFileInfo*) override { return FALSE; }
    uint64_t m_ullLength;
    bool m_bThrow;
    int m_nCalls = 0;
};

class ListedAnalyser {
public:
    explicit ListedAnalyser(IRawFileAnalyser* p)
    {
        GetRawFileAnalyserList().DeleteAll();
        GetRawFileAnalyserList().push_back(p);
    }
    ~ListedAnalyser() { GetRawFileAnalyserList().DeleteAll(); }
};

CRawFileInfo* Record(CRawFileInfoContainer& c, uint64_t ullStart, int32_t nType, uint64_t ullSize, int32_t nGroup)
{
    CRawFileInfo* p = new CRawFileInfo();
    p->SetStartSector(ullStart);
    p->SetType(nType);
    p->SetSize(ullSize);
    p->SetGroup(nGroup);
    c.AddFile(p);
    return p;
}

std::string Name(CFileNode* p)
{
    return p->GetProperties()->GetName();
}

std::vector<CFileNode*> Children(CFileNode* p)
{
    std::vector<CFileNode*> v;
    for (CFileNode* c = p->GetFirstChild(); c != nullptr; c = c->GetNextSibling())
        v.push_back(c);
    return v;
}

class CUsedBelow : public IIsClusterUsed {
public:
    bool IsClusterUsed(uint64_t ullSector) override { return ullSector < 100; }
};

CCarvingMemoryDevice& EmptyDevice()
{
    static CCarvingMemoryDevice device(std::vector<uint8_t>(4096, 0));
    return device;
}

} // namespace

TEST(CarvingTree, SelectsMeasuresCapsAndLeavesOut)
{
    CCarvingSettings settings({33, 47}, 1000);
    CFixedLengthAnalyser* pAnalyser = new CFixedLengthAnalyser(5000);
    ListedAnalyser listed(pAnalyser);
    CRawFileInfoContainer c;
    Record(c, 10, 33, 700, 33);           // in a used cluster
    Record(c, 200, 60, 700, 60);          // type not selected
    Record(c, 300, 1000, 0, -1);          // user-defined, unmeasured
    CRawFileInfo* pMeasured = Record(c, 400, 33, 0, 33);  // measured 5000, capped at 1000
    Record(c, 500, 47, 4000, 47);         // header length: not cut
    Record(c, 600, 47, 0, 47);            // no analyser of group 47 in the list
    CUsedBelow used;
    SEARCH_PROGRESS progress = {};
    CANCEL_FLAG cancel(0);
    CRAWTreeBuilder builder;
    builder.SetProgress(&progress, &cancel);
    CFileSystemNode* pRoot = builder.BuildTree(&EmptyDevice(), c.GetIterator(), &used, 0);
    ASSERT_NE(pRoot, nullptr);
    EXPECT_EQ(progress.dwPercent, 100u);
    EXPECT_EQ(pRoot->GetProperties()->GetStatus(), RAW_FOLDER_STATUS);
    EXPECT_EQ(pRoot->GetProperties()->GetAttributes(), 0x10);
    std::vector<CFileNode*> folders = Children(pRoot);
    ASSERT_EQ(folders.size(), 2u);
    std::sort(folders.begin(), folders.end(), [](CFileNode* a, CFileNode* b) { return Name(a) < Name(b); });
    EXPECT_EQ(Name(folders[0]), "JPEG Graphics file");
    EXPECT_EQ(Name(folders[1]), "Portable Network Graphic file");
    ASSERT_EQ(Children(folders[0]).size(), 1u);
    CFileNode* pJpeg = Children(folders[0])[0];
    EXPECT_EQ(Name(pJpeg), "FILE001.JPG");
    EXPECT_EQ(pJpeg->GetProperties()->GetSize(), 1000u);
    EXPECT_EQ(pJpeg->GetProperties()->GetAttributes(), 0x20);
    EXPECT_EQ(pMeasured->GetSize(), 0u);  // the container's record stays unmeasured
    ASSERT_EQ(Children(folders[1]).size(), 1u);
    EXPECT_EQ(Children(folders[1])[0]->GetProperties()->GetSize(), 4000u);
    DeleteFileTree(pRoot);

    // A length rule that throws leaves the record out; with nothing left there is no root.
    CFixedLengthAnalyser* pThrowing = new CFixedLengthAnalyser(5000, true);
    ListedAnalyser listed2(pThrowing);
    CRawFileInfoContainer c2;
    Record(c2, 400, 33, 0, 33);
    CRAWTreeBuilder builder2;
    EXPECT_EQ(builder2.BuildTree(&EmptyDevice(), c2.GetIterator(), nullptr, 0), nullptr);
    EXPECT_EQ(pThrowing->m_nCalls, 1);
}

TEST(CarvingTree, SwitchedOffGivesNoTree)
{
    CCarvingSettings settings({33});
    GetEngineSettings()->m_bScanRaw = 0;
    CRawFileInfoContainer c;
    Record(c, 400, 33, 100, 33);
    CRAWTreeBuilder builder;
    EXPECT_EQ(builder.BuildTree(&EmptyDevice(), c.GetIterator(), nullptr, 0), nullptr);
}

TEST(CarvingTree, FoldersOfThreeHundred)
{
    CCarvingSettings settings({33});
    struct CASE {
        int nFiles;
        std::vector<std::string> subFolders;  // newest first; empty: files directly in the folder
    } cases[] = {
        {299, {}},
        {300, {"1-300"}},
        {301, {"301-301", "1-300"}},
        {450, {"301-450", "1-300"}},
        {600, {"301-600", "1-300"}},
        {601, {"601-601", "301-600", "1-300"}},
    };
    for (const CASE& k : cases) {
        SCOPED_TRACE(k.nFiles);
        CRawFileInfoContainer c;
        for (int i = 0; i < k.nFiles; ++i)
            Record(c, 1000 + i, 33, 512, 33);
        CRAWTreeBuilder builder;
        CFileSystemNode* pRoot = builder.BuildTree(&EmptyDevice(), c.GetIterator(), nullptr, 0);
        ASSERT_NE(pRoot, nullptr);
        ASSERT_EQ(Children(pRoot).size(), 1u);
        CFileNode* pType = Children(pRoot)[0];
        EXPECT_EQ(Name(pType), "JPEG Graphics file");
        std::vector<CFileNode*> children = Children(pType);
        if (k.subFolders.empty()) {
            ASSERT_EQ(children.size(), static_cast<size_t>(k.nFiles));
            EXPECT_EQ(Name(children.back()), "FILE001.JPG");
            EXPECT_EQ(Name(children.front()), "FILE299.JPG");
        } else {
            ASSERT_EQ(children.size(), k.subFolders.size());
            int nTotal = 0;
            for (size_t i = 0; i < children.size(); ++i) {
                EXPECT_EQ(Name(children[i]), k.subFolders[i]);
                std::vector<CFileNode*> files = Children(children[i]);
                const int nFirst = std::stoi(k.subFolders[i]);
                ASSERT_FALSE(files.empty());
                char szFirst[32];
                snprintf(szFirst, sizeof(szFirst), "FILE%03d.JPG", nFirst);
                EXPECT_EQ(Name(files.back()), szFirst);
                nTotal += static_cast<int>(files.size());
            }
            EXPECT_EQ(nTotal, k.nFiles);
        }
        DeleteFileTree(pRoot);
    }
}

TEST(CarvingProperties, RunsNamesAndStoredRecord)
{
    struct CASE {
        uint64_t ullSize;
        uint64_t ullSectors;
    } cases[] = {{1, 1}, {512, 1}, {513, 2}, {0, 0}};
    for (const CASE& k : cases) {
        CRawFileInfo info;
        info.SetStartSector(77);
        info.SetSize(k.ullSize);
        CRAWFileProperties* p = CRAWFileProperties::Create();
        p->SetRawFileInfo(&info);
        IDataRunList* pRuns = p->GetDataRunList();
        ASSERT_NE(pRuns, nullptr);
        DATA_RUN* pRun = pRuns->GetFirstRun();
        ASSERT_NE(pRun, nullptr);
        EXPECT_EQ(pRun->ullLength, k.ullSectors);
        if (k.ullSectors != 0) {
            EXPECT_EQ(pRun->ullStart, 77u);
        }
        delete pRuns;
        delete p;
    }

    CRAWFileProperties props;
    FILETIME t;
    t.qwTicks = 5;
    props.GetCreationTime(&t);
    EXPECT_EQ(t.qwTicks, 0u);
    EXPECT_EQ(props.GetValidPropertyMask(), 0x1C7);
    EXPECT_EQ(props.GetPropertiesKind(), 3);
    EXPECT_STREQ(props.GetName(), "");
    // Without a name or runs the record still saves, and loads back with an empty name.
    CMemoryDataStream empty;
    ASSERT_TRUE(props.Save(&empty));
    CRAWFileProperties emptyCopy;
    empty.Rewind();
    ASSERT_TRUE(emptyCopy.Load(&empty));
    EXPECT_STREQ(emptyCopy.GetName(), "");
    EXPECT_EQ(emptyCopy.GetDataRunList(), nullptr);

    props.SetFileName(std::string(300, 'a').c_str());
    EXPECT_EQ(props.GetNameLength(), 255);
    EXPECT_EQ(std::string(props.GetName()), std::string(254, 'a'));
    props.SetFileName("FILE001.JPG");
    props.SetAttributes(0x20);
    props.SetStatus(16);
    props.SetCheckState(2);
    props.SetFlag(1);
    CRawFileInfo info;
    info.SetStartSector(1234);
    info.SetSize(1025);
    props.SetRawFileInfo(&info);
    CMemoryDataStream stream;
    ASSERT_TRUE(props.Save(&stream));
    CRAWFileProperties copy;
    stream.Rewind();
    ASSERT_TRUE(copy.Load(&stream));
    EXPECT_STREQ(copy.GetName(), "FILE001.JPG");
    EXPECT_EQ(copy.GetNameLength(), 12);
    EXPECT_EQ(copy.GetSize(), 1025u);
    EXPECT_EQ(copy.GetAttributes(), 0x20);
    EXPECT_EQ(copy.GetStatus(), RAW_FOLDER_STATUS);
    EXPECT_EQ(copy.GetCheckState(), 0);
    EXPECT_EQ(copy.GetFlag(), 0);
    IDataRunList* pRuns = copy.GetDataRunList();
    ASSERT_NE(pRuns, nullptr);
    EXPECT_EQ(*pRuns->GetFirstRun(), DATA_RUN(1234, 3));
    delete pRuns;
}

namespace {

// A device of nSectors sectors with the given sectors filled by bytes.
std::vector<uint8_t> Disk(uint64_t nSectors, std::initializer_list<std::pair<uint64_t, std::vector<uint8_t>>> files)
{
    std::vector<uint8_t> bytes(nSectors * 512, 0x5A);  // non-zero filler that no analyser accepts
    for (const auto& f : files)
        std::copy(f.second.begin(), f.second.end(), bytes.begin() + f.first * 512);
    return bytes;
}

std::vector<uint8_t> Png()
{
    // Signature, IHDR (13 bytes), IDAT (10 bytes), IEND.
    std::vector<uint8_t> b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                              0, 0, 0, 4, 0, 0, 0, 4, 8, 2, 0, 0, 0, 1, 2, 3, 4};
    const uint8_t idat[] = {0, 0, 0, 10, 'I', 'D', 'A', 'T', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 1, 2, 3, 4};
    b.insert(b.end(), idat, idat + sizeof(idat));
    const uint8_t iend[] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    b.insert(b.end(), iend, iend + sizeof(iend));
    return b;
}

// A PNG whose IDAT holds nData bytes.
std::vector<uint8_t> BigPng(uint32_t nData)
{
    std::vector<uint8_t> b = Png();
    b.resize(33);
    const uint8_t idat[] = {static_cast<uint8_t>(nData >> 24), static_cast<uint8_t>(nData >> 16),
                            static_cast<uint8_t>(nData >> 8), static_cast<uint8_t>(nData), 'I', 'D', 'A', 'T'};
    b.insert(b.end(), idat, idat + sizeof(idat));
    b.insert(b.end(), nData + 4, 0x77);  // data and CRC
    const uint8_t iend[] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    b.insert(b.end(), iend, iend + sizeof(iend));
    return b;
}

std::vector<uint8_t> Wmf()
{
    std::vector<uint8_t> b(18 + 6, 0);
    b[0] = 1;
    b[2] = 9;
    b[6] = 12;  // 12 words = 24 bytes
    b[18] = 3;  // end-of-file record
    return b;
}

struct SCAN {
    CRawFileInfoContainer container;
    SEARCH_STATISTICS statistics = {};
};

void Scan(SCAN& scan, CCarvingMemoryDevice& device, int32_t nPerRead, const std::vector<std::pair<uint64_t, uint64_t>>& runs)
{
    CRAWSearchController controller;
    EXPECT_EQ(controller.GetControllerType(), 2);
    controller.SetRawFileInfoContainer(&scan.container);
    controller.SetStorageDevice(&device);
    controller.SetSectorsPerRead(nPerRead);
    controller.BeginSearch();
    for (const auto& r : runs)
        EXPECT_EQ(controller.SearchSectors(r.first, r.second, &scan.statistics), 1);
    controller.EndSearch();
}

std::vector<std::pair<uint64_t, uint64_t>> Runs(uint64_t ullFrom, uint64_t ullTo, uint64_t ullPerRun)
{
    std::vector<std::pair<uint64_t, uint64_t>> runs;
    for (uint64_t s = ullFrom; s < ullTo; s += ullPerRun)
        runs.push_back({s, std::min(ullPerRun, ullTo - s)});
    return runs;
}

} // namespace

TEST(CarvingController, HitsQueuesAndTheRing)
{
    CCarvingSettings settings({47, 66, 32, 18});
    std::vector<uint8_t> zeroLead = Png();
    zeroLead.insert(zeroLead.begin(), {0, 0, 0, 0});
    CCarvingMemoryDevice device(Disk(400, {{3, Png()}, {7, Wmf()}, {11, zeroLead}, {150, Png()}, {390, Png()}}));

    // 40 runs of 10 sectors: the ring (20 runs) fills, so the PNG at 3 and 150 are measured during the
    // scan; the one at 390 lies in the last 20 runs and keeps size 0.
    SCAN scan;
    Scan(scan, device, 10, Runs(0, 400, 10));
    ASSERT_EQ(scan.container.GetCount(), 4u);  // a sector starting with four zero bytes is no hit
    EXPECT_EQ(scan.statistics.FilesIdentified, 4u);
    EXPECT_EQ(scan.statistics.TotalFilesFound, 4u);
    CRawFileInfo* pPng = scan.container.FindByStartSector(3);
    ASSERT_NE(pPng, nullptr);
    // The ring ends 20 runs after the hit's run: a length this close to its end is left for the tree.
    EXPECT_EQ(pPng->GetSize(), 0u);
    EXPECT_EQ(scan.container.FindByStartSector(7)->GetSize(), 24u);
    EXPECT_EQ(scan.container.FindByStartSector(390)->GetSize(), 0u);
    EXPECT_EQ(scan.container.FindByStartSector(11), nullptr);

    // Runs of 4096 sectors each hold a ring of 80,000+ sectors: with a device of 400 sectors the
    // ring never fills and nothing is measured.
    SCAN big;
    Scan(big, device, 4096, Runs(0, 400, 4096));
    EXPECT_EQ(big.container.FindByStartSector(3)->GetSize(), 0u);
}

TEST(CarvingController, RingMeasuresSlicesAndRestartsOnAGap)
{
    CCarvingSettings settings({47});
    // With runs of 2,100 sectors the ring holds 42,000 sectors (over 20 MiB), far more than the
    // measuring margin: a small PNG in the first run is measured during the scan.
    const uint64_t ullSectors = 21 * 2100 + 50;
    // A PNG in a run's last sector and one of 3 MiB read on over two runs after its own get the
    // lengths the whole ring gives too.
    const std::vector<uint8_t> big = BigPng(3u << 20);
    CCarvingMemoryDevice device(Disk(ullSectors, {{5, Png()}, {2099, Png()}, {4000, big}, {30000, Png()}}));
    SCAN scan;
    Scan(scan, device, 2100, Runs(0, ullSectors, 2100));
    ASSERT_NE(scan.container.FindByStartSector(5), nullptr);
    EXPECT_EQ(scan.container.FindByStartSector(5)->GetSize(), Png().size());
    ASSERT_NE(scan.container.FindByStartSector(2099), nullptr);
    EXPECT_EQ(scan.container.FindByStartSector(2099)->GetSize(), Png().size());
    ASSERT_NE(scan.container.FindByStartSector(4000), nullptr);
    EXPECT_EQ(scan.container.FindByStartSector(4000)->GetSize(), big.size());
    // The scan ends before the ring would have measured the PNG at 30000: it is left for the tree.
    EXPECT_EQ(scan.container.FindByStartSector(30000)->GetSize(), 0u);

    // The same scan handed runs of twice the read size: each is searched in two slices.
    SCAN sliced;
    Scan(sliced, device, 2100, Runs(0, ullSectors, 4200));
    ASSERT_NE(sliced.container.FindByStartSector(30000), nullptr);
    EXPECT_EQ(sliced.container.FindByStartSector(5)->GetSize(), Png().size());

    // Runs that skip sectors restart the ring at the run after the gap: the hit before the gap is
    // never measured in a ring that no longer numbers its sectors.
    std::vector<std::pair<uint64_t, uint64_t>> gapped = Runs(0, 2100, 2100);
    for (const auto& r : Runs(4200, ullSectors, 2100))
        gapped.push_back(r);
    SCAN gap;
    Scan(gap, device, 2100, gapped);
    EXPECT_EQ(gap.container.FindByStartSector(5)->GetSize(), 0u);
}

TEST(CarvingController, EarlierAnalyserWinsAndEmptyListFindsNothing)
{
    CCarvingMemoryDevice device(Disk(40, {{3, Png()}}));
    {
        // The PNG analyser twice in the list: the first wins the sector, the second is not tried.
        CCarvingSettings settings({47, 47});
        SCAN scan;
        Scan(scan, device, 8, Runs(0, 40, 8));
        EXPECT_EQ(scan.container.GetCount(), 1u);
    }
    {
        CCarvingSettings settings({});
        SCAN scan;
        Scan(scan, device, 8, Runs(0, 40, 8));
        EXPECT_EQ(scan.container.GetCount(), 0u);
        EXPECT_TRUE(GetRawFileAnalyserList().empty());
    }
}

TEST(CarvingSectorFilter, LeadAndKeyBytesDecideWhichSectorsPass)
{
    // PNG starts with 0x89 "P", ZIP with "PK", PSP with "Pa"; TAR may start with anything but
    // holds "ustar" at 257; MOV "moov" or "mdat" at 4.
    CCarvingSettings settings({47, 68, 51, 59, 40});
    RebuildRawFileAnalyserList(GetRawFileAnalyserList(), &GetEngineSettings()->m_vecRawTypes);
    SetCarvingSectorTable(GetRawFileAnalyserList());
    std::vector<uint8_t> sector(512, 0x41);
    EXPECT_FALSE(MayStartCarvedFile(sector.data()));
    sector[0] = 0x89;
    EXPECT_FALSE(MayStartCarvedFile(sector.data()));
    sector[1] = 'P';
    EXPECT_TRUE(MayStartCarvedFile(sector.data()));
    sector[0] = 'P';
    EXPECT_FALSE(MayStartCarvedFile(sector.data()));
    for (uint8_t byKey : {'K', 'a'}) {
        sector[1] = byKey;
        EXPECT_TRUE(MayStartCarvedFile(sector.data()));
    }
    sector[0] = sector[1] = 0x41;
    sector[257] = 'u';
    EXPECT_TRUE(MayStartCarvedFile(sector.data()));
    sector[257] = 0x41;
    sector[4] = 'm';
    EXPECT_TRUE(MayStartCarvedFile(sector.data()));
    // Four zero bytes first: no analyser is tried, whatever follows.
    sector[0] = sector[1] = sector[2] = sector[3] = 0;
    EXPECT_FALSE(MayStartCarvedFile(sector.data()));

    // An analyser that may start with any byte and has no key byte (a user-defined type) lets
    // every sector through that does not start with four zero bytes.
    CCarvingSettings custom({47, 1000});
    RebuildRawFileAnalyserList(GetRawFileAnalyserList(), &GetEngineSettings()->m_vecRawTypes);
    SetCarvingSectorTable(GetRawFileAnalyserList());
    sector.assign(512, 0x41);
    EXPECT_TRUE(MayStartCarvedFile(sector.data()));
    sector[0] = sector[1] = sector[2] = sector[3] = 0;
    EXPECT_FALSE(MayStartCarvedFile(sector.data()));
}

TEST(CarvingRegistry, ListsFromTypeNumbers)
{
    struct CASE {
        std::vector<int32_t> types;
        std::vector<int32_t> groups;  // m_nFileType of each analyser in list order
    } cases[] = {
        {{}, {}},
        {{20, 26}, {}},
        {{21}, {44, 21}},
        {{31}, {31, 31}},
        {{3}, {44}},
        {{4, 8, 11, 63}, {55, 55, 55, 55}},
        {{18, 33, 5000}, {32, 33, -1}},
        {{69, 72}, {68, 37}},
    };
    for (const CASE& k : cases) {
        CRawFileAnalyserList list;
        RebuildRawFileAnalyserList(list, &k.types);
        RebuildRawFileAnalyserList(list, &k.types);  // a second rebuild replaces the first set
        std::vector<int32_t> groups;
        for (IRawFileAnalyser* p : list)
            groups.push_back(p->m_nFileType);
        EXPECT_EQ(groups, k.groups);
    }
    CRawFileAnalyserList all;
    AddAllRawFileAnalysers(all);
    EXPECT_EQ(all.size(), 48u);
    // The compound-document test of Word files stands before the general compound-file analyser.
    auto pos = [&all](int32_t nGroup) {
        return std::find_if(all.begin(), all.end(), [nGroup](IRawFileAnalyser* p) { return p->m_nFileType == nGroup; }) -
               all.begin();
    };
    EXPECT_LT(pos(21), pos(44));
}
