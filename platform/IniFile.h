// A read-only ini file, looked up the way GetPrivateProfileString does it: "[section]" headers
// and "key=value" lines; section and key names compared without regard to ASCII case and with
// surrounding blanks ignored; the first matching section and the first matching key in it win;
// a value loses its surrounding blanks and one pair of matching quotes around it. Lines starting
// with ';' or '#' are comments; nothing after a value is treated as a comment, so "pos=20000 ; x"
// reads "20000 ; x". A UTF-8 byte-order mark and CR LF line ends are accepted.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace rvd {

class CIniFile {
public:
    // Reads and parses the file; false (and an empty object) when it cannot be opened or read.
    bool Load(const std::string& strPath);

    // Parses text already in memory.
    void Parse(std::string_view strText);

    // False when the section or the key is missing; strValue is then left alone.
    bool GetString(std::string_view strSection, std::string_view strKey, std::string& strValue) const;

    bool HasSection(std::string_view strSection) const;

    // One lookup in one file, read afresh.
    static bool ReadString(const std::string& strPath, std::string_view strSection,
                           std::string_view strKey, std::string& strValue);

private:
    struct CSection {
        std::string m_strName;
        std::vector<std::pair<std::string, std::string>> m_vecEntries;
    };
    const CSection* FindSection(std::string_view strSection) const;

    std::vector<CSection> m_vecSections;
};

// The debugging override file: the path in the environment variable RAVENDO_DEBUG_CONFIG,
// empty when unset.
std::string GetDebugConfigPath();

// One value of the debugging override file, read afresh; false when the variable is unset, the
// file is missing or it lacks the key.
bool ReadDebugConfigString(std::string_view strSection, std::string_view strKey, std::string& strValue);

} // namespace rvd
