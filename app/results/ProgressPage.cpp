#include "ProgressPage.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMutexLocker>
#include <QProgressBar>
#include <QSpacerItem>
#include <QTextBrowser>
#include <QTimer>
#include <QVBoxLayout>

#include <cstring>

#include "ModuleLoader.h"
#include "Pubic.h"
#include "Time.h"
#include "Charset.h"
#include "Wizard.h"

namespace {

constexpr int POLL_INTERVAL_MS = 500;

QString Tr(const char* pszText)
{
    return QCoreApplication::translate("ProgressPage", pszText);
}

// The record and the flags are shared with the copying thread without a lock; single aligned
// words, read and written whole.
DWORD LoadWord(const DWORD& dw)
{
    return __atomic_load_n(&dw, __ATOMIC_ACQUIRE);
}

} // namespace

void CExecThread::run()
{
    if (m_pTessary != nullptr)
        m_pTessary->Run(TESSARY_RUN_COPY);
}

void Ui_ProgressPage::setupUi(QWidget* pPage)
{
    pPage->setObjectName("ProgressPage");
    pPage->resize(760, 518);
    pPage->setMinimumSize(760, 518);
    pPage->setWindowTitle(Tr("WizardPage"));
    verticalLayout_2 = new QVBoxLayout(pPage);
    verticalLayout_2->setObjectName("verticalLayout_2");
    frame = new QFrame(pPage);
    frame->setObjectName("frame");
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Raised);
    verticalLayout_2->addWidget(frame);
    verticalLayout = new QVBoxLayout(frame);
    verticalLayout->setObjectName("verticalLayout");
    progressBar = new QProgressBar(frame);
    progressBar->setObjectName("progressBar");
    progressBar->setValue(0);
    progressBar->setAlignment(Qt::AlignCenter);
    progressBar->setTextVisible(true);
    progressBar->setInvertedAppearance(false);
    progressBar->setTextDirection(QProgressBar::TopToBottom);
    verticalLayout->addWidget(progressBar);
    horizontalLayout = new QHBoxLayout();
    horizontalLayout->setObjectName("horizontalLayout");
    labelTotalTime = new QLabel(Tr("ElapsedTime:"), frame);
    labelTotalTime->setObjectName("labelTotalTime");
    ElapsedTimeLabel = new QLabel(Tr("00:00:00"), frame);
    ElapsedTimeLabel->setObjectName("ElapsedTimeLabel");
    labelElapsedTime = new QLabel(Tr("Remaining Time:"), frame);
    labelElapsedTime->setObjectName("labelElapsedTime");
    LeftTimeLabel = new QLabel(Tr("00:00:00"), frame);
    LeftTimeLabel->setObjectName("LeftTimeLabel");
    for (QLabel* pLabel : {labelTotalTime, ElapsedTimeLabel, labelElapsedTime, LeftTimeLabel})
        pLabel->setStyleSheet("color: rgb(184, 191, 157);");
    horizontalLayout->addWidget(labelTotalTime);
    horizontalLayout->addWidget(ElapsedTimeLabel);
    horizontalLayout->addItem(new QSpacerItem(230, 20, QSizePolicy::Fixed, QSizePolicy::Minimum));
    horizontalLayout->addWidget(labelElapsedTime);
    horizontalLayout->addWidget(LeftTimeLabel);
    verticalLayout->addLayout(horizontalLayout);
}

CProgressPage::CProgressPage(CWizard* pWizard)
    : CWizardPage(pWizard)
    , m_pWizard(pWizard)
    , m_pTessary(nullptr)
    , m_pThread(nullptr)
    , m_pTimer(nullptr)
    , m_pTextBrowser(nullptr)
    , m_pLock(nullptr)
    , m_Progress{}
    , m_adwFlags{0, 0}
    , m_ullStartTick(0)
{
    setupUi(this);
    frame->setObjectName("progresspage");
    frame->setStyleSheet(QString("QFrame#progresspage{border-image: url(%1);}")
                             .arg(CPubic::GetIniParser().GetImagePath("Page_BGImage")));
    progressBar->setStyleSheet("QProgressBar::chunk {background-color: #05B8CC;width: 16px;}");
}

