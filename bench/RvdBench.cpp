// rvd-bench IMAGE [--mode quick|complete|disk] [--volume N] [--copy-to DIR] [--deleted-only]
//           [--measure-read] [--carve]
//
// Drives one disk image through the modules as the program does: the disk table points at
// IMAGE (RAVENDO_DISKS) and nothing else, the results go to a temporary database
// (RAVENDO_RESULT_DB), Ombrel lists the image's volumes, the engine scans every volume (or
// volume N of that list; quick mode 0, complete mode 1) or the whole disk (disk mode 2), and
// with --copy-to every found file (or every deleted one) is ticked in the store and copied out
// by Tessary under DIR. --carve turns on the carving of files by signature (every built-in type)
// for the complete and whole-disk scans; carved files are stored and copied like any other.
// Ends with one JSON line on standard output:
//   {"volumes":..,"files":..,"deleted":..,"scan_s":..,"scan_mb_s":..,"block_scan_s":..,
//    "block_scan_mb_s":..,"read_mb_s":..,"copy_s":..,"copy_mb_s":..,"peak_rss_mb":..}
// volumes: the volumes Ombrel lists on the image; files, deleted: files the scans stored and how
// many of them are deleted entries; scan_mb_s: size of what was scanned (volumes, or the disk)
// per second of Search; block_scan_s, block_scan_mb_s: the block scans alone (the sector-by-sector
// search of the complete and whole-disk scans, without the tree building and the hand-over to the
// store that follow), the bytes they read per second, null when no block scan ran; read_mb_s (only with --measure-read, left out otherwise): a plain
// sequential read of the whole image in 8 MiB preads, the figure the scan is measured against;
// copy_s and copy_mb_s: Tessary's runs and the ticked bytes they wrote per second, null without
// --copy-to or without libTessary.so. Rates are MiB (2^20 bytes) per second.
//
// Page cache: with --measure-read the image is read once before anything is timed, so the timed
// read and the scans both read from a warm cache and neither figure includes the medium's own
// speed. Without it nothing is read beyond what the scan and the copy-out read themselves: a
// recovery from the command line does not read a whole disk first. Progress and problems go to
// standard error.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Charset.h"
#include "GlobalAdvanceSettingData.h"
#include "Pubic.h"
#include "ICorrand.h"
#include "IDelvar.h"
#include "IOmbrel.h"
#include "ITessary.h"
#include "ResultStoreAccess.h"
#include "SharedModule.h"

