// Process-wide reaction to an allocation that cannot be satisfied. The engine's memory
// routines do not return on out-of-memory; they hand the request size to this hook, which
// the GUI's crash handler replaces with its own reporter. Without a handler the process
// writes one line to stderr and aborts.
#pragma once

#include <cstddef>

#include "CRVDPublicExport.h"

// A handler may write a report; it should not return. If it does, the process aborts anyway.
typedef void (*PFN_FATAL_OUT_OF_MEMORY)(size_t nBytes);

// Installs pfnHandler (null restores the default) and returns the previous handler
// (null when the default was in force). Safe to call from any thread.
CRVDPUBLIC_API PFN_FATAL_OUT_OF_MEMORY SetFatalOutOfMemoryHandler(PFN_FATAL_OUT_OF_MEMORY pfnHandler);

// The installed handler, null when the default is in force.
CRVDPUBLIC_API PFN_FATAL_OUT_OF_MEMORY GetFatalOutOfMemoryHandler();

// Reports that nBytes could not be allocated and ends the process.
[[noreturn]] CRVDPUBLIC_API void RaiseFatalOutOfMemory(size_t nBytes);
