// One QApplication for the whole preview test program.
#include <QApplication>
#include <gtest/gtest.h>

namespace {

class CPreviewEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int nArgc = 1;
        static char szName[] = "test_preview";
        static char* apszArgv[] = {szName, nullptr};
        m_pApp = new QApplication(nArgc, apszArgv);
    }
    void TearDown() override { delete m_pApp; }

private:
    QApplication* m_pApp = nullptr;
};

const ::testing::Environment* const g_pEnv = ::testing::AddGlobalTestEnvironment(new CPreviewEnvironment);

} // namespace
