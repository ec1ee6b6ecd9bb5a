#include "FilePreview.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QGraphicsView>
#include <QHBoxLayout>
#include <QScrollBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QTreeWidget>
#include <QWheelEvent>

#include "Pubic.h"
#include "TempPathNameSignle.h"

namespace {
QHBoxLayout* NewRow(QWidget* pParent, const char* pszName)
{
    QHBoxLayout* pLayout = new QHBoxLayout(pParent);
    pLayout->setObjectName(pszName);
    pLayout->setSpacing(6);
    pLayout->setContentsMargins(11, 11, 11, 11);
    return pLayout;
}
} // namespace

FilePreview::FilePreview(QWidget* pParent, Qt::WindowFlags flags) : QMainWindow(pParent, flags)
{
    if (objectName().isEmpty())
        setObjectName("FilePreviewClass");
    setWindowModality(Qt::ApplicationModal);
    resize(656, 558);
    setWindowTitle(tr("FilePreview"));
    QWidget* pCentral = new QWidget(this);
    pCentral->setObjectName("centralWidget");
    QHBoxLayout* pMain = NewRow(pCentral, "horizontalLayout");
    m_pTabs = new QTabWidget(pCentral);
    m_pTabs->setObjectName("tabWidget");
    m_pTabs->setDocumentMode(true);
    pMain->addWidget(m_pTabs);
    setCentralWidget(pCentral);

    QWidget* pText = new QWidget;
    pText->setObjectName("tabText");
    m_pTextEdit = new QTextEdit(pText);
    m_pTextEdit->setObjectName("textEdit");
    m_pTextEdit->setContextMenuPolicy(Qt::NoContextMenu);
    m_pTextEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_pTextEdit->setUndoRedoEnabled(false);
    m_pTextEdit->setReadOnly(true);
    m_pTextEdit->setTabStopDistance(15);
    m_pTextEdit->setTextInteractionFlags(Qt::NoTextInteraction);
    m_pTextBar = new QScrollBar(Qt::Vertical, pText);
    m_pTextBar->setObjectName("verticalScrollBar_2");
    QHBoxLayout* pTextRow = NewRow(pText, "horizontalLayout_2");
    pTextRow->addWidget(m_pTextEdit);
    pTextRow->addWidget(m_pTextBar);
    m_pTabs->addTab(pText, tr("Text"));

    QWidget* pHex = new QWidget;
    pHex->setObjectName("tabHex");
    m_pHexEdit = new QTextEdit(pHex);
    m_pHexEdit->setObjectName("textEditHex");
    m_pHexEdit->setMinimumSize(552, 474);
    // The dump's columns are tab-separated: in a fixed-pitch font, with a tab stop wide enough for
    // two hex digits and a gap, the bytes line up under the header and a line never wraps.
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(std::min(font.pointSizeF(), 9.0));
    font.setKerning(false);
    m_pHexEdit->setFont(font);
    m_pHexEdit->setLineWrapMode(QTextEdit::NoWrap);
    m_pHexEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_pHexEdit->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_pHexEdit->setTabStopDistance(std::max(15.0, QFontMetricsF(font).horizontalAdvance("FF") * 1.25));
    m_pHexEdit->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_pHexBar = new QScrollBar(Qt::Vertical, pHex);
    m_pHexBar->setObjectName("verticalScrollBar");
    QHBoxLayout* pHexRow = NewRow(pHex, "horizontalLayout_3");
    pHexRow->addWidget(m_pHexEdit);
    pHexRow->addWidget(m_pHexBar);
    m_pTabs->addTab(pHex, tr("Hex"));

    QWidget* pImage = new QWidget;
    pImage->setObjectName("tabImage");
    m_pGraphicsView = new QGraphicsView(pImage);
    m_pGraphicsView->setObjectName("graphicsView");
    NewRow(pImage, "horizontalLayout_4")->addWidget(m_pGraphicsView);
    m_pTabs->addTab(pImage, tr("Image"));

    m_pVideoTab = new QWidget;
    m_pVideoTab->setObjectName("tabVideo");
    m_pTabs->addTab(m_pVideoTab, tr("Player"));

    QWidget* pCompress = new QWidget;
    pCompress->setObjectName("tab");
    m_pTree = new QTreeWidget(pCompress);
    m_pTree->setObjectName("treeWidget");
    m_pTree->setHeaderLabels({tr("File Name"), tr("File Size"), tr("File Time")});
    NewRow(pCompress, "horizontalLayout_5")->addWidget(m_pTree);
    m_pTabs->addTab(pCompress, tr("Compress"));
    m_pTabs->setCurrentIndex(0);
}

