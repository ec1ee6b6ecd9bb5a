// FAT boot sectors, directory entries, directory-sector classification, FAT tables and the
// volume-label reader, on the fixture images (mkfs.fat + mtools) and on sectors of those images
// damaged in place, compared with fsck.fat, blkid and the fixture manifests.
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FSStructTestSupport.h"
#include "TestSupport.h"
#include "fat/FATDBR.h"
#include "fat/FATDirEntry.h"
#include "fat/FATDirSectorInfo.h"
#include "fat/FATTable.h"
#include "fat/FATVolumeLabelReader.h"

using namespace fstest;

namespace {

struct FAT_IMAGE {
    const char* pszName;
    int nType;
    const char* pszLabel;
};

const FAT_IMAGE kFatImages[] = {
    {"fat12.img", FAT_TYPE_FAT12, "FLOPPY12"},
    {"fat16.img", FAT_TYPE_FAT16, "FAT16VOL"},
    {"fat32.img", FAT_TYPE_FAT32, "FAT32VOL"},
};

// The number on the line of fsck.fat's report that contains strKey: the first number of the
// line, or with bSector the N of "(sector N)".
uint64_t FsckNumber(const std::string& strReport, const std::string& strKey, bool bSector = false)
{
    const size_t nKey = strReport.find(strKey);
    if (nKey == std::string::npos) {
        ADD_FAILURE() << "fsck.fat did not report " << strKey;
        return 0;
    }
    const size_t nLine = strReport.rfind('\n', nKey) + 1;
    const std::string strLine = strReport.substr(nLine, strReport.find('\n', nKey) - nLine);
    if (bSector)
        return std::stoull(strLine.substr(strLine.find("(sector ") + 8));
    return std::stoull(strLine);
}

std::string LabelOf(CFATVolumeLabelReader& reader, uint64_t u64Start, const CFATDBR& dbr, bool* pFound = nullptr)
{
    char szLabel[FAT_VOLUME_LABEL_BUFFER];
    memset(szLabel, 0, sizeof(szLabel));
    const bool bFound = reader.ReadVolumeLabel(u64Start, &dbr, szLabel);
    if (pFound)
        *pFound = bFound;
    return szLabel;
}

// A 32-byte directory entry built field by field.
std::vector<uint8_t> Entry(const char* pszName11, uint8_t byAttr, uint32_t nCluster, uint32_t nSize,
                           uint16_t wDate = 0x4AEE, uint16_t wTime = 0x6000)
{
    std::vector<uint8_t> e(32, 0);
    memcpy(e.data(), pszName11, 11);
    e[11] = byAttr;
    PutU16(e, 14, wTime);
    PutU16(e, 16, wDate);
    PutU16(e, 18, wDate);
    PutU16(e, 20, static_cast<uint16_t>(nCluster >> 16));
    PutU16(e, 22, wTime);
    PutU16(e, 24, wDate);
    PutU16(e, 26, static_cast<uint16_t>(nCluster));
    PutU32(e, 28, nSize);
    return e;
}

// A long-name entry holding up to 13 units of strPart (0-ended and 0xFFFF-padded as written).
std::vector<uint8_t> LongEntry(uint8_t bySequence, const std::u16string& strPart)
{
    static const size_t kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    std::vector<uint8_t> e(32, 0);
    e[0] = bySequence;
    e[11] = FAT_ATTR_LONG_NAME;
    for (size_t i = 0; i < 13; ++i) {
        uint16_t c = 0xFFFF;
        if (i < strPart.size())
            c = strPart[i];
        else if (i == strPart.size())
            c = 0;
        PutU16(e, kOffsets[i], c);
    }
    return e;
}

std::vector<uint8_t> Join(const std::vector<std::vector<uint8_t>>& parts)
{
    std::vector<uint8_t> v;
    for (const auto& p : parts)
        v.insert(v.end(), p.begin(), p.end());
    return v;
}

// Reads a FAT volume the way a recovery does, with the classes under test: directories through
// the FAT, names from long-name runs, deleted entries included (a deleted folder is read as its
// first cluster).
class CFatVolume {
public:
    CFatVolume(CImageDevice& device, uint64_t u64Start)
        : m_Device(device), m_u64Start(u64Start), m_DBR(device.Sector(u64Start).data(), kSector)
    {
        m_pFAT.reset(CreateDoubleFATTable(&device, u64Start + m_DBR.GetDBR().GetFATOffset(), m_DBR.GetFATType(),
                                          m_DBR.GetSectorsPerFAT(), true, true));
    }

    struct FOUND {
        std::string strPath;
        bool bDeleted;
        bool bDirectory;
        uint32_t nCluster;
        uint32_t nSize;
    };

    const CFATDBR& DBR() const { return m_DBR.GetDBR(); }
    IFATTable* FAT() { return m_pFAT.get(); }
    uint64_t ClusterBytes() const { return uint64_t(m_DBR.GetSectorsPerCluster()) * kSector; }

    std::vector<uint8_t> ReadCluster(uint32_t nCluster)
    {
        uint64_t u64Sector = 0;
        EXPECT_TRUE(DBR().ClusterToSector(m_u64Start, nCluster, &u64Sector));
        return m_Device.Sectors(u64Sector, m_DBR.GetSectorsPerCluster());
    }

    // The chain from nFirst, as cluster numbers.
    std::vector<uint32_t> Chain(uint32_t nFirst)
    {
        std::vector<uint32_t> chain;
        for (uint32_t c = nFirst; IsValidClusterNumber(c) && chain.size() < 1000000; c = m_pFAT->GetNextCluster(c))
            chain.push_back(c);
        return chain;
    }

    std::vector<uint8_t> ReadClusters(const std::vector<uint32_t>& clusters, uint64_t u64Bytes)
    {
        std::vector<uint8_t> data;
        for (uint32_t c : clusters) {
            const std::vector<uint8_t> v = ReadCluster(c);
            data.insert(data.end(), v.begin(), v.end());
        }
        if (data.size() > u64Bytes)
            data.resize(u64Bytes);
        return data;
    }

    std::vector<uint8_t> ReadDirectory(uint32_t nCluster, bool bDeleted)
    {
        if (nCluster == 0 && DBR().GetFATType() != FAT_TYPE_FAT32)
            return m_Device.Sectors(m_u64Start + DBR().GetRootDirOffset(), DBR().GetRootDirSectors());
        if (nCluster == 0)
            nCluster = DBR().GetRootCluster();
        if (bDeleted)
            return ReadCluster(nCluster);
        const std::vector<uint32_t> chain = Chain(nCluster);
        return ReadClusters(chain, chain.size() * ClusterBytes());
    }

    void Walk(uint32_t nCluster, const std::string& strPrefix, bool bDeleted, std::vector<FOUND>& found)
    {
        const std::vector<uint8_t> dir = ReadDirectory(nCluster, bDeleted);
        size_t nRunStart = SIZE_MAX;
        for (size_t nOffset = 0; nOffset + 32 <= dir.size(); nOffset += 32) {
            const CFATDirEntry entry(dir.data() + nOffset);
            if (entry.IsEndMarker())
                break;
            if (!entry.IsValid(false)) {
                nRunStart = SIZE_MAX;
                continue;
            }
            if (entry.IsLongNameEntry()) {
                if (nRunStart == SIZE_MAX)
                    nRunStart = nOffset;
                continue;
            }
            const size_t nFirst = nRunStart == SIZE_MAX ? nOffset : nRunStart;
            nRunStart = SIZE_MAX;
            if (entry.IsVolumeLabel() || entry.IsDotEntry() || entry.IsDotDotEntry())
                continue;
            std::string strName;
            size_t nShort = 0;
            EXPECT_TRUE(GetNameFromEntries(dir.data() + nFirst, nOffset + 32 - nFirst, strName, &nShort));
            EXPECT_EQ(nOffset - nFirst, nShort);
            FOUND f{strPrefix + "/" + strName, bDeleted || entry.IsDeleted(), entry.IsDirectory(),
                    entry.GetFirstCluster(), entry.GetFileSize()};
            found.push_back(f);
            if (f.bDirectory && IsValidClusterNumber(f.nCluster))
                Walk(f.nCluster, f.strPath, f.bDeleted, found);
        }
    }

private:
    CImageDevice& m_Device;
    uint64_t m_u64Start;
    CFATDBRCopy m_DBR;
    std::unique_ptr<CDoubleFATTable> m_pFAT;
};

// A device whose sectors come from a function, for tables too large to keep as files.
class CGeneratedDevice : public IStorageDevice {
public:
    CGeneratedDevice(uint64_t u64Sectors, std::function<void(uint64_t, uint8_t*)> fnSector)
        : m_u64Sectors(u64Sectors), m_fnSector(fnSector)
    {
    }
    int ReadSectors(void* pBuffer, uint64_t u64Start, uint64_t u64Count) override
    {
        ++m_nReads;
        uint8_t* p = static_cast<uint8_t*>(pBuffer);
        if (u64Count > 8192 || u64Start + u64Count > m_u64Sectors) {
            memset(p, 0, u64Count * kSector);
            return 0;
        }
        for (uint64_t i = 0; i < u64Count; ++i)
            m_fnSector(u64Start + i, p + i * kSector);
        return 1;
    }
    uint64_t GetTotalSectors() override { return m_u64Sectors; }
    int GetSectorSize() override { return 512; }
    int Open() override { return 1; }
    int Close() override { return 1; }
    int m_nReads = 0;

private:
    uint64_t m_u64Sectors;
    std::function<void(uint64_t, uint8_t*)> m_fnSector;
};

} // namespace

