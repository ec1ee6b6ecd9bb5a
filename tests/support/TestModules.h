// Modules of the output folder, loaded the way the program loads them: lib<Name>.so, opened
// privately and kept open; a second open of the same file gives the same module.
#pragma once

#include <dlfcn.h>

#include <string>

namespace rvdtest {

// lib<Name>.so of a folder (the output folder when strDir is empty); null, with the loader's
// message in *pstrError when given, when it cannot be opened.
void* OpenModule(const std::string& strName, const std::string& strDir = std::string(),
                 std::string* pstrError = nullptr);

// A C export of an opened module as a function of type PFN; null when the module lacks it.
template <typename PFN>
PFN ModuleExport(void* hModule, const char* pszExport)
{
    return hModule != nullptr ? reinterpret_cast<PFN>(dlsym(hModule, pszExport)) : nullptr;
}

// The one object that a module's CreateInstance hands out; null when the module cannot be
// opened or has no factory.
template <typename T>
T* CreateModuleInstance(const std::string& strName)
{
    auto pfnCreate = ModuleExport<void* (*)()>(OpenModule(strName), "CreateInstance");
    return pfnCreate != nullptr ? static_cast<T*>(pfnCreate()) : nullptr;
}

} // namespace rvdtest
