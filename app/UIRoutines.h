// Small routines that many screens of the GUI program share: the program's folder, the texts of
// sizes, dates and file-system codes shown in lists, the icon and type name of a file, and the
// conversion of a millisecond time stamp.
#pragma once

#include <QIcon>
#include <QString>
#include <cstdint>

#include "WinTypes.h"

// Room a caller gives GetFileIconAndType for the type name, terminator included.
constexpr int FILE_TYPE_NAME_SIZE = 80;
// Room FormatDateText needs at most: "65535/65535/65535" and the terminator.
constexpr int DATE_TEXT_SIZE = 18;

// The folder of the running program, ending with '/', into pszBuffer (nSize characters,
// terminator included). False when the buffer is null or too small, or the path is unknown.
bool GetModuleDirectory(char* pszBuffer, int nSize);

// "0.10 KB", "1.50 KB", "1.00 MB", ... with two decimals; there is no bytes unit.
QString FormatSizeText(uint64_t qwBytes);

// Name of a partition record's file-system code; empty for an unknown code.
QString GetFileSystemName(int nCode);

// Icon and type name of a file name or bare extension, from the desktop's MIME database and
// icon theme; the file need not exist. The type name (UTF-8, cut to FILE_TYPE_NAME_SIZE - 1
// bytes on a character boundary) goes to pszTypeName when it is not null. A name of no known
// type gives the generic file icon and the generic type name.
QIcon GetFileIconAndType(const QString& strName, char* pszTypeName);

// "year/month/day" without leading zeros into pszBuffer (at least DATE_TEXT_SIZE units);
// returns pszBuffer, or null for a null buffer.
WCHAR* FormatDateText(SYSTEMTIME st, WCHAR* pszBuffer);

// The local time of a moment given in milliseconds since 1970-01-01 UTC; the day of the week
// and the milliseconds are 0. All fields are 0 for a moment outside the years 1601 to 30827.
SYSTEMTIME MSecsToSystemTime(int64_t llMSecs);
