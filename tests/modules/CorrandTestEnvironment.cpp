// Fixed surroundings for every store test: a time zone without daylight saving five hours
// behind UTC (so local and UTC times differ and nothing depends on the machine's zone), and a
// log file of the test's own that the tests read to see what the store reported.
#include <cstdlib>
#include <ctime>
#include <string>

#include <unistd.h>

#include <gtest/gtest.h>

#include "CorrandTestLog.h"

namespace {

class CStoreTestEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        setenv("TZ", "EST5", 1);
        tzset();
        setenv("RAVENDO_LOG_FILE", corrandtest::LogFile().c_str(), 1);
    }
    void TearDown() override
    {
        if (corrandtest::IsOwnLogFile())
            unlink(corrandtest::LogFile().c_str());
    }
};

const ::testing::Environment* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new CStoreTestEnvironment);

} // namespace
