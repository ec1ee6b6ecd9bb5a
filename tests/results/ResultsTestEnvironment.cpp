// One QApplication for the whole test program, in a scratch working folder that holds the
// default skin (as the program's own folder does), so pages draw as the program draws them.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include "Pubic.h"
#include "TestSupport.h"

namespace {

class CResultsEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int nArgc = 1;
        static char szName[] = "test_results";
        static char* apszArgv[] = {szName, nullptr};
        m_pApp = new QApplication(nArgc, apszArgv);

        m_pWork = new rvdtest::CTempDir();
        const QString strWork = QString::fromStdString(m_pWork->Path());
        const QString strOut = QString::fromStdString(rvdtest::OutputDir());
        QDir(strWork).mkpath("Resources");
        QFile::copy(strOut + "/UIConfig.ini", strWork + "/UIConfig.ini");
        QFile::copy(strOut + "/rvd.qss", strWork + "/rvd.qss");
        QFile::link(strOut + "/Resources/Images", strWork + "/Resources/Images");
        QFile::link(strOut + "/Resources/Icons", strWork + "/Resources/Icons");
        ASSERT_TRUE(QDir::setCurrent(strWork));
        // The settings library opened UIConfig.ini before main, in the starting folder.
        CPubic::GetIniParser() = CConfigParser("UIConfig.ini");
        m_pApp->setStyleSheet("file:///rvd.qss");
    }
    void TearDown() override
    {
        QDir::setCurrent(QDir::tempPath());
        delete m_pApp;
        m_pApp = nullptr;
        delete m_pWork;
    }

private:
    QApplication* m_pApp = nullptr;
    rvdtest::CTempDir* m_pWork = nullptr;
};

const auto* g_pEnvironment = ::testing::AddGlobalTestEnvironment(new CResultsEnvironment);

} // namespace
