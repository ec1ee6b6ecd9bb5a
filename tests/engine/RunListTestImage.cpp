// The NTFS run list against real mapping pairs: the FILE records of the fixture images made by
// mkntfs and libntfs-3g. Every non-resident file's runs are decoded from its record, its bytes
// read through them and compared with The Sleuth Kit's icat, an independent reader.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "MemoryDataStream.h"
#include "PackedDataRuns.h"
#include "TestSupport.h"
#include "ntfs/NTFSRunList.h"

namespace {

typedef std::vector<uint8_t> Bytes;

uint16_t U16(const Bytes& b, size_t o) { return uint16_t(b.at(o) | b.at(o + 1) << 8); }
uint32_t U32(const Bytes& b, size_t o) { return uint32_t(U16(b, o)) | uint32_t(U16(b, o + 2)) << 16; }
uint64_t U64(const Bytes& b, size_t o) { return uint64_t(U32(b, o)) | uint64_t(U32(b, o + 4)) << 32; }

struct ManifestFile {
    std::string state, recoverable, fragmented, path;
    uint64_t size;
    uint64_t id;
};

std::vector<ManifestFile> ReadManifest(const std::string& strPath)
{
    std::vector<ManifestFile> files;
    std::ifstream in(strPath);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> f;
        std::stringstream ss(line);
        std::string field;
        while (std::getline(ss, field, '\t'))
            f.push_back(field);
        if (f.size() < 9 || f[1] != "file")
            continue;
        files.push_back({f[0], f[4], f[5], f[8], std::stoull(f[2]), std::stoull(f[7])});
    }
    return files;
}

Bytes Icat(const std::string& strImage, uint64_t nId)
{
    std::string strCommand = "icat '" + strImage + "' " + std::to_string(nId);
    Bytes out;
    FILE* p = popen(strCommand.c_str(), "r");
    if (!p)
        return out;
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0)
        out.insert(out.end(), buf, buf + n);
    pclose(p);
    return out;
}

class CImage {
public:
    explicit CImage(const std::string& strPath) : m_Bytes(rvdtest::ReadFileBytes(strPath))
    {
        m_nSectorSize = U16(m_Bytes, 0x0B);
        m_nClusterSize = uint64_t(m_Bytes.at(0x0D)) * m_nSectorSize;
        int8_t nPerRecord = int8_t(m_Bytes.at(0x40));
        m_nRecordSize = nPerRecord < 0 ? (1u << -nPerRecord) : nPerRecord * m_nClusterSize;
        // $MFT's own record sits at the start of its first cluster; its $DATA maps the rest.
        Bytes record = Slice(U64(m_Bytes, 0x30) * m_nClusterSize, m_nRecordSize);
        EXPECT_TRUE(Fixup(record));
        EXPECT_TRUE(DataRuns(record, &m_Mft, nullptr));
    }

    Bytes Slice(uint64_t nOffset, uint64_t nLength) const
    {
        Bytes out(nLength, 0);
        if (nOffset < m_Bytes.size())
            std::memcpy(out.data(), m_Bytes.data() + nOffset, std::min<uint64_t>(nLength, m_Bytes.size() - nOffset));
        return out;
    }

    bool Record(uint64_t nId, Bytes* pRecord) const
    {
        uint64_t nVcn = nId * m_nRecordSize / m_nClusterSize;
        int64_t llLcn = m_Mft.VcnToLcn(int64_t(nVcn));
        if (llLcn < 0)
            return false;
        uint64_t nWithin = nId * m_nRecordSize % m_nClusterSize;
        *pRecord = Slice(uint64_t(llLcn) * m_nClusterSize + nWithin, m_nRecordSize);
        return Fixup(*pRecord);
    }

    // The update sequence puts each sector's last two bytes into the record header.
    bool Fixup(Bytes& r) const
    {
        if (std::memcmp(r.data(), "FILE", 4) != 0)
            return false;
        uint16_t nOffset = U16(r, 4), nCount = U16(r, 6);
        for (uint16_t i = 1; i < nCount; ++i) {
            size_t nEnd = size_t(i) * 512 - 2;
            if (nEnd + 2 > r.size() || U16(r, nEnd) != U16(r, nOffset))
                return false;
            r[nEnd] = r[nOffset + 2 * i];
            r[nEnd + 1] = r[nOffset + 2 * i + 1];
        }
        return true;
    }

