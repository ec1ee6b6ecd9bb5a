// The Hex tab's engine: the previewed file as a hex dump, one page at a time, 16 bytes a line.
// The preview window owns it and lends it the text edit that shows the page and the scroll bar
// whose value is the page's first line.
#pragma once

#include <QPointer>
#include <QWidget>
#include <cstdint>

#include "PreviewReadWindow.h"

class QScrollBar;
class QTextEdit;
class QTimer;

class CFileHexView : public QWidget {
    Q_OBJECT
public:
    CFileHexView();
    ~CFileHexView() override;

    void SetFilePath(const QString& strPath) { m_strPath = strPath; }
    void SetWidgets(QTextEdit* pEdit, QScrollBar* pBar);
    void Init();
    bool LoadFile();
    int ReadWindow(uint32_t nOffset, uint32_t nLength) { return m_window.ReadWindow(nOffset, nLength); }
    void ComputeLinesPerPage();
    void ClampPage(uint64_t& nFirst, uint64_t& nEnd) const;
    QString BuildPage(uint64_t nFirst);
    QString FormatLines(uint64_t nFirst, uint64_t nEnd);
    void Refresh();

    uint32_t LinesPerPage() const { return m_nLinesPerPage; }
    void SetLinesPerPage(uint32_t n) { m_nLinesPerPage = n; }
    uint64_t LineCount() const { return m_nLineCount; }
    bool IsLoaded() const { return m_window.IsLoaded(); }
    const CPreviewReadWindow& Window() const { return m_window; }

public slots:
    void OnScrollChange(int nValue);

private:
    void ShowPage(int nValue);

    QString m_strPath;
    QPointer<QTextEdit> m_pEdit;
    QPointer<QScrollBar> m_pBar;
    uint32_t m_nLinesPerPage = 0;
    uint64_t m_nLineCount = 0;
    CPreviewReadWindow m_window;
    qint64 m_nLastScrollTick = 0;
    bool m_bTickSet = false;
    QTimer* m_pPending = nullptr;
    int m_nPendingValue = 0;
};

// The thinning both views apply to scroll changes: at most one page built per 200 ms, and the
// last position of a drag is always applied once the interval has passed.
int PreviewScrollDelay(qint64 nNow, qint64 nLastTick, bool bTickSet);