CProgressPage::~CProgressPage()
{
    // The copy stops and its thread ends before anything it writes to goes away.
    StopThread();
    if (m_pLock != nullptr && m_pTextBrowser != nullptr) {
        QMutexLocker lock(m_pLock);
        for (const QString& strLine : m_vecMessages)
            m_pTextBrowser->append(QString("<span>%1</span>").arg(strLine.toHtmlEscaped()));
        m_vecMessages.clear();
    }
    FreeRun();
}

void CProgressPage::StopThread()
{
    if (m_pThread == nullptr)
        return;
    __atomic_store_n(&m_adwFlags[TESSARY_FLAG_CANCEL], 1u, __ATOMIC_RELEASE);
    m_pThread->wait();
    delete m_pThread;
    m_pThread = nullptr;
}

void CProgressPage::FreeRun()
{
    StopThread();
    delete m_pTimer;
    m_pTimer = nullptr;
    delete m_pTextBrowser;
    m_pTextBrowser = nullptr;
    delete m_pLock;
    m_pLock = nullptr;
}

uint64_t CProgressPage::TickNow() const
{
    return rvd::GetTickCount64();
}

int CProgressPage::Initialize()
{
    FreeRun();
    m_vecMessages.clear();
    m_strRecoveryPath.clear();

    m_pTextBrowser = new QTextBrowser(frame);
    m_pTextBrowser->setObjectName("textBrowser");
    verticalLayout->addWidget(m_pTextBrowser);
    m_pTextBrowser->setOpenLinks(false);
    m_pTextBrowser->setOpenExternalLinks(false);
    m_pTextBrowser->clear();
    m_pTextBrowser->show();
    connect(m_pTextBrowser, SIGNAL(anchorClicked(const QUrl&)), this, SLOT(OnAnchorClicked(const QUrl&)));

    std::memset(&m_Progress, 0, sizeof(m_Progress));
    m_adwFlags[0] = m_adwFlags[1] = 0;
    progressBar->setValue(0);
    ElapsedTimeLabel->setText("00:00:00");
    LeftTimeLabel->setText("00:00:00");

    m_pLock = new QMutex();
    m_pTimer = new QTimer(this);
    connect(m_pTimer, SIGNAL(timeout()), this, SLOT(UpdateProgress()));
    m_pTimer->start(POLL_INTERVAL_MS);
    m_ullStartTick = TickNow();

    m_pTessary = static_cast<ITessary*>(CreateModuleInstance(u"Tessary"));
    if (m_pTessary == nullptr) {
        // Nothing can run: say so and let the user leave, instead of waiting for an end that
        // never comes (Cancel on the last page only asks a running copy to stop).
        m_pTextBrowser->append(QString("<span>%1</span>")
                                   .arg(Tr("The copy-out module could not be loaded: no file was copied.").toHtmlEscaped()));
        if (m_pWizard != nullptr) {
            m_pWizard->ShowButton(CWizard::BTN_FINISH);
            m_pWizard->HideButton(CWizard::BTN_CANCEL);
        }
        return 0;
    }
    std::memset(&m_Progress, 0, sizeof(m_Progress));
    m_adwFlags[0] = m_adwFlags[1] = 0;
    m_pTessary->SetProgressSink(&m_Progress, m_adwFlags);
    m_pTessary->SetMessageCallback(&CProgressPage::OnRecoveryMessage, this);
    m_pThread = new CExecThread(m_pTessary);
    m_pThread->start(QThread::InheritPriority);
    return 0;
}

int CProgressPage::OnNext(int&)
{
    return 1;
}

int CProgressPage::OnBack()
{
    FreeRun();
    if (m_pWizard != nullptr) {
        m_pWizard->SetButtonStatus(CWizard::BTN_BACK, true);
        m_pWizard->HideButton(CWizard::BTN_FINISH);
        m_pWizard->ShowButton(CWizard::BTN_NEXT);
        m_pWizard->ShowButton(CWizard::BTN_CANCEL);
    }
    return 0;
}

int CProgressPage::OnCancel()
{
    __atomic_store_n(&m_adwFlags[TESSARY_FLAG_CANCEL], 1u, __ATOMIC_RELEASE);
    return 0;
}

