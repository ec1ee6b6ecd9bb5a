#include "CompressList.h"

#include <QFile>
#include <QTreeWidget>

#include <cstdio>
#include <cstring>

#include "UIRoutines.h"

namespace {
// Closes the ZIP archive on every way out of the listing.
class CUnzCloser {
public:
    explicit CUnzCloser(unzFile hZip) : m_hZip(hZip) {}
    ~CUnzCloser()
    {
        try {
            unzClose(m_hZip);
        } catch (...) {
        }
    }
    CUnzCloser(const CUnzCloser&) = delete;
    CUnzCloser& operator=(const CUnzCloser&) = delete;

private:
    unzFile m_hZip;
};
} // namespace

void CCompressList::SetFileInfo(const QString& strPath, const QString& strDisplayName)
{
    m_strPath = strPath;
    m_strDisplayName = strDisplayName;
}

bool CCompressList::ListFiles()
{
    if (m_pTree) {
        m_pTree->setColumnWidth(0, 250);
        m_pTree->clear();
    }
    m_bResult = ListRarFiles();
    if (!m_bResult)
        m_bResult = ListZipFiles();
    return m_bResult;
}

bool CCompressList::ListRarFiles()
{
    RarArchiveHandle* pHandle = RarOpenArchive(m_strPath);
    if (pHandle == nullptr)
        return false;
    RarHeader header;
    // A damaged archive lists the entries before the damage.
    while (RarReadHeader(pHandle, header) == 0) {
        AddRarEntry(header);
        RarProcessFile(pHandle);
    }
    RarCloseArchive(pHandle);
    return true;
}

bool CCompressList::ListZipFiles()
{
    const QByteArray narrow = QFile::encodeName(m_strPath);
    unzFile hZip = unzOpen64(narrow.constData());
    if (hZip == nullptr)
        return false;
    CUnzCloser closer(hZip);
    unz_global_info64 global;
    if (unzGetGlobalInfo64(hZip, &global) != UNZ_OK)
        return false;
    // One byte more than the room given to minizip: a name of 260 bytes or more is terminated.
    char szName[kZipNameSize + 1];
    auto readEntry = [&]() -> bool {
        std::memset(szName, 0, sizeof(szName));
        unz_file_info64 info;
        if (unzGetCurrentFileInfo64(hZip, &info, szName, kZipNameSize, nullptr, 0, nullptr, 0) != UNZ_OK)
            return false;
        szName[info.size_filename < static_cast<ZPOS64_T>(kZipNameSize) ? info.size_filename : kZipNameSize] = 0;
        AddZipEntry(szName, info);
        return true;
    };
    if (!readEntry())
        return false;
    while (unzGoToNextFile(hZip) == UNZ_OK)
        if (!readEntry())
            return false;
    return true;
}

void CCompressList::AddRow(const QString& strName, uint64_t qwSize, const QString& strTime)
{
    if (!m_pTree)
        return;
    QTreeWidgetItem* pItem = new QTreeWidgetItem(m_pTree);
    pItem->setText(0, strName);
    pItem->setIcon(0, GetFileIconAndType(strName, nullptr));
    pItem->setText(1, FormatSizeText(qwSize));
    pItem->setText(2, strTime);
}

void CCompressList::AddRarEntry(RarHeader header)
{
    char szTime[32];
    DosTimeToText(header.dwFileTime, szTime);
    const uint64_t qwSize = (static_cast<uint64_t>(header.dwUnpSizeHigh) << 32) | header.dwUnpSize;
    AddRow(header.strFileName, qwSize, QString::fromLatin1(szTime));
}

void CCompressList::AddZipEntry(const char* pszName, unz_file_info64 info)
{
    char szTime[64];
    std::snprintf(szTime, sizeof(szTime), "%04d/%02d/%02d %02d:%02d:%02d", static_cast<int>(info.tmu_date.tm_year),
                  static_cast<int>(info.tmu_date.tm_mon) + 1, static_cast<int>(info.tmu_date.tm_mday),
                  static_cast<int>(info.tmu_date.tm_hour), static_cast<int>(info.tmu_date.tm_min),
                  static_cast<int>(info.tmu_date.tm_sec));
    const size_t nLen = strnlen(pszName, kZipNameSize);
    AddRow(QString::fromUtf8(pszName, static_cast<int>(nLen)), info.uncompressed_size, QString::fromLatin1(szTime));
}

void CCompressList::DosTimeToText(uint32_t dwDosTime, char* pszOut)
{
    const int nYear = static_cast<int>((dwDosTime >> 25) & 0x7F) + 1980;
    const int nMonth = static_cast<int>((dwDosTime >> 21) & 0x0F);
    const int nDay = static_cast<int>((dwDosTime >> 16) & 0x1F);
    const int nHour = static_cast<int>((dwDosTime >> 11) & 0x1F);
    const int nMinute = static_cast<int>((dwDosTime >> 5) & 0x3F);
    const int nSecond = static_cast<int>(dwDosTime & 0x1F) * 2;
    std::snprintf(pszOut, 20, "%4d-%2d-%2d %2d:%2d:%2d", nYear, nMonth, nDay, nHour, nMinute, nSecond);
    for (int i = 0; i < 19 && pszOut[i]; ++i)
        if (pszOut[i] == ' ' && i != 10)
            pszOut[i] = '0';
}
