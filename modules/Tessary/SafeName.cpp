#include "SafeName.h"

#include "Charset.h"

namespace tessary {

namespace {

// An extension is kept through a cut only when it is short: a file's type is told by it, and a
// "name" whose last dot is far in is no extension.
constexpr size_t MAX_KEPT_EXTENSION_BYTES = 16;

bool IsRefused(char16_t ch)
{
    return ch == u'/' || ch == u'\\' || ch < 0x20 || (ch >= 0x7F && ch <= 0x9F);
}

// Position of the extension's dot, or npos: a dot that is neither the first nor the last byte,
// with a short tail.
size_t ExtensionStart(const std::string& strName)
{
    const size_t nDot = strName.rfind('.');
    if (nDot == std::string::npos || nDot == 0 || nDot + 1 == strName.size() ||
        strName.size() - nDot > MAX_KEPT_EXTENSION_BYTES)
        return std::string::npos;
    return nDot;
}

// strStem + strInsert + the extension of strName, cutting the stem so the whole fits.
std::string Compose(const std::string& strName, const std::string& strInsert)
{
    const size_t nDot = ExtensionStart(strName);
    const std::string strExtension = nDot == std::string::npos ? std::string() : strName.substr(nDot);
    const std::string strStem = nDot == std::string::npos ? strName : strName.substr(0, nDot);
    const size_t nRoom = MAX_COMPONENT_BYTES - strInsert.size() - strExtension.size();
    return CutUtf8(strStem, nRoom) + strInsert + strExtension;
}

} // namespace

std::string CutUtf8(std::string_view strText, size_t nMaxBytes)
{
    if (strText.size() <= nMaxBytes)
        return std::string(strText);
    size_t n = nMaxBytes;
    // Back over the continuation bytes of the character the cut falls into.
    while (n > 0 && (static_cast<unsigned char>(strText[n]) & 0xC0) == 0x80)
        --n;
    return std::string(strText.substr(0, n));
}

std::string SanitiseComponent(std::u16string_view strName)
{
    std::u16string strClean(strName);
    for (char16_t& ch : strClean)
        if (IsRefused(ch))
            ch = u'_';
    std::string strUtf8 = rvd::Utf16ToUtf8(strClean, "_");
    if (strUtf8.empty())
        return "_";
    if (strUtf8 == "." || strUtf8 == "..")
        return "_" + strUtf8;
    if (strUtf8.size() > MAX_COMPONENT_BYTES)
        strUtf8 = Compose(strUtf8, std::string());
    return strUtf8;
}

std::string NumberedName(const std::string& strName, unsigned nNumber)
{
    return Compose(strName, " (" + std::to_string(nNumber) + ")");
}

} // namespace tessary