namespace {

const size_t kReadBlock = 8u << 20;
const double kMiB = 1048576.0;

struct OPTIONS {
    std::string strImage;
    int32_t nMode = SCAN_MODE_QUICK;
    long lVolume = -1;
    std::string strCopyTo;
    bool bDeletedOnly = false;
    bool bMeasureRead = false;
    bool bCarve = false;
};

int Usage(const char* pszWhy)
{
    if (pszWhy != nullptr)
        fprintf(stderr, "rvd-bench: %s\n", pszWhy);
    fprintf(stderr, "usage: rvd-bench IMAGE [--mode quick|complete|disk] [--volume N] [--copy-to DIR] "
                    "[--deleted-only] [--measure-read] [--carve]\n");
    return 2;
}

bool ParseOptions(int argc, char** argv, OPTIONS* pOptions)
{
    for (int i = 1; i < argc; ++i) {
        const std::string strArg = argv[i];
        const bool bHasValue = i + 1 < argc;
        if (strArg == "--mode" && bHasValue) {
            const std::string strMode = argv[++i];
            if (strMode == "quick")
                pOptions->nMode = SCAN_MODE_QUICK;
            else if (strMode == "complete")
                pOptions->nMode = SCAN_MODE_COMPLETE;
            else if (strMode == "disk")
                pOptions->nMode = SCAN_MODE_WHOLE_DISK;
            else
                return false;
        } else if (strArg == "--volume" && bHasValue) {
            char* pszEnd = nullptr;
            pOptions->lVolume = strtol(argv[++i], &pszEnd, 10);
            if (*pszEnd != 0 || pOptions->lVolume < 0)
                return false;
        } else if (strArg == "--copy-to" && bHasValue) {
            pOptions->strCopyTo = argv[++i];
        } else if (strArg == "--deleted-only") {
            pOptions->bDeletedOnly = true;
        } else if (strArg == "--measure-read") {
            pOptions->bMeasureRead = true;
        } else if (strArg == "--carve") {
            pOptions->bCarve = true;
        } else if (!strArg.empty() && strArg[0] != '-' && pOptions->strImage.empty()) {
            pOptions->strImage = strArg;
        } else {
            return false;
        }
    }
    return !pOptions->strImage.empty();
}

double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Bytes read from the start of the image to its end.
uint64_t ReadWhole(const std::string& strImage, std::vector<uint8_t>& buffer)
{
    const int fd = open(strImage.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    uint64_t ullTotal = 0;
    for (;;) {
        const ssize_t n = pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(ullTotal));
        if (n <= 0)
            break;
        ullTotal += static_cast<uint64_t>(n);
    }
    close(fd);
    return ullTotal;
}

std::string ExecutableFolder()
{
    const std::string strFolder = rvdplat::ProgramFolder();
    return strFolder.empty() ? "." : strFolder.substr(0, strFolder.size() - 1);
}

void* FindInModule(const std::string& strFolder, const char* pszName, const char* pszFunction)
{
    std::string strError;
    void* hModule = rvdplat::OpenSharedModule(pszName, {strFolder + "/"}, &strError);
    return hModule != nullptr ? rvdplat::FindModuleSymbol(hModule, pszFunction) : nullptr;
}

void* CreateFromModule(const std::string& strFolder, const char* pszName, const char* pszFunction, bool bRequired)
{
    std::string strError;
    void* hModule = rvdplat::OpenSharedModule(pszName, {strFolder + "/"}, &strError);
    if (hModule == nullptr) {
        if (bRequired)
            fprintf(stderr, "rvd-bench: %s\n", strError.c_str());
        return nullptr;
    }
    typedef void* (*PFN_CREATE)();
    PFN_CREATE pfn = reinterpret_cast<PFN_CREATE>(rvdplat::FindModuleSymbol(hModule, pszFunction));
    return pfn != nullptr ? pfn() : nullptr;
}

struct STORE {
    ICorrand* pStore = nullptr;
    IResultStoreAccess* pAccess = nullptr;
};

// Ticks everything at the top of every stored volume (a folder fully ticked ticks all below it).
void TickAll(const STORE& store)
{
    int32_t nVolumes = 0;
    store.pStore->GetPartitionCount(&nVolumes);
    for (int32_t v = 0; v < nVolumes; ++v) {
        std::vector<std::pair<DWORD, int32_t>> top;
        for (int32_t nKind : {ENUM_KIND_FOLDERS, ENUM_KIND_FILES}) {
            store.pStore->StopEnumeration();
            FILE_INFO_EX* pFiles = nullptr;
            int32_t nCount = 0;
            if ((store.pStore->BeginEnumFiles(0, &pFiles, &nCount, nKind, static_cast<DWORD>(v)) & 0xFFFF) != 0)
                continue;
            do {
                for (int32_t i = 0; i < nCount; ++i)
                    top.emplace_back(pFiles[i].dwRecordNumber, nKind == ENUM_KIND_FOLDERS ? 1 : 0);
            } while ((store.pStore->GetNextFiles(&pFiles, &nCount) & 0xFFFF) == 0 && nCount > 0);
            store.pStore->EndEnumFiles();
        }
        for (const auto& item : top)
            store.pStore->SetCheckState(item.first, 1, item.second, 1, static_cast<DWORD>(v));
    }
}

struct STORED_COUNTS {
    uint64_t ullFiles = 0;
    uint64_t ullDeleted = 0;
    // (volume, record) of the files of each kind, for ticking only the deleted ones.
    std::vector<std::pair<DWORD, DWORD>> Live, Deleted;
};

// Counts the stored files by walking them all ticked.
STORED_COUNTS CountStoredFiles(const STORE& store)
{
    STORED_COUNTS counts;
    TickAll(store);
    CHECKED_FILE_CURSOR cursor;
    std::vector<STORED_FILE> files;
    for (;;) {
        files.clear();
        if (store.pAccess->GetNextCheckedFiles(&cursor, &files, 4096) != 0 || files.empty())
            break;
        for (const STORED_FILE& file : files) {
            ++counts.ullFiles;
            if (file.byStatus == 1) {
                ++counts.ullDeleted;
                counts.Deleted.emplace_back(file.dwVolume, file.dwRecord);
            } else {
                counts.Live.emplace_back(file.dwVolume, file.dwRecord);
            }
        }
    }
    return counts;
}

// Leaves exactly the deleted files ticked, touching whichever set is smaller.
void TickDeletedOnly(const STORE& store, const STORED_COUNTS& counts)
{
    if (counts.Live.size() <= counts.Deleted.size()) {
        for (const auto& file : counts.Live)
            store.pStore->SetCheckState(file.second, 0, 0, 0, file.first);
        return;
    }
    store.pStore->ClearCheckStates();
    for (const auto& file : counts.Deleted)
        store.pStore->SetCheckState(file.second, 1, 0, 0, file.first);
}

struct COPY_MESSAGES {
    uint64_t ullWarnings = 0;
    uint64_t ullErrors = 0;
};

int32_t OnCopyMessage(const WCHAR* pszText, int32_t nLevel, void* pContext)
{
    COPY_MESSAGES* pMessages = static_cast<COPY_MESSAGES*>(pContext);
    uint64_t& ullCount = nLevel == TESSARY_MESSAGE_ERROR ? pMessages->ullErrors : pMessages->ullWarnings;
    // The first few lines of each kind are enough to see what went wrong.
    if (nLevel != TESSARY_MESSAGE_INFO && ullCount++ < 5 && pszText != nullptr)
        fprintf(stderr, "rvd-bench: copy: %s\n", rvd::Utf16ToUtf8(pszText).c_str());
    return 0;
}

void PrintNumber(const char* pszKey, double dValue, bool bKnown, const char* pszFormat, bool bLast = false)
{
    printf("\"%s\":", pszKey);
    if (bKnown)
        printf(pszFormat, dValue);
    else
        printf("null");
    printf(bLast ? "}\n" : ",");
}

} // namespace

