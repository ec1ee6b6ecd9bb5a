#include "NameMask.h"

namespace corrand {

char16_t FoldCase(char16_t ch)
{
    if (ch < 0x80)
        return (ch >= u'A' && ch <= u'Z') ? static_cast<char16_t>(ch + 0x20) : ch;
    // Latin-1: A-grave to Thorn, except the multiplication sign.
    if (ch >= 0xC0 && ch <= 0xDE && ch != 0xD7)
        return static_cast<char16_t>(ch + 0x20);
    // Latin Extended-A pairs each capital with the next unit, the capital on the even unit
    // (0x100-0x12F, 0x132-0x137, 0x14A-0x177) or on the odd one (0x139-0x148, 0x179-0x17E).
    // The dotted and dotless I (0x130, 0x131) have no partner of their own and stay.
    if ((ch >= 0x100 && ch <= 0x12F) || (ch >= 0x132 && ch <= 0x137) || (ch >= 0x14A && ch <= 0x177))
        return static_cast<char16_t>(ch | 1);
    if ((ch >= 0x139 && ch <= 0x148) || (ch >= 0x179 && ch <= 0x17E))
        return (ch & 1) ? static_cast<char16_t>(ch + 1) : ch;
    if (ch == 0x178)
        return 0xFF;
    // Greek capitals Alpha to Omega (0x3A2 is unassigned).
    if (ch >= 0x391 && ch <= 0x3AB && ch != 0x3A2)
        return static_cast<char16_t>(ch + 0x20);
    // Cyrillic: Ie-grave to Dzhe, then A to Ya, then the paired block from Omega onwards.
    if (ch >= 0x400 && ch <= 0x40F)
        return static_cast<char16_t>(ch + 0x50);
    if (ch >= 0x410 && ch <= 0x42F)
        return static_cast<char16_t>(ch + 0x20);
    if ((ch >= 0x460 && ch <= 0x481) || (ch >= 0x48A && ch <= 0x4BF) || (ch >= 0x4D0 && ch <= 0x52F))
        return static_cast<char16_t>(ch | 1);
    // Armenian capitals.
    if (ch >= 0x531 && ch <= 0x556)
        return static_cast<char16_t>(ch + 0x30);
    // Full-width Latin capitals.
    if (ch >= 0xFF21 && ch <= 0xFF3A)
        return static_cast<char16_t>(ch + 0x20);
    return ch;
}

namespace {

std::u16string Fold(std::u16string_view str)
{
    std::u16string strOut(str);
    for (char16_t& ch : strOut)
        ch = FoldCase(ch);
    return strOut;
}

// Whole-name match of a folded mask with "*" (any run, also empty) and "?" (one unit). Greedy
// with one back-track point: linear in practice, at most mask x name steps.
bool MatchWildcard(std::u16string_view strMask, std::u16string_view strName)
{
    size_t m = 0, n = 0;
    size_t nStarMask = std::u16string_view::npos, nStarName = 0;
    while (n < strName.size()) {
        if (m < strMask.size() && (strMask[m] == u'?' || strMask[m] == FoldCase(strName[n]))) {
            ++m;
            ++n;
        } else if (m < strMask.size() && strMask[m] == u'*') {
            nStarMask = m++;
            nStarName = n;
        } else if (nStarMask != std::u16string_view::npos) {
            m = nStarMask + 1;
            n = ++nStarName;
        } else {
            return false;
        }
    }
    while (m < strMask.size() && strMask[m] == u'*')
        ++m;
    return m == strMask.size();
}

bool ContainsFolded(std::u16string_view strName, std::u16string_view strPart)
{
    if (strPart.size() > strName.size())
        return false;
    for (size_t i = 0; i + strPart.size() <= strName.size(); ++i) {
        size_t k = 0;
        while (k < strPart.size() && FoldCase(strName[i + k]) == strPart[k])
            ++k;
        if (k == strPart.size())
            return true;
    }
    return false;
}

} // namespace

CNameMask::CNameMask(std::u16string_view strMask) : m_nKind(MASK_ALL), m_strFolded(Fold(strMask))
{
    if (m_strFolded.empty() || m_strFolded == u"*" || m_strFolded == u"*.*")
        m_nKind = MASK_ALL;
    else if (m_strFolded.find_first_of(u"*?") != std::u16string::npos)
        m_nKind = MASK_WILDCARD;
    else
        m_nKind = MASK_PART;
}

bool CNameMask::Matches(std::u16string_view strName) const
{
    switch (m_nKind) {
    case MASK_ALL:
        return true;
    case MASK_PART:
        return ContainsFolded(strName, m_strFolded);
    case MASK_WILDCARD:
        return MatchWildcard(m_strFolded, strName);
    }
    return false;
}

} // namespace corrand
