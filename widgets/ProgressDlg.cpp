#include "ProgressDlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "Pubic.h"
#include "app/MessageTable.h"

CProgressDlg::CProgressDlg(QWidget* pParent)
    : CWizardPage(pParent)
    , m_pLayout(nullptr)
    , m_pRowLayout(nullptr)
    , m_pImageLabel(nullptr)
    , m_pTextLabel(nullptr)
    , m_pCancelButton(nullptr)
    , m_nFrame(0)
{
    m_pWaitDlg = new CWaitDlg(parentWidget());
    SetDialog(m_pWaitDlg);
    // A page waits for nothing but its own job: the dialog goes the moment the job is done.
    SetCloseWhenJobEnds(true);
    m_pWaitDlg->setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    m_pWaitDlg->setObjectName("BorderImage");
    m_pWaitDlg->setModal(true);

    CConfigParser& parser = CPubic::GetIniParser();
    m_pImageLabel = new QLabel();
    m_pImageLabel->setPixmap(QPixmap(parser.GetImagePath("LastImage")));

    m_pTextLabel = new QLabel(TrMessage(10));
    m_pTextLabel->setObjectName("WhiteFont");

    m_pCancelButton = new QPushButton(TrMessage(12));
    connect(m_pCancelButton, SIGNAL(released()), this, SLOT(OnDlgCancel()));

    m_pRowLayout = new QHBoxLayout();
    m_pRowLayout->addWidget(m_pImageLabel);
    m_pRowLayout->addWidget(m_pTextLabel);
    m_pLayout = new QVBoxLayout();
    m_pLayout->addLayout(m_pRowLayout);
    m_pWaitDlg->setLayout(m_pLayout);

    m_listLoopImages = parser.GetImagePathList("LoadingImages");
}

CProgressDlg::~CProgressDlg()
{
    delete m_pCancelButton;
    // The labels and layouts go with the wait dialog.
    delete m_pWaitDlg.data();
}

void CProgressDlg::SetWaitText(const QString& strText)
{
    m_pTextLabel->setText(strText);
}

void CProgressDlg::SetLoopImage(const QStringList& listImages)
{
    m_listLoopImages = listImages;
}

void CProgressDlg::UpdateDlg()
{
    if (m_listLoopImages.isEmpty())
        return;
    if (m_nFrame >= m_listLoopImages.size())
        m_nFrame = 0;
    m_pImageLabel->setPixmap(QPixmap(m_listLoopImages.at(m_nFrame)));
    ++m_nFrame;
    if (m_nFrame > m_listLoopImages.size() - 1)
        m_nFrame = 0;
}

void CProgressDlg::OnDlgCancel()
{
    UserCancel();
}
