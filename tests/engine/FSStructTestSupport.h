// Helpers for the FAT and NTFS structure tests: a device over a fixture image that can be
// damaged sector by sector without touching the image, the fixture manifests, SHA-256 of
// recovered bytes, and the answers of the reference tools (blkid, fsck.fat, ntfsinfo).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "IStorageDevice.h"
#include "TestSupport.h"

namespace fstest {

const uint64_t kSector = 512;

// Reads an image file; sectors given by Patch read as the patched bytes, sectors marked bad
// fail (zero-filled), and reads past the end fail. Every read and every sector read is counted.
class CImageDevice : public IStorageDevice {
public:
    explicit CImageDevice(const std::string& strPath) : m_fd(open(strPath.c_str(), O_RDONLY | O_CLOEXEC))
    {
        EXPECT_GE(m_fd, 0) << strPath;
        if (m_fd >= 0)
            m_u64Sectors = static_cast<uint64_t>(lseek(m_fd, 0, SEEK_END)) / kSector;
    }
    ~CImageDevice() override
    {
        if (m_fd >= 0)
            close(m_fd);
    }

    int ReadSectors(void* pBuffer, uint64_t u64Start, uint64_t u64Count) override
    {
        ++m_nReads;
        uint8_t* p = static_cast<uint8_t*>(pBuffer);
        memset(p, 0, u64Count * kSector);
        if (m_fd < 0 || u64Start >= m_u64Sectors || u64Count > m_u64Sectors - u64Start)
            return 0;
        for (uint64_t i = 0; i < u64Count; ++i) {
            if (m_Bad.count(u64Start + i)) {
                memset(p, 0, u64Count * kSector);
                return 0;
            }
        }
        m_u64SectorsRead += u64Count;
        if (pread(m_fd, p, u64Count * kSector, static_cast<off_t>(u64Start * kSector)) !=
            static_cast<ssize_t>(u64Count * kSector))
            return 0;
        for (const auto& patch : m_Patches)
            if (patch.first >= u64Start && patch.first < u64Start + u64Count)
                memcpy(p + (patch.first - u64Start) * kSector, patch.second.data(), kSector);
        return 1;
    }
    uint64_t GetTotalSectors() override { return m_u64Sectors; }
    int GetSectorSize() override { return 512; }
    int Open() override { return 1; }
    int Close() override { return 1; }

