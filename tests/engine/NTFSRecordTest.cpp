// NTFS boot sectors, FILE records with their fix-ups, attribute walks, system-file tests, data
// runs and the volume label, on the fixture images (mkntfs + libntfs-3g, clusters of 512 bytes,
// 4 KiB and 64 KiB) and on records of those images damaged in a copy, compared with ntfsinfo,
// blkid and the fixture manifests. Record sizes no tool writes here (256 bytes, 4 KiB) are
// built by RecordBuilder below.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FSStructTestSupport.h"
#include "TestSupport.h"
#include "ntfs/FileRecordHolder.h"
#include "ntfs/NTFSDBR.h"
#include "ntfs/NTFSFileRecord.h"
#include "ntfs/NTFSFileRecordAttribute.h"
#include "ntfs/NTFSRunList.h"
#include "ntfs/NTFSVolumeLabelReader.h"

#include "Charset.h"

using namespace fstest;

namespace {

struct NTFS_IMAGE {
    const char* pszName;
    uint32_t nClusterBytes;
    const char* pszLabel;
};

const NTFS_IMAGE kNtfsImages[] = {
    {"ntfs-c512.img", 512, "NTFS512"},
    {"ntfs.img", 4096, "NTFS4K"},
    {"ntfs-c64k.img", 65536, "NTFS64K"},
    {"ntfs-c128k.img", 131072, "NTFS128K"},
};

// Reads FILE records and file data of a volume through the classes under test: $MFT's runs
// come from record 0.
class CNtfsVolume {
public:
    CNtfsVolume(CImageDevice& device, uint64_t u64Start) : m_Device(device), m_u64Start(u64Start)
    {
        const std::vector<uint8_t> sector = device.Sector(u64Start);
        EXPECT_TRUE(m_DBR.SetIfValid(sector.data(), sector.size()));
        m_nRecord = m_DBR.GetFileRecordSize();
        m_nClusterSectors = m_DBR.GetSectorsPerCluster();
        std::vector<uint8_t> mft =
            device.Sectors(u64Start + m_DBR.GetMFTCluster() * m_nClusterSectors, m_nRecord / kSector);
        int64_t i64Size = 0;
        EXPECT_TRUE(CollectDataRuns(mft.data(), mft.size(), &m_MftRuns, true, &i64Size));
        EXPECT_GT(i64Size, 0);
    }

    const CNTFSDBR& DBR() const { return m_DBR; }
    uint32_t RecordSize() const { return m_nRecord; }
    uint64_t ClusterBytes() const { return uint64_t(m_nClusterSectors) * kSector; }

    uint64_t RecordSector(uint64_t u64Number, uint32_t nSectorInRecord = 0) const
    {
        const uint64_t u64Byte = u64Number * m_nRecord + uint64_t(nSectorInRecord) * kSector;
        const int64_t i64Lcn = m_MftRuns.VcnToLcn(static_cast<int64_t>(u64Byte / ClusterBytes()));
        EXPECT_GE(i64Lcn, 0);
        return m_u64Start + uint64_t(i64Lcn) * m_nClusterSectors + (u64Byte % ClusterBytes()) / kSector;
    }

    std::vector<uint8_t> ReadRecord(uint64_t u64Number) const
    {
        std::vector<uint8_t> record;
        for (uint32_t k = 0; k < m_nRecord / kSector; ++k) {
            const std::vector<uint8_t> s = m_Device.Sector(RecordSector(u64Number, k));
            record.insert(record.end(), s.begin(), s.end());
        }
        return record;
    }

    std::vector<uint8_t> ReadRuns(const CNTFSRunList& runs, uint64_t u64Size) const
    {
        std::vector<uint8_t> data;
        for (const NTFS_RUN* pRun : runs) {
            if (pRun->llLcn < 0) {
                data.resize(data.size() + pRun->ullLength * ClusterBytes(), 0);
                continue;
            }
            const std::vector<uint8_t> v = m_Device.Sectors(m_u64Start + uint64_t(pRun->llLcn) * m_nClusterSectors,
                                                            pRun->ullLength * m_nClusterSectors);
            data.insert(data.end(), v.begin(), v.end());
            if (data.size() >= u64Size)
                break;
        }
        if (data.size() > u64Size)
            data.resize(u64Size);
        return data;
    }

private:
    CImageDevice& m_Device;
    uint64_t m_u64Start;
    CNTFSDBR m_DBR;
    uint32_t m_nRecord = 0;
    uint32_t m_nClusterSectors = 0;
    CNTFSRunList m_MftRuns;
};

std::string LabelOf(CNTFSVolumeLabelReader& reader, uint64_t u64Start, const CNTFSDBR& dbr, bool* pRead = nullptr)
{
    char szLabel[NTFS_VOLUME_LABEL_BUFFER];
    memset(szLabel, 0, sizeof(szLabel));
    const bool bRead = reader.ReadVolumeLabel(u64Start, &dbr, szLabel);
    if (pRead)
        *pRead = bRead;
    return szLabel;
}

std::string NameOf(const uint8_t* pFileName)
{
    return rvd::Utf16ToUtf8(GetFileNameText(pFileName));
}

// Whether any $FILE_NAME of the held record is strName.
bool HasName(const CFileRecordHolder& holder, const std::string& strName)
{
    for (int i = 0; const uint8_t* p = holder.FindAttribute(NTFS_ATTR_FILE_NAME, i); ++i)
        if (NameOf(p) == strName)
            return true;
    return false;
}

// Builds a FILE record of any size: the header with its update sequence array at 48, the
// attributes given, the end marker, then the fix-ups as a driver writes them (the last word of
// every 512-byte stretch saved into the array and replaced by the update sequence number).
class RecordBuilder {
public:
    explicit RecordBuilder(size_t nSize) : m_Record(nSize, 0)
    {
        m_nSectors = nSize >= kSector ? nSize / kSector : 1;
        memcpy(m_Record.data(), "FILE", 4);
        PutU16(m_Record, 4, 48);
        PutU16(m_Record, 6, static_cast<uint16_t>(m_nSectors + (nSize >= kSector ? 1 : 0)));
        PutU16(m_Record, 22, NTFS_RECORD_IN_USE);
        PutU32(m_Record, 28, static_cast<uint32_t>(nSize));
        m_nPos = (48 + 2 * (m_nSectors + 1) + 7) / 8 * 8;
        PutU16(m_Record, 20, static_cast<uint16_t>(m_nPos));
    }

