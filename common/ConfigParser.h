// Read-only access to the UI configuration file "UIConfig.ini" (UTF-8 ini): image and icon
// paths with their prefixes, texts by key and error messages by code. The file is never
// written; a missing file, group or key gives empty text. The ini format ends a value at an
// unquoted ";" (a comment), so image lists are written in double quotes in the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include <QString>
#include <QStringList>

#include "CRVDPublicExport.h"

class QSettings;

class CRVDPUBLIC_API CConfigParser {
public:
    // Opens pszFileName, or "UIConfig.ini" in the current directory when it is null.
    explicit CConfigParser(const char* pszFileName = nullptr);
    // A copy opens its own settings object on the same file.
    CConfigParser(const CConfigParser& other);
    CConfigParser& operator=(const CConfigParser& other);
    virtual ~CConfigParser();

    QString GetImagePath(const QString& strName) const;
    QString GetIconPath(const QString& strName) const;
    // The ";"-separated paths of an image, each behind the image prefix; empty parts are
    // kept. One empty text when the image has no value.
    QStringList GetImagePathList(const QString& strName) const;
    QString GetText(const QString& strKey, const QString& strGroup) const;
    // Copies the text of strKey in group "Text" into pszBuffer (at most nBufferSize bytes,
    // terminator included, never splitting a UTF-8 character) and returns pszBuffer.
    // An empty text returns a constant empty string and leaves the buffer alone; a null
    // buffer returns null.
    const char* GetCharText(const QString& strKey, char* pszBuffer, size_t nBufferSize) const;
    template <size_t N>
    const char* GetCharText(const QString& strKey, char (&szBuffer)[N]) const
    {
        return GetCharText(strKey, szBuffer, N);
    }
    // Message of an error code: key "0x" + lower-case hex for base 16, else the code's
    // digits in nBase (2 to 36; any other base gives empty text).
    QString GetErrorMsg(uint32_t dwCode, int32_t nBase) const;

private:
    void InitPicPrefix();
    QString ReadValue(const QString& strKey) const;

    QString m_strImagePrefix;
    QString m_strIconPrefix;
    std::unique_ptr<QSettings> m_pSettings;
};
