// The quick build of the NTFS fixtures (mkntfs + libntfs-3g; clusters of 512 bytes, 4 KiB and
// 64 KiB; hostile names; the NTFS partitions of the MBR and GPT disks), checked against their
// manifests: every folder and every deleted file at its path, no live file, and each
// recoverable deleted file's bytes read back through its runs with the original SHA-256.
#include <gtest/gtest.h>

#include <set>

#include "Delvar.h"
#include "NTFSReaderTestSupport.h"
#include "ProgressRecord.h"
#include "ntfs/MFTFileRecordSet.h"
#include "ntfs/NTFSDirectoryTreeAssembler.h"
#include "ntfs/NTFSFileProperties.h"
#include "ntfs/NTFSFileRecordItem.h"
#include "ntfs/NTFSTreeBuilder.h"

using namespace ntfstest;

namespace {

struct CTreeDeleter {
    void operator()(CFileSystemNode* pRoot) const { DeleteFileTree(pRoot); }
};
typedef std::unique_ptr<CFileSystemNode, CTreeDeleter> CTree;

CTree Build(IStorageDevice& device, uint64_t ullStart, SEARCH_PROGRESS* pProgress = nullptr,
            CANCEL_FLAG* pCancel = nullptr)
{
    CNTFSTreeBuilder builder;
    builder.SetProgress(pProgress, pCancel);
    return CTree(builder.BuildTree(ullStart, &device, 0));
}

// The tree lists exactly what a quick scan of the manifest must list, with the right kinds,
// states and sizes, and every recoverable deleted file gives back its bytes.
void ExpectMatchesManifest(const NTFS_FIXTURE& fixture, fstest::CImageDevice& device, uint64_t ullStart,
                           CFileSystemNode* pRoot)
{
    const NTFS_GEOMETRY geometry = ReadGeometry(device, ullStart);
    const std::map<std::string, CFileNode*> nodes = FlattenTree(pRoot);
    std::set<std::string> expected;
    for (const rvdtest::ManifestEntry& entry : rvdtest::ReadManifest(fixture.pszImage, fixture.nPartition)) {
        const std::vector<std::string> names = QuickScanPath(entry);
        if (names.empty())
            continue;
        const std::string strPath = JoinPath(names);
        expected.insert(strPath);
        for (size_t i = 1; i < names.size(); ++i)
            expected.insert(JoinPath(std::vector<std::string>(names.begin(), names.begin() + i)));
        auto it = nodes.find(strPath);
        if (it == nodes.end()) {
            ADD_FAILURE() << FixtureName(fixture) << ": missing " << strPath;
            continue;
        }
        IFileProperties* pProps = it->second->GetProperties();
        EXPECT_EQ(entry.bDirectory, (pProps->GetAttributes() & FILE_ATTR_DIRECTORY) != 0) << strPath;
        EXPECT_EQ(entry.bDeleted ? 1 : 0, pProps->GetStatus()) << strPath;
        EXPECT_EQ(PROPERTIES_KIND_NTFS, pProps->GetPropertiesKind());
        if (entry.bDirectory)
            continue;
        // A deleted file that lost some of its runs is cut to the clusters left.
        if (entry.bDeleted && !entry.bRecoverable)
            EXPECT_LE(pProps->GetSize(), entry.nSize) << strPath;
        else
            EXPECT_EQ(entry.nSize, pProps->GetSize()) << strPath;
        if (entry.bRecoverable) {
            const std::vector<uint8_t> data =
                ReadThroughRuns(device, ullStart, geometry.nSectorsPerCluster, geometry.nRecordBytes, pProps);
            EXPECT_EQ(entry.strSha256, rvdtest::Sha256Hex(data)) << FixtureName(fixture) << ": " << strPath;
        }
    }
    for (const auto& node : nodes)
        EXPECT_TRUE(expected.count(node.first)) << FixtureName(fixture) << ": unexpected " << node.first;
}

// An image seen at a sector offset of a larger disk whose medium reports 4 KiB sectors (the
// engine still addresses it in 512-byte units).
class COffsetDevice : public IStorageDevice {
public:
    COffsetDevice(IStorageDevice& inner, uint64_t ullOffset) : m_Inner(inner), m_ullOffset(ullOffset) {}
    int ReadSectors(void* pBuffer, uint64_t ullStart, uint64_t ullCount) override
    {
        if (ullStart < m_ullOffset) {
            memset(pBuffer, 0, ullCount * 512);
            return 0;
        }
        return m_Inner.ReadSectors(pBuffer, ullStart - m_ullOffset, ullCount);
    }
    uint64_t GetTotalSectors() override { return m_ullOffset + m_Inner.GetTotalSectors(); }
    int GetSectorSize() override { return 4096; }
    int Open() override { return 1; }
    int Close() override { return 1; }

private:
    IStorageDevice& m_Inner;
    uint64_t m_ullOffset;
};

} // namespace

