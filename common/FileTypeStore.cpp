#include "FileTypeStore.h"

#include <cstring>
#include <utility>

namespace {

char AsciiLower(char ch)
{
    return (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch;
}

bool EqualsIgnoringAsciiCase(const char* pA, size_t nLenA, const char* pB, size_t nLenB)
{
    if (nLenA != nLenB)
        return false;
    for (size_t i = 0; i < nLenA; ++i) {
        if (AsciiLower(pA[i]) != AsciiLower(pB[i]))
            return false;
    }
    return true;
}

} // namespace

CFileTypeStore::CFileTypeStore() = default;

void CFileTypeStore::SaveTypeInfo(std::string strTypes)
{
    m_strTypes = std::move(strTypes);
}

void CFileTypeStore::EmptyTypeInfo()
{
    m_strTypes.clear();
}

int32_t CFileTypeStore::GetFilterSize() const
{
    return static_cast<int32_t>(m_strTypes.size());
}

bool CFileTypeStore::IsFileTypeInList(std::string strExtension) const
{
    // Whole extensions only: ".do" must not pass for ".doc", nor ".gd" across ".jpg.doc".
    const char* pExt = strExtension.data();
    size_t nExtLen = strExtension.size();
    if (nExtLen > 0 && pExt[0] == '.') {
        ++pExt;
        --nExtLen;
    }
    if (nExtLen == 0)
        return false;

    // The filter text is the extensions back to back, each behind its dot.
    size_t nPos = 0;
    const size_t nSize = m_strTypes.size();
    while (nPos <= nSize) {
        size_t nEnd = m_strTypes.find('.', nPos);
        if (nEnd == std::string::npos)
            nEnd = nSize;
        if (EqualsIgnoringAsciiCase(m_strTypes.data() + nPos, nEnd - nPos, pExt, nExtLen))
            return true;
        nPos = nEnd + 1;
    }
    return false;
}

bool CFileTypeStore::CheckFilter(const char* pszFileName, bool bIsFolder) const
{
    if (pszFileName == nullptr || bIsFolder || GetFilterSize() == 0)
        return true;
    const char* pDot = std::strrchr(pszFileName, '.');
    if (pDot == nullptr)
        return false;
    return IsFileTypeInList(std::string(pDot));
}
