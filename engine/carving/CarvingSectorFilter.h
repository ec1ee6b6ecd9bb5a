// Which sectors the carving has to look at, decided from the analysers' lead bytes and key bytes
// alone: the read-ahead cache runs this test over each block while the block is still in the
// cache of the processor that read it, and the raw search controller then tries its analysers
// only on the sectors marked.
//
// The test reads a table of the process's own, as the analyser list it is made from is the
// process's own. The table is made when a carving scan begins, before any block is read, and is
// not changed while blocks are read; until it is first made, every sector passes.
#pragma once

#include <cstdint>
#include <vector>

#include "EngineMemory.h"
#include "RawFileAnalyser.h"

// Makes the table from the scan's analyser list (in list order).
void SetCarvingSectorTable(const std::vector<IRawFileAnalyser*, CEngineAllocator<IRawFileAnalyser*>>& analysers);
// True when some analyser of the list could take the 512-byte sector as a file's first sector
// (more sectors may pass than any analyser takes, never fewer). A sector starting with four
// zero bytes never passes.
bool MayStartCarvedFile(const uint8_t* pSector);