TEST(NTFSReaderTree, QuickBuildListsFoldersAndDeletedFilesOfEveryFixture)
{
    for (const NTFS_FIXTURE& fixture : AllFixtures()) {
        SCOPED_TRACE(FixtureName(fixture));
        uint64_t ullStart = 0, ullCount = 0;
        VolumeExtent(fixture, &ullStart, &ullCount);
        fstest::CImageDevice device(rvdtest::FixturePath(fixture.pszImage));
        CTree tree = Build(device, ullStart);
        ASSERT_NE(nullptr, tree);
        EXPECT_STREQ("1 NTFS", tree->GetProperties()->GetName());
        EXPECT_EQ(FILE_ATTR_DIRECTORY, tree->GetProperties()->GetAttributes());
        EXPECT_EQ(FILE_SYSTEM_NTFS, tree->GetFileSystemKind());
        uint64_t ullRootStart = 0;
        int32_t nSectorsPerCluster = 0;
        tree->GetPartitionInfo(&ullRootStart, &nSectorsPerCluster);
        EXPECT_EQ(ullStart, ullRootStart);
        EXPECT_EQ(static_cast<int32_t>(ReadGeometry(device, ullStart).nSectorsPerCluster), nSectorsPerCluster);
        ASSERT_NE(nullptr, tree->GetDescription());
        EXPECT_STREQ(fixture.pszLabel, tree->GetDescription());
        ExpectMatchesManifest(fixture, device, ullStart, tree.get());
    }
}

TEST(NTFSReaderTree, DeletedFilesOfAFolderComeInReverseRecordOrder)
{
    fstest::CImageDevice device(rvdtest::FixturePath("ntfs.img"));
    CTree tree = Build(device, 0);
    ASSERT_NE(nullptr, tree);
    const std::map<std::string, CFileNode*> nodes = FlattenTree(tree.get());
    ASSERT_TRUE(nodes.count("/Many Files"));
    std::vector<std::string> names;
    for (CFileNode* p = nodes.at("/Many Files")->GetFirstChild(); p != nullptr; p = p->GetNextSibling())
        names.push_back(p->GetProperties()->GetName());
    EXPECT_EQ((std::vector<std::string>{"Entry number 23 of many.txt", "Entry number 07 of many.txt"}), names);
    // A folder of the tree with more than 30 names has its index in INDX blocks; the records
    // still place every deleted entry.
    CFileNode* pNonAscii = nodes.count("/Données Ω/supprimé ж.txt") ? nodes.at("/Données Ω/supprimé ж.txt") : nullptr;
    ASSERT_NE(nullptr, pNonAscii);
    EXPECT_EQ(strlen(pNonAscii->GetProperties()->GetName()),
              static_cast<size_t>(pNonAscii->GetProperties()->GetNameLength()));
}

TEST(NTFSReaderTree, ResidentAndNonResidentDataRuns)
{
    fstest::CImageDevice device(rvdtest::FixturePath("ntfs.img"));
    CTree tree = Build(device, 0);
    ASSERT_NE(nullptr, tree);
    const NTFS_GEOMETRY geometry = ReadGeometry(device, 0);
    const std::map<std::string, CFileNode*> nodes = FlattenTree(tree.get());
    const std::vector<rvdtest::ManifestEntry> manifest = rvdtest::ReadManifest("ntfs.img");

    // A small deleted file keeps its data in its own FILE record: one run, the record's sector.
    const rvdtest::ManifestEntry* pNote = rvdtest::FindManifestEntry(manifest, "/deleted note.txt");
    ASSERT_NE(nullptr, pNote);
    auto* pProps = dynamic_cast<CNTFSFileProperties*>(nodes.at("/deleted note.txt")->GetProperties());
    ASSERT_NE(nullptr, pProps);
    EXPECT_EQ(RecordSector(geometry, 0, static_cast<uint64_t>(pNote->nId)), pProps->GetRecordSector());
    IDataRunList* pList = pProps->GetDataRunList();
    ASSERT_NE(nullptr, pList);
    EXPECT_TRUE(pList->IsResident());
    ASSERT_EQ(1u, pList->GetRunCount());
    EXPECT_EQ(pProps->GetRecordSector(), pList->GetRun(0).ullStart);
    EXPECT_EQ(1u, pList->GetRun(0).ullLength);
    EXPECT_GT(pList->GetResidentValue(), 0);
    delete pList;

    // The fragmented deleted photo: more than one run, in clusters.
    pList = nodes.at("/Photos/Deleted fragmented photo.jpg")->GetProperties()->GetDataRunList();
    ASSERT_NE(nullptr, pList);
    EXPECT_FALSE(pList->IsResident());
    EXPECT_GT(pList->GetRunCount(), 1u);
    delete pList;
}

