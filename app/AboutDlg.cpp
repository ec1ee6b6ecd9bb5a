#include "AboutDlg.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "ImagePushButton.h"
#include "Pubic.h"
#include "ProductVersion.h"

CAboutDlg::CAboutDlg(QWidget* pParent)
    : QDialog(pParent)
{
    CConfigParser& parser = CPubic::GetIniParser();
    setMinimumSize(425, 211);
    setMaximumHeight(211);
    setWindowTitle(tr("About Ravendo"));
    setObjectName("AppAbout");
    setStyleSheet(QString("QDialog#AppAbout{border-image: url(%1);}").arg(parser.GetImagePath("Dialog_BGImage")));
    setWindowIcon(QIcon(parser.GetIconPath("Icon32")));
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);

    QHBoxLayout* pLayout = new QHBoxLayout(this);
    QLabel* pIcon = new QLabel(this);
    pIcon->setObjectName("labelIcon");
    pIcon->setPixmap(QPixmap(parser.GetIconPath("Icon64")));
    pIcon->setAlignment(Qt::AlignTop);
    pLayout->addWidget(pIcon);
    QVBoxLayout* pText = new QVBoxLayout();
    QLabel* pVersion = new QLabel(tr("Ravendo %1").arg(RVD_PRODUCT_VERSION), this);
    pVersion->setObjectName("labelVersion");
    QLabel* pVisit = new QLabel(tr("For the lastest product information,please visit:"), this);
    pVisit->setObjectName("labelVisit");
    QLabel* pAddress = new QLabel(QString("<a href=\"%1\">%1</a>").arg(RVD_PRODUCT_SITE), this);
    pAddress->setObjectName("labelAddress");
    pAddress->setOpenExternalLinks(true);
    QFrame* pLine = new QFrame(this);
    pLine->setObjectName("line");
    pLine->setFrameShape(QFrame::HLine);
    QLabel* pNotice = new QLabel(tr("Ravendo only reads the disk it recovers from; it never writes to it."), this);
    pNotice->setObjectName("labelNotice");
    pNotice->setWordWrap(true);
    m_pPushButton = new CImagePushButton(this);
    m_pPushButton->setObjectName("pushButton");
    m_pPushButton->SetImagePath(parser.GetImagePathList("OKImage"));
    pText->addWidget(pVersion);
    pText->addWidget(pVisit);
    pText->addWidget(pAddress);
    pText->addWidget(pLine);
    pText->addWidget(pNotice);
    pText->addWidget(m_pPushButton, 0, Qt::AlignRight);
    pLayout->addLayout(pText);
    connect(m_pPushButton, &QPushButton::released, this, &CAboutDlg::OKClick);
}

void CAboutDlg::OKClick()
{
    close();
}
