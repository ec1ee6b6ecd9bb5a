#include "RarArchive.h"

#include <QFile>

#include <archive.h>
#include <archive_entry.h>
#include <cstring>
#include <ctime>

struct RarArchiveHandle {
    struct archive* pArchive = nullptr;
};

namespace {
// RAR 1.5-4 ("Rar!\x1A\x07\x00") and RAR5 ("Rar!\x1A\x07\x01\x00") share these first six bytes.
const char kRarSignature[] = "Rar!\x1A\x07";

bool HasRarSignature(const QString& strPath)
{
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    char head[6] = {0};
    return file.read(head, 6) == 6 && std::memcmp(head, kRarSignature, 6) == 0;
}
} // namespace

uint32_t RarDosTimeFromUnix(int64_t llSeconds)
{
    const time_t t = static_cast<time_t>(llSeconds);
    struct tm tmLocal;
    if (localtime_r(&t, &tmLocal) == nullptr)
        return 0;
    const int nYear = tmLocal.tm_year + 1900;
    if (nYear < 1980 || nYear > 2107)
        return 0;
    return (static_cast<uint32_t>(nYear - 1980) << 25) | (static_cast<uint32_t>(tmLocal.tm_mon + 1) << 21)
           | (static_cast<uint32_t>(tmLocal.tm_mday) << 16) | (static_cast<uint32_t>(tmLocal.tm_hour) << 11)
           | (static_cast<uint32_t>(tmLocal.tm_min) << 5) | static_cast<uint32_t>(tmLocal.tm_sec / 2);
}

RarArchiveHandle* RarOpenArchive(const QString& strPath)
{
    if (!HasRarSignature(strPath))
        return nullptr;
    // A file with the signature is a RAR archive even when nothing after it can be read: its
    // listing is then empty rather than tried again as another format.
    RarArchiveHandle* pHandle = new RarArchiveHandle;
    struct archive* pArchive = archive_read_new();
    if (pArchive == nullptr)
        return pHandle;
    archive_read_support_format_rar(pArchive);
    archive_read_support_format_rar5(pArchive);
    const QByteArray narrow = QFile::encodeName(strPath);
    if (archive_read_open_filename(pArchive, narrow.constData(), 1 << 16) != ARCHIVE_OK) {
        archive_read_free(pArchive);
        return pHandle;
    }
    pHandle->pArchive = pArchive;
    return pHandle;
}

int RarReadHeader(RarArchiveHandle* pHandle, RarHeader& header)
{
    if (pHandle == nullptr || pHandle->pArchive == nullptr)
        return 1;
    struct archive_entry* pEntry = nullptr;
    const int nResult = archive_read_next_header(pHandle->pArchive, &pEntry);
    if ((nResult != ARCHIVE_OK && nResult != ARCHIVE_WARN) || pEntry == nullptr)
        return 1;
    header = RarHeader();
    const wchar_t* pszWide = archive_entry_pathname_w(pEntry);
    if (pszWide != nullptr) {
        header.strFileName = QString::fromWCharArray(pszWide);
    } else if (const char* pszUtf8 = archive_entry_pathname_utf8(pEntry)) {
        header.strFileName = QString::fromUtf8(pszUtf8);
    } else if (const char* pszName = archive_entry_pathname(pEntry)) {
        header.strFileName = QString::fromLocal8Bit(pszName);
    }
    const int64_t llSize = archive_entry_size_is_set(pEntry) ? archive_entry_size(pEntry) : 0;
    const uint64_t qwSize = llSize > 0 ? static_cast<uint64_t>(llSize) : 0;
    header.dwUnpSize = static_cast<uint32_t>(qwSize);
    header.dwUnpSizeHigh = static_cast<uint32_t>(qwSize >> 32);
    header.dwFileTime = archive_entry_mtime_is_set(pEntry) ? RarDosTimeFromUnix(archive_entry_mtime(pEntry)) : 0;
    return 0;
}

int RarProcessFile(RarArchiveHandle* pHandle)
{
    if (pHandle == nullptr || pHandle->pArchive == nullptr)
        return 1;
    return archive_read_data_skip(pHandle->pArchive) == ARCHIVE_OK ? 0 : 1;
}

void RarCloseArchive(RarArchiveHandle* pHandle)
{
    if (pHandle == nullptr)
        return;
    if (pHandle->pArchive != nullptr)
        archive_read_free(pHandle->pArchive);
    delete pHandle;
}
