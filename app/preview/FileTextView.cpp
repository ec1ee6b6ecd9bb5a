#include "FileTextView.h"

#include "FileHexView.h"

#include <QElapsedTimer>
#include <QFontMetrics>
#include <QScrollBar>
#include <QTextEdit>
#include <QTimer>

#include <algorithm>
#include <cstring>

namespace {
qint64 TickNow()
{
    static QElapsedTimer s_clock;
    if (!s_clock.isValid())
        s_clock.start();
    return s_clock.elapsed();
}
} // namespace

CFileTextView::CFileTextView() : QWidget(nullptr)
{
    m_pPending = new QTimer(this);
    m_pPending->setSingleShot(true);
    connect(m_pPending, &QTimer::timeout, this, [this]() { OnScrollChange(m_nPendingValue); });
}

CFileTextView::~CFileTextView() = default;

void CFileTextView::SetFileInfo(const QString& strPath, const QString& strDisplayName)
{
    m_strPath = strPath;
    m_strDisplayName = strDisplayName;
}

void CFileTextView::SetWidgets(QTextEdit* pEdit, QScrollBar* pBar)
{
    m_pEdit = pEdit;
    m_pBar = pBar;
}

void CFileTextView::Init()
{
    if (m_pBar)
        connect(m_pBar.data(), SIGNAL(valueChanged(int)), this, SLOT(OnScrollChange(int)), Qt::UniqueConnection);
    m_lineStarts.clear();
    m_nLineCount = 0;
    if (LoadFile()) {
        BuildLineIndex();
        m_nLineCount = m_lineStarts.isEmpty() ? 0 : static_cast<uint64_t>(m_lineStarts.size() - 1);
    }
    if (m_pBar)
        m_pBar->setRange(0, m_nLineCount ? static_cast<int>(m_nLineCount - 1) : 0);
    // A file that could not be read shows nothing.
    if (m_pEdit && !m_window.IsLoaded())
        m_pEdit->clear();
    else
        Refresh();
}

bool CFileTextView::LoadFile()
{
    return m_window.Load(m_strPath, kMaxFileSize);
}

void CFileTextView::BuildLineIndex()
{
    m_lineStarts.clear();
    if (!m_window.IsLoaded())
        return;
    const uint32_t nSize = m_window.FileSize();
    m_lineStarts.append(0);
    if (nSize > 1) {
        uint32_t p = 0, b = 0;
        for (;;) {
            // Bytes short of the length limit that are no line feed change nothing: skip them in
            // one search rather than one read each (a 50 MiB file is indexed while the user waits).
            const uint32_t nSkipEnd = std::min(b + kMaxLineBytes - 1, nSize - 1);
            if (p < nSkipEnd) {
                const int nRun = ReadWindow(p, nSkipEnd - p);
                if (nRun >= 0) {
                    const uint8_t* pRun = m_window.Data() + nRun;
                    const void* pFeed = std::memchr(pRun, '\n', nSkipEnd - p);
                    p += pFeed ? static_cast<uint32_t>(static_cast<const uint8_t*>(pFeed) - pRun) : nSkipEnd - p;
                    if (p >= nSize - 1)
                        break;
                }
            }
            const int nIndex = ReadWindow(p, 1);
            if (nIndex < 0)
                break;
            const uint8_t c = m_window.Data()[nIndex];
            if (p - b + 1 == kMaxLineBytes) {
                // Never split a multi-byte character: when it goes on after p, break before its
                // lead byte (as long as the line keeps at least one byte).
                uint32_t nBreak = p;
                if (p + 1 < nSize) {
                    const int nNext = ReadWindow(p + 1, 1);
                    if (nNext >= 0 && (m_window.Data()[nNext] & 0xC0) == 0x80) {
                        uint32_t nLead = p;
                        for (int k = 0; k < 3 && nLead > b; ++k) {
                            const int nAt = ReadWindow(nLead, 1);
                            if (nAt < 0 || (m_window.Data()[nAt] & 0xC0) != 0x80)
                                break;
                            --nLead;
                        }
                        const int nAt = ReadWindow(nLead, 1);
                        if (nAt >= 0 && (m_window.Data()[nAt] & 0xC0) == 0xC0 && nLead > b)
                            nBreak = nLead - 1;
                    }
                }
                p = nBreak;
                b = p;
                m_lineStarts.append(p + 1);
            } else if (c == '\n') {
                b = p;
                m_lineStarts.append(p + 1);
            }
            ++p;
            if (p >= nSize - 1)
                break;
        }
    }
    if (m_lineStarts.last() < nSize)
        m_lineStarts.append(nSize);
}

void CFileTextView::ComputeLinesPerPage()
{
    if (!m_pEdit)
        return;
    const QFontMetrics fm(m_pEdit->currentFont());
    const int nLine = fm.height() + fm.xHeight();
    m_nLinesPerPage = nLine > 0 ? static_cast<uint32_t>(m_pEdit->height() / nLine) : 0;
}

void CFileTextView::ClampPage(uint64_t& nFirst, uint64_t& nEnd) const
{
    if (nFirst + m_nLinesPerPage > m_nLineCount)
        nFirst = m_nLineCount > m_nLinesPerPage ? m_nLineCount - m_nLinesPerPage : 0;
    nEnd = std::min<uint64_t>(nFirst + m_nLinesPerPage, m_nLineCount);
}

QString CFileTextView::DecodeLines(uint64_t nFirst, uint64_t nEnd)
{
    QString strOut;
    if (!m_window.IsLoaded())
        return strOut;
    uint8_t line[kMaxLineBytes + 2];
    for (uint64_t i = nFirst; i < nEnd && i + 1 < static_cast<uint64_t>(m_lineStarts.size()); ++i) {
        const uint32_t nStart = m_lineStarts[static_cast<int>(i)];
        const uint32_t nLength = std::min<uint32_t>(m_lineStarts[static_cast<int>(i + 1)] - nStart, kMaxLineBytes);
        std::memset(line, 0, sizeof(line));
        const int nIndex = ReadWindow(nStart, nLength);
        if (nIndex < 0)
            continue;
        std::memcpy(line, m_window.Data() + nIndex, nLength);
        for (uint32_t b = 0; b < nLength; ++b)
            if (line[b] < 30)
                line[b] = ' ';
        strOut += DecodePreviewBytes(line, kMaxLineBytes);
        strOut += '\n';
    }
    return strOut;
}

QString CFileTextView::BuildPage(uint64_t nFirst)
{
    uint64_t nEnd = 0;
    ClampPage(nFirst, nEnd);
    return DecodeLines(nFirst, nEnd);
}

void CFileTextView::Refresh()
{
    ComputeLinesPerPage();
    if (m_pEdit)
        m_pEdit->setPlainText(BuildPage(m_pBar ? static_cast<uint64_t>(std::max(0, m_pBar->value())) : 0));
}

void CFileTextView::ShowPage(int nValue)
{
    if (m_pEdit)
        m_pEdit->setPlainText(BuildPage(static_cast<uint64_t>(std::max(0, nValue))));
}

void CFileTextView::OnScrollChange(int nValue)
{
    const qint64 nNow = TickNow();
    if (nValue != 0) {
        const int nDelay = PreviewScrollDelay(nNow, m_nLastScrollTick, m_bTickSet);
        if (nDelay > 0) {
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
