// Small sample files the preview tests show: an 8x8 PNG and a ZIP holding one text entry.
#pragma once

#include <QColor>
#include <QFile>
#include <QImage>
#include <QString>

#include <zip.h>

namespace rvdtest {

inline bool WriteSamplePng(const QString& strPath, const QColor& color)
{
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(color);
    return image.save(strPath, "PNG");
}

// "in.txt" holding "abc", deflated.
inline bool WriteOneEntryZip(const QString& strPath)
{
    zipFile hZip = zipOpen64(QFile::encodeName(strPath).constData(), APPEND_STATUS_CREATE);
    if (hZip == nullptr)
        return false;
    bool bOk = zipOpenNewFileInZip64(hZip, "in.txt", nullptr, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 6, 0) == ZIP_OK;
    if (bOk) {
        bOk = zipWriteInFileInZip(hZip, "abc", 3) == ZIP_OK;
        zipCloseFileInZip(hZip);
    }
    return zipClose(hZip, nullptr) == ZIP_OK && bOk;
}

} // namespace rvdtest
