// Addresses of the settings singleton's objects as seen from inside another shared library.
#pragma once

extern "C" {
const void* ProbeInstance();
const void* ProbeIniParser();
const void* ProbeScanTypeFilter();
const void* ProbeGlobalAdvanceSettingData();
}