    // A resident attribute with its value at 24 (the unnamed form) or after its name.
    RecordBuilder& Resident(uint32_t nType, const std::vector<uint8_t>& value, const std::u16string& strName = u"")
    {
        const size_t nValueOffset = (24 + 2 * strName.size() + 7) / 8 * 8;
        const size_t nLength = (nValueOffset + value.size() + 7) / 8 * 8;
        std::vector<uint8_t> a(nLength, 0);
        PutU32(a, 0, nType);
        PutU32(a, 4, static_cast<uint32_t>(nLength));
        a[9] = static_cast<uint8_t>(strName.size());
        PutU16(a, 10, 24);
        for (size_t i = 0; i < strName.size(); ++i)
            PutU16(a, 24 + 2 * i, strName[i]);
        PutU32(a, 16, static_cast<uint32_t>(value.size()));
        PutU16(a, 20, static_cast<uint16_t>(nValueOffset));
        memcpy(a.data() + nValueOffset, value.data(), value.size());
        return Add(a);
    }

    RecordBuilder& NonResident(uint32_t nType, const std::vector<uint8_t>& pairs, uint64_t u64Clusters, uint64_t u64RealSize)
    {
        const size_t nLength = (64 + pairs.size() + 7) / 8 * 8;
        std::vector<uint8_t> a(nLength, 0);
        PutU32(a, 0, nType);
        PutU32(a, 4, static_cast<uint32_t>(nLength));
        a[8] = 1;
        PutU32(a, 24, static_cast<uint32_t>(u64Clusters - 1));
        PutU16(a, 32, 64);
        PutU32(a, 40, static_cast<uint32_t>(u64Clusters * 4096));
        PutU32(a, 48, static_cast<uint32_t>(u64RealSize));
        PutU32(a, 56, static_cast<uint32_t>(u64RealSize));
        memcpy(a.data() + 64, pairs.data(), pairs.size());
        return Add(a);
    }

    static std::vector<uint8_t> FileName(const std::u16string& strName, uint64_t u64Parent = 5)
    {
        std::vector<uint8_t> v(66 + 2 * strName.size(), 0);
        PutU32(v, 0, static_cast<uint32_t>(u64Parent));
        v[64] = static_cast<uint8_t>(strName.size());
        v[65] = 1;
        for (size_t i = 0; i < strName.size(); ++i)
            PutU16(v, 66 + 2 * i, strName[i]);
        return v;
    }

    std::vector<uint8_t> Finish(uint16_t wSequence = 0x0007)
    {
        PutU32(m_Record, m_nPos, NTFS_ATTR_END);
        PutU32(m_Record, 24, static_cast<uint32_t>(m_nPos + 8));
        if (m_Record.size() >= kSector) {
            PutU16(m_Record, 48, wSequence);
            for (size_t i = 0; i < m_nSectors; ++i) {
                const size_t nWord = i * kSector + kSector - 2;
                PutU16(m_Record, 50 + 2 * i, GetU16(m_Record, nWord));
                PutU16(m_Record, nWord, wSequence);
            }
        }
        return m_Record;
    }

    size_t Position() const { return m_nPos; }

private:
    RecordBuilder& Add(const std::vector<uint8_t>& a)
    {
        memcpy(m_Record.data() + m_nPos, a.data(), a.size());
        m_nPos += a.size();
        return *this;
    }

    std::vector<uint8_t> m_Record;
    size_t m_nSectors;
    size_t m_nPos;
};

} // namespace

TEST(NTFSBootSector, GeometryMatchesNtfsinfoAndBlkid)
{
    for (const NTFS_IMAGE& image : kNtfsImages) {
        SCOPED_TRACE(image.pszName);
        const std::string strImage = rvdtest::FixturePath(image.pszName);
        CImageDevice device(strImage);
        const std::vector<uint8_t> sector = device.Sector(0);
        ASSERT_TRUE(IsValidNTFSDBR(sector.data(), sector.size()));
        ASSERT_TRUE(HasNTFSOEMID(sector.data(), sector.size()));
        CNTFSDBR dbr;
        ASSERT_TRUE(dbr.SetIfValid(sector.data(), sector.size()));
        EXPECT_EQ(0, memcmp(sector.data(), dbr.GetBytes(), kSector));

        const std::string strInfo = Capture("ntfsinfo -m '" + strImage + "'");
        ASSERT_FALSE(strInfo.empty());
        EXPECT_EQ(image.nClusterBytes, dbr.GetSectorsPerCluster() * kSector);
        EXPECT_EQ(std::stoull(After(strInfo, "Cluster Size: ")), dbr.GetSectorsPerCluster() * kSector);
        EXPECT_EQ(std::stoull(After(strInfo, "MFT Record Size: ")), dbr.GetFileRecordSize());
        EXPECT_EQ(std::stoull(After(strInfo, "LCN of Data Attribute for FILE_MFT: ")), dbr.GetMFTCluster());
        EXPECT_EQ(std::stoull(After(strInfo, "LCN of Data Attribute for File_MFTMirr: ")), dbr.GetMFTMirrCluster());
        EXPECT_EQ(std::stoull(After(strInfo, "Volume Size in Clusters: ")), dbr.GetTotalSectors() / dbr.GetSectorsPerCluster());
        EXPECT_EQ(512u, dbr.GetBytesPerSector());
        EXPECT_EQ(63u, dbr.GetSectorsPerTrack());
        char szSerial[17];
        snprintf(szSerial, sizeof(szSerial), "%016llX", static_cast<unsigned long long>(dbr.GetSerialNumber()));
        EXPECT_EQ(Blkid(strImage, 0, "UUID"), szSerial);

        CNTFSVolumeLabelReader reader(&device);
        bool bRead = false;
        EXPECT_EQ(image.pszLabel, LabelOf(reader, 0, dbr, &bRead));
        EXPECT_TRUE(bRead);
        EXPECT_EQ(Blkid(strImage, 0, "LABEL"), LabelOf(reader, 0, dbr));

        // The copy in the volume's last sector is a valid boot sector too.
        const std::vector<uint8_t> backup = device.Sector(dbr.GetTotalSectors());
        EXPECT_TRUE(IsValidNTFSDBR(backup.data(), backup.size()));
    }

    struct PART {
        const char* pszImage;
        uint64_t u64Start;
        const char* pszLabel;
    };
    for (const PART& part : {PART{"mbr.img", 53248, "MBR NTFS"}, PART{"gpt.img", 83968, "GPT NTFS"},
                             PART{"lost.img", 2 * 16065, "LOST NTFS"}}) {
        SCOPED_TRACE(part.pszImage);
        const std::string strImage = rvdtest::FixturePath(part.pszImage);
        CImageDevice device(strImage);
        const std::vector<uint8_t> sector = device.Sector(part.u64Start);
        CNTFSDBR dbr;
        ASSERT_TRUE(dbr.SetIfValid(sector.data(), sector.size()));
        CNTFSVolumeLabelReader reader(&device);
        const std::string strLabel = LabelOf(reader, part.u64Start, dbr);
        EXPECT_EQ(part.pszLabel, strLabel);
        EXPECT_EQ(Blkid(strImage, part.u64Start * kSector, "LABEL"), strLabel);
    }
}

