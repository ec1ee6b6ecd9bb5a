#include "SearchFileProgressDlg.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMovie>
#include <QProgressBar>

#include <algorithm>

#include "IDelvar.h"
#include "ImagePushButton.h"
#include "Pubic.h"
#include "ThreadRunner.h"
#include "Time.h"
#include "WideText.h"

namespace {

QLabel* MakeLabel(QWidget* pParent, const QString& strText, int x, int y, int w, int h)
{
    QLabel* pLabel = new QLabel(strText, pParent);
    pLabel->setGeometry(x, y, w, h);
    return pLabel;
}

QString WideToQString(const WCHAR* pText, size_t nCapacity)
{
    const std::u16string strText = rvd::ReadWideText(pText, nCapacity);
    return QString::fromUtf16(strText.data(), static_cast<int>(strText.size()));
}

} // namespace

CSearchFileProgressDlg::CSearchFileProgressDlg(IDelvar* pEngine, QWidget* pParent, int nDetails)
    : QDialog(pParent)
    , m_pMovie(nullptr)
    , m_pEngine(pEngine)
    , m_dwStartTick(0)
    , m_nDetails(nDetails)
    , m_nSearchResult(0)
    , m_lastProgress{}
{
    SetupForm();
    SetDialog(this);

    CConfigParser& parser = CPubic::GetIniParser();
    m_pMovie = new QMovie(parser.GetIconPath("Scan"));
    m_pLabel->setMovie(m_pMovie);
    m_pMovie->start();

    setObjectName("SearchFileProgressDlg");
    setStyleSheet(QString("QDialog#SearchFileProgressDlg{border-image: url(%1);}").arg(parser.GetImagePath("Dialog_BGImage")));
    setWindowIcon(QIcon(parser.GetIconPath("Icon32")));
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);

    m_pPushButtonCancel->SetImagePath(parser.GetImagePathList("ProgressCancelImage"));
    connect(m_pPushButtonCancel, &QPushButton::released, this, &CSearchFileProgressDlg::CancelClick);
    m_pProgressBar->setStyleSheet("QProgressBar::chunk {background-color: #05B8CC;width: 16px;}");

    if (m_nDetails == 0) {
        m_pLabelOperation3->hide();
        m_pLabelOperation4->hide();
        m_pLabelRemainTime->hide();
        m_pReMainTimeLabel->hide();
        MoveElapsedLeft();
        // Without the count of files found the detail line has the whole width.
        m_pLabelOperation->resize(431, 16);
    }
    m_dwStartTick = rvd::GetTickCount();
}

CSearchFileProgressDlg::~CSearchFileProgressDlg()
{
    delete m_pMovie;
}

void CSearchFileProgressDlg::SetupForm()
{
    setFixedSize(520, 189);
    setWindowTitle(tr("Searching"));
    m_pLabelOperation = MakeLabel(this, tr("Reading partition parameters..."), 70, 50, 225, 16);
    m_pProgressBar = new QProgressBar(this);
    m_pProgressBar->setGeometry(70, 80, 431, 23);
    m_pProgressBar->setValue(0);
    m_pProgressBar->setAlignment(Qt::AlignCenter);
    m_pPushButtonCancel = new CImagePushButton(this);
    m_pPushButtonCancel->move(240, 150);
    m_pLabelOperation2 = MakeLabel(this, tr("Phase 1 of 2"), 70, 20, 411, 16);
    m_pLabelOperation3 = MakeLabel(this, tr("Files found:"), 280, 50, 220, 16);
    m_pLabelOperation4 = MakeLabel(this, QString(), 390, 70, 81, 16);
    // Captions and values get room for the fonts of any desktop, not only the narrowest.
    m_pLabelElapsedTime = MakeLabel(this, tr("Elapsed Time:"), 70, 120, 122, 16);
    m_pElapsedTimeLabel = MakeLabel(this, "00:00:00", 195, 120, 75, 16);
    m_pLabelRemainTime = MakeLabel(this, tr("Remaining Time:"), 280, 120, 142, 16);
    m_pReMainTimeLabel = MakeLabel(this, tr("Calculating..."), 425, 120, 90, 16);
    m_pLabel = MakeLabel(this, QString(), 0, 20, 54, 41);
}

