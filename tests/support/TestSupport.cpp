#include "TestSupport.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace rvdtest {

std::string FixtureDir()
{
    const char* pszEnv = std::getenv("RVD_FIXTURE_DIR");
    if (pszEnv != nullptr && *pszEnv != '\0')
        return pszEnv;
    return RVD_FIXTURE_DIR;
}

std::string FixturePath(const std::string& strName)
{
    return FixtureDir() + "/" + strName;
}

std::string SourceDir() { return RVD_SOURCE_DIR; }
std::string OutputDir() { return RVD_OUTPUT_DIR; }

CTempDir::CTempDir()
{
    std::string strTemplate = (std::filesystem::temp_directory_path() / "rvdtest-XXXXXX").string();
    std::vector<char> vecName(strTemplate.begin(), strTemplate.end());
    vecName.push_back('\0');
    if (mkdtemp(vecName.data()) == nullptr)
        throw std::runtime_error("cannot make a temporary folder");
    m_strPath = vecName.data();
}

CTempDir::~CTempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_strPath, ec);
}

std::vector<uint8_t> ReadFileBytes(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + strPath);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& strPath, const std::vector<uint8_t>& vecData)
{
    std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(vecData.data()), static_cast<std::streamsize>(vecData.size()));
    if (!out)
        throw std::runtime_error("cannot write " + strPath);
}

namespace {

// FIPS 180-4 SHA-256.
class CSha256 {
public:
    void Update(const uint8_t* pData, size_t nSize)
    {
        m_nTotal += nSize;
        while (nSize > 0) {
            size_t nTake = std::min(nSize, sizeof m_abyBlock - m_nFill);
            std::memcpy(m_abyBlock + m_nFill, pData, nTake);
            m_nFill += nTake;
            pData += nTake;
            nSize -= nTake;
            if (m_nFill == sizeof m_abyBlock) {
                Compress(m_abyBlock);
                m_nFill = 0;
            }
        }
    }

    std::string FinishHex()
    {
        const uint64_t nBits = m_nTotal * 8;
        const uint8_t byOne = 0x80;
        Update(&byOne, 1);
        const uint8_t byZero = 0;
        while (m_nFill != 56)
            Update(&byZero, 1);
        uint8_t abyLength[8];
        for (int i = 0; i < 8; ++i)
            abyLength[i] = static_cast<uint8_t>(nBits >> (56 - 8 * i));
        Update(abyLength, 8);
        static const char szHex[] = "0123456789abcdef";
        std::string strHex;
        for (uint32_t dwWord : m_adwState)
            for (int nShift = 28; nShift >= 0; nShift -= 4)
                strHex += szHex[(dwWord >> nShift) & 0xF];
        return strHex;
    }

private:
    static uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

