// Device tables for the storage-device tests: small sparse images made in a scratch folder and a
// table naming them, installed as the process's disk table for one test and removed after it.
// Every 512-byte unit that a test stamps starts with its own unit number (8 bytes, little-endian)
// followed by a fill byte, so a read shows which units it returned.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "DiskTable.h"
#include "EngineSettings.h"
#include "GlobalAdvanceSettingData.h"
#include "TestSupport.h"

namespace devtest {

const uint64_t kUnit = 512;

class CDeviceTable {
public:
    CDeviceTable()
    {
        const char* pszOld = getenv("RAVENDO_DEVICE_TABLE");
        m_bHadOld = pszOld != nullptr;
        if (m_bHadOld)
            m_strOld = pszOld;
    }
    ~CDeviceTable()
    {
        if (m_bHadOld)
            setenv("RAVENDO_DEVICE_TABLE", m_strOld.c_str(), 1);
        else
            unsetenv("RAVENDO_DEVICE_TABLE");
        rvdplat::ReloadDiskTable();
    }
    CDeviceTable(const CDeviceTable&) = delete;
    CDeviceTable& operator=(const CDeviceTable&) = delete;

    // A sparse image of nBytes; nothing stamped yet.
    std::string MakeImage(const std::string& strName, uint64_t nBytes)
    {
        const std::string strPath = m_Dir.File(strName);
        const int fd = open(strPath.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(0, ftruncate(fd, static_cast<off_t>(nBytes)));
        close(fd);
        return strPath;
    }

    // Stamps units [u64First, u64First + u64Count) of an image.
    static void Stamp(const std::string& strPath, uint64_t u64First, uint64_t u64Count)
    {
        const int fd = open(strPath.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        std::vector<uint8_t> vecChunk;
        const uint64_t kChunkUnits = 4096;
        for (uint64_t u = u64First; u < u64First + u64Count; u += kChunkUnits) {
            const uint64_t n = std::min(kChunkUnits, u64First + u64Count - u);
            vecChunk.assign(n * kUnit, 0);
            for (uint64_t i = 0; i < n; ++i)
                StampUnit(vecChunk.data() + i * kUnit, u + i);
            ASSERT_EQ(static_cast<ssize_t>(vecChunk.size()),
                      pwrite(fd, vecChunk.data(), vecChunk.size(), static_cast<off_t>(u * kUnit)));
        }
        close(fd);
    }

    static void StampUnit(uint8_t* p, uint64_t u64Unit)
    {
        for (int i = 0; i < 8; ++i)
            p[i] = static_cast<uint8_t>(u64Unit >> (8 * i));
        memset(p + 8, 0xA5, kUnit - 8);
    }

    // Installs the table text as the process's disk table.
    void Load(const std::string& strTable)
    {
        const std::string strPath = m_Dir.File("devices.table");
        FILE* pFile = fopen(strPath.c_str(), "w");
        ASSERT_NE(nullptr, pFile);
        fputs(strTable.c_str(), pFile);
        fclose(pFile);
        setenv("RAVENDO_DEVICE_TABLE", strPath.c_str(), 1);
        std::string strError;
        ASSERT_TRUE(rvdplat::ReloadDiskTable(&strError)) << strError;
    }

    std::string File(const std::string& strName) const { return m_Dir.File(strName); }

private:
    rvdtest::CTempDir m_Dir;
    bool m_bHadOld = false;
    std::string m_strOld;
};

// Sets the bad-sector option for one scope.
class CIgnoreBadSectors {
public:
    explicit CIgnoreBadSectors(int nIgnore) : m_nOld(GetEngineSettings()->m_nBadSectorIgnore)
    {
        GetEngineSettings()->m_nBadSectorIgnore = nIgnore;
    }
    ~CIgnoreBadSectors() { GetEngineSettings()->m_nBadSectorIgnore = m_nOld; }
    void Set(int nIgnore) { GetEngineSettings()->m_nBadSectorIgnore = nIgnore; }

private:
    int m_nOld;
};

// True when unit i of the buffer is the stamped unit u64First + i, for every i < u64Count.
inline ::testing::AssertionResult HoldsUnits(const uint8_t* pBuffer, uint64_t u64First, uint64_t u64Count)
{
    uint8_t aExpected[kUnit];
    for (uint64_t i = 0; i < u64Count; ++i) {
        CDeviceTable::StampUnit(aExpected, u64First + i);
        if (memcmp(pBuffer + i * kUnit, aExpected, kUnit) != 0)
            return ::testing::AssertionFailure() << "unit " << i << " is not disk unit " << u64First + i;
    }
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult IsZero(const uint8_t* pBuffer, uint64_t u64Count)
{
    for (uint64_t i = 0; i < u64Count * kUnit; ++i) {
        if (pBuffer[i] != 0)
            return ::testing::AssertionFailure() << "byte " << i << " (unit " << i / kUnit << ") is not zero";
    }
    return ::testing::AssertionSuccess();
}

} // namespace devtest