TEST(NTFSBootSector, FieldTestsAndRecordSizeCodes)
{
    CImageDevice device(rvdtest::FixturePath("ntfs.img"));
    const std::vector<uint8_t> original = device.Sector(0);
    struct CASE {
        const char* pszWhat;
        std::function<void(std::vector<uint8_t>&)> fnChange;
        bool bValid;
    };
    const CASE kCases[] = {
        {"OEM identifier in lower case", [](std::vector<uint8_t>& s) { memcpy(&s[3], "ntfs    ", 8); }, true},
        {"other media descriptor", [](std::vector<uint8_t>& s) { s[21] = 0xF0; }, true},
        {"4096 bytes per sector", [](std::vector<uint8_t>& s) { PutU16(s, 11, 4096); }, false},
        {"3 sectors per cluster", [](std::vector<uint8_t>& s) { s[13] = 3; }, false},
        {"0 sectors per cluster", [](std::vector<uint8_t>& s) { s[13] = 0; }, false},
        {"reserved sectors", [](std::vector<uint8_t>& s) { PutU16(s, 14, 1); }, false},
        {"number of FATs", [](std::vector<uint8_t>& s) { s[16] = 2; }, false},
        {"root entries", [](std::vector<uint8_t>& s) { s[18] = 1; }, false},
        {"16-bit total sectors", [](std::vector<uint8_t>& s) { s[19] = 1; }, false},
        {"sectors per FAT", [](std::vector<uint8_t>& s) { s[23] = 1; }, false},
        {"32-bit total sectors", [](std::vector<uint8_t>& s) { s[35] = 1; }, false},
        {"signature", [](std::vector<uint8_t>& s) { s[510] = 0; }, false},
        {"OEM identifier", [](std::vector<uint8_t>& s) { memcpy(&s[3], "NTFS-   ", 8); }, false},
    };
    for (const CASE& c : kCases) {
        std::vector<uint8_t> s = original;
        c.fnChange(s);
        EXPECT_EQ(c.bValid, IsValidNTFSDBR(s.data(), s.size())) << c.pszWhat;
        CNTFSDBR dbr;
        EXPECT_EQ(c.bValid, dbr.SetIfValid(s.data(), s.size())) << c.pszWhat;
        if (!c.bValid) {
            EXPECT_EQ(0u, dbr.GetTotalSectors()) << c.pszWhat;
        }
    }
    EXPECT_FALSE(IsValidNTFSDBR(nullptr, 512));
    EXPECT_FALSE(IsValidNTFSDBR(original.data(), 511));
    EXPECT_FALSE(HasNTFSOEMID(original.data(), 100));
    const std::vector<uint8_t> zeros(kSector, 0);
    EXPECT_FALSE(IsValidNTFSDBR(zeros.data(), zeros.size()));

    struct SIZE_CASE {
        uint8_t byCode;
        uint8_t bySectorsPerCluster;
        uint32_t nBytes;
    };
    const SIZE_CASE kSizes[] = {
        {0xF6, 8, 1024}, {0x00, 8, 1024}, {0x02, 8, 8192}, {0x02, 1, 1024}, {0xF8, 8, 256},
        {0xF0, 8, 65536}, {0xF7, 8, 512}, {0xEF, 8, 0},   {0xF9, 8, 0},     {0x80, 8, 0},
        {0x03, 1, 0},     {0x01, 128, 65536}, {0x02, 128, 0}, {0x7F, 128, 0},
    };
    for (const SIZE_CASE& c : kSizes) {
        std::vector<uint8_t> s = original;
        s[64] = c.byCode;
        s[13] = c.bySectorsPerCluster;
        CNTFSDBR dbr;
        ASSERT_TRUE(dbr.SetIfValid(s.data(), s.size()));
        EXPECT_EQ(c.nBytes, dbr.GetFileRecordSize()) << std::hex << int(c.byCode) << " x " << int(c.bySectorsPerCluster);
    }
}

// The sectors-per-cluster byte: a power of two up to 128 as it is, and Windows' shift form for
// clusters of 128 KiB to 2 MiB; everything else refuses the boot sector. Records that keep the
// count in one byte carry it back and forth in the same form.
TEST(NTFSBootSector, SectorsPerClusterByte)
{
    CImageDevice device(rvdtest::FixturePath("ntfs.img"));
    const std::vector<uint8_t> original = device.Sector(0);
    struct CASE {
        uint8_t byCode;
        uint32_t nSectors;  // 0: refused
    };
    const CASE kCases[] = {
        {1, 1},       {2, 2},       {4, 4},       {8, 8},         {16, 16},     {32, 32},     {64, 64},
        {128, 128},   {0xF8, 256},  {0xF7, 512},  {0xF6, 1024},   {0xF5, 2048}, {0xF4, 4096}, {0, 0},
        {3, 0},       {6, 0},       {127, 0},     {0x81, 0},      {0xC0, 0},    {0xF3, 0},    {0xF9, 0},
        {0xFF, 0},
    };
    for (const CASE& c : kCases) {
        SCOPED_TRACE(std::to_string(c.byCode));
        EXPECT_EQ(c.nSectors, DecodeNTFSSectorsPerCluster(c.byCode));
        std::vector<uint8_t> s = original;
        s[13] = c.byCode;
        CNTFSDBR dbr;
        EXPECT_EQ(c.nSectors != 0, dbr.SetIfValid(s.data(), s.size()));
        if (c.nSectors == 0)
            continue;
        EXPECT_EQ(c.nSectors, dbr.GetSectorsPerCluster());
        EXPECT_EQ(c.nSectors, StoredNTFSSectorsPerCluster(EncodeNTFSSectorsPerCluster(c.nSectors)));
        // With large clusters Windows writes the record sizes as shifts as well: 1024-byte FILE
        // records, whatever the cluster.
        s[64] = 0xF6;
        ASSERT_TRUE(dbr.SetIfValid(s.data(), s.size()));
        EXPECT_EQ(1024u, dbr.GetFileRecordSize());
    }
    // Counts that have no byte form.
    EXPECT_EQ(0, EncodeNTFSSectorsPerCluster(8192));
    EXPECT_EQ(0, EncodeNTFSSectorsPerCluster(300));
}

