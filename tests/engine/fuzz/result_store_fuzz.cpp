// Fuzz target for the stored results read back: a result store file is made by the store itself,
// then rows of the input's making are written into its tables behind its back (volume records,
// file and folder rows with any keys, parents, subtree ends, kinds, names, sizes, counts, runs
// and resident places, values of the wrong type included), and a fresh store opens the file as
// the program does at its next start. Everything a user and the copy-out can do is then done:
// list every folder, search, tick and clear, read totals, previews and the ticked files. Whatever
// the rows, every call ends, listings end, and nothing reads outside its data.
#include <sqlite3.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "FileInfo.h"
#include "FuzzInput.h"
#include "ResultStore.h"

namespace {

class CInput : public CFuzzInput {
public:
    using CFuzzInput::CFuzzInput;
    // A small value most of the time, any 64-bit value when the selector's top bit is set.
    uint64_t Value(uint64_t ullSmall)
    {
        const uint64_t ullSelector = Next(1);
        if ((ullSelector & 0x80) != 0)
            return Next(8);
        return Next(2) % ullSmall;
    }
};

std::string TemplatePath()
{
    return "/dev/shm/rvd-store-fuzz-" + std::to_string(getpid()) + ".db";
}

void Check(bool bCondition)
{
    if (!bCondition)
        abort();
}

// Binds column nColumn (1-based) from the input: a small or any integer, at times NULL or text.
void BindValue(sqlite3_stmt* pStatement, int nColumn, CInput& in, uint64_t ullSmall, bool bNullable)
{
    const uint64_t ullHow = in.Next(1);
    if (bNullable && (ullHow & 0x0F) == 0x0F)
        sqlite3_bind_null(pStatement, nColumn);
    else if ((ullHow & 0xF0) == 0xF0)
        sqlite3_bind_text(pStatement, nColumn, "x9", 2, SQLITE_TRANSIENT);
    else
        sqlite3_bind_int64(pStatement, nColumn, static_cast<sqlite3_int64>(in.Value(ullSmall)));
}

void WriteRows(const std::string& strPath, CInput& in)
{
    sqlite3* pDb = nullptr;
    Check(sqlite3_open_v2(strPath.c_str(), &pDb, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK);
    sqlite3_exec(pDb, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* pVolume = nullptr;
    sqlite3_prepare_v2(pDb,
                       "INSERT OR REPLACE INTO volume(vol,scan_index,record,device_start,root_start,sectors_per_unit,"
                       "has_tree,records,ticked) VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9)",
                       -1, &pVolume, nullptr);
    const size_t nVolumes = in.Next(1) % 4;
    for (size_t i = 0; i < nVolumes && pVolume != nullptr; ++i) {
        sqlite3_bind_int64(pVolume, 1, (in.Next(1) & 0x80) != 0 ? static_cast<sqlite3_int64>(in.Value(8)) : i);
        BindValue(pVolume, 2, in, 4, false);
        const std::vector<uint8_t> record = in.Bytes((in.Next(1) & 0x80) != 0 ? in.Next(2) % 1024 : sizeof(PARTITION_INFO_EX));
        sqlite3_bind_blob(pVolume, 3, record.data(), static_cast<int>(record.size()), SQLITE_TRANSIENT);
        for (int c = 4; c <= 9; ++c)
            BindValue(pVolume, c, in, c == 8 ? 64 : 4096, false);
        sqlite3_step(pVolume);
        sqlite3_reset(pVolume);
    }
    sqlite3_finalize(pVolume);

    sqlite3_stmt* pNode = nullptr;
    sqlite3_prepare_v2(pDb,
                       "INSERT OR REPLACE INTO node(key,pkey,kind,last,name,size,attr,status,flags,ctime,mtime,atime,"
                       "nfiles,nbytes,tfiles,tbytes,own,runs,res_sector,res_offset,valid,cunit) VALUES(?1,?2,?3,?4,?5,"
                       "?6,?7,?8,?9,?10,?11,?12,?13,?14,?15,?16,?17,?18,?19,?20,?21,?22)",
                       -1, &pNode, nullptr);
    for (size_t i = 0; i < 96 && !in.Empty() && pNode != nullptr; ++i) {
        const uint64_t ullVolume = in.Next(1) % 4;
        const uint64_t ullKey = (in.Next(1) & 0x80) != 0 ? in.Next(8) : ullVolume << 32 | in.Next(1) % 64;
        sqlite3_bind_int64(pNode, 1, static_cast<sqlite3_int64>(ullKey));
        const uint64_t ullParent = in.Next(1);
        sqlite3_bind_int64(pNode, 2, (ullParent & 0x80) != 0 ? -1 : static_cast<sqlite3_int64>(ullVolume << 32 | ullParent % 64));
        sqlite3_bind_int64(pNode, 3, (in.Next(1) & 0x80) != 0 ? static_cast<sqlite3_int64>(in.Next(4)) : 1 + in.Next(1) % 2);
        const uint64_t ullLast = in.Next(1);
        sqlite3_bind_int64(pNode, 4, (ullLast & 0x80) != 0 ? static_cast<sqlite3_int64>(in.Next(8))
                                                           : static_cast<sqlite3_int64>(ullKey + ullLast % 64));
        const size_t nName = in.Next(2) % 600;
        const std::vector<uint8_t> name = in.Bytes(nName);
        if ((in.Next(1) & 0x80) != 0)
            sqlite3_bind_blob(pNode, 5, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
        else
            sqlite3_bind_text16(pNode, 5, name.data(), static_cast<int>(name.size() & ~size_t(1)), SQLITE_TRANSIENT);
        for (int c = 6; c <= 17; ++c)
            BindValue(pNode, c, in, c == 6 || c == 14 || c == 16 ? 1u << 20 : 64, false);
        if ((in.Next(1) & 0x80) != 0) {
            sqlite3_bind_null(pNode, 18);
        } else {
            const std::vector<uint8_t> runs = in.Bytes(in.Next(1) % 200);
            sqlite3_bind_blob(pNode, 18, runs.data(), static_cast<int>(runs.size()), SQLITE_TRANSIENT);
        }
        for (int c = 19; c <= 22; ++c)
            BindValue(pNode, c, in, c == 22 ? 4096 : 65536, true);
        sqlite3_step(pNode);
        sqlite3_reset(pNode);
    }
    sqlite3_finalize(pNode);
    sqlite3_exec(pDb, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(pDb);
}

// Lists every folder reachable from the tops, each once; a listing that does not end aborts.
void ListAll(corrand::CResultStore& store, DWORD dwVolumes, std::set<uint64_t>& records)
{
    for (DWORD dwVolume = 0; dwVolume < dwVolumes; ++dwVolume) {
        std::vector<DWORD> folders = {0};
        std::set<DWORD> seen = {0};
        for (size_t f = 0; f < folders.size() && f < 512; ++f) {
            for (int32_t nKind : {ENUM_KIND_FOLDERS, ENUM_KIND_FILES}) {
                FILE_INFO_EX* pFiles = nullptr;
                int32_t nCount = 0;
                store.StopEnumeration();
                if (store.BeginEnumFiles(folders[f], &pFiles, &nCount, nKind, dwVolume) != 0)
                    continue;
                for (int nBatches = 0; nCount > 0; ++nBatches) {
                    Check(nBatches < 10000 && pFiles != nullptr && nCount <= corrand::CResultStore::BATCH_SIZE);
                    for (int32_t i = 0; i < nCount; ++i) {
                        Check(pFiles[i].szName[259] == 0);
                        records.insert(static_cast<uint64_t>(dwVolume) << 32 | pFiles[i].dwRecordNumber);
                        if (pFiles[i].dwFolder != 0 && seen.insert(pFiles[i].dwRecordNumber).second)
                            folders.push_back(pFiles[i].dwRecordNumber);
                    }
                    if (store.GetNextFiles(&pFiles, &nCount) != 0)
                        break;
                }
                store.EndEnumFiles();
            }
        }
        SEARCH_CONDITION condition{};
        condition.dwCriteria = SEARCH_BY_NAME | SEARCH_BY_SIZE;
        condition.dwVolume = dwVolume;
        condition.szNameMask[0] = u'*';
        condition.dwSizeMode = SEARCH_SIZE_MORE_THAN;
        FILE_INFO_EX* pFiles = nullptr;
        int32_t nCount = 0;
        store.StopEnumeration();
        if (store.BeginSearchFiles(&condition, &pFiles, &nCount, 0) == 0) {
            for (int nBatches = 0; nCount > 0; ++nBatches) {
                Check(nBatches < 10000 && pFiles != nullptr && nCount <= corrand::CResultStore::BATCH_SIZE);
                if (store.GetNextFiles(&pFiles, &nCount) != 0)
                    break;
            }
            store.EndEnumFiles();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    // The empty store as the store itself makes it, once; every run starts from a copy.
    const std::string strPath = TemplatePath();
    static const std::vector<uint8_t> empty = [&] {
        unlink(strPath.c_str());
        {
            corrand::CResultStore store(strPath);
            int32_t nCount = 0;
            store.GetPartitionCount(&nCount);
        }
        std::ifstream file(strPath, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }();
    Check(!empty.empty());
    unlink(strPath.c_str());
    {
        std::ofstream file(strPath, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(empty.data()), static_cast<std::streamsize>(empty.size()));
        Check(file.good());
    }
    CInput in(pData, nSize);
    WriteRows(strPath, in);

    corrand::CResultStore store(strPath);
    int32_t nPartitions = 0;
    if (store.GetPartitionCount(&nPartitions) != 0)
        nPartitions = 0;
    Check(nPartitions >= 0 && nPartitions <= 4);
    for (int32_t i = 0; i < nPartitions; ++i) {
        PARTITION_INFO_EX partition{};
        store.GetPartitionInfo(&partition, i);
    }
    std::set<uint64_t> records;
    ListAll(store, static_cast<DWORD>(nPartitions), records);

    // Tick and clear what the listing gave, and a few records it did not.
    for (int i = 0; i < 8; ++i)
        records.insert(in.Next(1) % 4 << 32 | in.Next(1) % 80);
    int nTicks = 0;
    for (uint64_t ullRecord : records) {
        if (++nTicks > 64)
            break;
        const DWORD dwVolume = static_cast<DWORD>(ullRecord >> 32), dwRecord = static_cast<DWORD>(ullRecord);
        const uint64_t ullHow = in.Next(1);
        store.SetCheckState(dwRecord, (ullHow & 1) != 0, (ullHow & 2) != 0, (ullHow & 4) != 0, dwVolume);
        store.GetCheckedSize(dwRecord, 0, dwVolume);
        int32_t nReserved = 0;
        if ((store.BeginPreview(&nReserved) & 0xFFFF) == 0) {
            FILE_DETAIL_INFO* pInfo = nullptr;
            store.GetFileInfo(dwRecord, &pInfo, dwVolume);
            Check(pInfo == nullptr || pInfo->szName[259] == 0);
            store.EndPreview();
        }
        STORED_FILE file;
        store.GetStoredFile(dwVolume, dwRecord, &file);
    }
    ULONGLONG ullFiles = 0, ullBytes = 0;
    store.GetCheckedTotals(&ullFiles, &ullBytes);
    CHECKED_FILE_CURSOR cursor;
    std::vector<STORED_FILE> files;
    for (int nBatches = 0; !cursor.bDone; ++nBatches) {
        Check(nBatches < 10000);
        files.clear();
        if (store.GetNextCheckedFiles(&cursor, &files, 16) != 0)
            break;
    }
    DWORD dwVolumes = 0;
    store.GetVolumeCount(&dwVolumes);
    for (DWORD v = 0; v < dwVolumes && v < 8; ++v) {
        STORED_VOLUME volume{};
        store.GetVolume(v, &volume);
    }
    ListAll(store, static_cast<DWORD>(nPartitions), records);
    store.ClearCheckStates();
    store.CloseResult();
    return 0;
}
