#include "ScriptProcess.h"

#include <cstring>
#include <fstream>

namespace {

const size_t SIGNATURE_MAX_OFFSET = 0x1F0;  // 496 + 16 bytes still lie inside the sector
const size_t SIGNATURE_MAX_BYTES = 16;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

std::string Upper(std::string str)
{
    for (char& c : str)
        c = UpperAscii(c);
    return str;
}

std::string Trim(const std::string& str)
{
    size_t nFirst = 0, nEnd = str.size();
    while (nFirst < nEnd && IsBlank(str[nFirst]))
        ++nFirst;
    while (nEnd > nFirst && IsBlank(str[nEnd - 1]))
        --nEnd;
    return str.substr(nFirst, nEnd - nFirst);
}

bool IsQuoted(const std::string& strValue)
{
    return strValue.size() >= 2 && strValue.front() == '"' && strValue.back() == '"';
}

// An extension becomes part of carved files' names: only visible characters that are allowed
// in a file name's extension on every system.
bool IsExtensionChar(char c)
{
    return c > 0x20 && c < 0x7F && strchr("\"*./:<>?\\|", c) == nullptr;
}

void SetReason(std::string* pstrReason, const std::string& strReason)
{
    if (pstrReason != nullptr)
        *pstrReason = strReason;
}

// The keyword of a trimmed line, upper case; false when the line has no colon.
bool SplitKeyword(const std::string& strLine, std::string* pstrKeyword, std::string* pstrRest)
{
    const size_t nColon = strLine.find(':');
    if (nColon == std::string::npos)
        return false;
    *pstrKeyword = Upper(strLine.substr(0, nColon));
    *pstrRest = strLine.substr(nColon + 1);
    return true;
}

} // namespace

CScriptProcess::CScriptProcess() : m_bOpen(false) {}

CScriptProcess::~CScriptProcess() {}

bool CScriptProcess::Open(const std::string& strPath)
{
    m_bOpen = false;
    m_strText.clear();
    // Read-only: a script is never written, and one that others hold open can still be read.
    std::ifstream file(strPath, std::ios::in | std::ios::binary);
    if (!file)
        return false;
    std::string strText(CUSTOM_SCRIPT_MAX_BYTES + 1, '\0');
    file.read(&strText[0], static_cast<std::streamsize>(strText.size()));
    if (file.bad())
        return false;
    strText.resize(static_cast<size_t>(file.gcount()));
    m_strText = strText;
    m_bOpen = true;
    return true;
}

std::vector<std::string> CScriptProcess::Lines() const
{
    std::vector<std::string> vecLines;
    size_t nStart = 0;
    for (;;) {
        const size_t nBreak = m_strText.find("\r\n", nStart);
        if (nBreak == std::string::npos) {
            vecLines.push_back(m_strText.substr(nStart));
            break;
        }
        vecLines.push_back(m_strText.substr(nStart, nBreak - nStart));
        nStart = nBreak + 2;
    }
    return vecLines;
}

bool CScriptProcess::ParseNumber(const std::string& strText, uint32_t* pdwValue)
{
    if (strText.size() < 3 || strText.size() > 10 || strText[0] != '0' || UpperAscii(strText[1]) != 'X')
        return false;
    uint32_t dwValue = 0;
    for (size_t i = 2; i < strText.size(); ++i) {
        const char c = UpperAscii(strText[i]);
        uint32_t dwDigit = 0;
        if (c >= '0' && c <= '9')
            dwDigit = c - '0';
        else if (c >= 'A' && c <= 'F')
            dwDigit = c - 'A' + 10;
        else
            return false;
        dwValue = (dwValue << 4) | dwDigit;
    }
    *pdwValue = dwValue;
    return true;
}

bool CScriptProcess::FindValue(const std::string& strLine, const std::string& strKey, std::string* pstrValue)
{
    const size_t nKey = strLine.find(strKey);
    if (nKey == std::string::npos)
        return false;
    size_t i = nKey + strKey.size();
    while (i < strLine.size() && IsBlank(strLine[i]))
        ++i;
    if (i >= strLine.size() || strLine[i] != '=')
        return false;
    ++i;
    while (i < strLine.size() && IsBlank(strLine[i]))
        ++i;
    if (i < strLine.size() && strLine[i] == '"') {
        // A quoted value runs to the last quote of the line.
        const size_t nLast = strLine.rfind('"');
        *pstrValue = strLine.substr(i, nLast - i + 1);
        return true;
    }
    const size_t nEnd = strLine.find_first_of(" \t\n", i);
    *pstrValue = strLine.substr(i, nEnd == std::string::npos ? std::string::npos : nEnd - i);
    return true;
}

bool CScriptProcess::ParseFileInfo(const std::string& strRest, std::string* pstrExtension, std::string* pstrReason)
{
    std::string strValue;
    if (!FindValue(strRest, "EXTNAME", &strValue)) {
        SetReason(pstrReason, "FILEINFO without EXTNAME");
        return false;
    }
    if (!IsQuoted(strValue) || strValue.size() < 3 || strValue.size() > CUSTOM_EXTENSION_MAX_CHARS + 2) {
        SetReason(pstrReason, "EXTNAME is not a quoted name of 1 to 16 characters");
        return false;
    }
    const std::string strName = strValue.substr(1, strValue.size() - 2);
    for (char c : strName) {
        if (!IsExtensionChar(c)) {
            SetReason(pstrReason, "EXTNAME holds a character that no extension may hold");
            return false;
        }
    }
    *pstrExtension = Upper(strName);
    return true;
}

