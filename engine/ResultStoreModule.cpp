#include "ResultStoreModule.h"

#include <map>
#include <mutex>
#include <string>

#include "ICorrand.h"
#include "SharedModule.h"
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

} // namespace

std::vector<std::string> GetEngineModuleFolders()
{
    return rvdplat::ModuleSearchFolders(reinterpret_cast<const void*>(&GetEngineModuleFolders));
}

ICorrand* LoadResultStoreModule()
{
    std::lock_guard<std::mutex> guard(ModuleMapLock());
    auto& map = ModuleMap();
    auto it = map.find(RESULT_STORE_MODULE_NAME);
    if (it == map.end()) {
        // Only a module whose factory was found is ever kept: one without it is closed again.
        std::string strError;
        void* hModule = rvdplat::OpenSharedModuleWithSymbol(RESULT_STORE_MODULE_NAME, GetEngineModuleFolders(),
                                                            "CreateInstance", nullptr, &strError);
        if (hModule == nullptr) {
            LogInfo("Failed to load %s: %s", RESULT_STORE_MODULE_NAME, strError.c_str());
            return nullptr;
        }
        it = map.emplace(RESULT_STORE_MODULE_NAME, hModule).first;
    }
    auto pfnCreate =
        reinterpret_cast<PFN_MODULE_CREATE_INSTANCE>(rvdplat::FindModuleSymbol(it->second, "CreateInstance"));
    return pfnCreate != nullptr ? static_cast<ICorrand*>(pfnCreate()) : nullptr;
}

void UnloadResultStoreModule()
{
    std::lock_guard<std::mutex> guard(ModuleMapLock());
    auto& map = ModuleMap();
    auto it = map.find(RESULT_STORE_MODULE_NAME);
    if (it == map.end())
        return;
    rvdplat::CloseSharedModule(it->second);
    map.erase(it);
}

bool IsResultStoreModuleLoaded()
{
    std::lock_guard<std::mutex> guard(ModuleMapLock());
    return ModuleMap().count(RESULT_STORE_MODULE_NAME) != 0;
}
