#include "PreviewReadWindow.h"

#include <QFile>

void CPreviewReadWindow::Reset()
{
    m_bLoaded = false;
    m_nFileSize = m_nStart = m_nEnd = m_nCapacity = 0;
    m_buffer.clear();
}

bool CPreviewReadWindow::Load(const QString& strPath, uint64_t nMaxSize)
{
    Reset();
    m_strPath = strPath;
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 nSize = file.size();
    // Offsets are held in 32 bits: a larger file is refused rather than shown wrapped.
    if (nSize < 0 || static_cast<uint64_t>(nSize) > nMaxSize || static_cast<uint64_t>(nSize) > 0xFFFFFFFFull)
        return false;
    m_nFileSize = static_cast<uint32_t>(nSize);
    m_nCapacity = m_nFileSize < kCapacityCap ? m_nFileSize : kCapacityCap;
    m_buffer.resize(static_cast<int>(m_nCapacity));
    const qint64 nRead = m_nCapacity ? file.read(m_buffer.data(), m_nCapacity) : 0;
    if (nRead < 0) {
        Reset();
        return false;
    }
    m_nStart = 0;
    m_nEnd = static_cast<uint32_t>(nRead);
    m_bLoaded = true;
    return true;
}

int CPreviewReadWindow::ReadWindow(uint32_t nOffset, uint32_t nLength)
{
    if (!m_bLoaded || nLength > m_nCapacity)
        return -1;
    const uint64_t nEndWanted = static_cast<uint64_t>(nOffset) + nLength;
    if (nOffset >= m_nStart && nEndWanted <= m_nEnd)
        return static_cast<int>(nOffset - m_nStart);
    QFile file(m_strPath);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(nOffset))
        return -1;
    const qint64 nRead = file.read(m_buffer.data(), m_nCapacity);
    if (nRead < 0) {
        m_nStart = m_nEnd = 0;
        return -1;
    }
    m_nStart = nOffset;
    m_nEnd = nOffset + static_cast<uint32_t>(nRead);
    return (m_nEnd - m_nStart >= nLength) ? 0 : -1;
}

QString DecodePreviewBytes(const uint8_t* pData, size_t nSize)
{
    size_t nLen = 0;
    while (nLen < nSize && pData[nLen] != 0)
        ++nLen;
    QString str = QString::fromUtf8(reinterpret_cast<const char*>(pData), static_cast<int>(nLen));
    // The glyphs of the OEM character set stand in for the control characters still present.
    static const char16_t kGlyphs[32] = {
        0x0020, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022, 0x25D8, 0x25CB, 0x25D9,
        0x2642, 0x2640, 0x266A, 0x266B, 0x263C, 0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7,
        0x25AC, 0x21A8, 0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC};
    for (QChar& ch : str) {
        if (ch.unicode() < 32)
            ch = QChar(static_cast<ushort>(kGlyphs[ch.unicode()]));
        else if (ch.unicode() == 0x7F)
            ch = QChar(0x2302);
    }
    return str;
}
