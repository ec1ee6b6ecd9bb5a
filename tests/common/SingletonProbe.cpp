#include "SingletonProbe.h"

#include "Pubic.h"

extern "C" {
const void* ProbeInstance() { return &CPubic::Instance(); }
const void* ProbeIniParser() { return &CPubic::GetIniParser(); }
const void* ProbeScanTypeFilter() { return &CPubic::GetScanTypeFilter(); }
const void* ProbeGlobalAdvanceSettingData() { return &CPubic::GetGlobalAdvanceSettingData(); }
}
