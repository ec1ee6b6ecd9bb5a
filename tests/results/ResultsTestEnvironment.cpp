// One QApplication for the whole test program (icons need a style and a platform).
#include <QApplication>
#include <gtest/gtest.h>

namespace {

class CAppEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int nArgc = 1;
        static char szName[] = "test_results";
        static char* apszArgv[] = {szName, nullptr};
        m_pApp = new QApplication(nArgc, apszArgv);
    }
    void TearDown() override
    {
        delete m_pApp;
        m_pApp = nullptr;
    }

private:
    QApplication* m_pApp = nullptr;
};

const auto* g_pEnvironment = ::testing::AddGlobalTestEnvironment(new CAppEnvironment);

} // namespace
