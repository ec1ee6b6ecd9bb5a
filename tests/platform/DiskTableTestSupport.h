// Scratch disks for the disk-table tests: image files whose every byte is known from its offset, and
// an environment that each test sets up and puts back.
#pragma once

#include "DiskTable.h"
#include "ScopedEnv.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace disktabletest {

// The byte at an offset of image number nSeed: differs between images, between sectors and within one.
inline uint8_t PatternByte(int nSeed, uint64_t qwOffset) {
    return static_cast<uint8_t>((qwOffset / 512) * 31 + (qwOffset % 512) + static_cast<uint64_t>(nSeed) * 101);
}

inline void MakePatternImage(const std::string& strPath, uint64_t qwBytes, int nSeed) {
    std::vector<uint8_t> data(qwBytes);
    for (uint64_t i = 0; i < qwBytes; ++i) data[i] = PatternByte(nSeed, i);
    rvdtest::WriteFileBytes(strPath, data);
}

inline bool MatchesPattern(const uint8_t* p, size_t n, int nSeed, uint64_t qwOffset) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] != PatternByte(nSeed, qwOffset + i)) return false;
    return true;
}

// Clears RAVENDO_DISKS / RAVENDO_DEVICE_TABLE for the test and restores them (and the table) after.
class DiskTableTest : public ::testing::Test {
protected:
    void TearDown() override {
        m_Disks.Restore();
        m_Table.Restore();
        rvdplat::ReloadDiskTable();
    }

    void UseDisks(const std::string& strList) {
        unsetenv("RAVENDO_DEVICE_TABLE");
        setenv("RAVENDO_DISKS", strList.c_str(), 1);
        std::string strError;
        ASSERT_TRUE(rvdplat::ReloadDiskTable(&strError)) << strError;
    }

    // Writes the table into the scratch folder and loads it; returns the load's error text.
    std::string LoadTable(const std::string& strText, const std::string& strName = "devices.table") {
        std::string strFile = m_dir.File(strName);
        std::ofstream(strFile) << strText;
        setenv("RAVENDO_DEVICE_TABLE", strFile.c_str(), 1);
        std::string strError;
        rvdplat::ReloadDiskTable(&strError);
        return strError;
    }
    void UseTable(const std::string& strText) {
        std::string strError = LoadTable(strText);
        ASSERT_EQ(strError, "");
    }

    rvdtest::CTempDir m_dir;

private:
    rvdtest::CScopedEnv m_Disks{"RAVENDO_DISKS", nullptr};
    rvdtest::CScopedEnv m_Table{"RAVENDO_DEVICE_TABLE", nullptr};
};

} // namespace disktabletest