TEST(FATBootSector, GeometryAndLabelMatchFsckAndBlkid)
{
    for (const FAT_IMAGE& image : kFatImages) {
        SCOPED_TRACE(image.pszName);
        const std::string strImage = rvdtest::FixturePath(image.pszName);
        CImageDevice device(strImage);
        const std::vector<uint8_t> sector = device.Sector(0);
        const CFATDBR dbr(sector.data(), sector.size());
        const std::string strFsck = Capture("fsck.fat -n -v '" + strImage + "'");
        ASSERT_FALSE(strFsck.empty());

        EXPECT_EQ(image.nType, dbr.GetFATType());
        const char* kVersions[] = {"FAT12", "FAT16", "FAT32"};
        EXPECT_EQ(kVersions[image.nType], Blkid(strImage, 0, "VERSION"));
        EXPECT_EQ(FsckNumber(strFsck, "bytes per cluster"), dbr.GetSectorsPerCluster() * kSector);
        EXPECT_EQ(FsckNumber(strFsck, "reserved sector"), dbr.GetReservedSectors());
        EXPECT_EQ(FsckNumber(strFsck, " FATs, "), dbr.GetFATCount());
        EXPECT_EQ(std::stoull(After(strFsck, "bytes per FAT (= ")), dbr.GetSectorsPerFAT());
        EXPECT_EQ(FsckNumber(strFsck, "sectors total"), dbr.GetTotalSectors());
        EXPECT_EQ(FsckNumber(strFsck, "First FAT starts", true), dbr.GetFATOffset());
        EXPECT_EQ(FsckNumber(strFsck, "Data area starts", true), dbr.GetDataOffset());
        EXPECT_EQ(512u, dbr.GetBytesPerSector());
        if (image.nType == FAT_TYPE_FAT32) {
            EXPECT_EQ(std::stoull(After(strFsck, "Root directory start at cluster ")), dbr.GetRootCluster());
            EXPECT_EQ(0u, dbr.GetRootDirSectors());
        } else {
            EXPECT_EQ(FsckNumber(strFsck, "Root directory starts", true), dbr.GetRootDirOffset());
            EXPECT_EQ(FsckNumber(strFsck, "root directory entries"), dbr.GetRootEntryCount());
            EXPECT_EQ(0u, dbr.GetRootCluster());
        }
        EXPECT_TRUE(HasBootSignature(sector.data(), sector.size()));
        EXPECT_TRUE(IsFATStartSector(device.Sector(dbr.GetFATOffset()).data(), kSector));
        EXPECT_TRUE(IsFATStartSector(device.Sector(dbr.GetFATOffset() + dbr.GetSectorsPerFAT()).data(), kSector));
        EXPECT_FALSE(IsFATStartSector(sector.data(), kSector));

        CFATVolumeLabelReader reader(&device);
        bool bFound = false;
        EXPECT_EQ(Blkid(strImage, 0, "LABEL"), LabelOf(reader, 0, dbr, &bFound));
        EXPECT_TRUE(bFound);
        EXPECT_EQ(image.pszLabel, LabelOf(reader, 0, dbr));

        const CFATDBRCopy copy(sector.data(), sector.size());
        EXPECT_EQ(dbr.GetFATType(), copy.GetFATType());
        EXPECT_EQ(dbr.GetTotalSectors(), copy.GetTotalSectors());
        EXPECT_EQ(dbr.GetSectorsPerFAT(), copy.GetSectorsPerFAT());
    }
}

TEST(FATBootSector, PartitionsInsideDiskImages)
{
    struct PART {
        const char* pszImage;
        uint64_t u64Start;
        int nType;
        const char* pszLabel;
    };
    const PART kParts[] = {
        {"mbr.img", 2048, FAT_TYPE_FAT16, "MBR FAT16"},
        {"mbr.img", 88064, FAT_TYPE_FAT32, "MBR FAT32"},
        {"gpt.img", 2048, FAT_TYPE_FAT32, "GPT FAT32"},
        {"lost.img", 63, FAT_TYPE_FAT16, "LIVE FAT16"},
    };
    for (const PART& part : kParts) {
        SCOPED_TRACE(std::string(part.pszImage) + " at " + std::to_string(part.u64Start));
        const std::string strImage = rvdtest::FixturePath(part.pszImage);
        CImageDevice device(strImage);
        const std::vector<uint8_t> sector = device.Sector(part.u64Start);
        const CFATDBR dbr(sector.data(), sector.size());
        EXPECT_EQ(part.nType, dbr.GetFATType());
        CFATVolumeLabelReader reader(&device);
        const std::string strLabel = LabelOf(reader, part.u64Start, dbr);
        EXPECT_EQ(part.pszLabel, strLabel);
        EXPECT_EQ(Blkid(strImage, part.u64Start * kSector, "LABEL"), strLabel);
    }
}

TEST(FATBootSector, ZeroedFAT32PrimaryLeavesTheBackupAtSix)
{
    const std::string strImage = rvdtest::FixturePath("fat32.img");
    CImageDevice device(strImage);
    const std::vector<uint8_t> primary = device.Sector(0);
    device.Patch(0, std::vector<uint8_t>(kSector, 0));

    const std::vector<uint8_t> zeroed = device.Sector(0);
    const CFATDBR none(zeroed.data(), zeroed.size());
    EXPECT_EQ(FAT_TYPE_NONE, none.GetFATType());
    EXPECT_FALSE(none.IsValid());
    EXPECT_FALSE(HasBootSignature(zeroed.data(), zeroed.size()));
    EXPECT_EQ(0u, none.GetTotalSectors());
    EXPECT_EQ(0u, none.GetSectorsPerFAT());
    EXPECT_EQ(0u, none.GetFATCount());
    EXPECT_EQ(0u, none.GetSectorsPerCluster());
    EXPECT_EQ(0u, none.GetReservedSectors());
    EXPECT_EQ(0u, none.GetRootCluster());
    EXPECT_EQ(0u, none.GetDataOffset());
    uint64_t u64Sector = 0;
    EXPECT_FALSE(none.ClusterToSector(0, 2, &u64Sector));
    CFATVolumeLabelReader reader(&device);
    bool bFound = true;
    EXPECT_EQ("", LabelOf(reader, 0, none, &bFound));
    EXPECT_FALSE(bFound);

    // mkfs.fat keeps the backup boot sector at sector 6, as the FAT32 candidates expect.
    const std::vector<uint8_t> backupSector = device.Sector(6);
    const CFATDBR backup(backupSector.data(), backupSector.size());
    const CFATDBR original(primary.data(), primary.size());
    ASSERT_EQ(FAT_TYPE_FAT32, backup.GetFATType());
    EXPECT_EQ(original.GetTotalSectors(), backup.GetTotalSectors());
    EXPECT_EQ(original.GetSectorsPerFAT(), backup.GetSectorsPerFAT());
    EXPECT_EQ(original.GetReservedSectors(), backup.GetReservedSectors());
    EXPECT_EQ(original.GetRootCluster(), backup.GetRootCluster());
    EXPECT_EQ(original.GetDataOffset(), backup.GetDataOffset());
    EXPECT_EQ("FAT32VOL", LabelOf(reader, 0, backup));
}