    // Unnamed non-resident $DATA: its mapping pairs decoded into pRuns. False when resident.
    bool DataRuns(const Bytes& r, CNTFSRunList* pRuns, uint64_t* pnSize) const
    {
        size_t nPos = U16(r, 0x14);
        while (nPos + 8 <= r.size() && U32(r, nPos) != 0xFFFFFFFF) {
            uint32_t nType = U32(r, nPos), nLength = U32(r, nPos + 4);
            if (nLength == 0 || nPos + nLength > r.size())
                return false;
            if (nType == 0x80 && r[nPos + 9] == 0) {
                if (r[nPos + 8] == 0)
                    return false;
                size_t nPairs = nPos + U16(r, nPos + 0x20);
                if (pnSize)
                    *pnSize = U64(r, nPos + 0x30);
                // The attribute's own length bounds its mapping pairs.
                return pRuns->SetFromMappingPairs(r.data() + nPairs, nPos + nLength - nPairs);
            }
            nPos += nLength;
        }
        return false;
    }

    Bytes ReadThrough(const CNTFSRunList& runs, uint64_t nSize) const
    {
        Bytes out;
        for (const NTFS_RUN* p : runs) {
            Bytes piece = p->llLcn < 0 ? Bytes(p->ullLength * m_nClusterSize, 0)
                                       : Slice(uint64_t(p->llLcn) * m_nClusterSize, p->ullLength * m_nClusterSize);
            out.insert(out.end(), piece.begin(), piece.end());
        }
        if (out.size() > nSize)
            out.resize(nSize);
        return out;
    }

    uint64_t ClusterCount() const { return m_Bytes.size() / m_nClusterSize; }

private:
    Bytes m_Bytes;
    uint64_t m_nSectorSize = 0, m_nClusterSize = 0, m_nRecordSize = 0;
    CNTFSRunList m_Mft;
};

} // namespace

class RunListTestImage : public ::testing::TestWithParam<const char*> {};

TEST_P(RunListTestImage, RunsFromRealRecordsReadTheFilesBytes)
{
    const std::string strImage = rvdtest::FixturePath(GetParam());
    CImage image(strImage);
    int nNonResident = 0, nFragmented = 0;
    for (const ManifestFile& f : ReadManifest(strImage + ".manifest")) {
        if (f.state == "deleted" && f.recoverable != "yes")
            continue;
        Bytes record;
        ASSERT_TRUE(image.Record(f.id, &record)) << f.path;
        CNTFSRunList runs;
        uint64_t nSize = 0;
        if (!image.DataRuns(record, &runs, &nSize))
            continue; // resident data or an empty file
        ++nNonResident;
        EXPECT_EQ(nSize, f.size) << f.path;
        size_t nDataRuns = 0;
        for (const NTFS_RUN* p : runs) {
            EXPECT_LT(uint64_t(p->llLcn) + p->ullLength, image.ClusterCount() + 1) << f.path;
            nDataRuns += p->llLcn >= 0;
        }
        EXPECT_EQ(nDataRuns > 1, f.fragmented == "yes") << f.path;
        nFragmented += nDataRuns > 1;
        EXPECT_EQ(image.ReadThrough(runs, f.size), Icat(strImage, f.id)) << f.path;

        // The same runs packed, stored, loaded and unpacked read the same clusters.
        CNoneResidentNTFSDataRunList list;
        for (const NTFS_RUN* p : runs)
            list.AddRun(DATA_RUN(p->llLcn < 0 ? DATA_RUN_SPARSE_START : uint64_t(p->llLcn), p->ullLength));
        PACKED_DATA_RUNS* pPacked = PackDataRunList(&list);
        ASSERT_NE(pPacked, nullptr);
        CMemoryDataStream stream;
        pPacked->Save(&stream);
        delete pPacked;
        PACKED_DATA_RUNS* pLoaded = LoadPackedDataRuns(&stream);
        ASSERT_NE(pLoaded, nullptr);
        IDataRunList* pBack = pLoaded->CreateDataRunList();
        ASSERT_NE(pBack, nullptr);
        ASSERT_EQ(pBack->GetRunCount(), list.GetRunCount());
        for (size_t i = 0; i < list.GetRunCount(); ++i)
            EXPECT_EQ(pBack->GetRun(i), list.GetRun(i)) << f.path;
        delete pBack;
        delete pLoaded;

        // And the NTFS record of the list comes back equal.
        CMemoryDataStream ntfsStream;
        runs.Save(&ntfsStream);
        CNTFSRunList reloaded;
        ASSERT_TRUE(reloaded.Load(&ntfsStream));
        EXPECT_TRUE(reloaded.IsEqual(&runs));
    }
    EXPECT_GE(nNonResident, 5);
    EXPECT_GE(nFragmented, 1);
}

INSTANTIATE_TEST_SUITE_P(Images, RunListTestImage, ::testing::Values("ntfs.img", "ntfs-c512.img", "ntfs-c64k.img"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string s = info.param;
                             for (char& c : s)
                                 if (!isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return s;
                         });