// hostile.img's deleted files were named by libntfs-3g in the POSIX name space, where " * : < >
// ? \ | are plain characters: they are listed under their own names and give back their bytes.
// "a/b.txt" and the folder "../../escape" really hold a '/' unit in their names on disk (the
// fixture helper writes the escaped '/' into the name; no driver going through paths could):
// such a record counts as damaged, so "a/b.txt" is not listed and the folder's one file,
// planted.txt, is gathered in LostFiles1.
TEST(NTFSReaderTree, PosixNamesOfDeletedFilesAreListedAsWritten)
{
    fstest::CImageDevice device(rvdtest::FixturePath("hostile.img"));
    const NTFS_GEOMETRY geometry = ReadGeometry(device, 0);
    const std::vector<rvdtest::ManifestEntry> manifest = rvdtest::ReadManifest("hostile.img");
    CTree tree = Build(device, 0);
    ASSERT_NE(nullptr, tree);
    const std::map<std::string, CFileNode*> nodes = FlattenTree(tree.get());

    // The name space and the units of a record's one $FILE_NAME, as they lie on disk.
    auto nameOnDisk = [&](const char* pszManifestPath, uint8_t* pNamespace) {
        const rvdtest::ManifestEntry* pEntry = rvdtest::FindManifestEntry(manifest, pszManifestPath);
        EXPECT_NE(nullptr, pEntry) << pszManifestPath;
        std::u16string strName;
        if (pEntry == nullptr)
            return strName;
        CRecordEditor record(device, RecordSector(geometry, 0, static_cast<uint64_t>(pEntry->nId)), geometry.nRecordBytes);
        const size_t nAttr = record.Find(0x30);
        EXPECT_NE(0u, nAttr) << pszManifestPath;
        const size_t nValue = nAttr + fstest::GetU16(record.Bytes(), nAttr + 20);
        *pNamespace = record.Bytes()[nValue + 65];
        for (size_t i = 0; i < record.Bytes()[nValue + 64]; ++i)
            strName += static_cast<char16_t>(fstest::GetU16(record.Bytes(), nValue + 66 + 2 * i));
        return strName;
    };

    const struct {
        const char* pszManifestPath;
        const char* pszListedAs;
        std::u16string strOnDisk;
    } kListed[] = {
        {"/Hostile/a:b.txt", "/Hostile/a:b.txt", u"a:b.txt"},
        {"/Hostile/a?b.txt", "/Hostile/a?b.txt", u"a?b.txt"},
        {"/Hostile/a*b.txt", "/Hostile/a*b.txt", u"a*b.txt"},
        {"/Hostile/back\\slash.txt", "/Hostile/back\\slash.txt", u"back\\slash.txt"},
        {"/Hostile/..%2F..%2Fescape/planted.txt", "/LostFiles1/planted.txt", u"planted.txt"},
    };
    for (const auto& c : kListed) {
        SCOPED_TRACE(c.pszManifestPath);
        uint8_t byNamespace = 0xFF;
        EXPECT_EQ(c.strOnDisk, nameOnDisk(c.pszManifestPath, &byNamespace));
        EXPECT_EQ(0, byNamespace);
        auto it = nodes.find(c.pszListedAs);
        ASSERT_NE(nodes.end(), it);
        IFileProperties* pProps = it->second->GetProperties();
        EXPECT_EQ(NTFS_STATUS_DELETED, pProps->GetStatus());
        EXPECT_EQ(rvdtest::FindManifestEntry(manifest, c.pszManifestPath)->strSha256,
                  rvdtest::Sha256Hex(ReadThroughRuns(device, 0, geometry.nSectorsPerCluster, geometry.nRecordBytes, pProps)));
    }

    for (const char* pszSlashed : {"/Hostile/a%2Fb.txt", "/Hostile/..%2F..%2Fescape"}) {
        uint8_t byNamespace = 0xFF;
        const std::u16string strOnDisk = nameOnDisk(pszSlashed, &byNamespace);
        EXPECT_EQ(0, byNamespace) << pszSlashed;
        EXPECT_NE(std::u16string::npos, strOnDisk.find(u'/')) << pszSlashed;
    }
    for (const auto& node : nodes) {
        EXPECT_EQ(std::string::npos, std::string(node.second->GetProperties()->GetName()).find('/')) << node.first;
        EXPECT_NE("/Hostile/a", node.first);
    }
}