TEST(FATBootSector, TypeDetectionFieldTests)
{
    CImageDevice fat12(rvdtest::FixturePath("fat12.img"));
    CImageDevice fat16(rvdtest::FixturePath("fat16.img"));
    CImageDevice fat32(rvdtest::FixturePath("fat32.img"));
    struct CASE {
        const char* pszWhat;
        CImageDevice* pDevice;
        std::function<void(std::vector<uint8_t>&)> fnChange;
        int nExpected;
    };
    const CASE kCases[] = {
        {"FAT16 with one FAT", &fat16, [](std::vector<uint8_t>& s) { s[16] = 1; }, FAT_TYPE_FAT16},
        {"FAT16 with 500 root entries", &fat16, [](std::vector<uint8_t>& s) { PutU16(s, 17, 500); }, FAT_TYPE_FAT16},
        {"FAT12 with one FAT", &fat12, [](std::vector<uint8_t>& s) { s[16] = 1; }, FAT_TYPE_NONE},
        {"FAT12 with 500 root entries", &fat12, [](std::vector<uint8_t>& s) { PutU16(s, 17, 500); }, FAT_TYPE_NONE},
        {"FAT12 with 200 sectors per FAT", &fat12, [](std::vector<uint8_t>& s) { PutU16(s, 22, 200); }, FAT_TYPE_FAT12},
        {"FAT12 with 201 sectors per FAT", &fat12, [](std::vector<uint8_t>& s) { PutU16(s, 22, 201); }, FAT_TYPE_NONE},
        {"FAT12 with 224 root entries", &fat12, [](std::vector<uint8_t>& s) { PutU16(s, 17, 224); }, FAT_TYPE_FAT12},
        {"FAT12 with 2048 root entries", &fat12, [](std::vector<uint8_t>& s) { PutU16(s, 17, 2048); }, FAT_TYPE_FAT12},
        {"FAT12 with 208 root entries", &fat12, [](std::vector<uint8_t>& s) { PutU16(s, 17, 208); }, FAT_TYPE_FAT12},
        {"FAT12 with 112 root entries (720 KB floppy)", &fat12, [](std::vector<uint8_t>& s) { PutU16(s, 17, 112); }, FAT_TYPE_FAT12},
        {"FAT12 with 16 root entries", &fat12, [](std::vector<uint8_t>& s) { PutU16(s, 17, 16); }, FAT_TYPE_FAT12},
        {"FAT12 with 0 root entries", &fat12, [](std::vector<uint8_t>& s) { PutU16(s, 17, 0); }, FAT_TYPE_NONE},
        {"FAT12 with 120 root entries", &fat12, [](std::vector<uint8_t>& s) { PutU16(s, 17, 120); }, FAT_TYPE_NONE},
        {"FAT12 with 2064 root entries", &fat12, [](std::vector<uint8_t>& s) { PutU16(s, 17, 2064); }, FAT_TYPE_NONE},
        {"FAT12 with 0 sectors per cluster", &fat12, [](std::vector<uint8_t>& s) { s[13] = 0; }, FAT_TYPE_NONE},
        {"FAT16 with 0 sectors per cluster", &fat16, [](std::vector<uint8_t>& s) { s[13] = 0; }, FAT_TYPE_NONE},
        {"FAT16 with 3 sectors per cluster", &fat16, [](std::vector<uint8_t>& s) { s[13] = 3; }, FAT_TYPE_NONE},
        {"FAT32 with 3 sectors per cluster", &fat32, [](std::vector<uint8_t>& s) { s[13] = 3; }, FAT_TYPE_NONE},
        {"FAT32 with 128 sectors per cluster", &fat32, [](std::vector<uint8_t>& s) { s[13] = 128; }, FAT_TYPE_FAT32},
        {"FAT32 with one FAT", &fat32, [](std::vector<uint8_t>& s) { s[16] = 1; }, FAT_TYPE_NONE},
        {"FAT32 type text in lower case", &fat32, [](std::vector<uint8_t>& s) { memcpy(&s[82], "fat32   ", 8); }, FAT_TYPE_FAT32},
        {"FAT16 type text in lower case", &fat16, [](std::vector<uint8_t>& s) { memcpy(&s[54], "fat16   ", 8); }, FAT_TYPE_FAT16},
        {"FAT16 without the signature", &fat16, [](std::vector<uint8_t>& s) { s[511] = 0; }, FAT_TYPE_NONE},
        {"FAT16 with 0 sectors per FAT", &fat16, [](std::vector<uint8_t>& s) { PutU16(s, 22, 0); }, FAT_TYPE_NONE},
        {"FAT32 with 0 sectors per FAT", &fat32, [](std::vector<uint8_t>& s) { PutU32(s, 36, 0); }, FAT_TYPE_NONE},
    };
    for (const CASE& c : kCases) {
        std::vector<uint8_t> sector = c.pDevice->Sector(0);
        c.fnChange(sector);
        EXPECT_EQ(c.nExpected, CFATDBR(sector.data(), sector.size()).GetFATType()) << c.pszWhat;
    }
    // A short buffer is never read.
    const std::vector<uint8_t> sector = fat16.Sector(0);
    EXPECT_EQ(FAT_TYPE_NONE, CFATDBR(sector.data(), 511).GetFATType());
    EXPECT_EQ(FAT_TYPE_NONE, CFATDBR(nullptr, 512).GetFATType());
    EXPECT_EQ(0u, CFATDBR(sector.data(), 511).GetBytesPerSector());
}

// The 16-bit count of FAT12 and FAT16 volumes, or the 32-bit one when it is 0 (mkfs.fat writes a
// FAT12 of 65,536 sectors or more with large clusters that way); FAT32 has only the 32-bit one.
TEST(FATBootSector, TotalSectorsFromEitherField)
{
    CImageDevice fat12(rvdtest::FixturePath("fat12.img"));
    CImageDevice fat16(rvdtest::FixturePath("fat16.img"));
    CImageDevice fat32(rvdtest::FixturePath("fat32.img"));
    struct CASE {
        CImageDevice* pDevice;
        uint16_t wSmall;
        uint32_t nLarge;
        uint64_t u64Expected;
    };
    const CASE kCases[] = {
        {&fat12, 2880, 99999, 2880}, {&fat12, 0, 262144, 262144}, {&fat16, 40000, 99999, 40000},
        {&fat16, 0, 262144, 262144}, {&fat32, 40000, 262144, 262144},
    };
    for (const CASE& c : kCases) {
        std::vector<uint8_t> sector = c.pDevice->Sector(0);
        PutU16(sector, 19, c.wSmall);
        PutU32(sector, 32, c.nLarge);
        const CFATDBR dbr(sector.data(), sector.size());
        ASSERT_NE(FAT_TYPE_NONE, dbr.GetFATType());
        EXPECT_EQ(c.u64Expected, dbr.GetTotalSectors()) << dbr.GetFATType() << " " << c.wSmall;
    }
}

// A FAT16 root area of 500 entries takes 31.25 sectors and so occupies 32: the data area
// starts after the partly used last sector, and every cluster is found there.
TEST(FATBootSector, RootAreaRoundsUpToWholeSectors)
{
    CImageDevice device(rvdtest::FixturePath("fat16.img"));
    std::vector<uint8_t> sector = device.Sector(0);
    const uint64_t u64DataOffset = CFATDBR(sector.data(), sector.size()).GetDataOffset();
    PutU16(sector, 17, 500);
    device.Patch(0, sector);
    CFatVolume volume(device, 0);
    EXPECT_EQ(32u, volume.DBR().GetRootDirSectors());
    EXPECT_EQ(u64DataOffset, volume.DBR().GetDataOffset());

    int nChecked = 0;
    for (const MANIFEST_ENTRY& e : ReadManifest(rvdtest::FixturePath("fat16.img.manifest"))) {
        if (!e.bLive || e.bDirectory || e.u64Size == 0)
            continue;
        const std::vector<uint8_t> data = volume.ReadClusters(volume.Chain(static_cast<uint32_t>(e.u64Id)), e.u64Size);
        EXPECT_EQ(e.strSha256, Sha256Hex(data)) << e.strPath;
        ++nChecked;
    }
    EXPECT_GT(nChecked, 40);

    for (uint16_t nEntries : {16, 17, 31, 32}) {
        PutU16(sector, 17, nEntries);
        EXPECT_EQ((nEntries * 32u + 511) / 512, CFATDBR(sector.data(), sector.size()).GetRootDirSectors()) << nEntries;
    }
}

