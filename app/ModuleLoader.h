// The GUI program's one way to the engine and the outside modules (Delvar, Ombrel, Corrand,
// Tessary). A module is named by its bare name, loaded once as lib<Name>.so from the program's
// folder (RAVENDO_MODULE_DIR overrides the folder), and asked once for its interface object
// through its exported factory "CreateInstance". Every later call for the same name returns
// that same object: the result page and the engine rely on reaching one result store, the
// result page and the copy-out page one copy-out object. Modules are never unloaded.
#pragma once

#include "WinTypes.h"

// extern "C" void* CreateInstance(): the factory every module exports.
typedef void* (*PFN_CREATE_INSTANCE)();

// The module's interface object (the caller casts it to the interface it expects), or null when
// the name is null, the module cannot be loaded, it has no factory, or its factory gave null.
// Names are compared exactly (case-sensitive). Safe to call from any thread; a factory must
// not call back into the loader.
void* CreateModuleInstance(const WCHAR* pszModuleName);

// Test hook: the next CreateModuleInstance of this name calls pfnFactory (once) instead of
// loading a file, and forgets any object the name had. A null factory removes the name, so the
// next call loads the module from disk again.
void RegisterModuleFactory(const WCHAR* pszModuleName, PFN_CREATE_INSTANCE pfnFactory);
