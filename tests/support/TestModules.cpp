#include "TestModules.h"

#include "TestSupport.h"

namespace rvdtest {

void* OpenModule(const std::string& strName, const std::string& strDir, std::string* pstrError)
{
    const std::string strPath = (strDir.empty() ? OutputDir() : strDir) + "/lib" + strName + ".so";
    void* hModule = dlopen(strPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (hModule == nullptr && pstrError != nullptr) {
        const char* pszError = dlerror();
        *pstrError = pszError != nullptr ? pszError : "cannot open " + strPath;
    }
    return hModule;
}

} // namespace rvdtest
