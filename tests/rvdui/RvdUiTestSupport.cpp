#include "RvdUiTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSettings>
#include <QStackedWidget>
#include <gtest/gtest.h>

#include "ImagePushButton.h"
#include "Pubic.h"
#include "TestSupport.h"
#include "Wizard.h"
#include "WizardPage.h"

namespace rvduitest {

namespace {

QString g_strWorkDir;

QString Fixture(const char* pszName)
{
    return QString::fromStdString(rvdtest::FixturePath(pszName));
}

class CRvdUiEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        m_pTemp = new rvdtest::CTempDir();
        g_strWorkDir = QString::fromStdString(m_pTemp->Path());
        // Disk 0 a FAT16 volume, disk 1 a GPT disk, disks 2 to 4 a dynamic-disk group. The
        // modules read this list once, when they are first loaded.
        const QString strDisks = QStringList{Fixture("fat16.img"), Fixture("gpt.img"), Fixture("dyn-mbr-1.img"),
                                             Fixture("dyn-mbr-2.img"), Fixture("dyn-mbr-3.img")}
                                     .join(':');
        qputenv("RAVENDO_DISKS", strDisks.toUtf8());
        qputenv("RAVENDO_RESULT_DB", (g_strWorkDir + "/Corrand.db").toUtf8());
        qputenv("RAVENDO_LOG_FILE", (g_strWorkDir + "/RVDLog.log").toUtf8());

        static int nArgc = 1;
        static char szName[] = "test_rvdui";
        static char* apszArgv[] = {szName, nullptr};
        m_pApp = new QApplication(nArgc, apszArgv);

        const QString strOut = QString::fromStdString(rvdtest::OutputDir());
        QDir work(g_strWorkDir);
        ASSERT_TRUE(work.mkpath("Resources"));
        ASSERT_TRUE(QFile::copy(strOut + "/UIConfig.ini", g_strWorkDir + "/UIConfig.ini"));
        ASSERT_TRUE(QFile::copy(strOut + "/rvd.qss", g_strWorkDir + "/rvd.qss"));
        ASSERT_TRUE(QFile::link(strOut + "/Resources/Images", g_strWorkDir + "/Resources/Images"));
        ASSERT_TRUE(QFile::link(strOut + "/Resources/Icons", g_strWorkDir + "/Resources/Icons"));
        ASSERT_TRUE(QDir::setCurrent(g_strWorkDir));
        ResetCatalogue();
        // The settings library opened UIConfig.ini before main, in the test's starting folder.
        CPubic::GetIniParser() = CConfigParser("UIConfig.ini");
        m_pApp->setStyleSheet("file:///rvd.qss");
    }
    void TearDown() override
    {
        QDir::setCurrent(QDir::tempPath());
        delete m_pApp;
        m_pApp = nullptr;
        delete m_pTemp;
    }

private:
    QApplication* m_pApp = nullptr;
    rvdtest::CTempDir* m_pTemp = nullptr;
};

const auto* g_pEnvironment = ::testing::AddGlobalTestEnvironment(new CRvdUiEnvironment);

} // namespace

QString WorkDir()
{
    return g_strWorkDir;
}

void ResetCatalogue()
{
    const QString strTarget = g_strWorkDir + "/Resources/TypeInfo.xml";
    QFile::remove(strTarget);
    ASSERT_TRUE(QFile::copy(QString::fromStdString(rvdtest::SourceDir()) + "/resources/TypeInfo.xml", strTarget));
    QFile::setPermissions(strTarget, QFile::ReadOwner | QFile::WriteOwner);
}

CWizardPage* CurrentPage(CWizard* pWizard)
{
    QStackedWidget* pStack = pWizard->findChild<QStackedWidget*>();
    return pStack != nullptr ? qobject_cast<CWizardPage*>(pStack->currentWidget()) : nullptr;
}

int CurrentIndex(CWizard* pWizard)
{
    QStackedWidget* pStack = pWizard->findChild<QStackedWidget*>();
    return pStack != nullptr ? pStack->currentIndex() : -1;
}

void SaveScreenshot(QWidget* pWidget, const QString& strName)
{
    QDir().mkpath(RVD_SCREENSHOT_DIR);
    pWidget->grab().save(QString(RVD_SCREENSHOT_DIR) + "/" + strName + ".png");
}

void ExpectSkinnedButtonsDrawn(QWidget* pWidget, const QString& strWhere)
{
    const QList<CImagePushButton*> listButtons = pWidget->findChildren<CImagePushButton*>();
    for (CImagePushButton* pButton : listButtons) {
        if (!pButton->isVisibleTo(pWidget))
            continue;
        EXPECT_GT(pButton->width(), 0) << strWhere.toStdString() << " " << pButton->objectName().toStdString();
        EXPECT_GT(pButton->height(), 0) << strWhere.toStdString() << " " << pButton->objectName().toStdString();
        EXPECT_FALSE(pButton->icon().isNull()) << strWhere.toStdString() << " " << pButton->objectName().toStdString();
    }
}

void ExpectNoSkinKeysShown(QWidget* pWidget, const QString& strWhere)
{
    QSettings ini("UIConfig.ini", QSettings::IniFormat);
    QStringList listKeys;
    for (const char* pszGroup : {"Image", "Icon", "Text"}) {
        ini.beginGroup(pszGroup);
        listKeys << ini.childKeys();
        ini.endGroup();
    }
    QStringList listTexts;
    for (QLabel* pLabel : pWidget->findChildren<QLabel*>()) {
        if (pLabel->isVisibleTo(pWidget))
            listTexts << pLabel->text();
    }
    for (QAbstractButton* pButton : pWidget->findChildren<QAbstractButton*>()) {
        if (pButton->isVisibleTo(pWidget))
            listTexts << pButton->text();
    }
    listTexts << pWidget->windowTitle();
    for (const QString& strText : listTexts) {
        EXPECT_FALSE(listKeys.contains(strText.trimmed())) << strWhere.toStdString() << " shows the key " << strText.toStdString();
    }
}

CMessageBoxWatcher::CMessageBoxWatcher(QMessageBox::StandardButton nAnswer)
    : m_nAnswer(nAnswer)
{
    connect(&m_timer, &QTimer::timeout, this, &CMessageBoxWatcher::Poll);
    m_timer.start(20);
}

void CMessageBoxWatcher::Poll()
{
    QMessageBox* pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (pBox == nullptr || !pBox->isVisible())
        return;
    m_listTexts << pBox->text();
    QAbstractButton* pButton = pBox->button(m_nAnswer);
    if (pButton == nullptr && !pBox->buttons().isEmpty())
        pButton = pBox->buttons().first();
    if (pButton != nullptr)
        pButton->click();
    else
        pBox->reject();
}

} // namespace rvduitest
