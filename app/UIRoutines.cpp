#include "UIRoutines.h"

#include <QFileIconProvider>
#include <QMimeDatabase>
#include <QMimeType>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "Time.h"

bool GetModuleDirectory(char* pszBuffer, int nSize)
{
    if (!pszBuffer || nSize <= 0)
        return false;
    std::error_code ec;
    const std::string strExe = std::filesystem::read_symlink("/proc/self/exe", ec).string();
    if (ec)
        return false;
    const size_t nSlash = strExe.rfind('/');
    if (nSlash == std::string::npos)
        return false;
    const size_t nLength = nSlash + 1;
    if (nLength + 1 > static_cast<size_t>(nSize))
        return false;
    std::memcpy(pszBuffer, strExe.data(), nLength);
    pszBuffer[nLength] = '\0';
    return true;
}

QString FormatSizeText(uint64_t qwBytes)
{
    const uint64_t KB = 1ULL << 10, MB = 1ULL << 20, GB = 1ULL << 30, TB = 1ULL << 40;
    const double dBytes = static_cast<double>(qwBytes);
    if (qwBytes >= TB)
        return QString("%1 TB").arg(dBytes / TB, 0, 'f', 2);
    if (qwBytes >= GB)
        return QString("%1 GB").arg(dBytes / GB, 0, 'f', 2);
    if (qwBytes >= MB)
        return QString("%1 MB").arg(dBytes / MB, 0, 'f', 2);
    return QString("%1 KB").arg(dBytes / KB, 0, 'f', 2);
}

QString GetFileSystemName(int nCode)
{
    static const char* const apszNames[] = {"FAT12", "FAT16", "FAT32", "NTFS",
                                            "EXT2",  "EXT3",  "Unallocated"};
    if (nCode < 0 || nCode >= static_cast<int>(sizeof(apszNames) / sizeof(apszNames[0])))
        return QString();
    return QString(apszNames[nCode]);
}

namespace {

// Copies at most nSize - 1 bytes of UTF-8 and never ends inside a multi-byte character.
void CopyUtf8Bounded(const QByteArray& baText, char* pszBuffer, int nSize)
{
    int nLength = qMin(baText.size(), nSize - 1);
    if (nLength < baText.size()) {
        while (nLength > 0 && (static_cast<unsigned char>(baText.at(nLength)) & 0xC0) == 0x80)
            --nLength;
    }
    std::memcpy(pszBuffer, baText.constData(), static_cast<size_t>(nLength));
    pszBuffer[nLength] = '\0';
}

} // namespace

QIcon GetFileIconAndType(const QString& strName, char* pszTypeName)
{
    // Only the name counts, as for a file that does not exist: nothing is read from disk.
    static const QMimeDatabase mimeDatabase;
    const QMimeType mimeType = mimeDatabase.mimeTypeForFile(strName, QMimeDatabase::MatchExtension);

    if (pszTypeName)
        CopyUtf8Bounded(mimeType.comment().toUtf8(), pszTypeName, FILE_TYPE_NAME_SIZE);

    QIcon icon = QIcon::fromTheme(mimeType.iconName());
    if (icon.isNull())
        icon = QIcon::fromTheme(mimeType.genericIconName());
    if (icon.isNull()) {
        static const QFileIconProvider iconProvider;
        icon = iconProvider.icon(QFileIconProvider::File);
    }
    return icon;
}

WCHAR* FormatDateText(SYSTEMTIME st, WCHAR* pszBuffer)
{
    if (!pszBuffer)
        return nullptr;
    char szText[DATE_TEXT_SIZE];
    const int nLength = std::snprintf(szText, sizeof(szText), "%u/%u/%u", unsigned(st.wYear),
                                      unsigned(st.wMonth), unsigned(st.wDay));
    for (int i = 0; i < nLength; ++i)
        pszBuffer[i] = static_cast<WCHAR>(szText[i]);
    pszBuffer[nLength > 0 ? nLength : 0] = 0;
    return pszBuffer;
}

SYSTEMTIME MSecsToSystemTime(int64_t llMSecs)
{
    SYSTEMTIME st{};
    // A moment the calendar fields cannot hold (before 1601, past 30827) gives all zeros.
    if (!rvd::UnixMillisToLocalSystemTime(llMSecs, st))
        return SYSTEMTIME{};
    st.wDayOfWeek = 0;
    st.wMilliseconds = 0;
    return st;
}
