#include "PreviewHolders.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QPixmap>

const char* const CPreviewPlayer::kMediaExtensions = ".mp3;.wma;.wav;.wmv;.avi;.mpg;.mov";

CPreviewImage::CPreviewImage() = default;

CPreviewImage::~CPreviewImage()
{
    if (m_pView && m_pView->scene() == m_pScene.get())
        m_pView->setScene(nullptr);
}

bool CPreviewImage::Load()
{
    QPixmap pixmap;
    if (!pixmap.load(m_strPath) || pixmap.isNull()) {
        m_bLoaded = false;
        return false;
    }
    m_bLoaded = true;
    std::unique_ptr<QGraphicsScene> pScene(new QGraphicsScene);
    QGraphicsPixmapItem* pItem = new QGraphicsPixmapItem(pixmap);
    pScene->addItem(pItem);
    pItem->setPos(0, 0);
    if (m_pView)
        m_pView->setScene(pScene.get());
    m_pScene = std::move(pScene); // the earlier scene and its item go with it
    return true;
}

void CPreviewPlayer::SetFileInfo(const QString& strPath, const QString& strDisplayName)
{
    m_strPath = strPath;
    m_strDisplayName = strDisplayName;
}

bool CPreviewPlayer::IsMediaFile()
{
    m_bIsMedia = false;
    const int nDot = m_strDisplayName.lastIndexOf('.');
    if (nDot >= 0) {
        const QString strExt = m_strDisplayName.mid(nDot);
        for (const QString& strMedia : QString::fromLatin1(kMediaExtensions).split(';'))
            if (strExt.compare(strMedia, Qt::CaseInsensitive) == 0)
                m_bIsMedia = true;
    }
    return m_bIsMedia;
}
