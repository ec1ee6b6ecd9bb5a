#include "WidgetTestEnvironment.h"

#include <QApplication>
#include <QDir>
#include <gtest/gtest.h>

#include "Pubic.h"
#include "TestSupport.h"

namespace widgettest {

QString SkinImage(const QString& strName)
{
    return QString::fromStdString(rvdtest::OutputDir()) + "/Resources/Images/" + strName;
}

namespace {

class CWidgetEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int nArgc = 1;
        static char szName[] = "test_widgets";
        static char* apszArgv[] = {szName, nullptr};
        m_pApp = new QApplication(nArgc, apszArgv);
        // The program reads its skin relative to its working directory; the settings library
        // opened UIConfig.ini before main, in the test's own folder, so it is opened again here.
        ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(rvdtest::OutputDir())));
        CPubic::GetIniParser() = CConfigParser("UIConfig.ini");
    }
    void TearDown() override
    {
        delete m_pApp;
        m_pApp = nullptr;
    }

private:
    QApplication* m_pApp = nullptr;
};

const auto* g_pEnvironment = ::testing::AddGlobalTestEnvironment(new CWidgetEnvironment);

} // namespace
} // namespace widgettest
