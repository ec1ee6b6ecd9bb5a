// Where a found file's data lies: a list of extents (DATA_RUN) with one concrete list per
// file system. Units are the file system's own (FAT and NTFS clusters, EXT2 blocks, sectors
// for carved files).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "EngineMemory.h"
#include "IDataStream.h"
#include "WinTypes.h"

// Start of an extent that has no data on disk (a sparse run).
const uint64_t DATA_RUN_SPARSE_START = ~0ull;

struct DATA_RUN {
    uint64_t ullStart;
    uint64_t ullLength;

    DATA_RUN() : ullStart(0), ullLength(0) {}
    DATA_RUN(uint64_t start, uint64_t length) : ullStart(start), ullLength(length) {}
    bool operator==(const DATA_RUN& o) const { return ullStart == o.ullStart && ullLength == o.ullLength; }
};

// Type codes returned by IDataRunList::GetType.
enum {
    DATA_RUN_LIST_FAT = 0,
    DATA_RUN_LIST_NTFS_RESIDENT = 1,
    DATA_RUN_LIST_NTFS_NONRESIDENT = 2,
    DATA_RUN_LIST_RAW = 3,
    DATA_RUN_LIST_EXT2 = 4,
};

// Most runs a stored list may claim. Far above any real file's fragment count, low enough
// that a damaged count cannot make a load run away.
const uint32_t MAX_STORED_DATA_RUNS = 0x1000000;

class IDataRunList : public CEngineObject {
public:
    IDataRunList();
    virtual ~IDataRunList();

    virtual BOOL IsResident() const;
    virtual int32_t GetResidentValue() const;
    // Writes the run count and the runs.
    virtual BOOL Save(IDataStream* pWriter) const;
    // Reads a saved list and appends its runs to those already held. On a short or damaged
    // record nothing is appended and FALSE is returned.
    virtual BOOL Load(IDataStream* pReader);
    virtual int32_t GetType() const = 0;

    // Walk: null when empty, else the cursor moves to the first run.
    DATA_RUN* GetFirstRun();
    // Advances the cursor; null once it reaches the end.
    DATA_RUN* GetNextRun();
    bool IsEnd() const;

    void AppendRun(const DATA_RUN& run);
    // Extends the last run when the new one continues it (or both are EXT2 holes at 0),
    // else appends.
    void MergeRun(const DATA_RUN& run);
    void AddRun(const DATA_RUN& run);

    size_t GetRunCount() const { return m_Runs.size(); }
    const DATA_RUN& GetRun(size_t nIndex) const { return m_Runs[nIndex]; }

    IDataRunList(const IDataRunList&) = delete;
    IDataRunList& operator=(const IDataRunList&) = delete;

protected:
    BOOL SaveRuns(IDataStream* pWriter) const;
    BOOL LoadRuns(IDataStream* pReader);

    // A deque keeps the address of every run stable while runs are appended, so the
    // pointers that the walk hands out stay valid.
    std::deque<DATA_RUN, CEngineAllocator<DATA_RUN>> m_Runs;
    size_t m_nCursor;
};

class CFATDataRunList : public IDataRunList {
public:
    int32_t GetType() const override { return DATA_RUN_LIST_FAT; }
    // Merges a cluster chain's next piece into the last run when it follows on.
    void AddRun(const DATA_RUN& run);
};

class CResidentNTFSDataRunList : public IDataRunList {
public:
    CResidentNTFSDataRunList() : m_nResidentValue(0) {}
    BOOL IsResident() const override { return TRUE; }
    int32_t GetResidentValue() const override { return m_nResidentValue; }
    BOOL Save(IDataStream* pWriter) const override;
    BOOL Load(IDataStream* pReader) override;
    int32_t GetType() const override { return DATA_RUN_LIST_NTFS_RESIDENT; }

    void SetResidentRun(uint64_t ullStart, uint64_t ullLength, int32_t nResidentValue);

private:
    int32_t m_nResidentValue;
};

class CNoneResidentNTFSDataRunList : public IDataRunList {
public:
    int32_t GetType() const override { return DATA_RUN_LIST_NTFS_NONRESIDENT; }
    void AddRun(const DATA_RUN& run) { AppendRun(run); }
};

class CRAWDataRunList : public IDataRunList {
public:
    int32_t GetType() const override { return DATA_RUN_LIST_RAW; }
    void AddRun(uint64_t ullStart, uint64_t ullLength) { AppendRun(DATA_RUN(ullStart, ullLength)); }
};

class CExt2DataRunList : public IDataRunList {
public:
    int32_t GetType() const override { return DATA_RUN_LIST_EXT2; }
};
