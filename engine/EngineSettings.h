// Read access to the shared scan settings and the start-sector override of the block scan.
#pragma once

#include <cstdint>

class CGlobalAdvanceSettingData;

// The process-wide scan settings record of the common library; never null. The engine only
// reads it, at the moment it needs a value; the GUI writes it before a scan starts.
CGlobalAdvanceSettingData* GetEngineSettings();

// Sector at which the block scan and the read-ahead cache start: key "pos" of section "main"
// of the debugging override file (named by RAVENDO_DEBUG_CONFIG). 0 when the file, the key
// or a number is missing. Read afresh at every call.
int64_t EngineStartPosition();
