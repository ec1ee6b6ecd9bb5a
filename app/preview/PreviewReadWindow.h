// The read window shared by the hex and text views: at most 5 MiB of the previewed file in
// memory, re-read from the file wherever a page needs bytes outside it.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

class CPreviewReadWindow {
public:
    static constexpr uint32_t kCapacityCap = 5242880;

    // Opens the file, takes its size and reads the first window. False (and nothing held) when the
    // file cannot be opened or read, or is larger than nMaxSize.
    bool Load(const QString& strPath, uint64_t nMaxSize);
    // Index into Data() of the nLength bytes at nOffset, or -1 when they cannot be read.
    int ReadWindow(uint32_t nOffset, uint32_t nLength);
    const uint8_t* Data() const { return reinterpret_cast<const uint8_t*>(m_buffer.constData()); }

    bool IsLoaded() const { return m_bLoaded; }
    uint32_t FileSize() const { return m_nFileSize; }
    uint32_t WindowStart() const { return m_nStart; }
    uint32_t WindowEnd() const { return m_nEnd; }
    void Reset();

private:
    QString m_strPath;
    bool m_bLoaded = false;
    uint32_t m_nFileSize = 0;
    uint32_t m_nStart = 0;
    uint32_t m_nEnd = 0;
    uint32_t m_nCapacity = 0;
    QByteArray m_buffer;
};

// Decodes bytes as the views show them: narrow text up to the first NUL, with glyphs in place of
// the control characters that are left after the caller blanked the low ones.
QString DecodePreviewBytes(const uint8_t* pData, size_t nSize);
