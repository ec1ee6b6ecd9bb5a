// Modules (shared objects) loaded by their bare name: "Corrand" is the file libCorrand.so, looked
// for in a short list of folders rather than through the loader's library path, so that the
// program, the engine and the modules all reach the same file and so the one object it hands out.
// Every module is opened RTLD_NOW | RTLD_LOCAL: a missing dependency shows at load time, and two
// modules never see each other's symbols.
#pragma once

#include <string>
#include <vector>

namespace rvdplat {

// Folders searched for a module, in order, each ending in '/': the folder named by
// RAVENDO_MODULE_DIR alone when that is set and not empty; otherwise the folder of the loaded
// object (shared library or program) holding the address pAnchor (left out when pAnchor is null
// or the object is not known), then the running program's folder when that is another one.
std::vector<std::string> ModuleSearchFolders(const void* pAnchor);

// The running program's folder, ending in '/'; empty when it cannot be told.
std::string ProgramFolder();

// Loads lib<strName>.so from the first of vecFolders (each ending in '/') that holds one which
// loads. Null when none does, with *pstrError (when given) listing every folder tried, "; "
// between them: "<path> does not exist", or the loader's own message for a file that would not
// load; "no module folder is known" for an empty list.
void* OpenSharedModule(const std::string& strName, const std::vector<std::string>& vecFolders,
                       std::string* pstrError);

// OpenSharedModule, then the address of pszSymbol in it. A module without the symbol is closed
// again at once (nothing of it was used, and keeping it would only pile up references) and null
// returned, with "<path> has no <symbol>" as the error.
void* OpenSharedModuleWithSymbol(const std::string& strName, const std::vector<std::string>& vecFolders,
                                 const char* pszSymbol, void** ppSymbol, std::string* pstrError);

// The address of pszSymbol in an open module; null when it has none.
void* FindModuleSymbol(void* hModule, const char* pszSymbol);

// Drops one reference to an open module; a null handle is ignored.
void CloseSharedModule(void* hModule);

} // namespace rvdplat
