// The engine's allocation routines, the settings accessor and the start-sector override.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "AutoLock.h"
#include "EngineMemory.h"
#include "EngineOrdering.h"
#include "EngineSettings.h"
#include "ScopedEnv.h"
#include "TestSupport.h"
#include "Veskel.h"
#include "common/FatalError.h"
#include "common/Pubic.h"

namespace {

struct OutOfMemory {
    size_t nBytes;
};

// Stands in for the crash handler: leaves the failed allocation by an exception so that the
// test can look at what was logged.
void ThrowingHandler(size_t nBytes)
{
    throw OutOfMemory{nBytes};
}

std::string ReadText(const std::string& strPath)
{
    std::ifstream in(strPath);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

TEST(EngineMemoryTest, FailedAllocationLogsTheSizeAndMemoryThenTakesTheFatalPath)
{
    rvdtest::CTempDir dir;
    rvdtest::CScopedEnv log("RAVENDO_LOG_FILE", dir.File("engine.log"));
    CloseLog();
    PFN_FATAL_OUT_OF_MEMORY pfnOld = SetFatalOutOfMemoryHandler(ThrowingHandler);
    // No machine has this much memory; malloc refuses it outright.
    const size_t nHuge = SIZE_MAX - 15;
    size_t nReported = 0;
    try {
        AllocOrRaise(nHuge);
        ADD_FAILURE() << "the allocation returned";
    } catch (const OutOfMemory& e) {
        nReported = e.nBytes;
    }
    SetFatalOutOfMemoryHandler(pfnOld);
    CloseLog();
    EXPECT_EQ(nReported, nHuge);
    std::string strLog = ReadText(dir.File("engine.log"));
    size_t nFirst = strLog.find("Failed to alloc 0xfffffffffffffff0 bytes");
    size_t nStatus = strLog.find("Memory status:");
    size_t nPhysical = strLog.find("Total physical memory:");
    size_t nPage = strLog.find("Total   page    files:");
    ASSERT_NE(nFirst, std::string::npos) << strLog;
    ASSERT_NE(nStatus, std::string::npos) << strLog;
    ASSERT_NE(nPhysical, std::string::npos);
    ASSERT_NE(nPage, std::string::npos);
    EXPECT_LT(nFirst, nStatus);
    EXPECT_LT(nStatus, nPhysical);
    EXPECT_LT(nPhysical, nPage);
    EXPECT_NE(strLog.find("MB\tAvailable physical memory:"), std::string::npos);
}

TEST(EngineMemoryTest, EngineObjectsAndContainersUseTheEngineRoutines)
{
    struct CThing : CEngineObject {
        int n = 5;
    };
    CThing* p = new CThing();
    EXPECT_EQ(p->n, 5);
    delete p;
    CThing* pArray = new CThing[3];
    delete[] pArray;

    char* pBuffer = AllocBuffer(0);
    ASSERT_NE(pBuffer, nullptr) << "a 0-byte request still yields a block";
    FreeBuffer(pBuffer);
    FreeMemory(nullptr);
    FreeBuffer(nullptr);

    std::vector<int, CEngineAllocator<int>> v;
    for (int i = 0; i < 1000; ++i)
        v.push_back(i);
    EXPECT_EQ(v[999], 999);

    PFN_FATAL_OUT_OF_MEMORY pfnOld = SetFatalOutOfMemoryHandler(ThrowingHandler);
    CEngineAllocator<uint64_t> alloc;
    EXPECT_THROW(alloc.allocate(SIZE_MAX / 4), OutOfMemory) << "the byte count overflows size_t";
    SetFatalOutOfMemoryHandler(pfnOld);
}

// Small blocks (pooled by size class) and large ones side by side: every block keeps its own
// bytes while its neighbours are freed and their room handed out again, is aligned for any type,
// and many threads may allocate and free at once; enough blocks to fill several of the pool's
// regions.
TEST(EngineMemoryTest, SmallAndLargeBlocksKeepTheirBytesAcrossThreads)
{
    const auto fill = [](uint8_t* p, size_t n, uint8_t byTag) {
        for (size_t i = 0; i < n; ++i)
            p[i] = static_cast<uint8_t>(byTag + i);
    };
    const auto intact = [](const uint8_t* p, size_t n, uint8_t byTag) {
        for (size_t i = 0; i < n; ++i)
            if (p[i] != static_cast<uint8_t>(byTag + i))
                return false;
        return true;
    };
    const auto work = [&](unsigned nSeed, bool* pOk) {
        std::vector<std::pair<uint8_t*, size_t>> blocks;
        uint32_t x = nSeed * 2654435761u + 1;
        for (int nRound = 0; nRound < 3; ++nRound) {
            for (int i = 0; i < 40000; ++i) {
                x = x * 1664525u + 1013904223u;
                // Mostly small sizes of every class, now and then a large block.
                const size_t nSize = (x >> 8) % 50 == 0 ? 4096 + (x >> 16) % 100000 : (x >> 16) % 140;
                uint8_t* p = reinterpret_cast<uint8_t*>(AllocOrRaise(nSize));
                if (reinterpret_cast<uintptr_t>(p) % alignof(std::max_align_t) != 0)
                    *pOk = false;
                fill(p, nSize, static_cast<uint8_t>(blocks.size()));
                blocks.emplace_back(p, nSize);
            }
            // Free every other block, check the rest, then fill the holes again.
            std::vector<std::pair<uint8_t*, size_t>> kept;
            for (size_t i = 0; i < blocks.size(); ++i) {
                if (!intact(blocks[i].first, blocks[i].second, static_cast<uint8_t>(i)))
                    *pOk = false;
                if (i % 2 == 0)
                    FreeMemory(blocks[i].first);
                else
                    kept.push_back(blocks[i]);
            }
            blocks.clear();
            for (size_t i = 0; i < kept.size(); ++i) {
                fill(kept[i].first, kept[i].second, static_cast<uint8_t>(i));
                blocks.push_back(kept[i]);
            }
        }
        for (size_t i = 0; i < blocks.size(); ++i) {
            if (!intact(blocks[i].first, blocks[i].second, static_cast<uint8_t>(i)))
                *pOk = false;
            FreeMemory(blocks[i].first);
        }
    };
    bool abOk[4] = {true, true, true, true};
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < 4; ++i)
        threads.emplace_back(work, i, &abOk[i]);
    for (std::thread& thread : threads)
        thread.join();
    for (bool bOk : abOk)
        EXPECT_TRUE(bOk);
}

TEST(EngineSettingsTest, SettingsAreTheCommonLibrarysRecord)
{
    ASSERT_NE(GetEngineSettings(), nullptr);
    EXPECT_EQ(GetEngineSettings(), &CPubic::GetGlobalAdvanceSettingData());
}

TEST(EngineSettingsTest, StartPositionComesFromTheDebugOverrideFile)
{
    rvdtest::CTempDir dir;
    {
        rvdtest::CScopedEnv config("RAVENDO_DEBUG_CONFIG", dir.File("absent.ini"));
        EXPECT_EQ(EngineStartPosition(), 0);
    }
    struct { const char* pszText; int64_t llExpected; } cases[] = {
        {"[main]\npos=20000\n", 20000},
        {"[MAIN]\r\npos = 16384\r\n", 16384},
        {"[main]\npos=12abc\n", 12},
        {"[main]\npos=abc\n", 0},
        {"[main]\nother=5\n", 0},
        {"[other]\npos=5\n", 0},
        {"[main]\npos=-8192\n", 0},
        {"[main]\npos=99999999999999999999999\n", 0},
        {"[main]\npos=8589934592\n", 8589934592LL},
    };
    for (auto& c : cases) {
        std::ofstream(dir.File("config.ini")) << c.pszText;
        rvdtest::CScopedEnv config("RAVENDO_DEBUG_CONFIG", dir.File("config.ini"));
        EXPECT_EQ(EngineStartPosition(), c.llExpected) << c.pszText;
    }
    unsetenv("RAVENDO_DEBUG_CONFIG");
    EXPECT_EQ(EngineStartPosition(), 0);
}

TEST(EngineSettingsTest, OrderingRulesAndLockGuard)
{
    WideNameLessNoCase less;
    EXPECT_FALSE(less(u"JPG", u"jpg"));
    EXPECT_FALSE(less(u"jpg", u"JPG"));
    EXPECT_TRUE(less(u"doc", u"DOCX"));
    EXPECT_TRUE(less(u"BMP", u"gif"));
    SectorNumberLess sectors;
    EXPECT_TRUE(sectors(1, 0x8000000000000000ull));

    std::recursive_mutex section;
    {
        CAutoLock lock(&section);
        CAutoLock again(&section); // a critical section may be re-entered by its owner
        bool bOtherGotIt = true;
        std::thread other([&] {
            bOtherGotIt = section.try_lock();
            if (bOtherGotIt)
                section.unlock();
        });
        other.join();
        EXPECT_FALSE(bOtherGotIt);
    }
    EXPECT_TRUE(section.try_lock());
    section.unlock();
}
