// The copy-out module's way to the result store: libCorrand.so, loaded by its bare name the way
// the program and the engine load it (from RAVENDO_MODULE_DIR when set, else from this module's
// own folder, else from the program's), so that all three reach the one store object of the
// process and see the same tick states. The module is kept loaded for the rest of the process.
#pragma once

#include <string>

#include "ResultStoreAccess.h"

namespace tessary {

// The store's read interface, or null with the reason in *pstrError.
IResultStoreAccess* LoadResultStoreAccess(std::string* pstrError);

} // namespace tessary
