// The log file of the store tests and a way to read what was written to it.
#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

namespace corrandtest {

// RAVENDO_LOG_FILE when it is set already (to keep the lines of a failing run), else a scratch
// file that the test environment removes at the end.
inline const std::string& LogFile()
{
    static const std::string strFile = std::getenv("RAVENDO_LOG_FILE") != nullptr
                                           ? std::string(std::getenv("RAVENDO_LOG_FILE"))
                                           : "/tmp/corrand-test-" + std::to_string(getpid()) + ".log";
    return strFile;
}

inline bool IsOwnLogFile()
{
    return LogFile().rfind("/tmp/corrand-test-", 0) == 0;
}

inline std::string ReadLog()
{
    std::ifstream in(LogFile());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace corrandtest
