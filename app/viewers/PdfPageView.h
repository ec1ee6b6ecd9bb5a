// The page view both viewer programs show: one page of a PDF at a time, drawn by poppler, with
// buttons to the previous and next page.
#pragma once

#include <QImage>
#include <QWidget>
#include <memory>

namespace Poppler {
class Document;
}
class QLabel;
class QPushButton;
class QScrollArea;

class CPdfPageView : public QWidget {
    Q_OBJECT
public:
    explicit CPdfPageView(QWidget* pParent = nullptr);
    ~CPdfPageView() override;

    // False when the file is no PDF poppler can read, is locked by a password or has no page;
    // pstrError then says why.
    bool Load(const QString& strPath, QString* pstrError = nullptr);
    int PageCount() const;
    int CurrentPage() const { return m_nPage; }
    // The page (0-based) drawn at nDpi; a null image for a page that does not exist or fails.
    QImage RenderPage(int nPage, double dDpi) const;

public slots:
    void ShowPage(int nPage);
    void ShowPreviousPage() { ShowPage(m_nPage - 1); }
    void ShowNextPage() { ShowPage(m_nPage + 1); }

private:
    std::unique_ptr<Poppler::Document> m_pDocument;
    int m_nPage = -1;
    QScrollArea* m_pScroll = nullptr;
    QLabel* m_pPage = nullptr;
    QLabel* m_pPageNumber = nullptr;
    QPushButton* m_pPrevious = nullptr;
    QPushButton* m_pNext = nullptr;
};
