// Listing of RAR archives (RAR 1.5 to 4 and RAR5) through libarchive, with the few calls the
// archive listing makes: open for listing, read the next entry's header, move on, close.
// Nothing is extracted.
#pragma once

#include <QString>
#include <cstdint>

struct RarHeader {
    QString strFileName;      // wide (UTF-16) name of the entry
    uint32_t dwUnpSize = 0;   // unpacked size, low and high words
    uint32_t dwUnpSizeHigh = 0;
    uint32_t dwFileTime = 0;  // DOS date-time of the entry, local time
};

struct RarArchiveHandle;

// Null when the file cannot be opened or does not start with a RAR signature.
RarArchiveHandle* RarOpenArchive(const QString& strPath);
// 0 with the next entry's header; 1 at the end of the archive or on damage.
int RarReadHeader(RarArchiveHandle* pHandle, RarHeader& header);
// Moves past the current entry's data; 0 when done.
int RarProcessFile(RarArchiveHandle* pHandle);
void RarCloseArchive(RarArchiveHandle* pHandle);

// The packed DOS date-time of a moment in local time (years 1980 to 2107; 0 outside them).
uint32_t RarDosTimeFromUnix(int64_t llSeconds);