// Every file and folder of the manifests is read from its FILE record: names, in-use and
// directory flags, the record's own number, and the data through the collected runs (or the
// resident value) give the bytes that were written.
TEST(NTFSFileRecord, RecordsMatchTheManifest)
{
    for (const NTFS_IMAGE& image : kNtfsImages) {
        SCOPED_TRACE(image.pszName);
        CImageDevice device(rvdtest::FixturePath(image.pszName));
        CNtfsVolume volume(device, 0);
        ASSERT_EQ(1024u, volume.RecordSize());
        int nFiles = 0, nDeleted = 0, nResident = 0, nFragmented = 0;
        for (const MANIFEST_ENTRY& e : ReadManifest(rvdtest::FixturePath(std::string(image.pszName) + ".manifest"))) {
            SCOPED_TRACE(e.strPath);
            std::vector<uint8_t> record = volume.ReadRecord(e.u64Id);
            const std::vector<uint8_t> raw = record;
            {
                CFileRecordHolder holder(record.data(), record.size(), false);
                ASSERT_TRUE(holder.IsValid());
                EXPECT_TRUE(holder.AreFixupsApplied());
                EXPECT_TRUE(HasName(holder, BaseName(e.strPath)));
                EXPECT_EQ(e.bLive, holder.IsInUse());
                EXPECT_EQ(e.bDirectory, holder.IsDirectory());
                EXPECT_FALSE(holder.IsExtension());
                ASSERT_TRUE(holder.HasOwnRecordNumber());
                EXPECT_EQ(e.u64Id, holder.GetOwnRecordNumber());
                EXPECT_EQ(-1, GetSystemFileNumber(holder));
                EXPECT_FALSE(IsProtectedSystemFile(holder));
                const uint8_t* pName = holder.FindAttribute(NTFS_ATTR_FILE_NAME, 0);
                ASSERT_NE(nullptr, pName);
                EXPECT_EQ(e.bDirectory, (GetFileNameFlags(pName) & NTFS_FILE_NAME_FLAG_DIRECTORY) != 0);
                const uint8_t* pInfo = holder.FindAttribute(NTFS_ATTR_STANDARD_INFORMATION, 0);
                ASSERT_NE(nullptr, pInfo);
                EXPECT_TRUE(HasStandardInformationTimes(pInfo, GetAttributeLength(pInfo)));
                EXPECT_NE(0u, GetStandardModificationTime(pInfo));

                if (!e.bDirectory && (e.bLive || e.bRecoverable)) {
                    const uint8_t* pData = holder.FindAttribute(NTFS_ATTR_DATA, 0);
                    ASSERT_NE(nullptr, pData);
                    if (IsAttributeResident(pData)) {
                        uint32_t nLength = 0;
                        const uint8_t* pValue = GetResidentValue(pData, &nLength);
                        ASSERT_NE(nullptr, pValue);
                        EXPECT_EQ(e.u64Size, nLength);
                        EXPECT_EQ(e.strSha256, Sha256Hex(pValue, nLength));
                        CNTFSRunList runs;
                        EXPECT_FALSE(CollectDataRuns(holder, &runs, true, nullptr));
                        EXPECT_FALSE(DecodeAttributeRuns(pData, GetAttributeLength(pData), &runs));
                        ++nResident;
                    } else {
                        CNTFSRunList runs;
                        int64_t i64Size = -1;
                        ASSERT_TRUE(CollectDataRuns(holder, &runs, true, &i64Size));
                        EXPECT_EQ(static_cast<int64_t>(e.u64Size), i64Size);
                        EXPECT_EQ(e.strSha256, Sha256Hex(volume.ReadRuns(runs, e.u64Size)));
                        EXPECT_EQ(e.bFragmented, runs.GetCount() > 1);
                        EXPECT_EQ(static_cast<int64_t>(runs.GetTotalLength()),
                                  GetAttributeClusterCount(pData, GetAttributeLength(pData)));
                        nFragmented += e.bFragmented;
                    }
                    ++nFiles;
                    nDeleted += !e.bLive;
                }
                if (e.strPath == "/Many Files") {
                    EXPECT_TRUE(IsFolderWithIndexAllocation(holder));
                }
                if (e.strPath == "/Empty Folder" || !e.bDirectory) {
                    EXPECT_FALSE(IsFolderWithIndexAllocation(holder));
                }
                if (e.strPath == "/Big File.bin") {
                    uint32_t bySectors = 0;
                    EXPECT_TRUE(InferSectorsPerCluster(holder, &bySectors));
                    EXPECT_EQ(volume.DBR().GetSectorsPerCluster(), bySectors);
                }
            }
            // The holder undid the fix-ups it applied.
            EXPECT_EQ(raw, record);
        }
        EXPECT_GT(nFiles, 40);
        EXPECT_GT(nDeleted, 4);
        EXPECT_GT(nResident, 0);
        EXPECT_GT(nFragmented, 0);
    }
}

TEST(NTFSFileRecord, SystemFiles)
{
    for (const NTFS_IMAGE& image : kNtfsImages) {
        SCOPED_TRACE(image.pszName);
        CImageDevice device(rvdtest::FixturePath(image.pszName));
        CNtfsVolume volume(device, 0);
        for (int n = 0; n < 12; ++n) {
            std::vector<uint8_t> record = volume.ReadRecord(n);
            CFileRecordHolder holder(record.data(), record.size(), true);
            ASSERT_TRUE(holder.IsValid()) << n;
            EXPECT_EQ(n, GetSystemFileNumber(holder));
            if (n != 5) {
                EXPECT_TRUE(IsProtectedSystemFile(holder)) << n;
            }
        }
        struct NAMED {
            int nRecord;
            std::function<bool(uint8_t*, size_t)> fnTest;
        };
        const NAMED kNamed[] = {
            {0, [](uint8_t* p, size_t n) { return IsMFTFileRecord(p, n); }},
            {1, [](uint8_t* p, size_t n) { return IsMFTMirrFileRecord(p, n); }},
            {2, [](uint8_t* p, size_t n) { return IsLogFileFileRecord(p, n); }},
            {3, [](uint8_t* p, size_t n) { return IsVolumeFileRecord(p, n); }},
            {4, [](uint8_t* p, size_t n) { return IsAttrDefFileRecord(p, n); }},
            {6, [](uint8_t* p, size_t n) { return IsBitmapFileRecord(CFileRecordHolder(p, n, false)); }},
            {10, [](uint8_t* p, size_t n) { return IsUpCaseFileRecord(p, n); }},
        };
        for (const NAMED& named : kNamed) {
            for (int n : {0, 1, 2, 3, 4, 6, 10}) {
                std::vector<uint8_t> record = volume.ReadRecord(n);
                const std::vector<uint8_t> raw = record;
                EXPECT_EQ(n == named.nRecord, named.fnTest(record.data(), record.size())) << named.nRecord << " on " << n;
                EXPECT_EQ(raw, record);
            }
        }

        // $Quota lives among the records of $Extend; the table names it 32 wherever it is.
        int nQuota = 0;
        for (uint64_t n = 16; n < 64 && nQuota == 0; ++n) {
            std::vector<uint8_t> record = volume.ReadRecord(n);
            CFileRecordHolder holder(record.data(), record.size(), false);
            const uint8_t* pName = holder.FindAttribute(NTFS_ATTR_FILE_NAME, 0);
            if (pName != nullptr && NameOf(pName) == "$Quota") {
                nQuota = 1;
                EXPECT_EQ(32, GetSystemFileNumber(holder));
            }
        }
        EXPECT_EQ(1, nQuota);

        // The names are compared case-sensitively.
        std::vector<uint8_t> mft = volume.ReadRecord(0);
        {
            CFileRecordHolder holder(mft.data(), mft.size(), false);
            uint8_t* pName = const_cast<uint8_t*>(holder.FindAttribute(NTFS_ATTR_FILE_NAME, 0));
            ASSERT_NE(nullptr, pName);
            ASSERT_EQ("$MFT", NameOf(pName));
            PutU16(mft, static_cast<size_t>(pName - mft.data()) + 92, 'm');
            PutU16(mft, static_cast<size_t>(pName - mft.data()) + 94, 'f');
            PutU16(mft, static_cast<size_t>(pName - mft.data()) + 96, 't');
        }
        CFileRecordHolder lower(mft.data(), mft.size(), false);
        ASSERT_TRUE(lower.IsValid());
        EXPECT_EQ(-1, GetSystemFileNumber(lower));
        EXPECT_FALSE(IsMFTFileRecord(lower));

        CFileRecordHolder empty(nullptr, 1024, false);
        EXPECT_FALSE(empty.IsValid());
        EXPECT_EQ(-1, GetSystemFileNumber(empty));
        EXPECT_EQ(nullptr, empty.FindAttribute(NTFS_ATTR_DATA, 0));
    }
}

