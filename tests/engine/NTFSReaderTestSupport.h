// Helpers of the NTFS reader tests: the NTFS fixtures and where their volumes start, what a quick
// scan must list of a manifest, a found tree flattened to paths, and a file's bytes read back
// through its data runs (resident data from its FILE record, fix-ups applied) the way a recovery
// would, independently of the reader.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DataRunList.h"
#include "FSStructTestSupport.h"
#include "FileNode.h"
#include "FileProperties.h"
#include "FileSystemNode.h"
#include "TestSupport.h"

namespace ntfstest {

struct NTFS_FIXTURE {
    const char* pszImage;
    int nPartition;          // 0: the image is the volume; else its partition number
    const char* pszLabel;
};

// Every NTFS fixture: clusters of 4 KiB, 512 bytes, 64 KiB and 128 KiB, hostile names, the NTFS
// partitions of the MBR and GPT disks, and the structures Windows leaves (a $MFT in several runs,
// files in many runs, attribute lists, 8.3 names, streams, names beyond the BMP) at clusters of
// 1 KiB to 32 KiB.
inline std::vector<NTFS_FIXTURE> AllFixtures()
{
    return {{"ntfs.img", 0, "NTFS4K"},   {"ntfs-c512.img", 0, "NTFS512"}, {"ntfs-c64k.img", 0, "NTFS64K"},
            {"ntfs-c128k.img", 0, "NTFS128K"},
            {"hostile.img", 0, "HOSTILE"}, {"mbr.img", 5, "MBR NTFS"},      {"gpt.img", 2, "GPT NTFS"},
            {"ntfs-shapes-c1k.img", 0, "SHAPES"}, {"ntfs-shapes-c2k.img", 0, "SHAPES"},
            {"ntfs-shapes-c8k.img", 0, "SHAPES"}, {"ntfs-shapes-c16k.img", 0, "SHAPES"},
            {"ntfs-shapes-c32k.img", 0, "SHAPES"}};
}

inline std::string FixtureName(const NTFS_FIXTURE& fixture)
{
    return fixture.nPartition == 0 ? fixture.pszImage
                                   : std::string(fixture.pszImage) + " p" + std::to_string(fixture.nPartition);
}

// First sector and sector count of the fixture's volume within its image.
inline void VolumeExtent(const NTFS_FIXTURE& fixture, uint64_t* pStart, uint64_t* pCount)
{
    *pStart = 0;
    *pCount = 0;
    if (fixture.nPartition == 0) {
        *pCount = std::filesystem::file_size(rvdtest::FixturePath(fixture.pszImage)) / 512;
        return;
    }
    for (const rvdtest::PartitionEntry& entry : rvdtest::ReadPartitions(fixture.pszImage)) {
        if (entry.nIndex == fixture.nPartition) {
            *pStart = entry.nStart;
            *pCount = entry.nCount;
        }
    }
}

// A name whose FILE record the reader refuses. libntfs-3g writes every name of the fixtures in
// the POSIX name space, where only '/' is forbidden: " * : < > ? \ | are ordinary characters
// there. The helper that fills the images writes an escaped '/' into the name itself (no
// path-based driver could), and a record whose name holds it counts as damaged.
inline bool IsRefusedName(const std::string& strName)
{
    return strName.find('/') != std::string::npos;
}

// What a quick scan lists of a manifest entry, as the names from the volume root: folders
// (live or deleted) and deleted files, and nothing for live files. A record whose name the
// reader refuses is not listed; what lies below such a folder is gathered in LostFiles1.
// Empty for an entry that is not listed.
inline std::vector<std::string> QuickScanPath(const rvdtest::ManifestEntry& entry)
{
    if (!entry.bDirectory && !entry.bDeleted)
        return {};
    std::vector<std::string> names = entry.vecNames;
    if (IsRefusedName(names.back()))
        return {};
    for (size_t i = names.size() - 1; i-- > 0;) {
        if (IsRefusedName(names[i])) {
            std::vector<std::string> lost = {"LostFiles1"};
            lost.insert(lost.end(), names.begin() + static_cast<std::ptrdiff_t>(i) + 1, names.end());
            return lost;
        }
    }
    return names;
}

inline std::string JoinPath(const std::vector<std::string>& names)
{
    std::string strPath;
    for (const std::string& strName : names)
        strPath += "/" + strName;
    return strPath;
}

// Every node below the root by its path ("/Documents/x.txt"); a path seen twice is kept as
// "<path> (again)" so that duplicates show up.
inline std::map<std::string, CFileNode*> FlattenTree(CFileNode* pRoot)
{
    std::map<std::string, CFileNode*> nodes;
    std::vector<std::pair<CFileNode*, std::string>> stack;
    for (CFileNode* p = pRoot->GetFirstChild(); p != nullptr; p = p->GetNextSibling())
        stack.push_back({p, ""});
    while (!stack.empty()) {
        CFileNode* pNode = stack.back().first;
        std::string strPath = stack.back().second + "/" + pNode->GetProperties()->GetName();
        stack.pop_back();
        while (nodes.count(strPath))
            strPath += " (again)";
        nodes[strPath] = pNode;
        for (CFileNode* p = pNode->GetFirstChild(); p != nullptr; p = p->GetNextSibling())
            stack.push_back({p, strPath});
    }
    return nodes;
}

// Undoes the update sequence of a FILE record read from disk.
inline void ApplyRecordFixups(std::vector<uint8_t>& record)
{
    const uint16_t nOffset = fstest::GetU16(record, 4);
    const uint16_t nCount = fstest::GetU16(record, 6);
    for (uint16_t i = 1; i < nCount && i * 512u <= record.size(); ++i) {
        record[i * 512 - 2] = record[nOffset + 2 * i];
        record[i * 512 - 1] = record[nOffset + 2 * i + 1];
    }
}

// Geometry of a fixture volume from its boot sector.
struct NTFS_GEOMETRY {
    uint32_t nSectorsPerCluster = 0;
    uint32_t nRecordBytes = 0;
    uint64_t ullMFTCluster = 0;
    uint64_t ullMirrCluster = 0;
};

inline NTFS_GEOMETRY ReadGeometry(fstest::CImageDevice& device, uint64_t ullVolumeStart)
{
    const std::vector<uint8_t> boot = device.Sector(ullVolumeStart);
    NTFS_GEOMETRY geometry;
    // Clusters above 64 KiB are written as 256 - log2(sectors).
    geometry.nSectorsPerCluster = boot[13] > 128 ? 1u << (256 - boot[13]) : boot[13];
    const int8_t nCode = static_cast<int8_t>(boot[64]);
    geometry.nRecordBytes = nCode < 0 ? 1u << -nCode : static_cast<uint32_t>(nCode) * 512u * geometry.nSectorsPerCluster;
    for (int i = 7; i >= 0; --i) {
        geometry.ullMFTCluster = (geometry.ullMFTCluster << 8) | boot[48 + i];
        geometry.ullMirrCluster = (geometry.ullMirrCluster << 8) | boot[56 + i];
    }
    return geometry;
}

// Sector of FILE record n, for a $MFT whose first run holds it (every fixture's does).
inline uint64_t RecordSector(const NTFS_GEOMETRY& geometry, uint64_t ullVolumeStart, uint64_t ullNumber)
{
    return ullVolumeStart + geometry.ullMFTCluster * geometry.nSectorsPerCluster + ullNumber * geometry.nRecordBytes / 512;
}

// A FILE record taken out of an image with its fix-ups undone, edited, and patched back (with a
// fresh update sequence) into the device's view of the image; the image file is not changed.
class CRecordEditor {
public:
    CRecordEditor(fstest::CImageDevice& device, uint64_t ullSector, uint32_t nBytes)
        : m_Device(device), m_ullSector(ullSector), m_Record(device.Sectors(ullSector, nBytes / 512))
    {
        ApplyRecordFixups(m_Record);
    }

