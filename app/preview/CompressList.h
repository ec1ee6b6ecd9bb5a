// The archive listing of the preview: the entries of a RAR or ZIP archive (name, size, time, and
// the icon of each name) into a tree widget its owner lends it. Nothing is extracted.
#pragma once

#include <QString>
#include <cstdint>

#include <unzip.h>

#include "RarArchive.h"

class QTreeWidget;

class CCompressList {
public:
    // Room of the ZIP name buffer; a name of this length or more is cut and terminated.
    static constexpr int kZipNameSize = 260;

    void SetFileInfo(const QString& strPath, const QString& strDisplayName);
    void SetTreeWidget(QTreeWidget* pTree) { m_pTree = pTree; }
    bool ListFiles();
    bool GetResult() const { return m_bResult; }
    bool ListRarFiles();
    bool ListZipFiles();
    void AddRarEntry(RarHeader header);
    void AddZipEntry(const char* pszName, unz_file_info64 info);
    // "2012-05-07 09:05:04" of a packed DOS date-time into pszOut (at least 20 characters).
    static void DosTimeToText(uint32_t dwDosTime, char* pszOut);

private:
    void AddRow(const QString& strName, uint64_t qwSize, const QString& strTime);

    QString m_strPath;
    QString m_strDisplayName;
    bool m_bResult = false;
    QTreeWidget* m_pTree = nullptr;
};