void CSearchFileProgressDlg::MoveElapsedLeft()
{
    m_pLabelElapsedTime->move(150, 120);
    m_pElapsedTimeLabel->move(275, 120);
}

QString CSearchFileProgressDlg::FormatElapsed(uint32_t dwSeconds)
{
    return QString::asprintf("%02u:%02u:%02u", dwSeconds / 3600, (dwSeconds % 3600) / 60, dwSeconds % 60);
}

int CSearchFileProgressDlg::Start()
{
    m_nSearchResult.store(0);
    const int nClosed = CProgressDlgBase::Start();
    // The last tick may have come before the scan's final count.
    if (m_pEngine != nullptr)
        m_pEngine->GetProgress(&m_lastProgress, nullptr);
    // The runner closes a dialog with 0 for every status other than cancelled and nothing
    // found; an engine error must not pass for a finished scan.
    const int nSearch = m_nSearchResult.load() & 0xFFFF;
    if (nClosed == 0 && nSearch != 0 && nSearch != JOB_CANCELLED && nSearch != JOB_NOTHING_FOUND)
        return nSearch;
    return nClosed;
}

int CSearchFileProgressDlg::Run()
{
    if (m_pEngine == nullptr)
        return 0;
    const int nResult = m_pEngine->Search();
    m_nSearchResult.store(nResult);
    return nResult;
}

void CSearchFileProgressDlg::UpdateDlg()
{
    SEARCH_PROGRESS progress {};
    int32_t anStatus[2] = {0, 0};
    const uint32_t dwElapsed = rvd::GetTickCount() - m_dwStartTick;
    const QString strElapsed = FormatElapsed(dwElapsed / 1000);
    if (m_pEngine == nullptr)
        return;
    m_pEngine->GetProgress(&progress, anStatus);
    m_lastProgress = progress;
    m_pPushButtonCancel->setDisabled(anStatus[0] != 0);

    const uint32_t dwPercent = std::min<uint32_t>(progress.dwPercent, 100);
    const QString strTitle = WideToQString(progress.szTitle, sizeof(progress.szTitle) / sizeof(WCHAR));
    const QString strDetail = WideToQString(progress.szDetail, sizeof(progress.szDetail) / sizeof(WCHAR));
    if (m_nDetails == 1) {
        m_pElapsedTimeLabel->setText(strElapsed);
        if (progress.dwPhase != PROGRESS_PHASE_PARAMETERS) {
            if (dwPercent == 0) {
                m_pReMainTimeLabel->setText(tr("Calculating..."));
            } else {
                const uint64_t ullScaled = static_cast<uint64_t>(100 - dwPercent) * (dwElapsed / 100) / dwPercent;
                const uint32_t dwRemain = static_cast<uint32_t>(ullScaled * 100 / 1000);
                m_pReMainTimeLabel->setText(FormatElapsed(dwRemain));
            }
            m_pLabelOperation3->setText(tr("Files found: %1").arg(static_cast<qulonglong>(progress.ullFilesFound)));
        } else {
            m_pLabelRemainTime->hide();
            m_pReMainTimeLabel->hide();
            MoveElapsedLeft();
        }
        m_pProgressBar->setValue(static_cast<int>(dwPercent));
        m_pLabelOperation2->setText(strTitle);
        m_pLabelOperation->setText(strDetail);
    } else {
        m_pLabelOperation2->setText(strTitle);
        m_pLabelOperation->setText(strDetail);
        m_pProgressBar->setValue(static_cast<int>(dwPercent));
        m_pElapsedTimeLabel->setText(strElapsed);
    }
}

void CSearchFileProgressDlg::CancelClick()
{
    m_pPushButtonCancel->setDisabled(true);
    m_dwStartTick = rvd::GetTickCount();
    if (m_pEngine != nullptr)
        m_pEngine->Cancel();
}

void CSearchFileProgressDlg::closeEvent(QCloseEvent* pEvent)
{
    CancelClick();
    pEvent->ignore();
}

void CSearchFileProgressDlg::keyPressEvent(QKeyEvent* pEvent)
{
    pEvent->accept();
}