// The update sequence: a header that cannot hold it is rejected; a record whose protected
// words do not match it is examined as it lies, without fix-ups; the bytes are never changed.
TEST(NTFSFileRecord, UpdateSequenceChecks)
{
    CImageDevice device(rvdtest::FixturePath("ntfs.img"));
    CNtfsVolume volume(device, 0);
    const std::vector<uint8_t> original = volume.ReadRecord(0);
    ASSERT_EQ(3u, GetU16(original, 6));

    struct CASE {
        const char* pszWhat;
        std::function<void(std::vector<uint8_t>&)> fnChange;
        size_t nLength;
        bool bHeader;
    };
    const CASE kCases[] = {
        {"as written", [](std::vector<uint8_t>&) {}, 1024, true},
        {"count 16", [](std::vector<uint8_t>& r) { PutU16(r, 6, 16); }, 1024, false},
        {"count 16 in 8 KiB", [](std::vector<uint8_t>& r) { PutU16(r, 6, 16); r.resize(8192); }, 8192, true},
        {"count 17 in 8 KiB", [](std::vector<uint8_t>& r) { PutU16(r, 6, 17); r.resize(8192); }, 8192, false},
        {"array at 41", [](std::vector<uint8_t>& r) { PutU16(r, 4, 41); }, 1024, false},
        {"array at 42", [](std::vector<uint8_t>& r) { PutU16(r, 4, 42); }, 1024, true},
        {"array at 256", [](std::vector<uint8_t>& r) { PutU16(r, 4, 256); }, 1024, true},
        {"array at 257", [](std::vector<uint8_t>& r) { PutU16(r, 4, 257); }, 1024, false},
        {"count 3 in 512 bytes", [](std::vector<uint8_t>&) {}, 512, false},
        {"signature", [](std::vector<uint8_t>& r) { r[0] = 'B'; }, 1024, false},
        {"header cut short", [](std::vector<uint8_t>&) {}, 40, false},
    };
    for (const CASE& c : kCases) {
        std::vector<uint8_t> record = original;
        c.fnChange(record);
        const std::vector<uint8_t> before = record;
        EXPECT_EQ(c.bHeader, IsFileRecordHeader(record.data(), c.nLength)) << c.pszWhat;
        const bool bValid = IsValidFileRecord(record.data(), c.nLength);
        if (!c.bHeader) {
            EXPECT_FALSE(bValid) << c.pszWhat;
        }
        EXPECT_EQ(before, record) << c.pszWhat;
        CFileRecordHolder holder(record.data(), c.nLength, false);
        EXPECT_EQ(bValid, holder.IsValid()) << c.pszWhat;
    }

    // A torn write: the second sector's last word is not the update sequence number.
    std::vector<uint8_t> torn = original;
    torn[1022] ^= 0x55;
    const std::vector<uint8_t> tornBefore = torn;
    EXPECT_TRUE(IsFileRecordHeader(torn.data(), torn.size()));
    EXPECT_FALSE(VerifyFixups(torn.data(), torn.size()));
    EXPECT_FALSE(ApplyFixups(torn.data(), torn.size()));
    EXPECT_EQ(tornBefore, torn);
    EXPECT_TRUE(IsValidFileRecord(torn.data(), torn.size()));
    EXPECT_EQ(tornBefore, torn);
    {
        CFileRecordHolder holder(torn.data(), torn.size(), false);
        ASSERT_TRUE(holder.IsValid());
        EXPECT_FALSE(holder.AreFixupsApplied());
        // Examined as it lies: the runs of $MFT are still there.
        CNTFSRunList runs;
        EXPECT_TRUE(CollectDataRuns(holder, &runs, true, nullptr));
        EXPECT_FALSE(runs.IsEmpty());
    }
    EXPECT_EQ(tornBefore, torn);

    // Apply and restore are each other's inverse.
    std::vector<uint8_t> record = original;
    ASSERT_TRUE(ApplyFixups(record.data(), record.size()));
    EXPECT_NE(original, record);
    EXPECT_EQ(GetU16(original, 50), GetU16(record, 510));
    EXPECT_EQ(GetU16(original, 52), GetU16(record, 1022));
    RestoreFixups(record.data(), record.size());
    EXPECT_EQ(original, record);
    {
        CFileRecordHolder copy(record.data(), record.size(), true);
        ASSERT_TRUE(copy.IsValid());
        EXPECT_NE(record.data(), copy.GetRecord());
        EXPECT_EQ(GetU16(original, 52), GetU16(std::vector<uint8_t>(copy.GetRecord(), copy.GetRecord() + 1024), 1022));
    }
    EXPECT_EQ(original, record);
}

