#include "SharedModule.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace rvdplat {

namespace {

std::string FolderOf(const std::string& strPath)
{
    const size_t nSlash = strPath.rfind('/');
    return nSlash == std::string::npos ? std::string() : strPath.substr(0, nSlash + 1);
}

std::string FolderOfObjectHolding(const void* pAnchor)
{
    Dl_info info{};
    if (pAnchor == nullptr || dladdr(pAnchor, &info) == 0 || info.dli_fname == nullptr)
        return std::string();
    // For the program itself the loader names the file as it was started (argv[0]).
    char szResolved[PATH_MAX];
    if (realpath(info.dli_fname, szResolved) == nullptr)
        return FolderOf(info.dli_fname);
    return FolderOf(szResolved);
}

void AppendError(std::string* pstrErrors, const std::string& strError)
{
    if (pstrErrors == nullptr)
        return;
    if (!pstrErrors->empty())
        *pstrErrors += "; ";
    *pstrErrors += strError;
}

void* OpenModule(const std::string& strName, const std::vector<std::string>& vecFolders, std::string* pstrPath,
                 std::string* pstrError)
{
    std::string strErrors;
    const std::string strFile = "lib" + strName + ".so";
    for (const std::string& strFolder : vecFolders) {
        const std::string strPath = strFolder + strFile;
        if (access(strPath.c_str(), F_OK) != 0) {
            AppendError(&strErrors, strPath + " does not exist");
            continue;
        }
        void* hModule = dlopen(strPath.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (hModule != nullptr) {
            if (pstrPath != nullptr)
                *pstrPath = strPath;
            return hModule;
        }
        const char* pszError = dlerror();
        AppendError(&strErrors, pszError != nullptr ? pszError : strPath + " could not be loaded");
    }
    if (pstrError != nullptr)
        *pstrError = strErrors.empty() ? "no module folder is known" : strErrors;
    return nullptr;
}

} // namespace

std::string ProgramFolder()
{
    char szExe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", szExe, sizeof(szExe) - 1);
    if (n <= 0)
        return std::string();
    szExe[n] = 0;
    return FolderOf(szExe);
}

std::vector<std::string> ModuleSearchFolders(const void* pAnchor)
{
    std::vector<std::string> vecFolders;
    if (const char* pszDir = std::getenv("RAVENDO_MODULE_DIR"); pszDir != nullptr && *pszDir != 0) {
        std::string strDir = pszDir;
        if (strDir.back() != '/')
            strDir += '/';
        vecFolders.push_back(strDir);
        return vecFolders;
    }
    const std::string strOwn = FolderOfObjectHolding(pAnchor);
    if (!strOwn.empty())
        vecFolders.push_back(strOwn);
    const std::string strProgram = ProgramFolder();
    if (!strProgram.empty() && strProgram != strOwn)
        vecFolders.push_back(strProgram);
    return vecFolders;
}

void* OpenSharedModule(const std::string& strName, const std::vector<std::string>& vecFolders, std::string* pstrError)
{
    return OpenModule(strName, vecFolders, nullptr, pstrError);
}

void* OpenSharedModuleWithSymbol(const std::string& strName, const std::vector<std::string>& vecFolders,
                                 const char* pszSymbol, void** ppSymbol, std::string* pstrError)
{
    std::string strPath;
    void* hModule = OpenModule(strName, vecFolders, &strPath, pstrError);
    if (hModule == nullptr)
        return nullptr;
    void* pSymbol = FindModuleSymbol(hModule, pszSymbol);
    if (pSymbol == nullptr) {
        CloseSharedModule(hModule);
        if (pstrError != nullptr)
            *pstrError = strPath + " has no " + pszSymbol;
        return nullptr;
    }
    if (ppSymbol != nullptr)
        *ppSymbol = pSymbol;
    return hModule;
}

void* FindModuleSymbol(void* hModule, const char* pszSymbol)
{
    return hModule != nullptr && pszSymbol != nullptr ? dlsym(hModule, pszSymbol) : nullptr;
}

void CloseSharedModule(void* hModule)
{
    if (hModule != nullptr)
        dlclose(hModule);
}

} // namespace rvdplat
