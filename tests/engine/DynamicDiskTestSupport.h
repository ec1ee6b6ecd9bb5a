// The dynamic-disk fixture sets made by tests/fixtures/make-dynamic.py: their manifests
// ("<set>.dynamic", described at the top of each file), device tables over their member images,
// and small helpers shared by the dynamic-disk tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "DeviceTestSupport.h"
#include "DiskDevice.h"
#include "IDynamicDevice.h"
#include "LdmDatabaseReader.h"
#include "TestSupport.h"

namespace dyntest {

struct DynDisk {
    int nNumber = 0;                 // member number, 1-3
    std::string strImage;
    std::string strGuid;
    uint64_t u64LogicalStart = 0;
    uint64_t u64DatabaseStart = 0;
    uint64_t u64Sectors = 0;
};

struct DynExtent {
    int nComponent = 0;
    int nColumn = 0;
    int nDisk = 0;                   // member number
    uint64_t u64Start = 0;           // absolute on the member
    uint64_t u64Count = 0;
    uint64_t u64Offset = 0;
};

struct DynVolume {
    std::string strName;
    std::string strLayout;
    int nKind = 0;
    uint64_t u64Sectors = 0;
    std::string strImage;
    std::string strFs;
    std::string strLabel;            // empty when none
    uint32_t nPartitionType = 0;
    std::string strGuidPath;
    std::string strHint;             // empty when none
    std::vector<DynExtent> extents;
};

struct DynSet {
    std::string strName;
    std::string strGroupName;
    std::string strGroupGuid;
    std::vector<DynDisk> disks;
    std::vector<DynVolume> volumes;

