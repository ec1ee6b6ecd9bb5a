#include "StartUp.h"

#include <QLibraryInfo>

#include "CrashHandler.h"
#include "ProcessGuard.h"
#include "ProductVersion.h"
#include "Time.h"
#include "UIRoutines.h"
#include "Veskel.h"

bool IsAdministrator()
{
    return rvdplat::IsDiskAdministrator();
}

void InitLogging()
{
    char szDirectory[520] = {};
    std::string strLogPath;
    if (GetModuleDirectory(szDirectory, sizeof(szDirectory)))
        strLogPath = std::string(szDirectory) + "RVDLog.log";
    InitLog(strLogPath.c_str(), 2, 0);
    LogInfo("%s %s (built %s)", RVD_PRODUCT_NAME, RVD_PRODUCT_VERSION, RVD_PRODUCT_BUILD_DATE);
    SYSTEMTIME st {};
    rvd::GetLocalTime(st);
    LogInfo("Generated Time: %02d/%02d/%d %02d:%02d:%02d", st.wMonth, st.wDay, st.wYear, st.wHour, st.wMinute, st.wSecond);
    LogMemoryStatus();
    const std::string strSystem = rvdplat::OperatingSystemText();
    if (strSystem.empty())
        LogInfo("Unknown operating system!");
    else
        LogInfo("Operation System - %s", strSystem.c_str());
    LogInfo("System Directory - %s", QLibraryInfo::location(QLibraryInfo::LibrariesPath).toUtf8().constData());
    LogInfo("Install - %s", szDirectory);
}
