// Reads and checks one user-defined file-type script (*.fhs): a small text file of
// "KEYWORD: KEY=value ..." lines that names an extension and the bytes that mark a file's first
// sector.
//
//   REMARK: any text
//   FILEINFO: EXTNAME="ABC"
//   FILESIGN: OFFSET=0x0 TYPE=BYTE VALUE=0x41,0x42,0x43
//   FILESIGN: OFFSET=0x8 TYPE=CHAR VALUE="XYZ"
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CustomHeader.h"

// Scripts longer than this are not read.
const size_t CUSTOM_SCRIPT_MAX_BYTES = 1024;
// Longest extension name a script may give.
const size_t CUSTOM_EXTENSION_MAX_CHARS = 16;

class CScriptProcess {
public:
    CScriptProcess();
    virtual ~CScriptProcess();

    // Opens the script read-only and takes in its text (one byte more than the largest script,
    // so that a longer file is seen as too long). False when the file cannot be opened or read.
    bool Open(const std::string& strPath);
    // The script is open, at most 1024 bytes long, every line passes its check and there is a
    // FILEINFO line. On false, *pstrReason says which line failed and why.
    bool IsValid(std::string* pstrReason = nullptr) const;
    // The extension of the first FILEINFO line, upper case; empty when none. Valid scripts only.
    std::string GetExtension() const;
    // The signatures of the FILESIGN lines in script order. Valid scripts only.
    std::vector<SignatureEntry> GetSignatures() const;

    // Checks of single parts, shared with the tests.
    static bool ParseNumber(const std::string& strText, uint32_t* pdwValue);
    static bool FindValue(const std::string& strLine, const std::string& strKey, std::string* pstrValue);
    static bool CheckLine(const std::string& strLine, std::string* pstrReason);

private:
    std::vector<std::string> Lines() const;
    static bool ParseFileInfo(const std::string& strLine, std::string* pstrExtension, std::string* pstrReason);
    static bool ParseFileSign(const std::string& strLine, SignatureEntry* pEntry, std::string* pstrReason);

    bool m_bOpen;
    std::string m_strText;
};