    std::vector<uint8_t>& Bytes() { return m_Record; }
    uint32_t InUse() const { return fstest::GetU32(m_Record, 24); }

    // Offset of the nIndex-th attribute of the type, or 0.
    size_t Find(uint32_t nType, int nIndex = 0) const
    {
        size_t nPos = fstest::GetU16(m_Record, 20);
        while (nPos + 8 <= m_Record.size()) {
            const uint32_t nAttrType = fstest::GetU32(m_Record, nPos);
            const uint32_t nLength = fstest::GetU32(m_Record, nPos + 4);
            if (nAttrType == 0xFFFFFFFF || nLength == 0)
                return 0;
            if (nAttrType == nType && nIndex-- == 0)
                return nPos;
            nPos += nLength;
        }
        return 0;
    }
    // The attribute's bytes, taken out of the record.
    std::vector<uint8_t> Remove(size_t nOffset)
    {
        const uint32_t nLength = fstest::GetU32(m_Record, nOffset + 4);
        std::vector<uint8_t> attr(m_Record.begin() + nOffset, m_Record.begin() + nOffset + nLength);
        m_Record.erase(m_Record.begin() + nOffset, m_Record.begin() + nOffset + nLength);
        m_Record.insert(m_Record.begin() + InUse() - nLength, nLength, 0);
        fstest::PutU32(m_Record, 24, InUse() - nLength);
        return attr;
    }
    void Insert(size_t nOffset, const std::vector<uint8_t>& attr)
    {
        m_Record.insert(m_Record.begin() + nOffset, attr.begin(), attr.end());
        m_Record.resize(m_Record.size() - attr.size());
        fstest::PutU32(m_Record, 24, InUse() + static_cast<uint32_t>(attr.size()));
    }
    // Re-encodes the update sequence and patches the record's sectors.
    void Store()
    {
        const std::vector<uint8_t> out = Encoded();
        for (size_t i = 0; i < out.size() / 512; ++i)
            m_Device.Patch(m_ullSector + i, std::vector<uint8_t>(out.begin() + i * 512, out.begin() + (i + 1) * 512));
    }
    // The record as it would lie on disk: the update sequence back in place.
    std::vector<uint8_t> Encoded() const
    {
        std::vector<uint8_t> out(m_Record);
        const uint16_t nOffset = fstest::GetU16(out, 4);
        const uint16_t nCount = fstest::GetU16(out, 6);
        const uint16_t nNumber = fstest::GetU16(out, nOffset);
        for (uint16_t i = 1; i < nCount; ++i) {
            out[nOffset + 2 * i] = out[i * 512 - 2];
            out[nOffset + 2 * i + 1] = out[i * 512 - 1];
            fstest::PutU16(out, i * 512 - 2, nNumber);
        }
        return out;
    }

private:
    fstest::CImageDevice& m_Device;
    uint64_t m_ullSector;
    std::vector<uint8_t> m_Record;
};

// One entry of an $ATTRIBUTE_LIST: the attribute's type and first VCN, the record that holds it.
struct LIST_ENTRY {
    uint32_t nType;
    uint64_t ullVcn;
    uint64_t ullRecord;
    uint16_t nSequence;
};

// A resident $ATTRIBUTE_LIST attribute with 32-byte entries.
inline std::vector<uint8_t> MakeAttributeList(const std::vector<LIST_ENTRY>& entries, uint16_t nAttributeId)
{
    const uint32_t nValue = static_cast<uint32_t>(entries.size() * 32);
    std::vector<uint8_t> attr(24 + nValue, 0);
    fstest::PutU32(attr, 0, 0x20);
    fstest::PutU32(attr, 4, static_cast<uint32_t>(attr.size()));
    attr[10] = 24;                   // name offset
    fstest::PutU16(attr, 14, nAttributeId);
    fstest::PutU32(attr, 16, nValue);
    fstest::PutU16(attr, 20, 24);
    for (size_t i = 0; i < entries.size(); ++i) {
        const size_t n = 24 + 32 * i;
        fstest::PutU32(attr, n, entries[i].nType);
        fstest::PutU16(attr, n + 4, 32);
        attr[n + 7] = 26;            // name offset
        for (int b = 0; b < 8; ++b)
            attr[n + 8 + b] = static_cast<uint8_t>(entries[i].ullVcn >> (8 * b));
        const uint64_t ullReference = entries[i].ullRecord | (static_cast<uint64_t>(entries[i].nSequence) << 48);
        for (int b = 0; b < 8; ++b)
            attr[n + 16 + b] = static_cast<uint8_t>(ullReference >> (8 * b));
    }
    return attr;
}

// A file's bytes through its run list: clusters counted from the volume start, sparse runs as
// zeros, cut to the size; or resident data at the list's value within its FILE record
// (nRecordBytes long, the run's start its sector on the reader's device, which begins at
// ullDeviceStart of the image).
inline std::vector<uint8_t> ReadThroughRuns(fstest::CImageDevice& device, uint64_t ullVolumeStart,
                                            uint64_t ullDeviceStart, uint32_t nSectorsPerCluster,
                                            uint32_t nRecordBytes, uint64_t ullSize, bool bResident,
                                            int32_t nResidentValue,
                                            const std::vector<std::pair<uint64_t, uint64_t>>& runs)
{
    std::vector<uint8_t> data;
    if (bResident) {
        if (runs.empty())
            return data;
        std::vector<uint8_t> record = device.Sectors(ullDeviceStart + runs[0].first, nRecordBytes / 512);
        ApplyRecordFixups(record);
        if (static_cast<uint64_t>(nResidentValue) + ullSize <= record.size())
            data.assign(record.begin() + nResidentValue, record.begin() + nResidentValue + static_cast<ptrdiff_t>(ullSize));
        return data;
    }
    const uint64_t ullClusterBytes = 512ull * nSectorsPerCluster;
    for (const auto& run : runs) {
        if (data.size() >= ullSize)
            break;
        if (run.first == DATA_RUN_SPARSE_START) {
            data.resize(data.size() + run.second * ullClusterBytes, 0);
            continue;
        }
        const std::vector<uint8_t> bytes =
            device.Sectors(ullVolumeStart + run.first * nSectorsPerCluster, run.second * nSectorsPerCluster);
        data.insert(data.end(), bytes.begin(), bytes.end());
    }
    if (data.size() > ullSize)
        data.resize(ullSize);
    return data;
}

// The same from a properties object found by a reader given the whole image.
inline std::vector<uint8_t> ReadThroughRuns(fstest::CImageDevice& device, uint64_t ullVolumeStart,
                                            uint32_t nSectorsPerCluster, uint32_t nRecordBytes, IFileProperties* pProps)
{
    std::vector<std::pair<uint64_t, uint64_t>> runs;
    IDataRunList* pList = pProps->GetDataRunList();
    if (pList == nullptr)
        return {};
    for (size_t i = 0; i < pList->GetRunCount(); ++i)
        runs.push_back({pList->GetRun(i).ullStart, pList->GetRun(i).ullLength});
    const bool bResident = pList->IsResident() != 0;
    const int32_t nValue = pList->GetResidentValue();
    delete pList;
    return ReadThroughRuns(device, ullVolumeStart, 0, nSectorsPerCluster, nRecordBytes, pProps->GetSize(), bResident,
                           nValue, runs);
}

} // namespace ntfstest
