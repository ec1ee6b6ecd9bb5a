// The Text tab's engine: the previewed file as narrow text, one page at a time. Lines end at a
// line feed or after at most 160 bytes, so data without line structure shows as bounded rows.
#pragma once

#include <QPointer>
#include <QVector>
#include <QWidget>
#include <cstdint>

#include "PreviewReadWindow.h"

class QScrollBar;
class QTextEdit;
class QTimer;

class CFileTextView : public QWidget {
    Q_OBJECT
public:
    static constexpr uint64_t kMaxFileSize = 104857600;
    static constexpr uint32_t kMaxLineBytes = 160;

    CFileTextView();
    ~CFileTextView() override;

    void SetFileInfo(const QString& strPath, const QString& strDisplayName);
    void SetWidgets(QTextEdit* pEdit, QScrollBar* pBar);
    void Init();
    bool LoadFile();
    int ReadWindow(uint32_t nOffset, uint32_t nLength) { return m_window.ReadWindow(nOffset, nLength); }
    void BuildLineIndex();
    void ComputeLinesPerPage();
    void ClampPage(uint64_t& nFirst, uint64_t& nEnd) const;
    QString DecodeLines(uint64_t nFirst, uint64_t nEnd);
    QString BuildPage(uint64_t nFirst);
    void Refresh();

    uint32_t LinesPerPage() const { return m_nLinesPerPage; }
    void SetLinesPerPage(uint32_t n) { m_nLinesPerPage = n; }
    uint64_t LineCount() const { return m_nLineCount; }
    const QVector<uint32_t>& LineStarts() const { return m_lineStarts; }
    const QString& DisplayName() const { return m_strDisplayName; }

public slots:
    void OnScrollChange(int nValue);

private:
    void ShowPage(int nValue);

    QString m_strPath;
    QString m_strDisplayName;
    QPointer<QTextEdit> m_pEdit;
    QPointer<QScrollBar> m_pBar;
    uint32_t m_nLinesPerPage = 0;
    CPreviewReadWindow m_window;
    uint64_t m_nLineCount = 0;
    QVector<uint32_t> m_lineStarts;
    qint64 m_nLastScrollTick = 0;
    bool m_bTickSet = false;
    QTimer* m_pPending = nullptr;
    int m_nPendingValue = 0;
};
