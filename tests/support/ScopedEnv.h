// An environment variable set (or cleared) for one scope, and the time zone set for one scope:
// what was there before comes back at the scope's end, so no test leaves its setting to the
// next.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

namespace rvdtest {

class CScopedEnv {
public:
    // pszValue nullptr: the variable is cleared for the scope.
    CScopedEnv(const char* pszName, const char* pszValue) : m_strName(pszName)
    {
        const char* pszOld = std::getenv(pszName);
        m_bHadOld = pszOld != nullptr;
        if (m_bHadOld)
            m_strOld = pszOld;
        if (pszValue != nullptr)
            setenv(pszName, pszValue, 1);
        else
            unsetenv(pszName);
    }
    CScopedEnv(const char* pszName, const std::string& strValue) : CScopedEnv(pszName, strValue.c_str()) {}
    ~CScopedEnv() { Restore(); }
    CScopedEnv(const CScopedEnv&) = delete;
    CScopedEnv& operator=(const CScopedEnv&) = delete;

    // Puts the old value back now; the scope's end then leaves it alone.
    void Restore()
    {
        if (m_bRestored)
            return;
        m_bRestored = true;
        if (m_bHadOld)
            setenv(m_strName.c_str(), m_strOld.c_str(), 1);
        else
            unsetenv(m_strName.c_str());
    }

private:
    std::string m_strName;
    bool m_bHadOld = false;
    std::string m_strOld;
    bool m_bRestored = false;
};

// TZ set for one scope; the C library reads the zone again at each change.
class CScopedTimeZone {
public:
    explicit CScopedTimeZone(const char* pszZone) : m_Env("TZ", pszZone) { tzset(); }
    ~CScopedTimeZone()
    {
        m_Env.Restore();
        tzset();
    }
    CScopedTimeZone(const CScopedTimeZone&) = delete;
    CScopedTimeZone& operator=(const CScopedTimeZone&) = delete;

private:
    CScopedEnv m_Env;
};

} // namespace rvdtest
