#include "ResultStoreLoader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace tessary {

namespace {

std::string FolderOf(const std::string& strPath)
{
    const size_t nSlash = strPath.rfind('/');
    return nSlash == std::string::npos ? std::string() : strPath.substr(0, nSlash + 1);
}

// Folder of the object file (this module, or a program linking this code) that holds this code.
std::string OwnFolder()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&OwnFolder), &info) == 0 || info.dli_fname == nullptr)
        return std::string();
    char szResolved[PATH_MAX];
    if (realpath(info.dli_fname, szResolved) == nullptr)
        return FolderOf(info.dli_fname);
    return FolderOf(szResolved);
}

std::string ProgramFolder()
{
    char szExe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", szExe, sizeof(szExe) - 1);
    if (n <= 0)
        return std::string();
    szExe[n] = 0;
    return FolderOf(szExe);
}

std::vector<std::string> ModuleFolders()
{
    std::vector<std::string> vecFolders;
    if (const char* pszDir = std::getenv("RAVENDO_MODULE_DIR"); pszDir != nullptr && *pszDir != 0) {
        std::string strDir = pszDir;
        if (strDir.back() != '/')
            strDir += '/';
        vecFolders.push_back(strDir);
        return vecFolders;
    }
    const std::string strOwn = OwnFolder();
    if (!strOwn.empty())
        vecFolders.push_back(strOwn);
    const std::string strProgram = ProgramFolder();
    if (!strProgram.empty() && strProgram != strOwn)
        vecFolders.push_back(strProgram);
    return vecFolders;
}

} // namespace

IResultStoreAccess* LoadResultStoreAccess(std::string* pstrError)
{
    static std::mutex lock;
    static IResultStoreAccess* pAccess = nullptr;
    std::lock_guard<std::mutex> guard(lock);
    if (pAccess != nullptr)
        return pAccess;
    std::string strErrors;
    for (const std::string& strFolder : ModuleFolders()) {
        const std::string strPath = strFolder + "libCorrand.so";
        if (access(strPath.c_str(), F_OK) != 0) {
            strErrors += (strErrors.empty() ? "" : "; ") + strPath + " does not exist";
            continue;
        }
        void* hModule = dlopen(strPath.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (hModule == nullptr) {
            const char* pszError = dlerror();
            strErrors += (strErrors.empty() ? "" : "; ") + std::string(pszError ? pszError : strPath.c_str());
            continue;
        }
        auto pfnGet = reinterpret_cast<PFN_GET_RESULT_STORE_ACCESS>(dlsym(hModule, "GetResultStoreAccess"));
        IResultStoreAccess* p = pfnGet != nullptr ? pfnGet() : nullptr;
        if (p == nullptr) {
            dlclose(hModule);
            strErrors += (strErrors.empty() ? "" : "; ") + strPath + " gives no result store";
            continue;
        }
        // Kept loaded: the engine may unload its own reference when its object goes away.
        pAccess = p;
        return pAccess;
    }
    if (pstrError != nullptr)
        *pstrError = strErrors.empty() ? "no module folder is known" : strErrors;
    return nullptr;
}

} // namespace tessary
