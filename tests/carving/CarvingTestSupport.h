// A sector device over bytes in memory for the carving tests; the carving settings of one test;
// the block scan run as the engine runs it; and the files of a tree of carved files.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "DataRunList.h"
#include "EngineSettings.h"
#include "FileNode.h"
#include "GlobalAdvanceSettingData.h"
#include "IStorageDevice.h"
#include "RAWSearchController.h"
#include "RawFileInfo.h"
#include "SearchStatistics.h"
#include "SectorWindowReader.h"

class CCarvingMemoryDevice : public IStorageDevice {
public:
    explicit CCarvingMemoryDevice(std::vector<uint8_t> bytes) : m_Bytes(std::move(bytes))
    {
        m_Bytes.resize((m_Bytes.size() + 511) / 512 * 512);
    }
    int ReadSectors(void* pBuffer, uint64_t u64StartSector, uint64_t u64SectorCount) override
    {
        ++m_nReads;
        const uint64_t ullTotal = m_Bytes.size() / 512;
        if (u64StartSector > ullTotal || u64SectorCount > ullTotal - u64StartSector)
            return 0;
        m_ullBytesRead += u64SectorCount * 512;
        memcpy(pBuffer, m_Bytes.data() + u64StartSector * 512, static_cast<size_t>(u64SectorCount) * 512);
        return 1;
    }
    uint64_t GetTotalSectors() override { return m_Bytes.size() / 512; }
    int GetSectorSize() override { return 512; }
    int Open() override { return 1; }
    int Close() override { return 1; }

    std::vector<uint8_t> m_Bytes;
    int m_nReads = 0;
    uint64_t m_ullBytesRead = 0;
};

// Device reads a window reader makes walking nBytes forward once: a window each 512 KiB, and the
// smaller windows it starts with (FIRST_WINDOW_SECTORS, doubling up to WINDOW_SECTORS).
inline int WindowReaderWalkReads(uint64_t nBytes)
{
    int nGrowing = 0;
    for (uint32_t n = SectorWindowReader::FIRST_WINDOW_SECTORS; n < SectorWindowReader::WINDOW_SECTORS; n *= 2)
        ++nGrowing;
    return static_cast<int>(nBytes / SectorWindowReader::WINDOW_BYTES) + 1 + nGrowing;
}

// Bytes whose value at offset i is a function of i, so that any misplaced byte shows.
inline std::vector<uint8_t> PatternBytes(size_t nBytes, uint32_t nSeed = 0)
{
    std::vector<uint8_t> bytes(nBytes);
    uint32_t x = nSeed * 2654435761u + 12345u;
    for (size_t i = 0; i < nBytes; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

// Carving on for one test, of the types given, with the carved-size limit given; the settings
// before come back at the end.
class CCarvingSettings {
public:
    explicit CCarvingSettings(std::vector<int32_t> types, int64_t llLimit = 50000000) : m_Saved(*GetEngineSettings())
    {
        CGlobalAdvanceSettingData* p = GetEngineSettings();
        p->m_bScanRaw = 1;
        p->m_llRawFileSize = llLimit;
        p->m_vecRawTypes = std::move(types);
    }
    ~CCarvingSettings()
    {
        CGlobalAdvanceSettingData* p = GetEngineSettings();
        p->m_bScanRaw = m_Saved.m_bScanRaw;
        p->m_llRawFileSize = m_Saved.m_llRawFileSize;
        p->m_vecRawTypes = m_Saved.m_vecRawTypes;
    }
    CCarvingSettings(const CCarvingSettings&) = delete;
    CCarvingSettings& operator=(const CCarvingSettings&) = delete;

    // Every built-in type: 1 to 72.
    static std::vector<int32_t> BuiltInTypes()
    {
        std::vector<int32_t> types;
        for (int32_t n = 1; n <= 72; ++n)
            types.push_back(n);
        return types;
    }

private:
    CGlobalAdvanceSettingData m_Saved;
};

// The block scan as the engine runs it: the device in runs of nSectorsPerRead from sector 0, its
// hits into container.
inline void ScanBlocks(IStorageDevice& device, int32_t nSectorsPerRead, CRawFileInfoContainer& container,
                       SEARCH_STATISTICS& statistics)
{
    CRAWSearchController controller;
    controller.SetRawFileInfoContainer(&container);
    controller.SetStorageDevice(&device);
    controller.SetSectorsPerRead(nSectorsPerRead);
    controller.BeginSearch();
    const uint64_t ullTotal = device.GetTotalSectors();
    for (uint64_t s = 0; s < ullTotal; s += nSectorsPerRead)
        controller.SearchSectors(s, std::min<uint64_t>(nSectorsPerRead, ullTotal - s), &statistics);
    controller.EndSearch();
}

// A file of a tree of carved files.
struct CARVED_FILE {
    std::string strFolder;  // the folder it stands in below the root: its type's
    std::string strName;
    uint64_t ullStart = ~0ull;  // its first sector; ~0 when it has no runs
    uint64_t ullSize = 0;
};

inline void CollectCarvedFiles(CFileNode* pNode, const std::string& strFolder, std::vector<CARVED_FILE>& out)
{
    for (CFileNode* pChild = pNode->GetFirstChild(); pChild != nullptr; pChild = pChild->GetNextSibling()) {
        IFileProperties* p = pChild->GetProperties();
        if (p->GetAttributes() & 0x10) {
            CollectCarvedFiles(pChild, strFolder.empty() ? p->GetName() : strFolder, out);
            continue;
        }
        IDataRunList* pRuns = p->GetDataRunList();
        DATA_RUN* pRun = pRuns != nullptr ? pRuns->GetFirstRun() : nullptr;
        out.push_back({strFolder, p->GetName(), pRun != nullptr ? pRun->ullStart : ~0ull, p->GetSize()});
        delete pRuns;
    }
}

// Every file of a tree of carved files, folder by folder.
inline std::vector<CARVED_FILE> CarvedFiles(CFileNode* pRoot)
{
    std::vector<CARVED_FILE> files;
    CollectCarvedFiles(pRoot, "", files);
    return files;
}
