// What the program checks and writes before its window opens.
#pragma once

#include <QString>

// The name of the machine-wide single-instance lock.
inline constexpr const char* SINGLE_INSTANCE_NAME = "RVD 1.0 UI";

// Root, or a member of the group that owns the raw disks.
bool IsAdministrator();

// Opens the diagnostics log beside the program and writes the start-up block: the banner, the
// time, the memory figures, the operating system, the system's library folder and the program's
// folder.
void InitLogging();