    const DynVolume& Volume(int nKind) const
    {
        for (const DynVolume& v : volumes)
            if (v.nKind == nKind)
                return v;
        throw std::runtime_error("no volume of kind " + std::to_string(nKind) + " in " + strName);
    }
    const DynDisk& Disk(int nNumber) const { return disks.at(static_cast<size_t>(nNumber - 1)); }
};

inline std::vector<std::string> SplitTabs(const std::string& strLine)
{
    std::vector<std::string> fields;
    std::stringstream stream(strLine);
    std::string strField;
    while (std::getline(stream, strField, '\t'))
        fields.push_back(strField);
    return fields;
}

// The manifest of a set, e.g. ReadDynamicSet("dyn-mbr").
inline DynSet ReadDynamicSet(const std::string& strSet)
{
    DynSet set;
    set.strName = strSet;
    std::ifstream file(rvdtest::FixturePath(strSet + ".dynamic"));
    if (!file)
        throw std::runtime_error("no manifest for " + strSet);
    std::string strLine;
    while (std::getline(file, strLine)) {
        if (strLine.empty() || strLine[0] == '#')
            continue;
        const std::vector<std::string> f = SplitTabs(strLine);
        if (f[0] == "disk" && f.size() == 7) {
            DynDisk d;
            d.nNumber = std::stoi(f[1]);
            d.strImage = f[2];
            d.strGuid = f[3];
            d.u64LogicalStart = std::stoull(f[4]);
            d.u64DatabaseStart = std::stoull(f[5]);
            d.u64Sectors = std::stoull(f[6]);
            set.disks.push_back(d);
        } else if (f[0] == "group" && f.size() == 3) {
            set.strGroupName = f[1];
            set.strGroupGuid = f[2];
        } else if (f[0] == "volume" && f.size() == 11) {
            DynVolume v;
            v.strName = f[1];
            v.strLayout = f[2];
            v.nKind = std::stoi(f[3]);
            v.u64Sectors = std::stoull(f[4]);
            v.strImage = f[5];
            v.strFs = f[6];
            v.strLabel = f[7] == "-" ? "" : f[7];
            v.nPartitionType = static_cast<uint32_t>(std::stoul(f[8], nullptr, 16));
            v.strGuidPath = f[9];
            v.strHint = f[10] == "-" ? "" : f[10];
            set.volumes.push_back(v);
        } else if (f[0] == "extent" && f.size() == 9) {
            DynExtent e;
            e.nComponent = std::stoi(f[2]);
            e.nColumn = std::stoi(f[3]);
            e.nDisk = std::stoi(f[4]);
            e.u64Start = std::stoull(f[5]);
            e.u64Count = std::stoull(f[6]);
            e.u64Offset = std::stoull(f[7]);
            for (DynVolume& v : set.volumes)
                if (v.strName == f[1])
                    v.extents.push_back(e);
        } else {
            throw std::runtime_error("bad line in " + strSet + ".dynamic: " + strLine);
        }
    }
    return set;
}

// File-system kind number of a manifest's fs name.
inline uint32_t FsKind(const std::string& strFs)
{
    static const char* const kNames[] = {"fat12", "fat16", "fat32", "ntfs", "ext2", "ext3"};
    for (uint32_t i = 0; i < 6; ++i)
        if (strFs == kNames[i])
            return i;
    return 7;
}

// Copies an image, leaving its all-zero 64 KiB pieces as holes, so that a test can damage the copy.
inline void CopySparse(const std::string& strFrom, const std::string& strTo)
{
    const int fdIn = open(strFrom.c_str(), O_RDONLY);
    ASSERT_GE(fdIn, 0) << strFrom;
    const int fdOut = open(strTo.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    ASSERT_GE(fdOut, 0) << strTo;
    std::vector<uint8_t> vecPiece(65536);
    off_t nOffset = 0;
    for (;;) {
        const ssize_t nRead = pread(fdIn, vecPiece.data(), vecPiece.size(), nOffset);
        ASSERT_GE(nRead, 0);
        if (nRead == 0)
            break;
        if (std::any_of(vecPiece.begin(), vecPiece.begin() + nRead, [](uint8_t b) { return b != 0; })) {
            ASSERT_EQ(nRead, pwrite(fdOut, vecPiece.data(), static_cast<size_t>(nRead), nOffset));
        }
        nOffset += nRead;
    }
    ASSERT_EQ(0, ftruncate(fdOut, nOffset));
    close(fdIn);
    close(fdOut);
}

// Writes bytes into a file at a byte offset.
inline void PatchFile(const std::string& strPath, uint64_t u64Offset, const void* pData, size_t nSize)
{
    const int fd = open(strPath.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0) << strPath;
    ASSERT_EQ(static_cast<ssize_t>(nSize), pwrite(fd, pData, nSize, static_cast<off_t>(u64Offset)));
    close(fd);
}

// Reads bytes of a file at a byte offset.
inline std::vector<uint8_t> ReadFileRange(const std::string& strPath, uint64_t u64Offset, size_t nSize)
{
    std::vector<uint8_t> vecData(nSize, 0);
    const int fd = open(strPath.c_str(), O_RDONLY);
    if (fd < 0)
        throw std::runtime_error("cannot open " + strPath);
    const ssize_t nRead = pread(fd, vecData.data(), nSize, static_cast<off_t>(u64Offset));
    close(fd);
    if (nRead != static_cast<ssize_t>(nSize))
        throw std::runtime_error("short read of " + strPath);
    return vecData;
}

// The physical disks of the loaded device table, opened in drive order; owns them.
class COpenDisks {
public:
    explicit COpenDisks(int nCount)
    {
        for (int i = 0; i < nCount; ++i) {
            m_Disks.emplace_back(new CDiskDevice(i));
            EXPECT_TRUE(m_Disks.back()->IsOpen()) << "drive " << i;
        }
    }
    CLdmDiskList List() const
    {
        CLdmDiskList list;
        for (const auto& p : m_Disks)
            list.push_back(p.get());
        return list;
    }
    CDiskDevice* Disk(size_t i) const { return m_Disks.at(i).get(); }

private:
    std::vector<std::unique_ptr<CDiskDevice>> m_Disks;
};

// The volumes read from a set of disks, freed with their devices at the end of the scope.
class CReadVolumes {
public:
    explicit CReadVolumes(const CLdmDiskList& disks)
    {
        CLdmDatabaseReader reader;
        reader.ReadDynamicVolumes(disks, m_List);
    }
    ~CReadVolumes() { FreeDynamicVolumeInfos(m_List, true); }
    CReadVolumes(const CReadVolumes&) = delete;
    CReadVolumes& operator=(const CReadVolumes&) = delete;

    const CDynamicVolumeInfoList& List() const { return m_List; }
    size_t Size() const { return m_List.size(); }
    // The volume of a kind; null when none was read.
    DYNAMIC_VOLUME_INFO* Find(int nKind) const
    {
        for (DYNAMIC_VOLUME_INFO* pInfo : m_List)
            if (pInfo->pDevice->GetDynamicKind() == nKind)
                return pInfo;
        return nullptr;
    }

private:
    CDynamicVolumeInfoList m_List;
};

// Reads a whole device in pieces and compares it with an image file: the volume must hold the
// image's bytes and zeros beyond them. Reports the first sector that differs.
inline ::testing::AssertionResult ReadsBackAs(IStorageDevice* pDevice, const std::string& strImage,
                                              uint64_t u64Piece = 4096)
{
    const std::vector<uint8_t> vecImage = rvdtest::ReadFileBytes(rvdtest::FixturePath(strImage));
    const uint64_t u64Total = pDevice->GetTotalSectors();
    if (u64Total * 512 < vecImage.size())
        return ::testing::AssertionFailure() << "volume has " << u64Total << " sectors, image " << vecImage.size() / 512;
    std::vector<uint8_t> vecBuffer(u64Piece * 512);
    for (uint64_t u64Pos = 0; u64Pos < u64Total; u64Pos += u64Piece) {
        const uint64_t u64Count = std::min(u64Piece, u64Total - u64Pos);
        if (!pDevice->ReadSectors(vecBuffer.data(), u64Pos, u64Count))
            return ::testing::AssertionFailure() << "read of " << u64Count << " sectors at " << u64Pos << " failed";
        for (uint64_t s = 0; s < u64Count; ++s) {
            const uint64_t u64Byte = (u64Pos + s) * 512;
            const uint8_t* pGot = vecBuffer.data() + s * 512;
            static const uint8_t kZero[512] = {};
            const uint8_t* pWant = u64Byte < vecImage.size() ? vecImage.data() + u64Byte : kZero;
            if (memcmp(pGot, pWant, 512) != 0)
                return ::testing::AssertionFailure() << "volume sector " << u64Pos + s << " differs from " << strImage;
        }
    }
    return ::testing::AssertionSuccess();
}

// "disk <path>" lines for the given members of a set, in that order (drive 0 first).
inline std::string DiskLines(const DynSet& set, const std::vector<int>& vecMembers)
{
    std::string strTable;
    for (int n : vecMembers)
        strTable += "disk " + rvdtest::FixturePath(set.Disk(n).strImage) + "\n";
    return strTable;
}

} // namespace dyntest
