// The engine's own loader for the result store module Corrand: loaded once by its bare name
// (lib<Name>.so) and kept in a name -> handle map under one lock, so that every Init reaches the
// same store object that the GUI program's loader hands out, and unloaded when the engine
// object goes away.
//
// Where it is looked for: the folder named by RAVENDO_MODULE_DIR when that is set; otherwise the
// folder of the module holding the engine (libDelvar.so, or the program the engine is linked
// into), then the folder of the running program.
#pragma once

#include <string>
#include <vector>

class ICorrand;

// Loads "Corrand" unless already loaded and returns what its CreateInstance gives; null when the
// module or its factory is missing (nothing stays loaded then).
ICorrand* LoadResultStoreModule();

// Unloads "Corrand" when it is loaded; calls nothing of the store first.
void UnloadResultStoreModule();

// True while "Corrand" is in the map.
bool IsResultStoreModuleLoaded();

// Folders searched for a module, in order, each ending in '/'.
std::vector<std::string> GetEngineModuleFolders();
