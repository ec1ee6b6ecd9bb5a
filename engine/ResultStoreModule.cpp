#include "ResultStoreModule.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "ICorrand.h"
#include "Veskel.h"

namespace {

const char* const RESULT_STORE_MODULE_NAME = "Corrand";

typedef void* (*PFN_MODULE_CREATE_INSTANCE)();

// Built on first use and never destroyed: the engine object that unloads the store is itself
// destroyed at exit, possibly after this file's statics.
std::mutex& ModuleMapLock()
{
    static std::mutex* pLock = new std::mutex;
    return *pLock;
}

std::map<std::string, void*>& ModuleMap()
{
    static auto* pMap = new std::map<std::string, void*>;
    return *pMap;
}

std::string FolderOf(const std::string& strPath)
{
    const size_t nSlash = strPath.rfind('/');
    if (nSlash == std::string::npos)
        return std::string();
    return strPath.substr(0, nSlash + 1);
}

// Folder of the loaded object (shared library or program) that holds this code.
std::string EngineModuleFolder()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&EngineModuleFolder), &info) == 0 || info.dli_fname == nullptr)
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

void* OpenModule(const std::string& strName)
{
    const std::string strFile = "lib" + strName + ".so";
    for (const std::string& strFolder : GetEngineModuleFolders()) {
        const std::string strPath = strFolder + strFile;
        if (access(strPath.c_str(), F_OK) != 0)
            continue;
        void* hModule = dlopen(strPath.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (hModule != nullptr)
            return hModule;
        const char* pszError = dlerror();
        LogInfo("Failed to load %s: %s", strPath.c_str(), pszError ? pszError : "unknown error");
    }
    return nullptr;
}

} // namespace

std::vector<std::string> GetEngineModuleFolders()
{
    std::vector<std::string> folders;
    if (const char* pszDir = std::getenv("RAVENDO_MODULE_DIR"); pszDir != nullptr && *pszDir != 0) {
        std::string strDir = pszDir;
        if (strDir.back() != '/')
            strDir += '/';
        folders.push_back(strDir);
        return folders;
    }
    const std::string strEngine = EngineModuleFolder();
    if (!strEngine.empty())
        folders.push_back(strEngine);
    const std::string strProgram = ProgramFolder();
    if (!strProgram.empty() && strProgram != strEngine)
        folders.push_back(strProgram);
    return folders;
}

ICorrand* LoadResultStoreModule()
{
    std::lock_guard<std::mutex> guard(ModuleMapLock());
    auto& map = ModuleMap();
    auto it = map.find(RESULT_STORE_MODULE_NAME);
    void* hModule = it != map.end() ? it->second : nullptr;
    const bool bNewlyLoaded = hModule == nullptr;
    if (bNewlyLoaded) {
        hModule = OpenModule(RESULT_STORE_MODULE_NAME);
        if (hModule == nullptr)
            return nullptr;
    }
    auto pfnCreate = reinterpret_cast<PFN_MODULE_CREATE_INSTANCE>(dlsym(hModule, "CreateInstance"));
    if (pfnCreate == nullptr) {
        // Only a module whose factory was found is ever kept, so this one was just loaded:
        // nothing of it was used, and keeping it mapped would only pile up references.
        dlclose(hModule);
        return nullptr;
    }
    if (bNewlyLoaded)
        map[RESULT_STORE_MODULE_NAME] = hModule;
    return static_cast<ICorrand*>(pfnCreate());
}

void UnloadResultStoreModule()
{
    std::lock_guard<std::mutex> guard(ModuleMapLock());
    auto& map = ModuleMap();
    auto it = map.find(RESULT_STORE_MODULE_NAME);
    if (it == map.end())
        return;
    dlclose(it->second);
    map.erase(it);
}

bool IsResultStoreModuleLoaded()
{
    std::lock_guard<std::mutex> guard(ModuleMapLock());
    return ModuleMap().count(RESULT_STORE_MODULE_NAME) != 0;
}
