// What the result page keeps of a listing: each found-file record as the result store handed it
// out, with the volume it belongs to, and the key that ties every row of the page to one record.
#pragma once

#include <QString>
#include <QVector>

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "FileInfo.h"
#include "WinTypes.h"

// One record of the last listing: the store's 616 bytes followed by the volume number. Search
// hits carry the volume they were searched in, like folder listings.
struct LISTING_ENTRY {
    FILE_INFO_EX Info;
    DWORD dwVolume;
};
static_assert(std::is_trivially_copyable<LISTING_ENTRY>::value, "a listing entry is copied whole");
static_assert(offsetof(LISTING_ENTRY, dwVolume) == sizeof(FILE_INFO_EX), "the volume number follows the record");

// Plain bytes: the vector moves entries with memcpy when it grows.
Q_DECLARE_TYPEINFO(LISTING_ENTRY, Q_PRIMITIVE_TYPE);

typedef QVector<LISTING_ENTRY> LISTING;

// Status of a key that names no record (the invisible root, a row without key).
constexpr int ITEM_KEY_NONE = 0x105;

// Folder record number of a page that has not opened any folder yet.
constexpr DWORD NO_FOLDER_OPENED = 0xFFFFFFFFu;

// Row keys: "a##b" for record b of volume a, "i##" for partition node i.
QString MakeItemKey(DWORD dwVolume, DWORD dwRecord);
QString MakePartitionKey(int nIndex);

// Splits a key into a and b. "Root", an empty or missing key: ITEM_KEY_NONE and nothing written.
// A key without a second part leaves *pdwRecord as the caller preset it. A part that is no
// decimal number reads as 0.
int ParseItemKeyText(const QString& strKey, DWORD* pdwVolume, DWORD* pdwRecord);

// Tick state of a record as the store reports it.
Qt::CheckState RecordCheckState(const FILE_INFO_EX& info);
