#include "CrashHandler.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include <cinttypes>
#include <cstdlib>

#include "CrashReport.h"
#include "FatalError.h"
#include "MemoryStatus.h"
#include "MessageTable.h"
#include "Pubic.h"
#include "Veskel.h"

namespace {

// Built before main: faults during start-up are reported too.
CCrashHandler g_crashHandler;

constexpr uint32_t kOutOfMemoryCode = 0xE0000001;

} // namespace

CCrashHandler::CCrashHandler()
{
    rvdplat::InstallCrashReportHandler(nullptr);
    SetFatalOutOfMemoryHandler(OnFatalOutOfMemory);
}

int OutOfMemoryMessageNumber(int nScanRaw)
{
    return nScanRaw != 0 ? 9 : 8;
}

void LogMemoryStatus()
{
    rvdplat::MEMORY_STATUS status {};
    if (!rvdplat::QueryMemoryStatus(&status)) {
        LogInfo("Failed to query memory status.");
        return;
    }
    LogInfo("User memory:");
    LogInfo("Total physical memory:%4" PRIu64 " MB\tAvailable physical memory:%4" PRIu64 " MB", status.ullTotalPhys >> 20,
            status.ullAvailPhys >> 20);
    LogInfo("Total   page    files:%4" PRIu64 " MB\tAvailable    page   files:%4" PRIu64 " MB",
            status.ullTotalPageFile >> 20, status.ullAvailPageFile >> 20);
}

void OnFatalOutOfMemory(size_t nBytes)
{
    const int nMessage = OutOfMemoryMessageNumber(CPubic::GetGlobalAdvanceSettingData().m_bScanRaw);
    // Widgets live on the GUI thread only: a scan thread that ran out of memory asks the GUI
    // thread to show the message and waits until the user has read it.
    auto showMessage = [nMessage] {
        QMessageBox box(QMessageBox::Warning, TrMessage(2), TrMessage(nMessage), QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::NoButton);
        box.exec();
    };
    if (QApplication* pApp = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        if (QThread::currentThread() == pApp->thread())
            showMessage();
        else
            QMetaObject::invokeMethod(pApp, showMessage, Qt::BlockingQueuedConnection);
    }
    LogInfo("Caught an excetpion! Exception Code:%08x Address:%08x (%zu bytes)", kOutOfMemoryCode, 0u, nBytes);
    LogMemoryStatus();
    if (rvdplat::WriteCrashReport(0, nullptr, kOutOfMemoryCode) < 0)
        LogInfo("Failed to process the exception!");
    CloseLog();
    std::abort();
}
