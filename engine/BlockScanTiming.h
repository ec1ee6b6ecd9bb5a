// The wall-clock time and the bytes of the block scans run in this process, summed over every
// scan since the start (or the last reset): the benchmark compares them with a plain read of the
// same bytes. Only the block scan itself is counted, not the tree building or the hand-over to
// the result store that follow it.
#pragma once

#include <cstdint>

void AddBlockScanTiming(double dSeconds, uint64_t ullBytes);
void GetBlockScanTiming(double* pdSeconds, uint64_t* pullBytes);
void ResetBlockScanTiming();
