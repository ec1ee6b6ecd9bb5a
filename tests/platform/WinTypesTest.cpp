#include "WinTypes.h"

#include <gtest/gtest.h>

TEST(WinTypes, FileTimeHoldsFullTickRange)
{
    FILETIME ft{UINT64_MAX};
    EXPECT_EQ(ft.qwTicks, UINT64_MAX);
}