TEST(NTFSReaderTree, ProgressPhasesAndCancel)
{
    fstest::CImageDevice device(rvdtest::FixturePath("ntfs.img"));
    SEARCH_PROGRESS progress{};
    CANCEL_FLAG cancel(0);
    CTree tree = Build(device, 0, &progress, &cancel);
    ASSERT_NE(nullptr, tree);
    SEARCH_PROGRESS copy{};
    rvd::ProgressCopy(&copy, &progress);
    EXPECT_EQ(u"Phase 2 of 2", std::u16string(copy.szTitle));
    EXPECT_EQ(u"Building directory tree", std::u16string(copy.szDetail));

    // A cancel while the records are read leaves nothing to assemble: the build gives null.
    cancel.store(1);
    SEARCH_PROGRESS cancelled{};
    EXPECT_EQ(nullptr, Build(device, 0, &cancelled, &cancel));
    rvd::ProgressCopy(&copy, &cancelled);
    EXPECT_EQ(u"Canceling...", std::u16string(copy.szTitle));
}

// A volume that starts past 2^32 sectors (2 TiB) keeps the full sector of every FILE record, and
// file sizes are capped by clusters of 512-byte units, whatever sector size the medium reports.
TEST(NTFSReaderTree, VolumeBeyond2TiBOnA4KiBSectorDisk)
{
    fstest::CImageDevice image(rvdtest::FixturePath("ntfs.img"));
    const NTFS_GEOMETRY geometry = ReadGeometry(image, 0);
    const std::vector<rvdtest::ManifestEntry> manifest = rvdtest::ReadManifest("ntfs.img");
    const uint64_t ullDraft = rvdtest::FindManifestEntry(manifest, "/Documents/Deleted Report Draft.doc")->nId;
    // The draft's sizes cleared: its size becomes its 5 clusters of 4096 bytes.
    CRecordEditor draft(image, RecordSector(geometry, 0, ullDraft), geometry.nRecordBytes);
    for (size_t nAttr : {draft.Find(0x80) + 48, draft.Find(0x30) + 24 + 48})
        for (int i = 0; i < 8; ++i)
            draft.Bytes()[nAttr + i] = 0;
    draft.Store();

    const uint64_t ullOffset = (1ull << 32) + 2048;
    COffsetDevice device(image, ullOffset);
    CTree plain = Build(image, 0);
    CTree far = Build(device, ullOffset);
    ASSERT_NE(nullptr, plain);
    ASSERT_NE(nullptr, far);
    const std::map<std::string, CFileNode*> near = FlattenTree(plain.get());
    const std::map<std::string, CFileNode*> nodes = FlattenTree(far.get());
    ASSERT_EQ(near.size(), nodes.size());
    for (const auto& node : nodes) {
        ASSERT_TRUE(near.count(node.first)) << node.first;
        auto* pFar = dynamic_cast<CNTFSFileProperties*>(node.second->GetProperties());
        auto* pNear = dynamic_cast<CNTFSFileProperties*>(near.at(node.first)->GetProperties());
        ASSERT_NE(nullptr, pFar);
        EXPECT_EQ(pNear->GetRecordSector() + ullOffset, pFar->GetRecordSector()) << node.first;
        EXPECT_EQ(pNear->GetSize(), pFar->GetSize()) << node.first;
    }
    EXPECT_EQ(5u * 4096, nodes.at("/Documents/Deleted Report Draft.doc")->GetProperties()->GetSize());
    // Resident data is found at its record's full sector.
    IDataRunList* pList = nodes.at("/deleted note.txt")->GetProperties()->GetDataRunList();
    ASSERT_NE(nullptr, pList);
    EXPECT_EQ(ullOffset + RecordSector(geometry, 0, rvdtest::FindManifestEntry(manifest, "/deleted note.txt")->nId),
              pList->GetRun(0).ullStart);
    delete pList;
}

