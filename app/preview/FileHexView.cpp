#include "FileHexView.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QScrollBar>
#include <QTextEdit>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {
const int kScrollThinMs = 200;
const char kHexHeader[] = "Offset  \t\t0\t1\t2\t3\t4\t5\t6\t7\t8\t9\tA\tB\tC\tD\tE\tF\n";

qint64 TickNow()
{
    static QElapsedTimer s_clock;
    if (!s_clock.isValid())
        s_clock.start();
    return s_clock.elapsed();
}
} // namespace

int PreviewScrollDelay(qint64 nNow, qint64 nLastTick, bool bTickSet)
{
    if (!bTickSet || nNow - nLastTick >= kScrollThinMs)
        return 0;
    return static_cast<int>(kScrollThinMs - (nNow - nLastTick));
}

CFileHexView::CFileHexView() : QWidget(nullptr)
{
    m_pPending = new QTimer(this);
    m_pPending->setSingleShot(true);
    connect(m_pPending, &QTimer::timeout, this, [this]() { OnScrollChange(m_nPendingValue); });
}

CFileHexView::~CFileHexView() = default;

void CFileHexView::SetWidgets(QTextEdit* pEdit, QScrollBar* pBar)
{
    m_pEdit = pEdit;
    m_pBar = pBar;
}

void CFileHexView::Init()
{
    if (m_pBar)
        connect(m_pBar.data(), SIGNAL(valueChanged(int)), this, SLOT(OnScrollChange(int)), Qt::UniqueConnection);
    if (!LoadFile()) {
        // Nothing is shown for a file that could not be read.
        m_nLineCount = 0;
        if (m_pEdit)
            m_pEdit->clear();
    }
    if (m_pBar)
        m_pBar->setRange(0, static_cast<int>(m_nLineCount));
}

bool CFileHexView::LoadFile()
{
    m_nLineCount = 0;
    if (!m_window.Load(m_strPath, 0xFFFFFFFFull))
        return false;
    const uint32_t nSize = m_window.FileSize();
    m_nLineCount = nSize / 16 + ((nSize % 16) ? 1 : 0);
    return true;
}

void CFileHexView::ComputeLinesPerPage()
{
    if (!m_pEdit)
        return;
    const QFontMetrics fm(m_pEdit->currentFont());
    const int nLine = fm.height() + fm.xHeight();
    m_nLinesPerPage = nLine > 0 ? static_cast<uint32_t>(m_pEdit->height() / nLine) : 0;
}

void CFileHexView::ClampPage(uint64_t& nFirst, uint64_t& nEnd) const
{
    if (nFirst + m_nLinesPerPage > m_nLineCount)
        nFirst = m_nLineCount > m_nLinesPerPage ? m_nLineCount - m_nLinesPerPage : 0;
    nEnd = std::min<uint64_t>(nFirst + m_nLinesPerPage, m_nLineCount);
}

QString CFileHexView::BuildPage(uint64_t nFirst)
{
    if (!m_window.IsLoaded())
        return QString();
    uint64_t nEnd = 0;
    ClampPage(nFirst, nEnd);
    return QString::fromLatin1(kHexHeader) + FormatLines(nFirst, nEnd);
}

QString CFileHexView::FormatLines(uint64_t nFirst, uint64_t nEnd)
{
    QString strOut;
    if (!m_window.IsLoaded())
        return strOut;
    const uint32_t nSize = m_window.FileSize();
    char szLine[128];
    for (uint64_t i = nFirst; i < nEnd; ++i) {
        if (i * 16 >= nSize)
            break;
        const uint32_t nOffset = static_cast<uint32_t>(i * 16);
        uint8_t line[16] = {0};
        QString strText;
        uint32_t nBytes = 16;
        if (static_cast<uint64_t>(nOffset) + 16 < nSize) {
            const int nIndex = ReadWindow(nOffset, 16);
            if (nIndex < 0)
                continue;
            std::memcpy(line, m_window.Data() + nIndex, 16);
            std::snprintf(szLine, sizeof(szLine),
                          "%08X\t\t%02X\t%02X\t%02X\t%02X\t%02X\t%02X\t%02X\t%02X\t%02X\t%02X\t%02X\t%02X\t%02X\t%02X\t%02X\t%02X     ",
                          nOffset, line[0], line[1], line[2], line[3], line[4], line[5], line[6], line[7], line[8],
                          line[9], line[10], line[11], line[12], line[13], line[14], line[15]);
            strText = QString::fromLatin1(szLine);
        } else {
            nBytes = nSize - nOffset;
            const int nIndex = ReadWindow(nOffset, nBytes);
            if (nIndex < 0)
                continue;
            std::memcpy(line, m_window.Data() + nIndex, nBytes);
            std::snprintf(szLine, sizeof(szLine), "%08X\t\t", nOffset);
            strText = QString::fromLatin1(szLine);
            for (uint32_t b = 0; b < nBytes; ++b) {
                std::snprintf(szLine, sizeof(szLine), "%02X\t", line[b]);
                strText += QString::fromLatin1(szLine);
            }
            for (uint32_t b = nBytes; b < 16; ++b)
                strText += QStringLiteral(" \t");
        }
        // The text column: the line's own bytes, those below 0x1E shown as dots.
        for (uint32_t b = 0; b < nBytes; ++b)
            if (line[b] < 30)
                line[b] = '.';
        strText += DecodePreviewBytes(line, 16);
        strText += '\n';
        strOut += strText;
    }
    return strOut;
}

void CFileHexView::Refresh()
{
    ComputeLinesPerPage();
    if (m_pEdit)
        m_pEdit->setPlainText(BuildPage(m_pBar ? static_cast<uint64_t>(std::max(0, m_pBar->value())) : 0));
}

void CFileHexView::ShowPage(int nValue)
{
    if (m_pEdit)
        m_pEdit->setPlainText(BuildPage(static_cast<uint64_t>(std::max(0, nValue))));
}

void CFileHexView::OnScrollChange(int nValue)
{
    const qint64 nNow = TickNow();
    if (nValue != 0) {
        const int nDelay = PreviewScrollDelay(nNow, m_nLastScrollTick, m_bTickSet);
        if (nDelay > 0) {
            // Thinned: the latest position is applied once the interval has passed.
            m_nPendingValue = nValue;
            m_pPending->start(nDelay);
            return;
        }
        m_nLastScrollTick = nNow;
        m_bTickSet = true;
    }
    m_pPending->stop();
    ShowPage(nValue);
}