    void Compress(const uint8_t* pBlock)
    {
        static const uint32_t adwK[64] = {
            0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
            0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
            0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
            0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
            0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
            0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
            0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
            0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
        uint32_t adwW[64];
        for (int i = 0; i < 16; ++i)
            adwW[i] = uint32_t(pBlock[4 * i]) << 24 | uint32_t(pBlock[4 * i + 1]) << 16 |
                      uint32_t(pBlock[4 * i + 2]) << 8 | uint32_t(pBlock[4 * i + 3]);
        for (int i = 16; i < 64; ++i) {
            uint32_t s0 = Rotr(adwW[i - 15], 7) ^ Rotr(adwW[i - 15], 18) ^ (adwW[i - 15] >> 3);
            uint32_t s1 = Rotr(adwW[i - 2], 17) ^ Rotr(adwW[i - 2], 19) ^ (adwW[i - 2] >> 10);
            adwW[i] = adwW[i - 16] + s0 + adwW[i - 7] + s1;
        }
        uint32_t a = m_adwState[0], b = m_adwState[1], c = m_adwState[2], d = m_adwState[3];
        uint32_t e = m_adwState[4], f = m_adwState[5], g = m_adwState[6], h = m_adwState[7];
        for (int i = 0; i < 64; ++i) {
            uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + adwK[i] + adwW[i];
            uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g; g = f; f = e; e = d + t1;
            d = c; c = b; b = a; a = t1 + t2;
        }
        m_adwState[0] += a; m_adwState[1] += b; m_adwState[2] += c; m_adwState[3] += d;
        m_adwState[4] += e; m_adwState[5] += f; m_adwState[6] += g; m_adwState[7] += h;
    }

    std::array<uint32_t, 8> m_adwState{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    uint8_t m_abyBlock[64] = {};
    size_t m_nFill = 0;
    uint64_t m_nTotal = 0;
};

// The data lines of a manifest or partition list, split at tabs; comment lines start with '#'.
std::vector<std::vector<std::string>> ReadTable(const std::string& strPath, size_t nColumns)
{
    std::ifstream in(strPath);
    if (!in)
        throw std::runtime_error("cannot read " + strPath);
    std::vector<std::vector<std::string>> vecRows;
    std::string strLine;
    int nLine = 0;
    while (std::getline(in, strLine)) {
        ++nLine;
        if (strLine.empty() || strLine[0] == '#')
            continue;
        std::vector<std::string> vecFields;
        size_t nPos = 0;
        for (;;) {
            size_t nTab = strLine.find('\t', nPos);
            vecFields.push_back(strLine.substr(nPos, nTab == std::string::npos ? std::string::npos : nTab - nPos));
            if (nTab == std::string::npos)
                break;
            nPos = nTab + 1;
        }
        if (vecFields.size() != nColumns)
            throw std::runtime_error(strPath + ":" + std::to_string(nLine) + ": expected " +
                                     std::to_string(nColumns) + " columns");
        vecRows.push_back(std::move(vecFields));
    }
    return vecRows;
}

[[noreturn]] void BadField(const std::string& strPath, const std::string& strField)
{
    throw std::runtime_error(strPath + ": bad field \"" + strField + "\"");
}

int64_t ParseInt(const std::string& strPath, const std::string& strField, int nBase = 10)
{
    if (strField.empty())
        BadField(strPath, strField);
    size_t nUsed = 0;
    long long llValue = 0;
    try {
        llValue = std::stoll(strField, &nUsed, nBase);
    } catch (const std::exception&) {
        BadField(strPath, strField);
    }
    if (nUsed != strField.size())
        BadField(strPath, strField);
    return llValue;
}

// "-" stands for "does not apply" in the yes/no columns only.
bool ParseChoice(const std::string& strPath, const std::string& strField, const char* pszYes, const char* pszNo,
                 bool bDashAllowed = false)
{
    if (strField == pszYes)
        return true;
    if (strField == pszNo || (bDashAllowed && strField == "-"))
        return false;
    BadField(strPath, strField);
}

std::vector<std::string> SplitManifestPath(const std::string& strFile, const std::string& strPath)
{
    std::vector<std::string> vecNames;
    for (size_t nPos = 1; nPos <= strPath.size();) {
        size_t nEnd = strPath.find('/', nPos);
        if (nEnd == std::string::npos)
            nEnd = strPath.size();
        std::string strName;
        for (size_t i = nPos; i < nEnd; ++i) {
            if (strPath[i] == '%') {
                if (i + 2 >= nEnd || !std::isxdigit(static_cast<unsigned char>(strPath[i + 1])) ||
                    !std::isxdigit(static_cast<unsigned char>(strPath[i + 2])))
                    BadField(strFile, strPath);
                strName += static_cast<char>(std::stoi(strPath.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                strName += strPath[i];
            }
        }
        if (strName.empty())
            BadField(strFile, strPath);
        vecNames.push_back(std::move(strName));
        nPos = nEnd + 1;
    }
    return vecNames;
}

} // namespace

std::string Sha256Hex(const uint8_t* pData, size_t nSize)
{
    CSha256 sha;
    sha.Update(pData, nSize);
    return sha.FinishHex();
}

std::string Sha256Hex(const std::vector<uint8_t>& vecData)
{
    return Sha256Hex(vecData.data(), vecData.size());
}

std::vector<ManifestEntry> ReadManifestFile(const std::string& strPath)
{
    std::vector<ManifestEntry> vecEntries;
    for (const auto& vecRow : ReadTable(strPath, 9)) {
        ManifestEntry entry;
        entry.bDeleted = ParseChoice(strPath, vecRow[0], "deleted", "live");
        entry.bDirectory = ParseChoice(strPath, vecRow[1], "dir", "file");
        if (!entry.bDirectory) {
            entry.nSize = static_cast<uint64_t>(ParseInt(strPath, vecRow[2]));
            entry.strSha256 = vecRow[3];
            if (entry.strSha256.size() != 64)
                BadField(strPath, vecRow[3]);
        }
        entry.bRecoverable = ParseChoice(strPath, vecRow[4], "yes", "no", true);
        entry.bFragmented = ParseChoice(strPath, vecRow[5], "yes", "no", true);
        entry.nMtime = ParseInt(strPath, vecRow[6]);
        entry.nId = vecRow[7] == "-" ? -1 : ParseInt(strPath, vecRow[7]);
        entry.strPath = vecRow[8];
        if (entry.strPath.size() < 2 || entry.strPath[0] != '/')
            BadField(strPath, vecRow[8]);
        entry.vecNames = SplitManifestPath(strPath, entry.strPath);
        vecEntries.push_back(std::move(entry));
    }
    return vecEntries;
}

std::vector<ManifestEntry> ReadManifest(const std::string& strImage, int nPartition)
{
    std::string strName = strImage;
    if (nPartition != 0)
        strName += ".p" + std::to_string(nPartition);
    return ReadManifestFile(FixturePath(strName + ".manifest"));
}

const ManifestEntry* FindManifestEntry(const std::vector<ManifestEntry>& vecEntries, const std::string& strPath)
{
    for (const ManifestEntry& entry : vecEntries)
        if (entry.strPath == strPath)
            return &entry;
    return nullptr;
}

std::vector<PartitionEntry> ReadPartitionsFile(const std::string& strPath)
{
    std::vector<PartitionEntry> vecEntries;
    for (const auto& vecRow : ReadTable(strPath, 7)) {
        PartitionEntry entry;
        entry.nIndex = static_cast<int>(ParseInt(strPath, vecRow[0]));
        entry.nStart = static_cast<uint64_t>(ParseInt(strPath, vecRow[1]));
        entry.nCount = static_cast<uint64_t>(ParseInt(strPath, vecRow[2]));
        entry.strType = vecRow[3];
        if (entry.strType.rfind("0x", 0) == 0)
            entry.nMbrType = static_cast<uint32_t>(ParseInt(strPath, entry.strType.substr(2), 16));
        entry.strFileSystem = vecRow[4] == "-" ? std::string() : vecRow[4];
        entry.strRole = vecRow[5];
        entry.strLabel = vecRow[6] == "-" ? std::string() : vecRow[6];
        vecEntries.push_back(std::move(entry));
    }
    return vecEntries;
}

std::vector<PartitionEntry> ReadPartitions(const std::string& strImage)
{
    return ReadPartitionsFile(FixturePath(strImage + ".partitions"));
}

} // namespace rvdtest
