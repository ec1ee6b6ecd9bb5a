#include "PdfPageView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <poppler-qt5.h>

namespace {
const double kScreenDpi = 96.0;
}

CPdfPageView::CPdfPageView(QWidget* pParent) : QWidget(pParent)
{
    QVBoxLayout* pLayout = new QVBoxLayout(this);
    QHBoxLayout* pBar = new QHBoxLayout;
    m_pPrevious = new QPushButton(tr("Previous page"), this);
    m_pNext = new QPushButton(tr("Next page"), this);
    m_pPageNumber = new QLabel(this);
    pBar->addWidget(m_pPrevious);
    pBar->addWidget(m_pNext);
    pBar->addWidget(m_pPageNumber, 1);
    pLayout->addLayout(pBar);
    m_pScroll = new QScrollArea(this);
    m_pScroll->setAlignment(Qt::AlignHCenter);
    m_pScroll->setBackgroundRole(QPalette::Dark);
    m_pPage = new QLabel;
    m_pScroll->setWidget(m_pPage);
    pLayout->addWidget(m_pScroll, 1);
    connect(m_pPrevious, &QPushButton::clicked, this, &CPdfPageView::ShowPreviousPage);
    connect(m_pNext, &QPushButton::clicked, this, &CPdfPageView::ShowNextPage);
}

CPdfPageView::~CPdfPageView() = default;

bool CPdfPageView::Load(const QString& strPath, QString* pstrError)
{
    QString strError;
    m_pDocument.reset(Poppler::Document::load(strPath));
    if (!m_pDocument)
        strError = tr("The file is no PDF document that can be read.");
    else if (m_pDocument->isLocked())
        strError = tr("The PDF document is protected by a password.");
    else if (m_pDocument->numPages() <= 0)
        strError = tr("The PDF document has no pages.");
    if (!strError.isEmpty()) {
        m_pDocument.reset();
        if (pstrError)
            *pstrError = strError;
        return false;
    }
    m_pDocument->setRenderHint(Poppler::Document::Antialiasing);
    m_pDocument->setRenderHint(Poppler::Document::TextAntialiasing);
    ShowPage(0);
    return true;
}

int CPdfPageView::PageCount() const
{
    return m_pDocument ? m_pDocument->numPages() : 0;
}

QImage CPdfPageView::RenderPage(int nPage, double dDpi) const
{
    if (!m_pDocument || nPage < 0 || nPage >= m_pDocument->numPages())
        return QImage();
    std::unique_ptr<Poppler::Page> pPage(m_pDocument->page(nPage));
    return pPage ? pPage->renderToImage(dDpi, dDpi) : QImage();
}

void CPdfPageView::ShowPage(int nPage)
{
    const int nCount = PageCount();
    if (nPage < 0 || nPage >= nCount)
        return;
    m_nPage = nPage;
    const double dRatio = devicePixelRatioF();
    QImage image = RenderPage(nPage, kScreenDpi * dRatio);
    image.setDevicePixelRatio(dRatio);
    if (image.isNull())
        m_pPage->setText(tr("This page cannot be drawn."));
    else
        m_pPage->setPixmap(QPixmap::fromImage(image));
    m_pPage->adjustSize();
    m_pPageNumber->setText(tr("Page %1 of %2").arg(nPage + 1).arg(nCount));
    m_pPrevious->setEnabled(nPage > 0);
    m_pNext->setEnabled(nPage + 1 < nCount);
}