TEST(FATDirEntry, ValidityRules)
{
    struct CASE {
        const char* pszWhat;
        std::vector<uint8_t> entry;
        bool bStrict;
        bool bLoose;
    };
    std::vector<CASE> cases = {
        {"plain file", Entry("README  TXT", 0x20, 5, 100), true, true},
        {"empty file without cluster", Entry("EMPTY   TXT", 0x20, 0, 0), true, true},
        {"file of zero length with a cluster", Entry("ZERO    TXT", 0x20, 5, 0), false, true},
        {"file with a size and no cluster", Entry("NOCLUST TXT", 0x20, 0, 100), false, true},
        {"folder", Entry("FOLDER     ", 0x10, 7, 0), true, true},
        {"folder with a size and a high cluster word", Entry("FOLDER     ", 0x10, 0x10007, 512), false, true},
        {"folder with a size and a low cluster only", Entry("FOLDER     ", 0x10, 7, 512), true, true},
        {"deleted file", Entry("\xE5ILE    TXT", 0x20, 9, 10), true, true},
        {"volume label", Entry("MY DISK    ", 0x08, 0, 0), true, true},
        {"date and time 0", Entry("ZERO    DAT", 0x20, 3, 1, 0, 0), true, true},
        {"February 31", Entry("FEB     DAT", 0x20, 3, 1, (37 << 9) | (2 << 5) | 31), true, true},
        {"month 13", Entry("MONTH   DAT", 0x20, 3, 1, (37 << 9) | (13 << 5) | 1), false, false},
        {"day 0", Entry("DAY     DAT", 0x20, 3, 1, (37 << 9) | (1 << 5) | 0), false, false},
        {"hour 24", Entry("HOUR    DAT", 0x20, 3, 1, 0x4AEE, 24 << 11), false, false},
        {"minute 60", Entry("MINUTE  DAT", 0x20, 3, 1, 0x4AEE, 60 << 5), false, false},
        {"seconds/2 of 30", Entry("SECOND  DAT", 0x20, 3, 1, 0x4AEE, 30), false, false},
        {"name starting with a blank", Entry(" NAME   TXT", 0x20, 3, 1), false, false},
        {"name holding '?'", Entry("WHAT?   TXT", 0x20, 3, 1), false, false},
        {"name holding a control byte", Entry("CTRL\x01   TXT", 0x20, 3, 1), false, false},
        {"name holding 0xFF", Entry("FF\xFF     TXT", 0x20, 3, 1), false, false},
        {"end marker", Entry("\0          ", 0, 0, 0), false, false},
    };
    // A long-name entry is valid whatever its other bytes hold.
    std::vector<uint8_t> longEntry = LongEntry(0x41, u"name");
    PutU16(longEntry, 16, 0xFFFF);
    cases.push_back({"long-name entry", longEntry, true, true});
    for (const CASE& c : cases) {
        const CFATDirEntry entry(c.entry.data());
        EXPECT_EQ(c.bStrict, entry.IsValid(true)) << c.pszWhat;
        EXPECT_EQ(c.bLoose, entry.IsValid(false)) << c.pszWhat;
    }

    const std::vector<uint8_t> dot = Entry(".          ", 0x10, 12, 0);
    const std::vector<uint8_t> dotdot = Entry("..         ", 0x10, 0, 0);
    const std::vector<uint8_t> dotFile = Entry(".          ", 0x20, 12, 0);
    EXPECT_TRUE(CFATDirEntry(dot.data()).IsDotEntry());
    EXPECT_FALSE(CFATDirEntry(dot.data()).IsDotDotEntry());
    EXPECT_TRUE(CFATDirEntry(dotdot.data()).IsDotDotEntry());
    EXPECT_FALSE(CFATDirEntry(dotFile.data()).IsDotEntry());
    const std::vector<uint8_t> high = Entry("BIG     BIN", 0x20, 0x00123456, 0xFFFFFFFF);
    EXPECT_EQ(0x00123456u, CFATDirEntry(high.data()).GetFirstCluster());
    EXPECT_EQ(0xFFFFFFFFu, CFATDirEntry(high.data()).GetFileSize());
}

TEST(FATDirEntry, ShortNames)
{
    const std::vector<uint8_t> deleted = Entry("\xE5ILE    TXT", 0x20, 9, 10);
    EXPECT_EQ("#ILE.TXT", CFATDirEntry(deleted.data()).GetShortName(false));
    EXPECT_TRUE(CFATDirEntry(deleted.data()).IsDeleted());
    const std::vector<uint8_t> label = Entry("MY DISK    ", 0x08, 0, 0);
    EXPECT_EQ("MY DISK", CFATDirEntry(label.data()).GetShortName(true));
    // Lower-case flags of byte 12: 0x08 the base, 0x10 the extension (mtools and Windows write
    // "readme.txt" this way, without a long name); the deleted mark still shows as '#'.
    const struct {
        const char* pszName11;
        uint8_t byCase;
        const char* pszExpected;
    } kCases[] = {
        {"README  TXT", 0x18, "readme.txt"}, {"README  TXT", 0x08, "readme.TXT"},
        {"README  TXT", 0x10, "README.txt"}, {"\xE5" "EADME  TXT", 0x18, "#eadme.txt"},
        {"MAKEFILE   ", 0x08, "makefile"},
    };
    for (const auto& c : kCases) {
        std::vector<uint8_t> e = Entry(c.pszName11, 0x20, 9, 10);
        e[12] = c.byCase;
        EXPECT_EQ(c.pszExpected, CFATDirEntry(e.data()).GetShortName(false)) << c.pszExpected;
    }
    const std::vector<uint8_t> noExt = Entry("MAKEFILE   ", 0x20, 9, 10);
    EXPECT_EQ("MAKEFILE", CFATDirEntry(noExt.data()).GetShortName(false));
    // Short names are DOS code page 437: 0x9A is U with diaeresis.
    const std::vector<uint8_t> oem = Entry("\x9A" "BER    TXT", 0x20, 9, 10);
    EXPECT_EQ("\xC3\x9C" "BER.TXT", CFATDirEntry(oem.data()).GetShortName(false));

    // A label with a blank between its 8th and 9th character keeps it, as blkid shows it.
    rvdtest::CTempDir dir;
    const std::string strImage = MakeImage(dir, "label.img", 4 << 20, "mkfs.fat -n 'ABCDEFG HIJ'");
    CImageDevice device(strImage);
    const std::vector<uint8_t> sector = device.Sector(0);
    const CFATDBR dbr(sector.data(), sector.size());
    CFATVolumeLabelReader reader(&device);
    EXPECT_EQ("ABCDEFG HIJ", LabelOf(reader, 0, dbr));
    EXPECT_EQ(Blkid(strImage, 0, "LABEL"), LabelOf(reader, 0, dbr));
}

