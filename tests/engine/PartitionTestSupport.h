// Helpers for the partition-table and recogniser tests: a sparse in-memory disk for hand-built
// tables (damaged chains and headers that no tool writes), a disk table over fixture images,
// and the reference tools' answers (sfdisk, sgdisk, blkid, fsck.fat, ntfsinfo, dumpe2fs).
#pragma once

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "IStorageDevice.h"

namespace parttest {

const uint64_t kSector = 512;

// A disk of any size whose sectors are zero until written. Reads of listed bad sectors fail
// (zero-filled), as do reads past the end. Every read is counted, so a test can tell that a
// walk ended.
class CMemoryDisk : public IStorageDevice {
public:
    explicit CMemoryDisk(uint64_t u64Sectors) : m_u64Sectors(u64Sectors) {}

    int ReadSectors(void* pBuffer, uint64_t u64Start, uint64_t u64Count) override
    {
        ++m_nReads;
        uint8_t* p = static_cast<uint8_t*>(pBuffer);
        memset(p, 0, u64Count * kSector);
        if (u64Start >= m_u64Sectors || u64Count > m_u64Sectors - u64Start)
            return 0;
        for (uint64_t i = 0; i < u64Count; ++i) {
            if (m_Bad.count(u64Start + i)) {
                memset(p, 0, u64Count * kSector);
                return 0;
            }
            auto it = m_Sectors.find(u64Start + i);
            if (it != m_Sectors.end())
                memcpy(p + i * kSector, it->second.data(), kSector);
        }
        return 1;
    }
    uint64_t GetTotalSectors() override { return m_u64Sectors; }
    int GetSectorSize() override { return 512; }
    int Open() override { return 1; }
    int Close() override { return 1; }

