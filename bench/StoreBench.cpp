// rvd-store-bench [DATABASE] [--files N]: times the result store on a tree built with the
// engine's node classes: 1,000 folders of 900 files and one folder of 100,000 files (one million
// files by default). Prints one line per step and a closing JSON line. DATABASE defaults to a
// file in the system's temporary folder, removed at the end.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "DataRunList.h"
#include "FileNode.h"
#include "FileProperties.h"
#include "FileSystemNode.h"
#include "ResultStore.h"

namespace {

// Lean properties: a million of them must fit beside the store. The runs are made up from the
// file's number when asked for, as a reader's packed runs would be unpacked.
class CBenchProperties : public IFileProperties {
public:
    CBenchProperties(std::string strName, uint64_t ullSize, uint16_t wAttributes, uint32_t nNumber)
        : m_strName(std::move(strName)), m_ullSize(ullSize), m_wAttributes(wAttributes), m_nNumber(nNumber)
    {
    }
    int32_t GetNameLength() override { return static_cast<int32_t>(m_strName.size()); }
    const char* GetName() override { return m_strName.c_str(); }
    uint64_t GetSize() override { return m_ullSize; }
    uint16_t GetAttributes() override { return m_wAttributes; }
    void GetCreationTime(FILETIME* p) override { p->qwTicks = 132000000000000000ULL + m_nNumber * 10000000ULL; }
    void GetModificationTime(FILETIME* p) override { GetCreationTime(p); }
    void GetAccessTime(FILETIME* p) override { GetCreationTime(p); }
    uint8_t GetStatus() override { return 1; }
    uint8_t GetCheckState() override { return 0; }
    void SetCheckState(uint8_t) override {}
    IDataRunList* GetDataRunList() override
    {
        if (m_wAttributes & FILE_ATTR_DIRECTORY)
            return nullptr;
        CNoneResidentNTFSDataRunList* pList = new CNoneResidentNTFSDataRunList();
        pList->AddRun(DATA_RUN(1000 + uint64_t(m_nNumber) * 4, (m_ullSize + 4095) / 4096 + 1));
        if (m_nNumber % 10 == 0)
            pList->AddRun(DATA_RUN(5000000 + m_nNumber, 2));
        return pList;
    }
    int32_t GetValidPropertyMask() override { return 0xFF; }
    uint8_t GetFlag() override { return 0; }
    int32_t SetFlag(uint8_t) override { return 0; }
    BOOL Save(IDataStream*) override { return FALSE; }
    int32_t GetPropertiesKind() override { return PROPERTIES_KIND_NTFS; }
    BOOL Load(IDataStream*) override { return FALSE; }
    int32_t GetReservedValue() override { return 0; }

private:
    std::string m_strName;
    uint64_t m_ullSize;
    uint16_t m_wAttributes;
    uint32_t m_nNumber;
};

double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double PeakRssMb()
{
    struct rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

const char* const EXTENSIONS[] = {".jpg", ".doc", ".txt", ".pdf", ".mp3"};

} // namespace

int main(int argc, char** argv)
{
    std::string strDatabase;
    uint32_t nFiles = 1000000;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--files") == 0 && i + 1 < argc)
            nFiles = static_cast<uint32_t>(strtoul(argv[++i], nullptr, 10));
        else
            strDatabase = argv[i];
    }
    const bool bOwnFile = strDatabase.empty();
    if (bOwnFile)
        strDatabase = std::string(getenv("TMPDIR") != nullptr ? getenv("TMPDIR") : "/tmp") + "/rvd-store-bench-" +
                      std::to_string(getpid()) + ".db";
    const uint32_t nBigFolder = nFiles / 10;
    const uint32_t nFolders = 1000;
    const uint32_t nPerFolder = (nFiles - nBigFolder) / nFolders;