TEST(FATDirEntry, LongNames)
{
    std::string strName;
    // Stored last part first, ended by the 8.3 entry.
    const std::vector<uint8_t> run = Join({LongEntry(0x42, u"ort.txt"), LongEntry(0x01, u"Quarterly rep"),
                                           Entry("QUARTE~1TXT", 0x20, 5, 3000)});
    size_t nShort = 0;
    ASSERT_TRUE(GetNameFromEntries(run.data(), run.size(), strName, &nShort));
    EXPECT_EQ(64u, nShort);
    EXPECT_EQ("Quarterly report.txt", strName);

    const std::vector<uint8_t> colon = Join({LongEntry(0x41, u"a:b.txt"), Entry("AB~1    TXT", 0x20, 5, 1)});
    ASSERT_TRUE(GetNameFromEntries(colon.data(), colon.size(), strName));
    EXPECT_EQ("AB~1.TXT", strName);

    // A run cut short: its last part (and the flag that marks it) lay in a directory cluster
    // that was not read. The fragment is no name; the 8.3 name is.
    const std::vector<uint8_t> cut = Join({LongEntry(0x01, u"Quarterly rep"), Entry("QUARTE~1TXT", 0x20, 5, 3000)});
    ASSERT_TRUE(GetNameFromEntries(cut.data(), cut.size(), strName));
    EXPECT_EQ("QUARTE~1.TXT", strName);

    const std::vector<uint8_t> bare = Entry("PLAIN   TXT", 0x20, 5, 1);
    ASSERT_TRUE(GetNameFromEntries(bare.data(), bare.size(), strName));
    EXPECT_EQ("PLAIN.TXT", strName);

    const std::vector<uint8_t> noShort = Join({LongEntry(0x41, u"dangling")});
    EXPECT_FALSE(GetNameFromEntries(noShort.data(), noShort.size(), strName));
    EXPECT_TRUE(strName.empty());

    // A character outside the BMP whose surrogate pair is split between two entries.
    const std::u16string first = u"abcdefghijkl\xD83D";
    const std::vector<uint8_t> split = Join({LongEntry(0x42, u"\xDE00.txt"), LongEntry(0x01, first),
                                             Entry("ABCDEF~1TXT", 0x20, 5, 1)});
    ASSERT_TRUE(GetNameFromEntries(split.data(), split.size(), strName));
    EXPECT_EQ("abcdefghijkl\xF0\x9F\x98\x80.txt", strName);

    // A run longer than any name: only the 20 entries nearest the 8.3 entry are joined.
    std::vector<std::vector<uint8_t>> parts;
    parts.push_back(LongEntry(0x41, u"ORPHAN"));
    for (int i = 20; i >= 1; --i)
        parts.push_back(LongEntry(static_cast<uint8_t>(i), std::u16string(13, static_cast<char16_t>(u'a' + (i - 1) % 26))));
    parts.push_back(Entry("LONG~1     ", 0x20, 5, 1));
    const std::vector<uint8_t> longRun = Join(parts);
    ASSERT_TRUE(GetNameFromEntries(longRun.data(), longRun.size(), strName));
    EXPECT_EQ(260u, strName.size());
    EXPECT_EQ(std::string(13, 'a'), strName.substr(0, 13));
    EXPECT_EQ(std::string::npos, strName.find("ORPHAN"));

    std::string strPart;
    EXPECT_TRUE(CFATDirEntry(parts[1].data()).GetLongNamePart(strPart));
    EXPECT_EQ(std::string(13, 't'), strPart);
    EXPECT_FALSE(CFATDirEntry(bare.data()).GetLongNamePart(strPart));

    for (const char* pszBad : {"", "a?b", "a*b", "a|b", "a\\b", "a/b", "a:b", "a\"b", "a<b", "a>b"})
        EXPECT_FALSE(IsValidLongName(pszBad)) << pszBad;
    EXPECT_TRUE(IsValidLongName("Ünïcødé ñame.txt"));
}

// Every file and folder of the fixture images is found with its name, first cluster and size;
// live files read back through their FAT chains and recoverable deleted files through their
// first cluster and the free clusters after it give the bytes that were written.
TEST(FATDirectories, NamesAndDataMatchTheManifest)
{
    for (const FAT_IMAGE& image : kFatImages) {
        SCOPED_TRACE(image.pszName);
        CImageDevice device(rvdtest::FixturePath(image.pszName));
        CFatVolume volume(device, 0);
        ASSERT_NE(nullptr, static_cast<CDoubleFATTable*>(volume.FAT())->GetFAT1());
        std::vector<CFatVolume::FOUND> found;
        volume.Walk(0, "", false, found);
        std::map<std::string, CFatVolume::FOUND> byPath;
        for (const auto& f : found)
            byPath[f.strPath] = f;

        int nLiveFiles = 0, nDeletedFiles = 0;
        for (const MANIFEST_ENTRY& e : ReadManifest(rvdtest::FixturePath(std::string(image.pszName) + ".manifest"))) {
            SCOPED_TRACE(e.strPath);
            // A name that fits 8.3 has no long-name entries and reads in capitals (the case
            // flags of the entry are not used); a deleted one has lost its first character.
            const size_t nSlash = e.strPath.rfind('/');
            std::string strShort = e.strPath;
            for (size_t i = nSlash + 1; i < strShort.size(); ++i)
                strShort[i] = static_cast<char>(toupper(static_cast<unsigned char>(strShort[i])));
            if (!e.bLive)
                strShort[nSlash + 1] = '#';
            auto it = byPath.find(e.strPath);
            if (it == byPath.end())
                it = byPath.find(strShort);
            ASSERT_NE(byPath.end(), it);
            const CFatVolume::FOUND& f = it->second;
            EXPECT_EQ(e.bDirectory, f.bDirectory);
            EXPECT_EQ(!e.bLive, f.bDeleted);
            if (e.bDirectory)
                continue;
            EXPECT_EQ(e.u64Size, f.nSize);
            EXPECT_EQ(e.u64Id, f.nCluster);
            if (e.bLive) {
                const std::vector<uint32_t> chain = volume.Chain(f.nCluster);
                EXPECT_EQ((e.u64Size + volume.ClusterBytes() - 1) / volume.ClusterBytes(), chain.size());
                EXPECT_EQ(e.strSha256, Sha256Hex(volume.ReadClusters(chain, e.u64Size)));
                bool bContiguous = true;
                for (size_t i = 1; i < chain.size(); ++i)
                    bContiguous = bContiguous && chain[i] == chain[i - 1] + 1;
                EXPECT_EQ(e.bFragmented, !bContiguous);
                ++nLiveFiles;
            } else if (e.bRecoverable) {
                // The freed chain reads as free clusters; the data lies in the first cluster and
                // the free clusters after it.
                EXPECT_EQ(0u, volume.FAT()->GetNextCluster(f.nCluster));
                std::vector<uint32_t> clusters = {f.nCluster};
                for (uint32_t n = f.nCluster + 1; clusters.size() * volume.ClusterBytes() < e.u64Size; ++n)
                    if ((volume.FAT()->GetNextCluster(n) & 0x0FFFFFFF) == 0)
                        clusters.push_back(n);
                EXPECT_EQ(e.strSha256, Sha256Hex(volume.ReadClusters(clusters, e.u64Size)));
                ++nDeletedFiles;
            }
        }
        EXPECT_GT(nLiveFiles, 40);
        EXPECT_GT(nDeletedFiles, 4);
    }
}