FilePreview::~FilePreview() = default;

void FilePreview::SetFileInfo(const QString& strPath, const QString& strDisplayName)
{
    m_strPath = strPath;
    m_strDisplayName = strDisplayName;
}

void FilePreview::SetTabIcon(int nIndex, const char* pszKey)
{
    const QString strIcon = CPubic::GetIniParser().GetIconPath(QString::fromLatin1(pszKey));
    if (!strIcon.isEmpty())
        m_pTabs->setTabIcon(nIndex, QIcon(strIcon));
}

void FilePreview::ShowFile()
{
    setWindowTitle(m_strDisplayName);
    connect(m_pTabs, SIGNAL(currentChanged(int)), this, SLOT(OnTabChanged(int)), Qt::UniqueConnection);

    m_textView.SetFileInfo(m_strPath, m_strDisplayName);
    m_textView.SetWidgets(m_pTextEdit, m_pTextBar);
    m_textView.Init();
    m_hexView.SetFilePath(m_strPath);
    m_hexView.SetWidgets(m_pHexEdit, m_pHexBar);
    m_hexView.Init();
    SetTabIcon(TAB_TEXT, "TabText");
    SetTabIcon(TAB_HEX, "TabHex");

    m_image.SetPath(m_strPath);
    m_image.SetView(m_pGraphicsView);
    if (m_image.Load()) {
        m_pTabs->removeTab(TAB_COMPRESS);
        m_pTabs->removeTab(TAB_PLAYER);
        m_pTabs->setCurrentIndex(TAB_IMAGE);
        SetTabIcon(TAB_IMAGE, "TabImage");
        return;
    }
    m_player.SetFileInfo(m_strPath, m_strDisplayName);
    m_player.SetHost(m_pVideoTab);
    m_player.LayoutPlayer();
    if (m_player.IsMediaFile()) {
        m_pTabs->removeTab(TAB_COMPRESS);
        m_pTabs->removeTab(TAB_IMAGE);
        m_pTabs->setCurrentIndex(TAB_IMAGE);
        SetTabIcon(TAB_IMAGE, "TabPlayer");
        m_player.Play();
        return;
    }
    m_compress.SetFileInfo(m_strPath, m_strDisplayName);
    m_compress.SetTreeWidget(m_pTree);
    if (m_compress.ListFiles()) {
        m_pTabs->removeTab(TAB_PLAYER);
        m_pTabs->removeTab(TAB_IMAGE);
        m_pTabs->setCurrentIndex(TAB_IMAGE);
        SetTabIcon(TAB_IMAGE, "TabRar");
        return;
    }
    m_pTabs->removeTab(TAB_COMPRESS);
    m_pTabs->removeTab(TAB_PLAYER);
    m_pTabs->removeTab(TAB_IMAGE);
    m_pTabs->setCurrentIndex(TAB_TEXT);
}

void FilePreview::OnTabChanged(int nIndex)
{
    if (nIndex == TAB_TEXT)
        m_textView.Refresh();
    else if (nIndex == TAB_HEX)
        m_hexView.Refresh();
}

void FilePreview::wheelEvent(QWheelEvent* pEvent)
{
    const QString strTab = m_pTabs->tabText(m_pTabs->currentIndex());
    QScrollBar* pBar = strTab == tr("Hex") ? m_pHexBar : (strTab == tr("Text") ? m_pTextBar : nullptr);
    if (pBar) {
        const int nValue = pBar->value() - pEvent->angleDelta().y() / 8;
        pBar->setValue(std::max(0, std::min(nValue, pBar->maximum())));
    }
    pEvent->accept();
}

void FilePreview::closeEvent(QCloseEvent* pEvent)
{
    m_player.Stop();
    CTempPathNameSignle::GetInstance().DeleteTempFile();
    pEvent->accept();
}
