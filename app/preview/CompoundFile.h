// A read-only look into a compound file (the structured storage of Word 97-2003 and Excel 97-2003
// documents): the header, the sector allocation table and the directory, enough to tell which
// streams the root storage holds. No stream is read.
//
// The file may come from a damaged disk: every sector number, count and directory index read
// from it is checked against the file's size before it is used, and every chain walk is bounded
// by the number of sectors the file can hold, so a looping or cut chain ends the open instead of
// running on.
#pragma once

#include <QString>
#include <QVector>
#include <cstdint>

class QIODevice;

class CCompoundFile {
public:
    // Object types of a directory entry.
    enum { TYPE_EMPTY = 0, TYPE_STORAGE = 1, TYPE_STREAM = 2, TYPE_ROOT = 5 };

    struct Entry {
        QString strName;
        uint8_t nType = TYPE_EMPTY;
        uint32_t dwLeft = 0;
        uint32_t dwRight = 0;
        uint32_t dwChild = 0;
    };

    // False when the file is no compound file or its header, allocation table or directory cannot
    // be read within the file.
    bool Open(const QString& strPath);
    bool Open(QIODevice* pDevice);
    bool IsOpen() const { return m_bOpen; }

    // True when the root storage holds a stream of this name (names compare without regard to
    // case, as the format defines).
    bool HasRootStream(const QString& strName) const;
    const QVector<Entry>& Entries() const { return m_vecEntries; }

private:
    bool ReadSector(uint32_t dwSector, QByteArray* pOut);
    bool ReadAllocationTable(const uint8_t* pHeader);
    bool ReadDirectory(uint32_t dwFirst);

    QIODevice* m_pDevice = nullptr;
    uint64_t m_ullFileSize = 0;
    uint32_t m_dwSectorSize = 0;
    uint32_t m_dwSectorCount = 0; // whole sectors after the header that lie inside the file
    QVector<uint32_t> m_vecFat;
    QVector<Entry> m_vecEntries;
    bool m_bOpen = false;
};