// The attribute walks stay inside the record's bytes in use and its buffer, whatever the
// lengths in the attribute headers say.
TEST(NTFSFileRecord, AttributeWalkStaysInsideTheRecord)
{
    CImageDevice device(rvdtest::FixturePath("ntfs.img"));
    CNtfsVolume volume(device, 0);
    std::vector<uint8_t> original = volume.ReadRecord(0);
    ASSERT_TRUE(ApplyFixups(original.data(), original.size()));
    const uint8_t* pData = FindAttribute(original.data(), original.size(), NTFS_ATTR_DATA, 0);
    ASSERT_NE(nullptr, pData);
    const size_t nData = static_cast<size_t>(pData - original.data());
    const uint32_t nDataLength = GetAttributeLength(pData);
    const uint32_t nInUse = GetBytesInUse(original.data(), original.size());
    EXPECT_EQ(1, CountAttributes(original.data(), original.size(), NTFS_ATTR_DATA));
    EXPECT_EQ(1, CountAttributes(original.data(), original.size(), NTFS_ATTR_FILE_NAME));

    struct CASE {
        const char* pszWhat;
        std::function<void(std::vector<uint8_t>&)> fnChange;
        bool bValid;
        bool bDataFound;
    };
    const CASE kCases[] = {
        {"as written", [](std::vector<uint8_t>&) {}, true, true},
        {"bytes in use end inside $DATA",
         [&](std::vector<uint8_t>& r) { PutU32(r, 24, static_cast<uint32_t>(nData + nDataLength - 8)); }, false, false},
        {"$DATA running past the bytes in use",
         [&](std::vector<uint8_t>& r) { PutU32(r, nData + 4, nInUse); }, false, false},
        {"$DATA running past the buffer", [&](std::vector<uint8_t>& r) { PutU32(r, nData + 4, 0xFFFFFFF0); }, false, false},
        {"bytes in use beyond the buffer", [](std::vector<uint8_t>& r) { PutU32(r, 24, 0xFFFF0000); }, true, true},
        {"first attribute beyond the bytes in use", [&](std::vector<uint8_t>& r) { PutU16(r, 20, static_cast<uint16_t>(nInUse)); },
         true, false},
        {"$DATA of length 0", [&](std::vector<uint8_t>& r) { PutU32(r, nData + 4, 0); }, true, true},
        {"$DATA mapping pairs offset past its end", [&](std::vector<uint8_t>& r) { PutU16(r, nData + 32, 0x400); }, false, true},
        {"$DATA mapping pairs without their end", [&](std::vector<uint8_t>& r) { r[nData + GetU16(r, nData + 32)] = 0x44; }, false, true},
        {"non-resident header cut short", [&](std::vector<uint8_t>& r) { PutU32(r, nData + 4, 40); }, false, true},
    };
    for (const CASE& c : kCases) {
        std::vector<uint8_t> record = original;
        c.fnChange(record);
        EXPECT_EQ(c.bValid, ValidateAttributes(record.data(), record.size())) << c.pszWhat;
        const uint8_t* pFound = FindAttribute(record.data(), record.size(), NTFS_ATTR_DATA, 0);
        EXPECT_EQ(c.bDataFound, pFound != nullptr) << c.pszWhat;
        if (pFound != nullptr) {
            EXPECT_LE(static_cast<size_t>(pFound - record.data()) + GetAttributeLength(pFound), record.size()) << c.pszWhat;
            // Whatever the header says, the getters read only inside the attribute.
            GetRealSize(pFound);
            GetInitializedSize(pFound);
            size_t nPairs = 0;
            const uint8_t* pPairs = GetMappingPairs(pFound, record.size() - static_cast<size_t>(pFound - record.data()), &nPairs);
            if (pPairs != nullptr) {
                EXPECT_LE(static_cast<size_t>(pPairs - record.data()) + nPairs, record.size()) << c.pszWhat;
            }
        }
        CNTFSRunList runs;
        int64_t i64Size = 0;
        const CFileRecordHolder holder(record.data(), record.size(), true);
        EXPECT_EQ(c.bValid, holder.IsValid()) << c.pszWhat;
        if (holder.IsValid()) {
            EXPECT_EQ(c.bDataFound && GetAttributeLength(pFound) != 0, CollectDataRuns(holder, &runs, true, &i64Size) && !runs.IsEmpty())
                << c.pszWhat;
        }
    }

    // A $FILE_NAME whose name runs past the attribute, and one holding ':' ($MFT's name is in
    // the Win32 and DOS name space).
    const uint8_t* pName = FindAttribute(original.data(), original.size(), NTFS_ATTR_FILE_NAME, 0);
    ASSERT_NE(nullptr, pName);
    const size_t nName = static_cast<size_t>(pName - original.data());
    std::vector<uint8_t> longName = original;
    longName[nName + 88] = 200;
    EXPECT_FALSE(IsValidFileNameAttribute(longName.data() + nName, longName.size() - nName));
    EXPECT_FALSE(ValidateAttributes(longName.data(), longName.size()));
    EXPECT_LE(GetFileNameText(longName.data() + nName).size() * 2 + 90, GetAttributeLength(longName.data() + nName));
    ASSERT_EQ(3, GetFileNameNamespace(pName));
    std::vector<uint8_t> colon = original;
    PutU16(colon, nName + 92, ':');
    EXPECT_FALSE(ValidateAttributes(colon.data(), colon.size()));
    // A resident value that runs past its attribute.
    std::vector<uint8_t> value = original;
    PutU32(value, nName + 16, 4000);
    EXPECT_FALSE(ValidateAttributes(value.data(), value.size()));
    EXPECT_EQ(nullptr, GetResidentValue(value.data() + nName, nullptr));

    // Headers and getters of a buffer too short for a header.
    EXPECT_EQ(0u, GetAttributeAreaEnd(original.data(), 40));
    EXPECT_EQ(nullptr, FindAttribute(original.data(), 40, NTFS_ATTR_DATA, 0));
    EXPECT_EQ(0u, GetBytesInUse(original.data(), 40));
    EXPECT_FALSE(ValidateAttributes(nullptr, 1024));
    EXPECT_EQ(nullptr, FindAttribute(original.data(), original.size(), NTFS_ATTR_DATA, -1));
}