    // The sector's current bytes (patched or read), to be changed and given back with Patch.
    std::vector<uint8_t> Sector(uint64_t u64Sector)
    {
        std::vector<uint8_t> v(kSector);
        const int nReads = m_nReads;
        ReadSectors(v.data(), u64Sector, 1);
        m_nReads = nReads;
        return v;
    }
    std::vector<uint8_t> Sectors(uint64_t u64Start, uint64_t u64Count)
    {
        std::vector<uint8_t> v(u64Count * kSector);
        const int nReads = m_nReads;
        ReadSectors(v.data(), u64Start, u64Count);
        m_nReads = nReads;
        return v;
    }
    void Patch(uint64_t u64Sector, const std::vector<uint8_t>& vecBytes)
    {
        std::vector<uint8_t> v(vecBytes);
        v.resize(kSector, 0);
        m_Patches[u64Sector] = v;
    }
    void MarkBad(uint64_t u64Sector) { m_Bad.insert(u64Sector); }
    int Reads() const { return m_nReads; }
    void ResetCounters()
    {
        m_nReads = 0;
        m_u64SectorsRead = 0;
    }
    uint64_t SectorsRead() const { return m_u64SectorsRead; }

private:
    int m_fd;
    uint64_t m_u64Sectors = 0;
    std::map<uint64_t, std::vector<uint8_t>> m_Patches;
    std::set<uint64_t> m_Bad;
    int m_nReads = 0;
    uint64_t m_u64SectorsRead = 0;
};

// One line of a fixture manifest (see tests/fixtures/fixtures.py).
struct MANIFEST_ENTRY {
    bool bLive;
    bool bDirectory;
    uint64_t u64Size;
    std::string strSha256;
    bool bRecoverable;
    bool bFragmented;
    uint64_t u64Id;
    std::string strPath;
};

inline std::vector<MANIFEST_ENTRY> ReadManifest(const std::string& strPath)
{
    std::vector<MANIFEST_ENTRY> vec;
    const std::vector<uint8_t> bytes = rvdtest::ReadFileBytes(strPath);
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string strLine;
    while (std::getline(in, strLine)) {
        if (strLine.empty() || strLine[0] == '#')
            continue;
        std::vector<std::string> fields;
        size_t nPos = 0;
        for (int i = 0; i < 8; ++i) {
            const size_t nTab = strLine.find('\t', nPos);
            fields.push_back(strLine.substr(nPos, nTab - nPos));
            nPos = nTab + 1;
        }
        fields.push_back(strLine.substr(nPos));
        MANIFEST_ENTRY e;
        e.bLive = fields[0] == "live";
        e.bDirectory = fields[1] == "dir";
        e.u64Size = fields[2] == "-" ? 0 : std::stoull(fields[2]);
        e.strSha256 = fields[3];
        e.bRecoverable = fields[4] == "yes";
        e.bFragmented = fields[5] == "yes";
        e.u64Id = std::stoull(fields[7]);
        e.strPath = fields[8];
        vec.push_back(e);
    }
    return vec;
}

inline std::string BaseName(const std::string& strPath)
{
    return strPath.substr(strPath.rfind('/') + 1);
}

// SHA-256 in lower-case hex (FIPS 180-4).
inline std::string Sha256Hex(const uint8_t* pData, size_t nSize)
{
    static const uint32_t k[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
        0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
        0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
        0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
        0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
        0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
        0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
    uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::vector<uint8_t> msg(pData, pData + nSize);
    msg.push_back(0x80);
    while (msg.size() % 64 != 56)
        msg.push_back(0);
    for (int i = 7; i >= 0; --i)
        msg.push_back(static_cast<uint8_t>((static_cast<uint64_t>(nSize) * 8) >> (8 * i)));
    auto rotr = [](uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
    for (size_t nBlock = 0; nBlock < msg.size(); nBlock += 64) {
        uint32_t w[64];
        for (int i = 0; i < 16; ++i)
            w[i] = (uint32_t(msg[nBlock + 4 * i]) << 24) | (uint32_t(msg[nBlock + 4 * i + 1]) << 16) |
                   (uint32_t(msg[nBlock + 4 * i + 2]) << 8) | msg[nBlock + 4 * i + 3];
        for (int i = 16; i < 64; ++i) {
            const uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
        for (int i = 0; i < 64; ++i) {
            const uint32_t t1 = hh + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
            const uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            hh = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
        h[5] += f;
        h[6] += g;
        h[7] += hh;
    }
    char sz[65];
    for (int i = 0; i < 8; ++i)
        snprintf(sz + 8 * i, 9, "%08x", h[i]);
    return std::string(sz, 64);
}

inline std::string Sha256Hex(const std::vector<uint8_t>& vec)
{
    return Sha256Hex(vec.data(), vec.size());
}

// What a shell command wrote on stdout.
inline std::string Capture(const std::string& strCommand)
{
    std::string strOut;
    FILE* pPipe = popen((strCommand + " 2>/dev/null").c_str(), "r");
    if (pPipe == nullptr)
        return strOut;
    char aBuffer[4096];
    size_t n = 0;
    while ((n = fread(aBuffer, 1, sizeof(aBuffer), pPipe)) > 0)
        strOut.append(aBuffer, n);
    pclose(pPipe);
    return strOut;
}

// The text after strKey on the first line of strText that contains it, up to the line's end.
inline std::string After(const std::string& strText, const std::string& strKey)
{
    const size_t nPos = strText.find(strKey);
    if (nPos == std::string::npos)
        return std::string();
    const size_t nStart = nPos + strKey.size();
    return strText.substr(nStart, strText.find('\n', nStart) - nStart);
}

// One value of blkid's probe for the file system at a byte offset of an image.
inline std::string Blkid(const std::string& strImage, uint64_t u64Offset, const std::string& strKey)
{
    std::string strValue = Capture("blkid -p -o value -s " + strKey + " -O " + std::to_string(u64Offset) + " '" +
                                   strImage + "'");
    while (!strValue.empty() && strValue.back() == '\n')
        strValue.pop_back();
    return strValue;
}

// A fresh image file made by a shell command (mkfs.fat, mkntfs) in a scratch folder.
inline std::string MakeImage(const rvdtest::CTempDir& dir, const std::string& strName, uint64_t u64Bytes,
                             const std::string& strCommand)
{
    const std::string strPath = dir.File(strName);
    const int fd = open(strPath.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(0, ftruncate(fd, static_cast<off_t>(u64Bytes)));
    close(fd);
    EXPECT_EQ(0, system((strCommand + " '" + strPath + "' >/dev/null 2>&1").c_str())) << strCommand;
    return strPath;
}

inline void PutU16(std::vector<uint8_t>& v, size_t nOffset, uint16_t w)
{
    v[nOffset] = static_cast<uint8_t>(w);
    v[nOffset + 1] = static_cast<uint8_t>(w >> 8);
}

inline void PutU32(std::vector<uint8_t>& v, size_t nOffset, uint32_t n)
{
    for (int i = 0; i < 4; ++i)
        v[nOffset + i] = static_cast<uint8_t>(n >> (8 * i));
}

inline uint16_t GetU16(const std::vector<uint8_t>& v, size_t nOffset)
{
    return static_cast<uint16_t>(v[nOffset] | (v[nOffset + 1] << 8));
}

inline uint32_t GetU32(const std::vector<uint8_t>& v, size_t nOffset)
{
    return uint32_t(v[nOffset]) | (uint32_t(v[nOffset + 1]) << 8) | (uint32_t(v[nOffset + 2]) << 16) |
           (uint32_t(v[nOffset + 3]) << 24);
}

} // namespace fstest