bool CScriptProcess::ParseFileSign(const std::string& strRest, SignatureEntry* pEntry, std::string* pstrReason)
{
    memset(pEntry, 0, sizeof(*pEntry));
    std::string strOffset, strType, strValue;
    if (!FindValue(strRest, "OFFSET", &strOffset) || !FindValue(strRest, "TYPE", &strType) ||
        !FindValue(strRest, "VALUE", &strValue)) {
        SetReason(pstrReason, "FILESIGN needs OFFSET, TYPE and VALUE");
        return false;
    }
    uint32_t dwOffset = 0;
    if (!ParseNumber(strOffset, &dwOffset) || dwOffset > SIGNATURE_MAX_OFFSET) {
        SetReason(pstrReason, "OFFSET is not a number 0x0 to 0x1F0");
        return false;
    }
    pEntry->offset = dwOffset;
    const std::string strKind = Upper(strType);
    if (strKind == "CHAR") {
        if (!IsQuoted(strValue) || strValue.size() - 2 > SIGNATURE_MAX_BYTES) {
            SetReason(pstrReason, "a CHAR VALUE is a quoted text of at most 16 characters");
            return false;
        }
        pEntry->length = static_cast<uint32_t>(strValue.size() - 2);
        memcpy(pEntry->data, strValue.data() + 1, pEntry->length);
        return true;
    }
    if (strKind != "BYTE") {
        SetReason(pstrReason, "TYPE is neither CHAR nor BYTE");
        return false;
    }
    if (strValue.empty() || strValue.back() == ',') {
        SetReason(pstrReason, "a BYTE VALUE must not be empty or end with a comma");
        return false;
    }
    size_t nStart = 0;
    uint32_t dwCount = 0;
    for (;;) {
        const size_t nComma = strValue.find(',', nStart);
        const std::string strItem = strValue.substr(nStart, nComma == std::string::npos ? std::string::npos : nComma - nStart);
        uint32_t dwByte = 0;
        if (!ParseNumber(strItem, &dwByte) || dwByte > 0xFF || dwCount >= SIGNATURE_MAX_BYTES) {
            SetReason(pstrReason, "a BYTE VALUE is at most 16 numbers 0x0 to 0xFF separated by commas");
            return false;
        }
        pEntry->data[dwCount++] = static_cast<uint8_t>(dwByte);
        if (nComma == std::string::npos) {
            if (strItem.size() > 4) {
                SetReason(pstrReason, "the last item of a BYTE VALUE is longer than 4 characters");
                return false;
            }
            break;
        }
        nStart = nComma + 1;
    }
    pEntry->length = dwCount;
    return true;
}

bool CScriptProcess::CheckLine(const std::string& strLine, std::string* pstrReason)
{
    std::string strKeyword, strRest;
    if (!SplitKeyword(Trim(strLine), &strKeyword, &strRest)) {
        SetReason(pstrReason, "no keyword and colon");
        return false;
    }
    if (strKeyword == "REMARK")
        return true;
    if (strKeyword == "FILEINFO") {
        std::string strExtension;
        return ParseFileInfo(strRest, &strExtension, pstrReason);
    }
    if (strKeyword == "FILESIGN") {
        SignatureEntry entry;
        return ParseFileSign(strRest, &entry, pstrReason);
    }
    SetReason(pstrReason, "unknown keyword \"" + strKeyword + "\"");
    return false;
}

bool CScriptProcess::IsValid(std::string* pstrReason) const
{
    if (!m_bOpen) {
        SetReason(pstrReason, "not open");
        return false;
    }
    if (m_strText.size() > CUSTOM_SCRIPT_MAX_BYTES) {
        SetReason(pstrReason, "longer than 1024 bytes");
        return false;
    }
    const std::vector<std::string> vecLines = Lines();
    bool bFileInfo = false;
    for (size_t i = 0; i < vecLines.size(); ++i) {
        std::string strReason;
        if (!CheckLine(vecLines[i], &strReason)) {
            SetReason(pstrReason, "line " + std::to_string(i + 1) + ": " + strReason);
            return false;
        }
        std::string strKeyword, strRest;
        SplitKeyword(Trim(vecLines[i]), &strKeyword, &strRest);
        bFileInfo = bFileInfo || strKeyword == "FILEINFO";
    }
    // Without an extension the type could not be told from any other.
    if (!bFileInfo) {
        SetReason(pstrReason, "no FILEINFO line");
        return false;
    }
    return true;
}

std::string CScriptProcess::GetExtension() const
{
    for (const std::string& strLine : Lines()) {
        std::string strKeyword, strRest, strExtension;
        if (SplitKeyword(Trim(strLine), &strKeyword, &strRest) && strKeyword == "FILEINFO" &&
            ParseFileInfo(strRest, &strExtension, nullptr))
            return strExtension;
    }
    return std::string();
}

std::vector<SignatureEntry> CScriptProcess::GetSignatures() const
{
    std::vector<SignatureEntry> vecSignatures;
    for (const std::string& strLine : Lines()) {
        std::string strKeyword, strRest;
        SignatureEntry entry;
        if (SplitKeyword(Trim(strLine), &strKeyword, &strRest) && strKeyword == "FILESIGN" &&
            ParseFileSign(strRest, &entry, nullptr))
            vecSignatures.push_back(entry);
    }
    return vecSignatures;
}
