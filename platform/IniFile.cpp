#include "IniFile.h"

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rvd {

namespace {

constexpr off_t kMaxFileSize = 16 * 1024 * 1024;

std::string_view Trim(std::string_view s)
{
    const char* kBlanks = " \t\r\n\v\f";
    const size_t nFirst = s.find_first_not_of(kBlanks);
    if (nFirst == std::string_view::npos)
        return std::string_view();
    const size_t nLast = s.find_last_not_of(kBlanks);
    return s.substr(nFirst, nLast - nFirst + 1);
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char ca = a[i], cb = b[i];
        if (ca >= 'A' && ca <= 'Z') ca = static_cast<char>(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z') cb = static_cast<char>(cb - 'A' + 'a');
        if (ca != cb)
            return false;
    }
    return true;
}

} // namespace

bool CIniFile::Load(const std::string& strPath)
{
    m_vecSections.clear();
    const int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    // Settings files are a few lines; anything that is not a plain file of sane size is refused
    // rather than read into memory.
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxFileSize) {
        close(fd);
        return false;
    }
    std::string strText(static_cast<size_t>(st.st_size), '\0');
    size_t nDone = 0;
    while (nDone < strText.size()) {
        const ssize_t n = read(fd, &strText[nDone], strText.size() - nDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            close(fd);
            return false;
        }
        if (n == 0)
            break;  // the file shrank while we read it
        nDone += static_cast<size_t>(n);
    }
    close(fd);
    strText.resize(nDone);
    Parse(strText);
    return true;
}

void CIniFile::Parse(std::string_view strText)
{
    m_vecSections.clear();
    if (strText.substr(0, 3) == "\xEF\xBB\xBF")
        strText.remove_prefix(3);
    CSection* pCurrent = nullptr;
    while (!strText.empty()) {
        const size_t nEnd = strText.find('\n');
        std::string_view strLine = Trim(strText.substr(0, nEnd));
        strText.remove_prefix(nEnd == std::string_view::npos ? strText.size() : nEnd + 1);

        if (strLine.empty() || strLine[0] == ';' || strLine[0] == '#')
            continue;
        if (strLine[0] == '[') {
            const size_t nClose = strLine.find(']');
            const std::string_view strName =
                Trim(strLine.substr(1, nClose == std::string_view::npos ? std::string_view::npos : nClose - 1));
            m_vecSections.push_back(CSection{std::string(strName), {}});
            pCurrent = &m_vecSections.back();
            continue;
        }
        const size_t nEq = strLine.find('=');
        if (pCurrent == nullptr || nEq == std::string_view::npos)
            continue;  // a key before any section, or a line that is no assignment
        const std::string_view strKey = Trim(strLine.substr(0, nEq));
        std::string_view strValue = Trim(strLine.substr(nEq + 1));
        if (strValue.size() >= 2 && (strValue.front() == '"' || strValue.front() == '\'') &&
            strValue.back() == strValue.front())
            strValue = strValue.substr(1, strValue.size() - 2);
        pCurrent->m_vecEntries.emplace_back(std::string(strKey), std::string(strValue));
    }
}

const CIniFile::CSection* CIniFile::FindSection(std::string_view strSection) const
{
    strSection = Trim(strSection);
    for (const CSection& section : m_vecSections) {
        if (EqualsNoCase(section.m_strName, strSection))
            return &section;
    }
    return nullptr;
}

bool CIniFile::HasSection(std::string_view strSection) const
{
    return FindSection(strSection) != nullptr;
}

bool CIniFile::GetString(std::string_view strSection, std::string_view strKey, std::string& strValue) const
{
    const CSection* pSection = FindSection(strSection);
    if (pSection == nullptr)
        return false;
    strKey = Trim(strKey);
    for (const auto& entry : pSection->m_vecEntries) {
        if (EqualsNoCase(entry.first, strKey)) {
            strValue = entry.second;
            return true;
        }
    }
    return false;
}

bool CIniFile::ReadString(const std::string& strPath, std::string_view strSection,
                          std::string_view strKey, std::string& strValue)
{
    CIniFile ini;
    return ini.Load(strPath) && ini.GetString(strSection, strKey, strValue);
}

std::string GetDebugConfigPath()
{
    const char* pszPath = std::getenv("RAVENDO_DEBUG_CONFIG");
    return pszPath != nullptr ? std::string(pszPath) : std::string();
}

bool ReadDebugConfigString(std::string_view strSection, std::string_view strKey, std::string& strValue)
{
    const std::string strPath = GetDebugConfigPath();
    return !strPath.empty() && CIniFile::ReadString(strPath, strSection, strKey, strValue);
}

} // namespace rvd
