#include <gtest/gtest.h>

#include <cstdio>

#include "FatalError.h"

namespace {

void ReportAndReturn(size_t nBytes)
{
    std::fprintf(stderr, "handler saw %zu bytes\n", nBytes);
}

} // namespace

TEST(FatalErrorDeathTest, DefaultHandlerWritesALineAndAborts)
{
    ASSERT_EQ(GetFatalOutOfMemoryHandler(), nullptr);
    EXPECT_DEATH(RaiseFatalOutOfMemory(4096), "out of memory.*4096 bytes");
}

TEST(FatalErrorDeathTest, InstalledHandlerRunsAndTheProcessStillEnds)
{
    EXPECT_EQ(SetFatalOutOfMemoryHandler(&ReportAndReturn), nullptr);
    EXPECT_EQ(GetFatalOutOfMemoryHandler(), &ReportAndReturn);
    EXPECT_DEATH(RaiseFatalOutOfMemory(123456789), "handler saw 123456789 bytes");
    EXPECT_EQ(SetFatalOutOfMemoryHandler(nullptr), &ReportAndReturn);
    EXPECT_EQ(GetFatalOutOfMemoryHandler(), nullptr);
}
