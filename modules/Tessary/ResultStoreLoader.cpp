#include "ResultStoreLoader.h"

#include <mutex>
#include <vector>

#include "SharedModule.h"

namespace tessary {

IResultStoreAccess* LoadResultStoreAccess(std::string* pstrError)
{
    static std::mutex lock;
    static IResultStoreAccess* pAccess = nullptr;
    std::lock_guard<std::mutex> guard(lock);
    if (pAccess != nullptr)
        return pAccess;
    std::string strErrors;
    const std::vector<std::string> vecFolders =
        rvdplat::ModuleSearchFolders(reinterpret_cast<const void*>(&LoadResultStoreAccess));
    // Folder by folder: a library there that gives no store does not end the search.
    for (const std::string& strFolder : vecFolders) {
        std::string strError;
        void* hModule = rvdplat::OpenSharedModule("Corrand", {strFolder}, &strError);
        if (hModule == nullptr) {
            strErrors += (strErrors.empty() ? "" : "; ") + strError;
            continue;
        }
        auto pfnGet = reinterpret_cast<PFN_GET_RESULT_STORE_ACCESS>(
            rvdplat::FindModuleSymbol(hModule, "GetResultStoreAccess"));
        IResultStoreAccess* p = pfnGet != nullptr ? pfnGet() : nullptr;
        if (p == nullptr) {
            rvdplat::CloseSharedModule(hModule);
            strErrors += (strErrors.empty() ? "" : "; ") + strFolder + "libCorrand.so gives no result store";
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