// The assembly on items made by hand: what the root folder does not reach is adopted by the
// folders left over whose numbers are above the system files' (never by itself), the rest goes
// to LostFiles<n>, counted on through one build.
TEST(NTFSReaderTree, AssemblerPlacesLostFiles)
{
    struct ITEM {
        const char* pszName;
        uint64_t ullNumber;
        uint64_t ullParent;
        bool bFolder;
    };
    const ITEM items[] = {
        {"reached", 50, 5, false},
        {"system folder", 20, 99, true},  {"in system folder", 51, 20, false},
        {"lost folder", 30, 98, true},    {"in lost folder", 52, 30, false},
        {"own parent", 40, 40, true},     {"orphan", 53, 97, false},
        {"no properties", 54, 5, false},
    };
    CMFTFileRecordSet set(nullptr);
    for (const ITEM& item : items) {
        CNTFSFileRecordItem* pItem = new CNTFSFileRecordItem();
        pItem->m_ullRecordNumber = item.ullNumber;
        pItem->m_ullParentNumber = item.ullParent;
        pItem->m_bIsDirectory = item.bFolder ? 1 : 0;
        if (strcmp(item.pszName, "no properties") != 0)
            pItem->m_pProperties = CreateNTFSFolderProperties(item.pszName, NTFS_STATUS_DELETED);
        if (!item.bFolder && pItem->m_pProperties != nullptr)
            pItem->m_pProperties->SetAttributes(0);
        set.AddItem(pItem);
    }
    ResetNTFSLostFilesCounter();
    SEARCH_PROGRESS progress{};
    CNTFSDirectoryTreeAssembler assembler(&progress, nullptr, 8);
    CTree root(CreateNTFSVolumeRoot(0, 8, 0, nullptr));
    MoveNTFSChildren(assembler.Assemble(&set, 0), root.get());
    ClearNTFSItemLinks(root.get());
    std::set<std::string> paths;
    for (const auto& node : FlattenTree(root.get()))
        paths.insert(node.first);
    EXPECT_EQ((std::set<std::string>{"/reached", "/LostFiles1", "/LostFiles1/system folder",
                                     "/LostFiles1/in system folder", "/LostFiles1/lost folder",
                                     "/LostFiles1/lost folder/in lost folder", "/LostFiles1/own parent",
                                     "/LostFiles1/orphan"}),
              paths);
    EXPECT_EQ(NTFS_STATUS_LOST_FILES, FlattenTree(root.get()).at("/LostFiles1")->GetProperties()->GetStatus());

    // The next lost folder of the same build is LostFiles2; a cancelled assembly places nothing.
    CNTFSItemsByParent left;
    CNTFSFileRecordItem orphan;
    orphan.m_ullRecordNumber = 60;
    orphan.m_pProperties = CreateNTFSFolderProperties("again", NTFS_STATUS_DELETED);
    left.emplace(96, &orphan);
    CFileNode* pSecond = assembler.BuildLostFiles(left);
    ASSERT_NE(nullptr, pSecond);
    EXPECT_STREQ("LostFiles2", pSecond->GetProperties()->GetName());
    root->AddChild(pSecond);

    CANCEL_FLAG cancel(1);
    CMFTFileRecordSet cancelled(nullptr);
    CNTFSFileRecordItem* pItem = new CNTFSFileRecordItem();
    pItem->m_ullParentNumber = 5;
    pItem->m_pProperties = CreateNTFSFolderProperties("never placed", NTFS_STATUS_DELETED);
    cancelled.AddItem(pItem);
    CNTFSDirectoryTreeAssembler stopped(&progress, &cancel, 1);
    EXPECT_EQ(nullptr, stopped.Assemble(&cancelled, 0)->GetFirstChild());
    EXPECT_TRUE(stopped.WasCancelled());
    EXPECT_EQ(u"Canceling...", std::u16string(progress.szTitle));
}