    // The tree, as the engine hands it over.
    auto tBuild = std::chrono::steady_clock::now();
    std::vector<CFileNode*> vecNodes;
    vecNodes.reserve(nFiles + nFolders + 2);
    CFileSystemNode* pRoot = CreateFileSystemNode();
    pRoot->SetProperties(new CBenchProperties("Deleted Files", 0, FILE_ATTR_DIRECTORY, 0));
    pRoot->SetPartitionInfo(0, 8);
    pRoot->SetFileSystemKind(FILE_SYSTEM_NTFS);
    vecNodes.push_back(pRoot);
    uint32_t nNumber = 0;
    auto AddNode = [&](CFileNode* pParent, std::string strName, uint64_t ullSize, uint16_t wAttributes) {
        CFileNode* pNode = CreateFileNode();
        pNode->SetProperties(new CBenchProperties(std::move(strName), ullSize, wAttributes, ++nNumber));
        vecNodes.push_back(pNode);
        return pParent->AddChild(pNode);
    };
    CFileNode* pBig = AddNode(pRoot, "big", 0, FILE_ATTR_DIRECTORY);
    for (uint32_t i = 0; i < nBigFolder; ++i)
        AddNode(pBig, "big" + std::to_string(i) + EXTENSIONS[i % 5], 1000 + i, 0x20);
    for (uint32_t f = 0; f < nFolders; ++f) {
        CFileNode* pFolder = AddNode(pRoot, "folder" + std::to_string(f), 0, FILE_ATTR_DIRECTORY);
        for (uint32_t i = 0; i < nPerFolder; ++i)
            AddNode(pFolder, "file" + std::to_string(i) + EXTENSIONS[(f + i) % 5], 100 + i, 0x20);
    }
    const uint32_t nStoredFiles = nBigFolder + nFolders * nPerFolder;
    printf("tree built: %u files in %u folders (%.2f s)\n", nStoredFiles, nFolders + 2, Seconds(tBuild));