    std::vector<uint8_t>& Sector(uint64_t u64Sector)
    {
        std::vector<uint8_t>& v = m_Sectors[u64Sector];
        v.resize(kSector, 0);
        return v;
    }
    void Write(uint64_t u64Sector, const std::vector<uint8_t>& vecData)
    {
        for (size_t i = 0; i < vecData.size(); i += kSector) {
            std::vector<uint8_t>& v = Sector(u64Sector + i / kSector);
            memcpy(v.data(), vecData.data() + i, std::min<size_t>(kSector, vecData.size() - i));
        }
    }
    void MarkBad(uint64_t u64Sector) { m_Bad.insert(u64Sector); }
    int Reads() const { return m_nReads; }

private:
    uint64_t m_u64Sectors;
    std::map<uint64_t, std::vector<uint8_t>> m_Sectors;
    std::set<uint64_t> m_Bad;
    int m_nReads = 0;
};

// Writes a 16-byte table slot (boot indicator, type, first sector, count) into a sector and
// gives the sector its 0x55 0xAA signature.
inline void PutSlot(std::vector<uint8_t>& vecSector, int nSlot, uint8_t byType, uint32_t nFirst,
                    uint32_t nCount, uint8_t byBoot = 0)
{
    uint8_t* p = vecSector.data() + 446 + 16 * nSlot;
    p[0] = byBoot;
    p[4] = byType;
    for (int i = 0; i < 4; ++i) {
        p[8 + i] = static_cast<uint8_t>(nFirst >> (8 * i));
        p[12 + i] = static_cast<uint8_t>(nCount >> (8 * i));
    }
    vecSector[510] = 0x55;
    vecSector[511] = 0xAA;
}

// Runs a shell command and returns what it wrote on stdout; a failed command fails the test.
inline std::string Capture(const std::string& strCommand, bool bMustSucceed = true)
{
    std::string strOut;
    FILE* pPipe = popen((strCommand + " 2>/dev/null").c_str(), "r");
    if (pPipe == nullptr) {
        ADD_FAILURE() << "cannot run " << strCommand;
        return strOut;
    }
    char aBuffer[4096];
    size_t n = 0;
    while ((n = fread(aBuffer, 1, sizeof(aBuffer), pPipe)) > 0)
        strOut.append(aBuffer, n);
    const int nStatus = pclose(pPipe);
    if (bMustSucceed && nStatus != 0) {
        ADD_FAILURE() << strCommand << " exited with " << nStatus;
    }
    return strOut;
}

inline std::string Quote(const std::string& str)
{
    return "'" + str + "'";
}

// One partition as sfdisk --dump (MBR) or sgdisk -p (GPT) lists it.
struct TOOL_PARTITION {
    uint64_t u64Start;
    uint64_t u64Count;
    std::string strType;    // MBR: hex type byte as sfdisk writes it ("e", "83"); GPT: sgdisk code
    int nIndex;             // 1-4 primary slots, 5 and up logical partitions
};

// The partitions sfdisk lists for an MBR disk image (none for a disk without a table).
inline std::vector<TOOL_PARTITION> SfdiskPartitions(const std::string& strImage)
{
    std::vector<TOOL_PARTITION> vec;
    const std::string strDump = Capture("sfdisk --dump " + Quote(strImage), false);
    size_t nPos = 0;
    while ((nPos = strDump.find(" : start=", nPos)) != std::string::npos) {
        TOOL_PARTITION part;
        unsigned long long nStart = 0, nSize = 0;
        char szType[64] = {0};
        if (sscanf(strDump.c_str() + nPos, " : start= %llu, size= %llu, type=%63[^,\n]", &nStart, &nSize, szType) == 3) {
            part.u64Start = nStart;
            part.u64Count = nSize;
            part.strType = szType;
            // The device name ends with the partition number: "disk.img5 : start=".
            size_t nDigits = nPos;
            while (nDigits > 0 && isdigit(static_cast<unsigned char>(strDump[nDigits - 1])))
                --nDigits;
            part.nIndex = atoi(strDump.substr(nDigits, nPos - nDigits).c_str());
            vec.push_back(part);
        }
        ++nPos;
    }
    return vec;
}

// The partitions sgdisk -p lists for a GPT disk image; the count is end - start + 1.
inline std::vector<TOOL_PARTITION> SgdiskPartitions(const std::string& strImage)
{
    std::vector<TOOL_PARTITION> vec;
    const std::string strList = Capture("sgdisk -p " + Quote(strImage));
    size_t nPos = strList.find("Number  Start");
    if (nPos == std::string::npos)
        return vec;
    nPos = strList.find('\n', nPos);
    while (nPos != std::string::npos && nPos + 1 < strList.size()) {
        const size_t nEnd = strList.find('\n', nPos + 1);
        const std::string strLine = strList.substr(nPos + 1, nEnd == std::string::npos ? std::string::npos : nEnd - nPos - 1);
        unsigned nNumber = 0;
        unsigned long long nStart = 0, nLast = 0;
        double dSize = 0;
        char szUnit[16] = {0}, szCode[16] = {0};
        if (sscanf(strLine.c_str(), "%u %llu %llu %lf %15s %15s", &nNumber, &nStart, &nLast, &dSize, szUnit, szCode) == 6)
            vec.push_back(TOOL_PARTITION{nStart, nLast - nStart + 1, szCode, static_cast<int>(nNumber)});
        nPos = nEnd;
    }
    return vec;
}

// One value of "blkid -p -o export" for the file system at a byte offset of an image.
inline std::string BlkidValue(const std::string& strImage, uint64_t u64Offset, const std::string& strKey)
{
    const std::string strOut = Capture("blkid -p -o export -O " + std::to_string(u64Offset) + " " + Quote(strImage), false);
    const std::string strPrefix = strKey + "=";
    size_t nPos = 0;
    while (nPos < strOut.size()) {
        size_t nEnd = strOut.find('\n', nPos);
        if (nEnd == std::string::npos)
            nEnd = strOut.size();
        const std::string strLine = strOut.substr(nPos, nEnd - nPos);
        if (strLine.compare(0, strPrefix.size(), strPrefix) == 0) {
            // export format escapes spaces with a backslash
            std::string strValue;
            const std::string strRaw = strLine.substr(strPrefix.size());
            for (size_t i = 0; i < strRaw.size(); ++i) {
                if (strRaw[i] == '\\' && i + 1 < strRaw.size())
                    ++i;
                strValue += strRaw[i];
            }
            return strValue;
        }
        nPos = nEnd + 1;
    }
    return std::string();
}

// File-system kind (0 FAT12 .. 5 EXT3, 7 none) of blkid's TYPE and VERSION.
inline uint32_t BlkidKind(const std::string& strImage, uint64_t u64Offset)
{
    const std::string strType = BlkidValue(strImage, u64Offset, "TYPE");
    if (strType == "vfat") {
        const std::string strVersion = BlkidValue(strImage, u64Offset, "VERSION");
        return strVersion == "FAT12" ? 0 : strVersion == "FAT16" ? 1 : 2;
    }
    if (strType == "ntfs")
        return 3;
    if (strType == "ext2")
        return 4;
    if (strType == "ext3")
        return 5;
    return 7;
}

// The number after strKey on the first line of strText that holds it (0 when none).
inline uint64_t NumberAfter(const std::string& strText, const std::string& strKey)
{
    const size_t nPos = strText.find(strKey);
    if (nPos == std::string::npos)
        return 0;
    return strtoull(strText.c_str() + nPos + strKey.size(), nullptr, 10);
}

// The number in front of strKey on its line ("512 bytes per cluster").
inline uint64_t NumberBefore(const std::string& strText, const std::string& strKey)
{
    const size_t nPos = strText.find(strKey);
    if (nPos == std::string::npos)
        return 0;
    size_t nStart = strText.rfind('\n', nPos);
    nStart = nStart == std::string::npos ? 0 : nStart + 1;
    return strtoull(strText.c_str() + nStart, nullptr, 10);
}

// Geometry and size of a file system as its own tool reports it, for the file system in
// u64Count sectors at u64Start of an image (copied out when it does not start at 0).
struct TOOL_VOLUME {
    uint32_t nKind = 7;
    std::string strLabel;
    uint64_t u64TotalSectors = 0;   // FAT, EXT: exact; NTFS: clusters x sectors per cluster
    uint32_t nBytesPerSector = 0;
    uint32_t nSectorsPerCluster = 0;
    uint32_t nSectorsPerTrack = 0;
};

inline TOOL_VOLUME ToolVolume(const std::string& strImage, uint64_t u64Start, uint64_t u64Count,
                              const std::string& strScratch)
{
    TOOL_VOLUME volume;
    volume.nKind = BlkidKind(strImage, u64Start * kSector);
    volume.strLabel = BlkidValue(strImage, u64Start * kSector, "LABEL");
    std::string strVolume = strImage;
    if (u64Start != 0) {
        strVolume = strScratch;
        Capture("dd if=" + Quote(strImage) + " of=" + Quote(strVolume) + " bs=512 skip=" +
                std::to_string(u64Start) + " count=" + std::to_string(u64Count) + " conv=sparse status=none");
    }
    if (volume.nKind <= 2) {
        const std::string strOut = Capture("fsck.fat -n -v " + Quote(strVolume), false);
        volume.nBytesPerSector = static_cast<uint32_t>(NumberBefore(strOut, "bytes per logical sector"));
        volume.nSectorsPerCluster = static_cast<uint32_t>(NumberBefore(strOut, "bytes per cluster") / 512);
        volume.u64TotalSectors = NumberBefore(strOut, "sectors total");
        volume.nSectorsPerTrack = static_cast<uint32_t>(NumberBefore(strOut, "sectors/track"));
    } else if (volume.nKind == 3) {
        const std::string strOut = Capture("ntfsinfo -m -f " + Quote(strVolume), false);
        volume.nBytesPerSector = static_cast<uint32_t>(NumberAfter(strOut, "Sector Size:"));
        volume.nSectorsPerCluster = static_cast<uint32_t>(NumberAfter(strOut, "Cluster Size:") / 512);
        volume.u64TotalSectors = NumberAfter(strOut, "Volume Size in Clusters:") * volume.nSectorsPerCluster;
    } else if (volume.nKind <= 5) {
        const std::string strOut = Capture("dumpe2fs -h " + Quote(strVolume), false);
        volume.u64TotalSectors = NumberAfter(strOut, "Block count:") * NumberAfter(strOut, "Block size:") / 512;
        volume.nBytesPerSector = 512;
    }
    return volume;
}

} // namespace parttest
