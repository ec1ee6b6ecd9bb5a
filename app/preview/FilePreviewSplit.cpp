#include "FilePreviewSplit.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGraphicsView>
#include <QHBoxLayout>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "MessageTable.h"
#include "OfficeHandOff.h"
#include "Pubic.h"
#include "TempPathNameSignle.h"

namespace {
const int kMsgNoPreview = 76;
const int kMsgDoubleClickOffice = 77;
} // namespace

CFilePreviewSplit::CFilePreviewSplit(QWidget* pParent) : QTabWidget(pParent)
{
    if (objectName().isEmpty())
        setObjectName("TabWidget");
    resize(603, 440);
    setWindowTitle(QCoreApplication::translate("TabWidget", "TabWidget"));
    m_pImageTab = new QWidget;
    m_pImageTab->setObjectName("tabImage");
    QVBoxLayout* pColumn = new QVBoxLayout(m_pImageTab);
    pColumn->setObjectName("verticalLayout_2");
    QHBoxLayout* pRow = new QHBoxLayout;
    pRow->setObjectName("horizontalLayout_2");
    pColumn->addLayout(pRow);
    m_pPlayerLabel = new QLabel(m_pImageTab);
    m_pPlayerLabel->setObjectName("PlayerWidget");
    pRow->addWidget(m_pPlayerLabel);
    m_pGraphicsView = new QGraphicsView(m_pImageTab);
    m_pGraphicsView->setObjectName("graphicsView");
    pRow->addWidget(m_pGraphicsView);
    m_pTree = new QTreeWidget(m_pImageTab);
    m_pTree->setObjectName("treeWidget");
    m_pTree->setHeaderLabels({QCoreApplication::translate("TabWidget", "File Name"),
                              QCoreApplication::translate("TabWidget", "File Size"),
                              QCoreApplication::translate("TabWidget", "File Time")});
    pRow->addWidget(m_pTree);
    addTab(m_pImageTab, QCoreApplication::translate("TabWidget", "Image"));
    setCurrentIndex(0);
}

CFilePreviewSplit::~CFilePreviewSplit()
{
    // The player goes first: its media stops before the widgets it lies in are destroyed.
    if (m_pPlayer)
        m_pPlayer->Stop();
    m_pPlayer.reset();
}

void CFilePreviewSplit::SetFileInfo(const QString& strPath, const QString& strDisplayName)
{
    m_strPath = strPath;
    m_strDisplayName = strDisplayName;
}

void CFilePreviewSplit::SetTab(const char* pszIconKey, const QString& strText)
{
    const QString strIcon = CPubic::GetIniParser().GetIconPath(QString::fromLatin1(pszIconKey));
    if (!strIcon.isEmpty())
        setTabIcon(0, QIcon(strIcon));
    setTabText(0, strText);
}

bool CFilePreviewSplit::IsOfficeFile() const
{
    if (IsOfficeDocument(m_strPath))
        return true;
    const QString strExt = DisplayNameExtension(m_strDisplayName);
    if (strExt.compare(".xls", Qt::CaseInsensitive) == 0 || strExt.compare(".doc", Qt::CaseInsensitive) == 0)
        return false;
    return strExt.compare(".xlsx", Qt::CaseInsensitive) == 0 || strExt.compare(".docx", Qt::CaseInsensitive) == 0;
}

void CFilePreviewSplit::ShowFile()
{
    if (m_pPlayer) {
        m_pPlayer->Stop();
        m_pPlayer->ShowPlayer(false);
    }
    m_pPlayerLabel->clear();

    if (IsOfficeFile() || IsPdfDisplayName(m_strDisplayName)) {
        m_pGraphicsView->hide();
        m_pTree->hide();
        m_pPlayerLabel->show();
        m_pPlayerLabel->setText(TrMessage(kMsgDoubleClickOffice));
        SetTab("TabImage", tr("Image"));
        return;
    }

    m_image.SetPath(m_strPath);
    m_image.SetView(m_pGraphicsView);
    if (m_image.Load()) {
        m_pGraphicsView->show();
        m_pTree->hide();
        m_pPlayerLabel->hide();
        SetTab("TabImage", tr("Image"));
        return;
    }
    m_pGraphicsView->hide();

    m_compress.SetFileInfo(m_strPath, m_strDisplayName);
    m_compress.SetTreeWidget(m_pTree);
    if (m_compress.ListFiles()) {
        m_pTree->show();
        m_pPlayerLabel->hide();
        SetTab("TabRar", tr("Compress"));
        return;
    }
    m_pTree->hide();

    m_pPlayerLabel->show();
    if (!m_pPlayer) {
        m_pPlayer = std::make_unique<CPreviewPlayer>();
        m_pPlayer->SetHost(m_pPlayerLabel);
    }
    m_pPlayer->SetFileInfo(m_strPath, m_strDisplayName);
    if (m_pPlayer->IsMediaFile()) {
        SetTab("TabPlayer", tr("Player"));
        m_pPlayer->LayoutPlayer();
        m_pPlayer->Play();
        return;
    }
    m_pPlayerLabel->setText(TrMessage(kMsgNoPreview));
}

void CFilePreviewSplit::StopPlayer()
{
    if (m_pPlayer)
        m_pPlayer->Stop();
}

void CFilePreviewSplit::wheelEvent(QWheelEvent* pEvent)
{
    pEvent->accept();
}

void CFilePreviewSplit::closeEvent(QCloseEvent* pEvent)
{
    StopPlayer();
    CTempPathNameSignle::GetInstance().DeleteTempFile();
    pEvent->accept();
}