// The characters a $FILE_NAME may hold depend on its name space: POSIX (0) forbids only '/';
// Win32 (1), DOS (2), Win32 and DOS (3), and a name space byte no volume writes, also
// " * : < > ? \ |. A name the check refuses makes its whole record invalid.
TEST(NTFSFileRecord, FileNameCharactersDependOnTheNameSpace)
{
    const std::u16string kWindowsForbidden = u"\"*/:<>?\\|";
    for (uint8_t byNamespace = 0; byNamespace <= 4; ++byNamespace) {
        struct CASE {
            std::u16string strName;
            bool bValid;
        };
        std::vector<CASE> cases = {{u"plain name.txt", true}, {u"a/b.txt", false}};
        for (char16_t c : kWindowsForbidden)
            cases.push_back({std::u16string(u"a") + c + u"b.txt", byNamespace == 0 && c != u'/'});
        // A NUL unit ends the name where the check is concerned.
        cases.push_back({std::u16string(u"ok\0:/", 5), true});
        for (const CASE& c : cases) {
            std::vector<uint8_t> value = RecordBuilder::FileName(c.strName);
            value[65] = byNamespace;
            RecordBuilder builder(1024);
            builder.Resident(NTFS_ATTR_STANDARD_INFORMATION, std::vector<uint8_t>(72, 0))
                .Resident(NTFS_ATTR_FILE_NAME, value);
            std::vector<uint8_t> record = builder.Finish();
            const uint8_t* pName = FindAttribute(record.data(), record.size(), NTFS_ATTR_FILE_NAME, 0);
            ASSERT_NE(nullptr, pName);
            const size_t nRoom = record.size() - static_cast<size_t>(pName - record.data());
            const std::string strWhat = "name space " + std::to_string(byNamespace) + ": " + rvd::Utf16ToUtf8(c.strName);
            EXPECT_EQ(c.bValid, IsValidFileNameAttribute(pName, nRoom)) << strWhat;
            EXPECT_EQ(c.bValid, IsValidFileRecord(record.data(), record.size())) << strWhat;
            EXPECT_EQ(c.bValid, CFileRecordHolder(record.data(), record.size(), false).IsValid()) << strWhat;
        }
    }

    // As libntfs-3g wrote it: a deleted file named "a:b.txt" in the POSIX name space is a valid
    // record; the same bytes claiming the Win32 name space are not.
    CImageDevice device(rvdtest::FixturePath("hostile.img"));
    CNtfsVolume volume(device, 0);
    const std::vector<rvdtest::ManifestEntry> manifest = rvdtest::ReadManifest("hostile.img");
    const rvdtest::ManifestEntry* pEntry = rvdtest::FindManifestEntry(manifest, "/Hostile/a:b.txt");
    ASSERT_NE(nullptr, pEntry);
    std::vector<uint8_t> record = volume.ReadRecord(static_cast<uint64_t>(pEntry->nId));
    const uint8_t* pName = FindAttribute(record.data(), record.size(), NTFS_ATTR_FILE_NAME, 0);
    ASSERT_NE(nullptr, pName);
    EXPECT_EQ(u"a:b.txt", GetFileNameText(pName));
    EXPECT_EQ(0, GetFileNameNamespace(pName));
    EXPECT_TRUE(IsValidFileRecord(record.data(), record.size()));
    record[static_cast<size_t>(pName - record.data()) + 89] = 1;
    EXPECT_FALSE(IsValidFileRecord(record.data(), record.size()));
}

// Records larger than 1 KiB are walked over their whole used length, and a 256-byte record
// (smaller than one fix-up stretch) has no protected words.
TEST(NTFSFileRecord, RecordSizesFrom256BytesTo64KiB)
{
    // A 4 KiB record whose unnamed $DATA lies behind a named 1200-byte attribute, far past
    // the first kilobyte.
    RecordBuilder big(4096);
    big.Resident(NTFS_ATTR_STANDARD_INFORMATION, std::vector<uint8_t>(72, 0))
        .Resident(NTFS_ATTR_FILE_NAME, RecordBuilder::FileName(u"big record.bin"))
        .Resident(NTFS_ATTR_DATA, std::vector<uint8_t>(1200, 0xAB), u"pad");
    const size_t nDataAt = big.Position();
    big.NonResident(NTFS_ATTR_DATA, {0x21, 0x18, 0x34, 0x56, 0x00}, 0x18, 0x18 * 4096 - 100);
    std::vector<uint8_t> record = big.Finish();
    ASSERT_GT(nDataAt, 1016u);
    const std::vector<uint8_t> raw = record;
    EXPECT_TRUE(IsValidFileRecord(record.data(), record.size()));
    EXPECT_EQ(raw, record);
    {
        CFileRecordHolder holder(record.data(), record.size(), false);
        ASSERT_TRUE(holder.IsValid());
        EXPECT_TRUE(holder.AreFixupsApplied());
        EXPECT_EQ(record.data() + nDataAt, holder.FindAttribute(NTFS_ATTR_DATA, 1));
        CNTFSRunList runs;
        int64_t i64Size = 0;
        ASSERT_TRUE(CollectDataRuns(holder, &runs, true, &i64Size));
        ASSERT_EQ(1u, runs.GetCount());
        EXPECT_EQ(0x5634, (*runs.begin())->llLcn);
        EXPECT_EQ(0x18u, (*runs.begin())->ullLength);
        EXPECT_EQ(0x18 * 4096 - 100, i64Size);
        uint32_t bySectors = 0;
        EXPECT_TRUE(InferSectorsPerCluster(holder, &bySectors));
        EXPECT_EQ(8, bySectors);
        EXPECT_EQ("big record.bin", NameOf(holder.FindAttribute(NTFS_ATTR_FILE_NAME, 0)));
    }
    EXPECT_EQ(raw, record);

    // A 256-byte record: one update sequence word, nothing to fix.
    RecordBuilder small(256);
    small.Resident(NTFS_ATTR_FILE_NAME, RecordBuilder::FileName(u"s"));
    std::vector<uint8_t> tiny = small.Finish();
    EXPECT_EQ(1u, GetU16(tiny, 6));
    EXPECT_TRUE(IsValidFileRecord(tiny.data(), tiny.size()));
    EXPECT_TRUE(VerifyFixups(tiny.data(), tiny.size()));
    PutU16(tiny, 6, 2);
    EXPECT_FALSE(IsFileRecordHeader(tiny.data(), tiny.size()));
    // The array itself must lie inside so small a record.
    PutU16(tiny, 6, 1);
    PutU16(tiny, 4, 256);
    EXPECT_FALSE(IsFileRecordHeader(tiny.data(), tiny.size()));
}

