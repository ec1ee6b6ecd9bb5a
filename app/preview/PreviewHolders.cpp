#include "PreviewHolders.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QPixmap>
#include <QVBoxLayout>

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

CPreviewPlayer::CPreviewPlayer() : m_strExtensions(QString::fromLatin1(kMediaExtensions)) {}

CPreviewPlayer::~CPreviewPlayer()
{
    m_player.stopMedia();
    // The host may outlive this holder: take the player out of the host's layout first.
    delete m_pLayout;
}

void CPreviewPlayer::LayoutPlayer()
{
    // A host takes one layout: the one made by an earlier call goes first.
    delete m_pLayout;
    m_pLayout = new QVBoxLayout;
    m_player.show();
    m_pLayout->addWidget(&m_player, 0);
    if (m_pHost)
        m_pHost->setLayout(m_pLayout);
}

void CPreviewPlayer::ShowPlayer(bool bShow)
{
    if (!bShow) {
        m_player.hide();
        delete m_pLayout;
        m_pLayout = nullptr;
        return;
    }
    if (!m_pLayout)
        m_pLayout = new QVBoxLayout;
    m_player.show();
    if (m_pLayout->indexOf(&m_player) < 0)
        m_pLayout->addWidget(&m_player);
    if (m_pHost && m_pHost->layout() != m_pLayout)
        m_pHost->setLayout(m_pLayout);
}

void CPreviewPlayer::Play()
{
    m_player.setKeepSize(false);
    if (!m_strPath.isEmpty()) {
        m_player.setDisplayName(m_strDisplayName);
        m_player.startFile(m_strPath);
    }
    m_player.show();
}

void CPreviewPlayer::Stop()
{
    m_player.stopMedia();
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
        for (const QString& strMedia : m_strExtensions.split(';'))
            if (strExt.compare(strMedia, Qt::CaseInsensitive) == 0)
                m_bIsMedia = true;
    }
    return m_bIsMedia;
}