    double dStore = 0, dFirstBatch = 0, dBigListing = 0, dSearchFirst = 0, dSearchAll = 0, dTick = 0, dCheckedSize = 0,
           dCheckedRead = 0, dClear = 0, dReopen = 0, dFileTick = 0;
    uint64_t ullDbBytes = 0;
    {
        unlink(strDatabase.c_str());
        corrand::CResultStore store(strDatabase);
        PARTITION_INFO_EX partition{};
        partition.dwFileSystem = FILE_SYSTEM_NTFS;
        partition.ullStartSector = 2048;
        auto t = std::chrono::steady_clock::now();
        store.AddPartition(&partition, 0, 1);
        if (store.AddFileTree(pRoot) != 0) {
            fprintf(stderr, "storing the tree failed\n");
            return 1;
        }
        dStore = Seconds(t);
        printf("store %u files: %.2f s\n", nStoredFiles, dStore);

        // The tree's root is record 1; find "big" among its folders.
        FILE_INFO_EX* pFiles = nullptr;
        int32_t nCount = 0;
        DWORD dwBig = 0;
        store.BeginEnumFiles(1, &pFiles, &nCount, ENUM_KIND_FOLDERS, 0);
        do {
            for (int32_t i = 0; i < nCount; ++i)
                if (std::u16string(pFiles[i].szName) == u"big")
                    dwBig = pFiles[i].dwRecordNumber;
        } while (store.GetNextFiles(&pFiles, &nCount) == 0 && nCount != 0);
        store.EndEnumFiles();

        t = std::chrono::steady_clock::now();
        store.BeginEnumFiles(dwBig, &pFiles, &nCount, ENUM_KIND_FILES, 0);
        std::vector<DWORD> vecSome;
        for (int32_t i = 0; i < nCount; ++i)
            vecSome.push_back(pFiles[i].dwRecordNumber);
        dFirstBatch = Seconds(t);
        uint64_t nListed = nCount;
        while (store.GetNextFiles(&pFiles, &nCount) == 0 && nCount != 0)
            nListed += nCount;
        store.EndEnumFiles();
        dBigListing = Seconds(t);
        printf("folder of %u files: first batch %.3f ms, all %" PRIu64 " in %.3f s\n", nBigFolder, dFirstBatch * 1000,
               nListed, dBigListing);

        SEARCH_CONDITION condition{};
        condition.dwCriteria = SEARCH_BY_NAME;
        condition.dwFolderRecord = 0;
        const char16_t szMask[] = u"*7.jpg";
        memcpy(condition.szNameMask, szMask, sizeof(szMask));
        t = std::chrono::steady_clock::now();
        store.BeginSearchFiles(&condition, &pFiles, &nCount, 0);
        dSearchFirst = Seconds(t);
        uint64_t nHits = nCount;
        while (store.GetNextFiles(&pFiles, &nCount) == 0 && nCount != 0)
            nHits += nCount;
        store.EndEnumFiles();
        dSearchAll = Seconds(t);
        printf("search \"*7.jpg\" over the volume: first batch %.3f s, %" PRIu64 " hits in %.2f s\n", dSearchFirst,
               nHits, dSearchAll);

        t = std::chrono::steady_clock::now();
        for (DWORD dwRecord : vecSome)
            store.SetCheckState(dwRecord, 1, 0, 1, 0);
        dFileTick = vecSome.empty() ? 0 : Seconds(t) / vecSome.size();
        t = std::chrono::steady_clock::now();
        store.SetCheckState(0, 1, 1, 1, 0);
        dTick = Seconds(t);
        t = std::chrono::steady_clock::now();
        const uint64_t ullChecked = store.GetCheckedSize(0, 0, 0);
        dCheckedSize = Seconds(t);
        printf("tick one file: %.3f ms; tick the whole volume: %.2f s; its ticked size (%" PRIu64 " bytes): %.3f ms\n",
               dFileTick * 1000, dTick, ullChecked, dCheckedSize * 1000);

        t = std::chrono::steady_clock::now();
        CHECKED_FILE_CURSOR cursor;
        std::vector<STORED_FILE> vecBatch;
        uint64_t nRead = 0;
        for (;;) {
            vecBatch.clear();
            if (store.GetNextCheckedFiles(&cursor, &vecBatch, 4096) != 0)
                break;
            nRead += vecBatch.size();
        }
        dCheckedRead = Seconds(t);
        printf("read the %" PRIu64 " ticked files for copy-out (paths and runs): %.2f s\n", nRead, dCheckedRead);

        t = std::chrono::steady_clock::now();
        store.ClearCheckStates();
        dClear = Seconds(t);
        printf("clear every tick: %.2f s\n", dClear);
    }
    struct stat st{};
    if (stat(strDatabase.c_str(), &st) == 0)
        ullDbBytes = static_cast<uint64_t>(st.st_size);
    {
        auto t = std::chrono::steady_clock::now();
        corrand::CResultStore reopened(strDatabase);
        int32_t nCount = 0;
        reopened.GetPartitionCount(&nCount);
        dReopen = Seconds(t);
        printf("open the stored results in a new store (with its consistency check): %.2f s; file %.1f MiB\n", dReopen,
               ullDbBytes / 1048576.0);
    }
    if (bOwnFile) {
        unlink(strDatabase.c_str());
        unlink((strDatabase + "-journal").c_str());
    }
    printf("{\"files\":%u,\"store_s\":%.3f,\"list_first_batch_ms\":%.3f,\"list_100k_s\":%.3f,\"search_first_s\":%.3f,"
           "\"search_all_s\":%.3f,\"tick_file_ms\":%.3f,\"tick_volume_s\":%.3f,\"checked_read_s\":%.3f,"
           "\"clear_s\":%.3f,\"reopen_s\":%.3f,\"db_mb\":%.1f,\"peak_rss_mb\":%.1f}\n",
           nStoredFiles, dStore, dFirstBatch * 1000, dBigListing, dSearchFirst, dSearchAll, dFileTick * 1000, dTick,
           dCheckedRead, dClear, dReopen, ullDbBytes / 1048576.0, PeakRssMb());

    for (size_t i = vecNodes.size(); i-- > 0;) {
        delete vecNodes[i]->GetProperties();
        DestroyFileNode(vecNodes[i]);
    }
    return 0;
}