int main(int argc, char** argv)
{
    OPTIONS options;
    if (!ParseOptions(argc, argv, &options))
        return Usage(nullptr);
    std::error_code error;
    const std::filesystem::path image = std::filesystem::canonical(options.strImage, error);
    if (error)
        return Usage(("cannot open " + options.strImage).c_str());
    const std::string strImage = image.string();
    if (strImage.find(':') != std::string::npos)
        return Usage("the image path must not hold ':' (it separates the entries of RAVENDO_DISKS)");

    // Surroundings: this image alone, a store of our own, the modules beside this program.
    char szTemp[] = "/tmp/rvd-bench-XXXXXX";
    if (mkdtemp(szTemp) == nullptr)
        return Usage("cannot make a temporary folder");
    const std::string strTemp = szTemp;
    setenv("RAVENDO_DISKS", strImage.c_str(), 1);
    unsetenv("RAVENDO_DEVICE_TABLE");
    // RVD_BENCH_KEEP_STORE names a database file to keep the last scan's results in, for a look
    // at what was stored.
    const char* pszKeep = getenv("RVD_BENCH_KEEP_STORE");
    setenv("RAVENDO_RESULT_DB", pszKeep != nullptr && *pszKeep != 0 ? pszKeep : (strTemp + "/results.db").c_str(), 1);
    if (getenv("RAVENDO_LOG_FILE") == nullptr)
        setenv("RAVENDO_LOG_FILE", (strTemp + "/RVDLog.log").c_str(), 1);
    if (getenv("RAVENDO_MODULE_DIR") == nullptr)
        setenv("RAVENDO_MODULE_DIR", ExecutableFolder().c_str(), 1);
    const std::string strModules = getenv("RAVENDO_MODULE_DIR");
    if (options.bCarve) {
        // The settings record the engine reads lives in the common library, shared with the engine.
        CGlobalAdvanceSettingData& settings = CPubic::GetGlobalAdvanceSettingData();
        settings.m_bScanRaw = 1;
        settings.m_vecRawTypes.clear();
        for (int32_t nType = 1; nType <= 72; ++nType)
            settings.m_vecRawTypes.push_back(nType);
    }

    // The plain read, asked for by the benchmark scripts: once to warm the page cache, once timed.
    uint64_t ullImageBytes = 0;
    double dReadSeconds = 0;
    if (options.bMeasureRead) {
        std::vector<uint8_t> buffer(kReadBlock);
        ullImageBytes = ReadWhole(strImage, buffer);
        const auto tRead = std::chrono::steady_clock::now();
        ReadWhole(strImage, buffer);
        dReadSeconds = Seconds(tRead);
        fprintf(stderr, "rvd-bench: %s, %" PRIu64 " bytes; read_mb_s and the scan both read a warm page cache\n",
                strImage.c_str(), ullImageBytes);
    }

    IOmbrel* pOmbrel = static_cast<IOmbrel*>(CreateFromModule(strModules, "Ombrel", "CreateInstance", true));
    IDelvar* pEngine = static_cast<IDelvar*>(CreateFromModule(strModules, "Delvar", "CreateInstance", true));
    STORE store;
    store.pStore = static_cast<ICorrand*>(CreateFromModule(strModules, "Corrand", "CreateInstance", true));
    store.pAccess =
        static_cast<IResultStoreAccess*>(CreateFromModule(strModules, "Corrand", "GetResultStoreAccess", true));
    ITessary* pTessary = options.strCopyTo.empty()
                             ? nullptr
                             : static_cast<ITessary*>(CreateFromModule(strModules, "Tessary", "CreateInstance", false));
    int nExit = 0;
    if (pOmbrel == nullptr || pEngine == nullptr || store.pStore == nullptr || store.pAccess == nullptr) {
        std::filesystem::remove_all(strTemp, error);
        return 1;
    }
    if (!options.strCopyTo.empty() && pTessary == nullptr)
        fprintf(stderr, "rvd-bench: copy unavailable (no libTessary.so in %s)\n", strModules.c_str());

    std::string strCopyTo;
    if (pTessary != nullptr) {
        std::filesystem::create_directories(options.strCopyTo, error);
        const std::filesystem::path target = std::filesystem::canonical(options.strCopyTo, error);
        if (error) {
            fprintf(stderr, "rvd-bench: cannot make %s\n", options.strCopyTo.c_str());
            pTessary = nullptr;
            nExit = 1;
        }
        strCopyTo = target.string();
    }

    // What the disk page would list for this one disk.
    pOmbrel->Refresh();
    std::vector<DISK_INFO_EX> disks(static_cast<size_t>(std::max(pOmbrel->GetDiskCount(), 0)));
    int32_t nDisks = static_cast<int32_t>(disks.size());
    pOmbrel->GetAllDiskInfo(disks.data(), &nDisks);
    disks.resize(static_cast<size_t>(nDisks));
    std::vector<PARTITION_INFO_EX> volumes(static_cast<size_t>(std::max(pOmbrel->GetVolumeCount(), 0)));
    int32_t nVolumes = static_cast<int32_t>(volumes.size());
    pOmbrel->GetAllVolumeInfo(volumes.data(), &nVolumes);
    volumes.resize(static_cast<size_t>(nVolumes));
    std::vector<PARTITION_INFO_EX> dynamicVolumes(static_cast<size_t>(std::max(pOmbrel->GetDynamicVolumeCount(), 0)));
    int32_t nDynamic = static_cast<int32_t>(dynamicVolumes.size());
    pOmbrel->GetAllDynamicVolumeInfo(dynamicVolumes.data(), &nDynamic);
    dynamicVolumes.resize(static_cast<size_t>(nDynamic));
    pOmbrel->EndEnum();
    volumes.insert(volumes.end(), dynamicVolumes.begin(), dynamicVolumes.end());
    if (disks.empty()) {
        fprintf(stderr, "rvd-bench: the disk table holds no disk\n");
        std::filesystem::remove_all(strTemp, error);
        return 1;
    }
    for (size_t i = 0; i < volumes.size(); ++i)
        fprintf(stderr, "rvd-bench: volume %zu: file system %u, sectors %" PRIu64 "..+%" PRIu64 "\n", i,
                volumes[i].dwFileSystem, volumes[i].ullStartSector, volumes[i].ullTotalSectors);

    std::vector<PARTITION_INFO_EX> targets;
    if (options.nMode != SCAN_MODE_WHOLE_DISK) {
        if (options.lVolume >= 0) {
            if (static_cast<size_t>(options.lVolume) >= volumes.size()) {
                fprintf(stderr, "rvd-bench: there is no volume %ld (the image has %zu)\n", options.lVolume,
                        volumes.size());
                std::filesystem::remove_all(strTemp, error);
                return 2;
            }
            targets.push_back(volumes[static_cast<size_t>(options.lVolume)]);
        } else {
            targets = volumes;
        }
    }

    double dScanSeconds = 0;
    uint64_t ullScannedBytes = 0;
    double dCopySeconds = 0;
    uint64_t ullCopiedBytes = 0;
    uint64_t ullFiles = 0;
    uint64_t ullDeleted = 0;
    bool bCopied = false;
    const size_t nScans = options.nMode == SCAN_MODE_WHOLE_DISK ? 1 : targets.size();
    for (size_t i = 0; i < nScans; ++i) {
        const bool bDisk = options.nMode == SCAN_MODE_WHOLE_DISK;
        const int32_t nInit = bDisk ? pEngine->Init(&disks[0], nullptr, options.nMode, 0)
                                    : pEngine->Init(nullptr, &targets[i], options.nMode, 0);
        if (nInit != DELVAR_SUCCESS) {
            fprintf(stderr, "rvd-bench: Init failed with 0x%x\n", static_cast<unsigned>(nInit));
            nExit = 1;
            break;
        }
        const auto tScan = std::chrono::steady_clock::now();
        const int32_t nResult = pEngine->Search();
        dScanSeconds += Seconds(tScan);
        ullScannedBytes += (bDisk ? disks[0].ullTotalSectors : targets[i].ullTotalSectors) * 512;
        fprintf(stderr, "rvd-bench: scan %zu ended with 0x%x\n", i, static_cast<unsigned>(nResult));
        if (nResult != DELVAR_SUCCESS) {
            // Nothing found leaves the store as it was: nothing to count or copy.
            if (nResult != DELVAR_NOTHING_FOUND)
                nExit = 1;
            continue;
        }
        // Each scan's results replace the last ones in the store: count and copy them now.
        const STORED_COUNTS counts = CountStoredFiles(store);
        ullFiles += counts.ullFiles;
        ullDeleted += counts.ullDeleted;
        if (pTessary == nullptr) {
            store.pStore->ClearCheckStates();
            continue;
        }
        if (options.bDeletedOnly)
            TickDeletedOnly(store, counts);
        uint64_t ullTickedFiles = 0, ullTickedBytes = 0;
        store.pAccess->GetCheckedTotals(&ullTickedFiles, &ullTickedBytes);
        if (ullTickedFiles == 0)
            continue;
        const std::u16string strTarget = rvd::Utf8ToUtf16(strCopyTo);
        SEARCH_PROGRESS progress{};
        DWORD adwFlags[2] = {0, 0};
        COPY_MESSAGES messages;
        pTessary->SetTarget(strTarget.c_str(), static_cast<DWORD>(ullTickedBytes),
                            static_cast<DWORD>(ullTickedBytes >> 32));
        pTessary->SetProgressSink(&progress, adwFlags);
        pTessary->SetMessageCallback(OnCopyMessage, &messages);
        const auto tCopy = std::chrono::steady_clock::now();
        const int32_t nCopy = pTessary->Run(TESSARY_RUN_COPY);
        dCopySeconds += Seconds(tCopy);
        ullCopiedBytes += ullTickedBytes;
        bCopied = true;
        fprintf(stderr,
                "rvd-bench: copy %zu ended with 0x%x: %" PRIu64 " files, %" PRIu64 " bytes, %" PRIu64
                " warnings, %" PRIu64 " errors\n",
                i, static_cast<unsigned>(nCopy), static_cast<uint64_t>(ullTickedFiles),
                static_cast<uint64_t>(ullTickedBytes), messages.ullWarnings, messages.ullErrors);
        if ((nCopy & 0xFFFF) != TESSARY_OK)
            nExit = 1;
    }

    // The engine's own clock around its block scans.
    double dBlockSeconds = 0;
    uint64_t ullBlockBytes = 0;
    typedef void (*PFN_BLOCK_SCAN_TOTALS)(double*, uint64_t*);
    if (PFN_BLOCK_SCAN_TOTALS pfnTotals =
            reinterpret_cast<PFN_BLOCK_SCAN_TOTALS>(FindInModule(strModules, "Delvar", "GetBlockScanTotals")))
        pfnTotals(&dBlockSeconds, &ullBlockBytes);

    struct rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    printf("{\"volumes\":%zu,\"files\":%" PRIu64 ",\"deleted\":%" PRIu64 ",", volumes.size(), ullFiles, ullDeleted);
    PrintNumber("scan_s", dScanSeconds, true, "%.3f");
    PrintNumber("scan_mb_s", ullScannedBytes / kMiB / dScanSeconds, dScanSeconds > 0, "%.1f");
    PrintNumber("block_scan_s", dBlockSeconds, ullBlockBytes > 0, "%.3f");
    PrintNumber("block_scan_mb_s", ullBlockBytes / kMiB / dBlockSeconds, ullBlockBytes > 0 && dBlockSeconds > 0,
                "%.1f");
    if (options.bMeasureRead)
        PrintNumber("read_mb_s", ullImageBytes / kMiB / dReadSeconds, dReadSeconds > 0 && ullImageBytes > 0, "%.1f");
    PrintNumber("copy_s", dCopySeconds, bCopied, "%.3f");
    PrintNumber("copy_mb_s", ullCopiedBytes / kMiB / dCopySeconds, bCopied && dCopySeconds > 0, "%.1f");
    PrintNumber("peak_rss_mb", usage.ru_maxrss / 1024.0, true, "%.1f", true);
    fflush(stdout);
    std::filesystem::remove_all(strTemp, error);
    return nExit;
}
