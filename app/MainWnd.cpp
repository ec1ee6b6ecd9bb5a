#include "MainWnd.h"

#include <QDesktopServices>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QUrl>

#include "AboutDlg.h"
#include "ImagePushButton.h"
#include "MessageTable.h"
#include "OptionDlg.h"
#include "Pubic.h"
#include "ScanWizards.h"
#include "Veskel.h"

void OpenHelpFile()
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(QDir::current().absoluteFilePath("RVDHelp.html")));
}

namespace {

QLabel* MakePicture(QWidget* pParent, const char* pszName, int x, int y, int w, int h)
{
    QLabel* pLabel = new QLabel(pParent);
    pLabel->setObjectName(pszName);
    pLabel->setGeometry(x, y, w, h);
    return pLabel;
}

CImagePushButton* MakeButton(QWidget* pParent, const char* pszName, const char* pszImage, int x, int y)
{
    CImagePushButton* pButton = new CImagePushButton(pParent);
    pButton->setObjectName(pszName);
    pButton->move(x, y);
    pButton->SetImagePath(CPubic::GetIniParser().GetImagePathList(pszImage));
    return pButton;
}

} // namespace

CMainWnd::CMainWnd(QWidget* pParent)
    : QDialog(pParent)
    , m_pQuickScanWizard(nullptr)
    , m_pCompleteScanWizard(nullptr)
    , m_pContinueScanWizard(nullptr)
{
    SetupForm();
    CConfigParser& parser = CPubic::GetIniParser();
    setObjectName("AppName");
    setStyleSheet(QString("QDialog#AppName{border-image: url(%1);}").arg(parser.GetImagePath("MainImage")));
    setWindowIcon(QIcon(parser.GetIconPath("Icon")));
    setWindowFlags(Qt::Dialog | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowTitle(TrMessage(2));

    m_strDefaultPrompt = TrMessage(13);
    m_pLabelNoteImage->setStyleSheet(QString("border-image:url(%1) ; border-width:20px; color: rgb(197, 208, 185);")
                                         .arg(parser.GetImagePath("MainNoteImage")));
    m_pLabelNoteImage->setText(m_strDefaultPrompt);
    m_pLabelProductImage->setPixmap(QPixmap(parser.GetImagePath("MainProductImage")));
    m_pLabelBackground->setPixmap(QPixmap(parser.GetImagePath("MainBackgroud")));

    m_pButtonQuickScan->SetPromptMsg(TrMessage(14));
    m_pButtonCompleteScan->SetPromptMsg(TrMessage(15));
    m_pButtonContinueRecovery->SetPromptMsg(TrMessage(16));
    for (CImagePushButton* pButton : {m_pButtonQuickScan, m_pButtonCompleteScan, m_pButtonContinueRecovery})
        connect(pButton, &CImagePushButton::changePrompt, this, &CMainWnd::ShowPrompt);

    connect(m_pButtonAbout, &QPushButton::released, this, &CMainWnd::OnAbout);
    connect(m_pButtonHelp, &QPushButton::released, this, &CMainWnd::OnHelp);
    connect(m_pButtonOption, &QPushButton::released, this, &CMainWnd::OnOption);
    connect(m_pButtonQuickScan, &QPushButton::released, this, &CMainWnd::OnQuickScan);
    connect(m_pButtonCompleteScan, &QPushButton::released, this, &CMainWnd::OnCompleteScan);
    connect(m_pButtonContinueRecovery, &QPushButton::released, this, &CMainWnd::OnContinueRecovery);
}

CMainWnd::~CMainWnd()
{
    delete m_pQuickScanWizard;
    delete m_pCompleteScanWizard;
    delete m_pContinueScanWizard;
}

void CMainWnd::SetupForm()
{
    setFixedSize(800, 533);
    m_pLabelProductImage = MakePicture(this, "labelProductImage", 30, 20, 421, 91);
    m_pButtonOption = MakeButton(this, "pushButtonOption", "MainOption", 620, 10);
    m_pButtonHelp = MakeButton(this, "pushButtonHelp", "MainHelp", 680, 10);
    m_pButtonAbout = MakeButton(this, "pushButtonAbout", "MainAbout", 740, 10);
    m_pLabelBackground = MakePicture(this, "labelBackgroud", 70, 230, 661, 171);
    m_pButtonQuickScan = MakeButton(this, "pushButtonQuickScan", "MainQuickScan", 170, 230);
    m_pButtonCompleteScan = MakeButton(this, "pushButtonCompleteScan", "MainCompleteScan", 330, 230);
    m_pButtonContinueRecovery = MakeButton(this, "pushButtonContinueRecovery", "MainContinueScan", 480, 230);
    m_pLabelNoteImage = MakePicture(this, "labelNoteImage", 20, 400, 761, 131);
    m_pLabelNoteImage->setFont(QFont("Arial", 11));
    m_pLabelNoteImage->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_pLabelNoteImage->setWordWrap(true);
}

void CMainWnd::OnAbout()
{
    CAboutDlg dlg(this);
    dlg.exec();
}

void CMainWnd::OnHelp()
{
    OpenHelpFile();
}

void CMainWnd::OnOption()
{
    COptionDlg dlg(this);
    dlg.ReadOptions();
    dlg.exec();
}

void CMainWnd::OnQuickScan()
{
    LogInfo("OnQuickScan begin!");
    delete m_pQuickScanWizard;
    m_pQuickScanWizard = new CQuickScanWizard(nullptr);
    connect(m_pQuickScanWizard, &CWizard::WizardPageFinish, this, &CMainWnd::OnReturnMain);
    hide();
    m_pQuickScanWizard->show();
    LogInfo("OnQuickScan end!");
}

void CMainWnd::OnCompleteScan()
{
    LogInfo("OnCompleteScan begin!");
    delete m_pCompleteScanWizard;
    m_pCompleteScanWizard = new CCompleteScanWizard(nullptr);
    connect(m_pCompleteScanWizard, &CWizard::WizardPageFinish, this, &CMainWnd::OnReturnMain);
    hide();
    m_pCompleteScanWizard->show();
    LogInfo("OnCompleteScan end!");
}

void CMainWnd::OnContinueRecovery()
{
    LogInfo("OnContinueRecovery begin!");
    delete m_pContinueScanWizard;
    m_pContinueScanWizard = new CContinueScanWizard();
    connect(m_pContinueScanWizard, &CWizard::WizardPageFinish, this, &CMainWnd::OnReturnMain);
    hide();
    m_pContinueScanWizard->show();
    LogInfo("OnContinueRecovery end!");
}

void CMainWnd::OnReturnMain()
{
    raise();
    show();
}

void CMainWnd::ShowPrompt(QString strPrompt)
{
    m_pLabelNoteImage->setText(strPrompt.isEmpty() ? m_strDefaultPrompt : strPrompt);
}

void CMainWnd::keyPressEvent(QKeyEvent* pEvent)
{
    if (pEvent->key() == Qt::Key_Escape) {
        pEvent->ignore();
        return;
    }
    if (pEvent->key() == Qt::Key_F1)
        OpenHelpFile();
    pEvent->accept();
}