TEST(NTFSRuns, SectorsPerClusterFromSizes)
{
    struct CASE {
        int64_t i64Bytes;
        int64_t i64Clusters;
        int nSectors;
    };
    const CASE kCases[] = {
        {8 << 20, 1024, 16}, {1, 1, 1},          {512, 1, 1},       {513, 1, 2},   {1024, 1, 2},
        {1025, 1, 4},        {4096, 1, 8},       {65536, 1, 128},   {129 * 512, 1, 256}, {0, 5, 0},
        {100, 0, 0},         {-4096, 1, 0},      {300000, 74, 8},   {300000, 5, 128},
        // Clusters above 64 KiB, up to the 2 MiB Windows formats.
        {300000, 3, 256},    {2 << 20, 1, 4096}, {(2 << 20) + 1, 1, 0},
    };
    for (const CASE& c : kCases)
        EXPECT_EQ(c.nSectors, SectorsPerClusterFromSizes(c.i64Bytes, c.i64Clusters)) << c.i64Bytes << "/" << c.i64Clusters;

    RecordBuilder builder(1024);
    builder.Resident(NTFS_ATTR_DATA, std::vector<uint8_t>(10, 1), u"stream")
        .NonResident(NTFS_ATTR_DATA, {0x11, 0x04, 0x10, 0x11, 0x02, 0x20, 0x00}, 6, 6 * 4096)
        .NonResident(NTFS_ATTR_INDEX_ALLOCATION, {0x11, 0x01, 0x40, 0x00}, 1, 4096);
    std::vector<uint8_t> record = builder.Finish();
    CFileRecordHolder holder(record.data(), record.size(), false);
    ASSERT_TRUE(holder.IsValid());
    const uint8_t* pNamed = holder.FindAttribute(NTFS_ATTR_DATA, 0);
    const uint8_t* pData = holder.FindAttribute(NTFS_ATTR_DATA, 1);
    const uint8_t* pIndex = holder.FindAttribute(NTFS_ATTR_INDEX_ALLOCATION, 0);
    ASSERT_TRUE(pNamed && pData && pIndex);
    EXPECT_EQ(2, holder.CountAttributes(NTFS_ATTR_DATA));
    EXPECT_EQ(6, GetAttributeClusterCount(pData, GetAttributeLength(pData)));
    EXPECT_EQ(-1, GetAttributeClusterCount(pNamed, GetAttributeLength(pNamed)));
    EXPECT_EQ(8, SectorsPerClusterOfAttribute(pIndex, GetAttributeLength(pIndex)));
    EXPECT_EQ(8, SectorsPerClusterOfAttribute(pData, GetAttributeLength(pData)));
    EXPECT_EQ(0, SectorsPerClusterOfAttribute(pNamed, GetAttributeLength(pNamed)));

    // Named attributes are passed over; an unnamed one appends its runs at its first VCN.
    CNTFSRunList runs;
    int64_t i64Size = -1;
    uint64_t u64Vcn = 99;
    AppendAttributeRuns(pNamed, GetAttributeLength(pNamed), &i64Size, &u64Vcn, &runs);
    EXPECT_TRUE(runs.IsEmpty());
    EXPECT_EQ(-1, i64Size);
    AppendAttributeRuns(pData, GetAttributeLength(pData), &i64Size, &u64Vcn, &runs);
    EXPECT_EQ(2u, runs.GetCount());
    EXPECT_EQ(0u, u64Vcn);
    EXPECT_EQ(6 * 4096, i64Size);
    CNTFSFileRecordDataRunsAttribute dataRuns;
    EXPECT_TRUE(dataRuns.DecodeRuns(pData, GetAttributeLength(pData)));
    EXPECT_TRUE(dataRuns.GetRunList().IsEqual(&runs));
    EXPECT_FALSE(dataRuns.DecodeRuns(pNamed, GetAttributeLength(pNamed)));
    EXPECT_TRUE(dataRuns.GetRunList().IsEmpty());

    // The length check: an extent whose pairs do not cover its VCN range.
    PutU32(record, static_cast<size_t>(pData - record.data()) + 24, 9);
    CNTFSRunList checked;
    EXPECT_FALSE(CollectDataRuns(holder, &checked, true, nullptr));
    CNTFSRunList unchecked;
    EXPECT_TRUE(CollectDataRuns(holder, &unchecked, false, nullptr));
    EXPECT_EQ(2u, unchecked.GetCount());
}

TEST(NTFSVolumeLabel, LongLabelsAndDamagedVolumes)
{
    // 32 units of Japanese take 96 bytes in UTF-8 and are kept whole.
    rvdtest::CTempDir dir;
    const std::string strLabel = "日本語のボリュームラベル日本語のボリュームラベル日本語のボリュー";
    const std::string strImage = MakeImage(dir, "label.img", 8 << 20, "mkntfs -F -Q -q -L '" + strLabel + "'");
    {
        CImageDevice device(strImage);
        const std::vector<uint8_t> sector = device.Sector(0);
        CNTFSDBR dbr;
        ASSERT_TRUE(dbr.SetIfValid(sector.data(), sector.size()));
        CNTFSVolumeLabelReader reader(&device);
        EXPECT_EQ(strLabel, LabelOf(reader, 0, dbr));
        EXPECT_EQ(Blkid(strImage, 0, "LABEL"), LabelOf(reader, 0, dbr));
    }

    CImageDevice device(rvdtest::FixturePath("ntfs.img"));
    CNtfsVolume volume(device, 0);
    CNTFSVolumeLabelReader reader(&device);
    // Record 3 unreadable.
    {
        CImageDevice bad(rvdtest::FixturePath("ntfs.img"));
        bad.MarkBad(volume.RecordSector(3));
        bool bRead = true;
        CNTFSVolumeLabelReader badReader(&bad);
        EXPECT_EQ("", LabelOf(badReader, 0, volume.DBR(), &bRead));
        EXPECT_FALSE(bRead);
    }
    // A record size no volume has.
    {
        std::vector<uint8_t> sector = device.Sector(0);
        sector[64] = 0xE0;
        CNTFSDBR dbr;
        ASSERT_TRUE(dbr.SetIfValid(sector.data(), sector.size()));
        bool bRead = true;
        EXPECT_EQ("", LabelOf(reader, 0, dbr, &bRead));
        EXPECT_FALSE(bRead);
    }
    // A $MFT cluster beyond any disk.
    {
        std::vector<uint8_t> sector = device.Sector(0);
        for (int i = 48; i < 56; ++i)
            sector[i] = 0xFF;
        CNTFSDBR dbr;
        ASSERT_TRUE(dbr.SetIfValid(sector.data(), sector.size()));
        bool bRead = true;
        LabelOf(reader, 0, dbr, &bRead);
        EXPECT_FALSE(bRead);
    }
    // Records that are not a sound $Volume leave the output alone.
    char szOut[NTFS_VOLUME_LABEL_BUFFER];
    for (uint64_t n : {0, 5}) {
        std::vector<uint8_t> record = volume.ReadRecord(n);
        memset(szOut, 'x', sizeof(szOut));
        GetVolumeNameFromFileRecord(record.data(), record.size(), szOut);
        EXPECT_EQ('x', szOut[0]) << n;
    }
    std::vector<uint8_t> record = volume.ReadRecord(3);
    const std::vector<uint8_t> raw = record;
    memset(szOut, 0, sizeof(szOut));
    GetVolumeNameFromFileRecord(record.data(), record.size(), szOut);
    EXPECT_STREQ("NTFS4K", szOut);
    EXPECT_EQ(raw, record);
    record[0] = 'X';
    memset(szOut, 'x', sizeof(szOut));
    GetVolumeNameFromFileRecord(record.data(), record.size(), szOut);
    EXPECT_EQ('x', szOut[0]);
}