TEST(FATDirSectorInfo, Classification)
{
    CFATDirSectorInfo info;
    const std::vector<uint8_t> zeros(kSector, 0);
    EXPECT_FALSE(info.Classify(zeros.data(), zeros.size()));
    EXPECT_EQ(FAT_DIR_SECTOR_NONE, info.m_nKind);

    // "." and ".." followed by garbage: still the first sector of a directory.
    std::vector<uint8_t> first = Join({Entry(".          ", 0x10, 12, 0), Entry("..         ", 0x10, 3, 0)});
    first.resize(kSector, 0x3F);
    ASSERT_TRUE(info.Classify(first.data(), first.size()));
    EXPECT_EQ(FAT_DIR_SECTOR_FIRST, info.m_nKind);
    EXPECT_EQ(12u, info.m_nDotCluster);
    EXPECT_EQ(3u, info.m_nDotDotCluster);
    EXPECT_EQ(0, info.m_nEntryCount);
    EXPECT_EQ(12u, info.m_nHighestCluster);

    // Two live empty files in a row share first cluster 0: not a directory sector.
    std::vector<uint8_t> twoEmpty =
        Join({Entry("ONE     TXT", 0x20, 0, 0), Entry("TWO     TXT", 0x20, 0, 0), Entry("THREE   TXT", 0x20, 9, 5)});
    twoEmpty.resize(kSector, 0);
    EXPECT_FALSE(info.Classify(twoEmpty.data(), twoEmpty.size()));
    EXPECT_EQ(0, info.m_nEntryCount);

    // A file entry of zero length that names a cluster is not a directory entry.
    std::vector<uint8_t> zeroLength =
        Join({Entry("ZERO    TXT", 0x20, 40, 0), Entry("ONE     TXT", 0x20, 41, 5), Entry("TWO     TXT", 0x20, 42, 5)});
    zeroLength.resize(kSector, 0);
    EXPECT_FALSE(info.Classify(zeroLength.data(), zeroLength.size()));

    // Entries ended cleanly by zeros: a part of a directory; the long-name entry is not counted.
    std::vector<uint8_t> part = Join({LongEntry(0x41, u"long name"), Entry("LONGNA~1TXT", 0x20, 20, 5),
                                      Entry("\xE5" "ELETED  TXT", 0x20, 20, 5), Entry("OTHER   TXT", 0x20, 30, 5)});
    part.resize(kSector, 0);
    ASSERT_TRUE(info.Classify(part.data(), part.size()));
    EXPECT_EQ(FAT_DIR_SECTOR_PART, info.m_nKind);
    EXPECT_EQ(3, info.m_nEntryCount);
    EXPECT_EQ(30u, info.m_nHighestCluster);
    EXPECT_EQ(0u, info.m_nDotCluster);
    // ...but stray bytes after them reject it.
    part[4 * 32] = 'X';
    EXPECT_FALSE(info.Classify(part.data(), part.size()));
    EXPECT_FALSE(info.Classify(part.data(), kSector - 1));

    // Real directory sectors: the first of "/Many Files" and one further on.
    CImageDevice device(rvdtest::FixturePath("fat16.img"));
    CFatVolume volume(device, 0);
    std::vector<CFatVolume::FOUND> found;
    volume.Walk(0, "", false, found);
    for (const auto& f : found) {
        if (f.strPath != "/Many Files")
            continue;
        const std::vector<uint8_t> dir = volume.ReadDirectory(f.nCluster, false);
        ASSERT_GE(dir.size(), 4 * kSector);
        ASSERT_TRUE(info.Classify(dir.data(), kSector));
        EXPECT_EQ(FAT_DIR_SECTOR_FIRST, info.m_nKind);
        EXPECT_EQ(f.nCluster, info.m_nDotCluster);
        EXPECT_EQ(0u, info.m_nDotDotCluster);
        ASSERT_TRUE(info.Classify(dir.data() + 2 * kSector, kSector));
        EXPECT_EQ(FAT_DIR_SECTOR_PART, info.m_nKind);
        EXPECT_GE(info.m_nEntryCount, 2);
    }
}

TEST(FATTable, FixturesHoldTwoSoundIdenticalCopies)
{
    for (const FAT_IMAGE& image : kFatImages) {
        SCOPED_TRACE(image.pszName);
        CImageDevice device(rvdtest::FixturePath(image.pszName));
        const std::vector<uint8_t> sector = device.Sector(0);
        const CFATDBR dbr(sector.data(), sector.size());
        std::unique_ptr<IRealFATTable> fat1(CreateFATTable(&device, dbr.GetFATType(), dbr.GetFATOffset(), dbr.GetSectorsPerFAT()));
        std::unique_ptr<IRealFATTable> fat2(
            CreateFATTable(&device, dbr.GetFATType(), dbr.GetFATOffset() + dbr.GetSectorsPerFAT(), dbr.GetSectorsPerFAT()));
        ASSERT_NE(nullptr, fat1);
        ASSERT_NE(nullptr, fat2);
        const uint32_t nClusters = (dbr.GetTotalSectors() - static_cast<uint32_t>(dbr.GetDataOffset())) / dbr.GetSectorsPerCluster();
        for (uint32_t c = 0; c < nClusters + 2; ++c)
            ASSERT_EQ(fat1->GetNextCluster(c), fat2->GetNextCluster(c)) << c;
        // Beyond the table every cluster reads as free.
        EXPECT_EQ(0u, fat1->GetNextCluster(dbr.GetSectorsPerFAT() * 512 * 2));
        EXPECT_EQ(0u, fat1->GetNextCluster(0xFFFFFFFF));
    }
}

// FAT1 is used when sound, and FAT2 is then never read; a damaged FAT1 gives way to FAT2 only
// when the caller allows it.
TEST(FATTable, PairFallsBackToFAT2)
{
    for (const FAT_IMAGE& image : kFatImages) {
        SCOPED_TRACE(image.pszName);
        CImageDevice device(rvdtest::FixturePath(image.pszName));
        const std::vector<uint8_t> sector = device.Sector(0);
        const CFATDBR dbr(sector.data(), sector.size());
        const uint64_t u64FAT1 = dbr.GetFATOffset();
        const uint32_t nSize = dbr.GetSectorsPerFAT();

        device.ResetCounters();
        std::unique_ptr<CDoubleFATTable> sound(CreateDoubleFATTable(&device, u64FAT1, dbr.GetFATType(), nSize, true, true));
        ASSERT_NE(nullptr, sound->GetFAT1());
        EXPECT_EQ(nullptr, sound->GetFAT2());
        EXPECT_EQ(nSize, device.SectorsRead());
        const uint32_t nRootNext = sound->GetNextCluster(3);

        std::vector<uint8_t> first = device.Sector(u64FAT1);
        first[0] = 0x12;
        device.Patch(u64FAT1, first);
        std::unique_ptr<CDoubleFATTable> fallback(CreateDoubleFATTable(&device, u64FAT1, dbr.GetFATType(), nSize, true, true));
        EXPECT_EQ(nullptr, fallback->GetFAT1());
        ASSERT_NE(nullptr, fallback->GetFAT2());
        EXPECT_EQ(nRootNext, fallback->GetNextCluster(3));

        std::unique_ptr<CDoubleFATTable> none(CreateDoubleFATTable(&device, u64FAT1, dbr.GetFATType(), nSize, true, false));
        ASSERT_NE(nullptr, none);
        EXPECT_EQ(nullptr, none->GetFAT1());
        EXPECT_EQ(nullptr, none->GetFAT2());
        EXPECT_EQ(0u, none->GetNextCluster(3));

        // An unreadable FAT1 reads as zeros, never as stale bytes, and fails its media test.
        CImageDevice bad(rvdtest::FixturePath(image.pszName));
        bad.MarkBad(u64FAT1);
        EXPECT_EQ(nullptr, CreateFATTable(&bad, dbr.GetFATType(), u64FAT1, nSize));
        DeleteFATTable(nullptr);
        EXPECT_EQ(nullptr, CreateFATTable(&bad, 3, u64FAT1, nSize));
    }
}

