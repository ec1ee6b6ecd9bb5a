#include "EngineSettings.h"

#include <cerrno>
#include <cstdlib>
#include <string>

#include "IniFile.h"
#include "common/Pubic.h"

CGlobalAdvanceSettingData* GetEngineSettings()
{
    return &CPubic::GetGlobalAdvanceSettingData();
}

int64_t EngineStartPosition()
{
    std::string strValue;
    if (!rvd::ReadDebugConfigString("main", "pos", strValue))
        return 0;
    // The value was read with a 128-character buffer; longer text was cut there.
    if (strValue.size() > 127)
        strValue.resize(127);
    // Like _atoi64: leading blanks, an optional sign, then digits; anything else ends the
    // number, and text that does not start with one gives 0.
    errno = 0;
    long long llValue = std::strtoll(strValue.c_str(), nullptr, 10);
    // No sector lies before the medium's start or beyond 2^63; such text counts as no number.
    if (errno == ERANGE || llValue < 0)
        return 0;
    return static_cast<int64_t>(llValue);
}