QString CProgressPage::FormatDuration(uint64_t ullMSecs)
{
    const uint64_t ullSeconds = ullMSecs / 1000;
    return QString::asprintf("%02llu:%02llu:%02llu", static_cast<unsigned long long>(ullSeconds / 3600),
                             static_cast<unsigned long long>((ullSeconds % 3600) / 60),
                             static_cast<unsigned long long>(ullSeconds % 60));
}

uint64_t CProgressPage::RemainingMSecs(uint64_t ullElapsed, uint32_t nPercent)
{
    if (nPercent == 0 || nPercent >= 100)
        return 0;
    return ((ullElapsed / 100) * (100 - nPercent) / nPercent) * 100;
}

void CProgressPage::UpdateProgress()
{
    const bool bFinished = LoadWord(m_Progress.dwState) == PROGRESS_STATE_FINISHED;
    uint32_t nPercent = LoadWord(m_Progress.dwPercent);
    if (nPercent > 100)
        nPercent = 100;
    if (bFinished) {
        nPercent = 100;
        LeftTimeLabel->setText("00:00:00");
        delete m_pTimer;
        m_pTimer = nullptr;
        // The module is at its very end once the state reads finished.
        StopThread();
        if (m_pWizard != nullptr) {
            m_pWizard->ShowButton(CWizard::BTN_FINISH);
            m_pWizard->HideButton(CWizard::BTN_CANCEL);
        }
    }

    const uint64_t ullElapsed = TickNow() - m_ullStartTick;
    m_strElapsed = FormatDuration(ullElapsed);
    ElapsedTimeLabel->setText(m_strElapsed);
    if (!bFinished && static_cast<int>(nPercent) > progressBar->value()) {
        m_strRemaining = FormatDuration(RemainingMSecs(ullElapsed, nPercent));
        LeftTimeLabel->setText(m_strRemaining);
        progressBar->setValue(static_cast<int>(nPercent));
    }

    if (m_pLock != nullptr && m_pTextBrowser != nullptr) {
        QMutexLocker lock(m_pLock);
        // Names from the scanned disk are text, never markup.
        for (const QString& strLine : m_vecMessages)
            m_pTextBrowser->append(QString("<span>%1</span>").arg(strLine.toHtmlEscaped()));
        m_vecMessages.clear();
    }

    // The end is shown once: a refresh after it (a tick already queued) adds no second link.
    if (bFinished && m_strRecoveryPath.isEmpty()) {
        progressBar->setValue(100);
        WCHAR szPath[TESSARY_RECOVERY_PATH_CHARS];
        std::memset(szPath, 0, sizeof(szPath));
        if (m_pTessary != nullptr)
            m_pTessary->GetRecoveryPath(szPath);
        m_strRecoveryPath = QString::fromUtf16(szPath, static_cast<int>(rvd::WideLength(szPath, TESSARY_RECOVERY_PATH_CHARS)));
        if (!m_strRecoveryPath.isEmpty() && m_pTextBrowser != nullptr) {
            const QString strUrl = QUrl::fromLocalFile(m_strRecoveryPath).toString(QUrl::FullyEncoded);
            m_pTextBrowser->append(QString("<a href=\"%1\">%2</a>")
                                       .arg(strUrl.toHtmlEscaped(), Tr("View recovery result").toHtmlEscaped()));
        }
        SetDstPath(QString());
    }
}

int32_t CProgressPage::OnRecoveryMessage(const WCHAR* pszText, int32_t, void* pContext)
{
    CProgressPage* pPage = static_cast<CProgressPage*>(pContext);
    if (pPage == nullptr || pPage->m_pLock == nullptr || pszText == nullptr)
        return 0;
    const QString strLine = QString::fromUtf16(pszText, static_cast<int>(rvd::WideLength(pszText, 65536)));
    QMutexLocker lock(pPage->m_pLock);
    pPage->m_vecMessages.append(strLine);
    return 0;
}

void CProgressPage::OnAnchorClicked(const QUrl& url)
{
    // Only the folder this run wrote to is ever opened.
    if (!url.isLocalFile() || m_strRecoveryPath.isEmpty())
        return;
    const QString strFolder = url.toLocalFile();
    if (strFolder.isEmpty() || strFolder != m_strRecoveryPath)
        return;
    OpenFolder(strFolder);
}

void CProgressPage::OpenFolder(const QString& strFolder)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(strFolder));
}