TEST(FATTable, CrossLinksAndLoopsMakeACopyUnsound)
{
    struct CASE {
        const char* pszImage;
        bool bChecked;
    };
    for (const CASE& c : {CASE{"fat12.img", false}, CASE{"fat16.img", true}, CASE{"fat32.img", true}}) {
        SCOPED_TRACE(c.pszImage);
        CImageDevice device(rvdtest::FixturePath(c.pszImage));
        const std::vector<uint8_t> sector = device.Sector(0);
        const CFATDBR dbr(sector.data(), sector.size());
        const int nType = dbr.GetFATType();
        const uint64_t u64FAT1 = dbr.GetFATOffset();
        const uint32_t nSize = dbr.GetSectorsPerFAT();
        std::unique_ptr<IRealFATTable> table(CreateFATTable(&device, nType, u64FAT1, nSize));
        ASSERT_NE(nullptr, table);

        // Two chains of the manifest: the big file's and a short one.
        uint32_t nBig = 0, nSmall = 0;
        for (const MANIFEST_ENTRY& e : ReadManifest(rvdtest::FixturePath(std::string(c.pszImage) + ".manifest"))) {
            if (e.strPath == "/Big File.bin")
                nBig = static_cast<uint32_t>(e.u64Id);
            if (e.strPath == "/readme.txt")
                nSmall = static_cast<uint32_t>(e.u64Id);
        }
        ASSERT_TRUE(IsValidClusterNumber(nBig) && IsValidClusterNumber(nSmall));
        const uint32_t nBigSecond = table->GetNextCluster(nBig);
        ASSERT_TRUE(IsValidClusterNumber(nBigSecond));

        // Sets the FAT entry of cluster n in a patched copy of the sector that holds it.
        auto setEntry = [&](CImageDevice& dev, uint32_t n, uint32_t v) {
            const uint64_t u64Byte = nType == FAT_TYPE_FAT12 ? uint64_t(n) * 3 / 2 : uint64_t(n) * (nType == FAT_TYPE_FAT16 ? 2 : 4);
            std::vector<uint8_t> s = dev.Sectors(u64FAT1 + u64Byte / kSector, 2);
            const size_t o = u64Byte % kSector;
            if (nType == FAT_TYPE_FAT12) {
                uint16_t w = GetU16(s, o);
                w = (n & 1) ? static_cast<uint16_t>((w & 0x000F) | (v << 4)) : static_cast<uint16_t>((w & 0xF000) | (v & 0x0FFF));
                PutU16(s, o, w);
            } else if (nType == FAT_TYPE_FAT16) {
                PutU16(s, o, static_cast<uint16_t>(v));
            } else {
                PutU32(s, o, v);
            }
            dev.Patch(u64FAT1 + u64Byte / kSector, std::vector<uint8_t>(s.begin(), s.begin() + kSector));
            dev.Patch(u64FAT1 + u64Byte / kSector + 1, std::vector<uint8_t>(s.begin() + kSector, s.end()));
        };

        CImageDevice crossed(rvdtest::FixturePath(c.pszImage));
        setEntry(crossed, nSmall, nBigSecond);
        std::unique_ptr<IRealFATTable> crossedTable(CreateFATTable(&crossed, nType, u64FAT1, nSize));
        EXPECT_EQ(!c.bChecked, crossedTable != nullptr) << "cross-linked";

        CImageDevice looped(rvdtest::FixturePath(c.pszImage));
        setEntry(looped, nBigSecond, nBig);
        std::unique_ptr<IRealFATTable> loopedTable(CreateFATTable(&looped, nType, u64FAT1, nSize));
        EXPECT_EQ(!c.bChecked, loopedTable != nullptr) << "looped";

        CImageDevice self(rvdtest::FixturePath(c.pszImage));
        setEntry(self, nBigSecond, nBigSecond);
        std::unique_ptr<IRealFATTable> selfTable(CreateFATTable(&self, nType, u64FAT1, nSize));
        EXPECT_EQ(!c.bChecked, selfTable != nullptr) << "self";

        CImageDevice one(rvdtest::FixturePath(c.pszImage));
        setEntry(one, nSmall, 1);
        std::unique_ptr<IRealFATTable> oneTable(CreateFATTable(&one, nType, u64FAT1, nSize));
        EXPECT_EQ(!c.bChecked, oneTable != nullptr) << "entry 1";

        // Bad-cluster marks pass through unchanged (and pass IsValidClusterNumber).
        CImageDevice badMark(rvdtest::FixturePath(c.pszImage));
        const uint32_t nBadMark = nType == FAT_TYPE_FAT12 ? 0xFF7 : nType == FAT_TYPE_FAT16 ? 0xFFF7 : 0x0FFFFFF7;
        setEntry(badMark, nSmall, nBadMark);
        std::unique_ptr<IRealFATTable> badTable(CreateFATTable(&badMark, nType, u64FAT1, nSize));
        ASSERT_NE(nullptr, badTable);
        EXPECT_EQ(nBadMark, badTable->GetNextCluster(nSmall));
        EXPECT_EQ(nType != FAT_TYPE_FAT32, IsValidClusterNumber(badTable->GetNextCluster(nSmall)));

        // End marks are normalised for FAT12 and FAT16; FAT32 entries come back as stored.
        CImageDevice ends(rvdtest::FixturePath(c.pszImage));
        const uint32_t nLast = nType == FAT_TYPE_FAT12 ? 0xFFF : nType == FAT_TYPE_FAT16 ? 0xFFFF : 0xFFFFFFFF;
        const uint32_t nFirst = nType == FAT_TYPE_FAT12 ? 0xFF8 : nType == FAT_TYPE_FAT16 ? 0xFFF8 : 0x1FFFFFF8;
        setEntry(ends, nSmall, nLast);
        setEntry(ends, nBig, nFirst);
        std::unique_ptr<IRealFATTable> endsTable(CreateFATTable(&ends, nType, u64FAT1, nSize));
        ASSERT_NE(nullptr, endsTable);
        EXPECT_EQ(FAT_END_OF_CHAIN_LAST, endsTable->GetNextCluster(nSmall));
        EXPECT_EQ(nType == FAT_TYPE_FAT32 ? 0x1FFFFFF8u : FAT_END_OF_CHAIN, endsTable->GetNextCluster(nBig));
        EXPECT_FALSE(IsValidClusterNumber(endsTable->GetNextCluster(nBig)));
    }
}

// Entry 0 of a FAT16 or FAT32 copy is the media byte with every higher bit set, entry 1 an end
// mark whose top two bits Windows clears on a volume not cleanly unmounted or after a disk
// error: such copies are read. A byte that is no media value, or an entry 1 that is no end mark,
// still makes the copy unsound.
TEST(FATTable, MediaBytesAndUnmountMarksOfTheFirstEntries)
{
    struct CASE {
        int nType;
        uint32_t nEntry0, nEntry1;
        bool bSound;
    };
    const CASE kCases[] = {
        {FAT_TYPE_FAT16, 0xFFF8, 0xFFFF, true},          {FAT_TYPE_FAT16, 0xFFF0, 0xFFFF, true},
        {FAT_TYPE_FAT16, 0xFFFF, 0xFFF8, true},          {FAT_TYPE_FAT16, 0xFFF8, 0x7FFF, true},
        {FAT_TYPE_FAT16, 0xFFF8, 0xBFFF, true},          {FAT_TYPE_FAT16, 0xFFF8, 0x3FFF, true},
        {FAT_TYPE_FAT16, 0xFF12, 0xFFFF, false},         {FAT_TYPE_FAT16, 0xFFF4, 0xFFFF, false},
        {FAT_TYPE_FAT16, 0x00F8, 0xFFFF, false},         {FAT_TYPE_FAT16, 0xFFF8, 0x0000, false},
        {FAT_TYPE_FAT16, 0xFFF8, 0x3FF7, false},
        {FAT_TYPE_FAT32, 0x0FFFFFF8, 0x0FFFFFFF, true},  {FAT_TYPE_FAT32, 0x0FFFFFF0, 0x0FFFFFFF, true},
        {FAT_TYPE_FAT32, 0xFFFFFFF8, 0xFFFFFFFF, true},  {FAT_TYPE_FAT32, 0x0FFFFFF8, 0x07FFFFFF, true},
        {FAT_TYPE_FAT32, 0x0FFFFFF8, 0x0BFFFFFF, true},  {FAT_TYPE_FAT32, 0x0FFFFFF8, 0x03FFFFFF, true},
        {FAT_TYPE_FAT32, 0x0FFFFF12, 0x0FFFFFFF, false}, {FAT_TYPE_FAT32, 0x0FFF00F8, 0x0FFFFFFF, false},
        {FAT_TYPE_FAT32, 0x0FFFFFF8, 0x00000000, false}, {FAT_TYPE_FAT32, 0x0FFFFFF8, 0x03FFFFF7, false},
    };
    for (const CASE& c : kCases) {
        SCOPED_TRACE(::testing::Message() << c.nType << " " << std::hex << c.nEntry0 << " " << c.nEntry1);
        const uint32_t nWidth = c.nType == FAT_TYPE_FAT16 ? 2 : 4;
        CGeneratedDevice device(512, [&](uint64_t u64Sector, uint8_t* p) {
            memset(p, 0, kSector);
            if (u64Sector == 0)
                for (uint32_t i = 0; i < nWidth; ++i) {
                    p[i] = static_cast<uint8_t>(c.nEntry0 >> (8 * i));
                    p[nWidth + i] = static_cast<uint8_t>(c.nEntry1 >> (8 * i));
                }
        });
        std::unique_ptr<IRealFATTable> table(CreateFATTable(&device, c.nType, 0, 256));
        EXPECT_EQ(c.bSound, table != nullptr);
    }
}

