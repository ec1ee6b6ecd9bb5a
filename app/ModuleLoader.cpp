#include "ModuleLoader.h"

#include <map>
#include <mutex>
#include <string>

#include "Charset.h"
#include "SharedModule.h"

namespace {

struct MODULE_ENTRY {
    void* hModule = nullptr;                   // dlopen handle; null for a registered factory
    PFN_CREATE_INSTANCE pfnCreate = nullptr;
    void* pInstance = nullptr;                 // the object the factory gave, once it gave one
};

// Built on first use, so a module loaded from a static initialiser still finds them; never
// destroyed, since modules (and the objects they handed out) live until the process ends.
std::mutex& ModuleMapLock()
{
    static std::mutex* pLock = new std::mutex;
    return *pLock;
}

std::map<std::u16string, MODULE_ENTRY>& ModuleMap()
{
    static auto* pMap = new std::map<std::u16string, MODULE_ENTRY>;
    return *pMap;
}

// Loads lib<Name>.so from the program's folder (or RAVENDO_MODULE_DIR) and resolves its factory;
// false (nothing kept loaded) when either fails.
bool LoadModule(const std::u16string& strName, MODULE_ENTRY& entry)
{
    // A name is a bare module name: anything that could climb out of the program's folder is
    // not one.
    const std::string strUtf8 = rvd::Utf16ToUtf8(strName);
    if (strUtf8.empty() || strUtf8.find('/') != std::string::npos)
        return false;
    // No anchor: the GUI's modules lie beside the program, not beside this code.
    void* pfnCreate = nullptr;
    void* hModule = rvdplat::OpenSharedModuleWithSymbol(strUtf8, rvdplat::ModuleSearchFolders(nullptr),
                                                        "CreateInstance", &pfnCreate, nullptr);
    if (!hModule)
        return false;
    entry.hModule = hModule;
    entry.pfnCreate = reinterpret_cast<PFN_CREATE_INSTANCE>(pfnCreate);
    return true;
}

} // namespace

void* CreateModuleInstance(const WCHAR* pszModuleName)
{
    std::lock_guard<std::mutex> guard(ModuleMapLock());
    if (!pszModuleName)
        return nullptr;
    const std::u16string strName(pszModuleName);
    auto& mapModules = ModuleMap();
    auto it = mapModules.find(strName);
    if (it == mapModules.end()) {
        MODULE_ENTRY entry;
        if (!LoadModule(strName, entry))
            return nullptr;
        it = mapModules.emplace(strName, entry).first;
    }
    MODULE_ENTRY& entry = it->second;
    // The factory runs under the lock, so two threads asking at once still get one object.
    if (!entry.pInstance && entry.pfnCreate)
        entry.pInstance = entry.pfnCreate();
    return entry.pInstance;
}

void RegisterModuleFactory(const WCHAR* pszModuleName, PFN_CREATE_INSTANCE pfnFactory)
{
    std::lock_guard<std::mutex> guard(ModuleMapLock());
    if (!pszModuleName)
        return;
    const std::u16string strName(pszModuleName);
    auto& mapModules = ModuleMap();
    if (!pfnFactory) {
        mapModules.erase(strName);
        return;
    }
    MODULE_ENTRY& entry = mapModules[strName];
    entry.pfnCreate = pfnFactory;
    entry.pInstance = nullptr;
}