TEST(FATTable, SizeLimitsOfEachWidth)
{
    // Tables made of a media pattern followed by free entries.
    auto media = [](uint32_t w0, uint32_t w1) {
        return [w0, w1](uint64_t u64Sector, uint8_t* p) {
            memset(p, 0, kSector);
            if (u64Sector == 0) {
                for (int i = 0; i < 4; ++i) {
                    p[i] = static_cast<uint8_t>(w0 >> (8 * i));
                    p[4 + i] = static_cast<uint8_t>(w1 >> (8 * i));
                }
            }
        };
    };
    CGeneratedDevice fat12(200000, media(0x00FFFFF0, 0));
    CGeneratedDevice fat16(200000, media(0xFFFFFFF8, 0));
    CGeneratedDevice fat32(200000, media(0x0FFFFFF8, 0x0FFFFFFF));
    struct CASE {
        CGeneratedDevice* pDevice;
        int nType;
        uint32_t nSectors;
        bool bLoaded;
    };
    const CASE kCases[] = {
        {&fat12, FAT_TYPE_FAT12, 0, false},     {&fat12, FAT_TYPE_FAT12, 1, true},
        {&fat12, FAT_TYPE_FAT12, 12, true},     {&fat12, FAT_TYPE_FAT12, 13, true},
        {&fat12, FAT_TYPE_FAT12, 200, true},
        {&fat16, FAT_TYPE_FAT16, 11, false},    {&fat16, FAT_TYPE_FAT16, 12, true},
        {&fat16, FAT_TYPE_FAT16, 256, true},    {&fat16, FAT_TYPE_FAT16, 257, false},
        {&fat32, FAT_TYPE_FAT32, 255, false},   {&fat32, FAT_TYPE_FAT32, 256, true},
        {&fat32, FAT_TYPE_FAT32, 128000, true}, {&fat32, FAT_TYPE_FAT32, 128001, false},
    };
    for (const CASE& c : kCases) {
        std::unique_ptr<IRealFATTable> table(CreateFATTable(c.pDevice, c.nType, 0, c.nSectors));
        EXPECT_EQ(c.bLoaded, table != nullptr) << c.nType << " " << c.nSectors;
    }
    // A FAT12 longer than 12 sectors is read as far as its entries reach: the last cluster a
    // FAT12 addresses is found, and none of the padding is read.
    {
        CGeneratedDevice padded(200000, [](uint64_t u64Sector, uint8_t* p) {
            memset(p, 0, kSector);
            if (u64Sector == 0)
                memcpy(p, "\xF0\xFF\xFF", 3);
            // Entry 0xFF6 (even: the lower 12 bits of the word at byte 6129) ends its chain.
            if (u64Sector == 11) {
                const size_t nOffset = 0xFF6 * 3 / 2 - 11 * kSector;
                p[nOffset] = 0xFF;
                p[nOffset + 1] = 0x0F;
            }
            if (u64Sector >= 12)
                memset(p, 0x55, kSector);
        });
        std::unique_ptr<IRealFATTable> table(CreateFATTable(&padded, FAT_TYPE_FAT12, 0, 200));
        ASSERT_NE(nullptr, table);
        EXPECT_TRUE(table->IsValid());
        EXPECT_EQ(static_cast<uint32_t>(FAT_END_OF_CHAIN_LAST), table->GetNextCluster(0xFF6));
        EXPECT_EQ(0u, table->GetNextCluster(0xFF5));
    }
    // A copy larger than one device read is read in pieces the device accepts.
    const int nReads = fat32.m_nReads;
    std::unique_ptr<IRealFATTable> big(CreateFATTable(&fat32, FAT_TYPE_FAT32, 0, 128000));
    ASSERT_NE(nullptr, big);
    EXPECT_EQ(16, fat32.m_nReads - nReads);
}

// A single chain through every entry of the largest FAT32, stored backwards so that each new
// start meets the chains followed before: the check must stay linear.
TEST(FATTable, LongestChainIsCheckedQuickly)
{
    const uint32_t nSectors = 128000;
    const uint32_t nEntries = nSectors * 128;
    CGeneratedDevice device(nSectors, [](uint64_t u64Sector, uint8_t* p) {
        for (uint32_t i = 0; i < 128; ++i) {
            const uint32_t n = static_cast<uint32_t>(u64Sector * 128 + i);
            uint32_t v = n - 1;
            if (n == 0)
                v = 0x0FFFFFF8;
            else if (n <= 2)
                v = 0x0FFFFFFF;
            for (int b = 0; b < 4; ++b)
                p[i * 4 + b] = static_cast<uint8_t>(v >> (8 * b));
        }
    });
    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<IRealFATTable> table(CreateFATTable(&device, FAT_TYPE_FAT32, 0, nSectors));
    const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_NE(nullptr, table);
    EXPECT_LT(dSeconds, 20.0);
    EXPECT_EQ(nEntries - 2, table->GetNextCluster(nEntries - 1));
}

TEST(FATVolumeLabelReader, DamagedRootsEndWithoutALabel)
{
    char szLabel[FAT_VOLUME_LABEL_BUFFER];

    // A FAT16 root area of fewer than 16 entries has no whole sector: nothing to scan.
    {
        CImageDevice device(rvdtest::FixturePath("fat16.img"));
        std::vector<uint8_t> sector = device.Sector(0);
        PutU16(sector, 17, 0);
        const CFATDBR dbr(sector.data(), sector.size());
        ASSERT_TRUE(dbr.IsValid());
        CFATVolumeLabelReader reader(&device);
        device.ResetCounters();
        memset(szLabel, 'x', sizeof(szLabel));
        EXPECT_FALSE(reader.ReadVolumeLabel(0, &dbr, szLabel));
        EXPECT_EQ('x', szLabel[0]);
        EXPECT_EQ(0, device.Reads());
    }
    // An unreadable root area.
    {
        CImageDevice device(rvdtest::FixturePath("fat16.img"));
        const std::vector<uint8_t> sector = device.Sector(0);
        const CFATDBR dbr(sector.data(), sector.size());
        device.MarkBad(dbr.GetRootDirOffset());
        CFATVolumeLabelReader reader(&device);
        memset(szLabel, 'x', sizeof(szLabel));
        EXPECT_FALSE(reader.ReadVolumeLabel(0, &dbr, szLabel));
        EXPECT_EQ('x', szLabel[0]);
    }
    // A FAT32 root whose chain loops back to itself and holds no label ends.
    {
        CImageDevice device(rvdtest::FixturePath("fat32.img"));
        const std::vector<uint8_t> sector = device.Sector(0);
        const CFATDBR dbr(sector.data(), sector.size());
        uint64_t u64Root = 0;
        ASSERT_TRUE(dbr.ClusterToSector(0, dbr.GetRootCluster(), &u64Root));
        device.Patch(u64Root, Entry("FILE    TXT", 0x20, 9, 10));
        std::vector<uint8_t> fat = device.Sector(dbr.GetFATOffset());
        PutU32(fat, dbr.GetRootCluster() * 4, dbr.GetRootCluster());
        device.Patch(dbr.GetFATOffset(), fat);
        CFATVolumeLabelReader reader(&device);
        EXPECT_FALSE(reader.ReadVolumeLabel(0, &dbr, szLabel));
    }
    // A FAT32 root chain that leaves the FAT ends too.
    {
        CImageDevice device(rvdtest::FixturePath("fat32.img"));
        const std::vector<uint8_t> sector = device.Sector(0);
        const CFATDBR dbr(sector.data(), sector.size());
        uint64_t u64Root = 0;
        ASSERT_TRUE(dbr.ClusterToSector(0, dbr.GetRootCluster(), &u64Root));
        device.Patch(u64Root, Entry("FILE    TXT", 0x20, 9, 10));
        std::vector<uint8_t> fat = device.Sector(dbr.GetFATOffset());
        PutU32(fat, dbr.GetRootCluster() * 4, 0x0FFFFF00);
        device.Patch(dbr.GetFATOffset(), fat);
        CFATVolumeLabelReader reader(&device);
        EXPECT_FALSE(reader.ReadVolumeLabel(0, &dbr, szLabel));
    }
    CImageDevice device(rvdtest::FixturePath("fat16.img"));
    CFATVolumeLabelReader reader(&device);
    EXPECT_FALSE(reader.ReadVolumeLabel(0, nullptr, szLabel));
    CFATVolumeLabelReader noDevice(nullptr);
    const std::vector<uint8_t> sector = device.Sector(0);
    const CFATDBR dbr(sector.data(), sector.size());
    EXPECT_FALSE(noDevice.ReadVolumeLabel(0, &dbr, szLabel));
}
