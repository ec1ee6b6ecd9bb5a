// The program's last line of defence. A processor fault or an abort anywhere in the process
// writes a crash report next to the executable (RVDCrash<n>.dmp) before the process ends. An
// allocation the engine cannot satisfy is reported to the user first: with raw carving on, the
// advice to untick it; otherwise that the program must close. That message is shown on the GUI
// thread; the thread that ran out of memory waits for it, writes the report and ends.
#pragma once

#include <cstddef>

class CCrashHandler {
public:
    CCrashHandler();
    CCrashHandler(const CCrashHandler&) = delete;
    CCrashHandler& operator=(const CCrashHandler&) = delete;
};

// The engine's out-of-memory hook: tells the user, logs, writes the report, ends the process.
[[noreturn]] void OnFatalOutOfMemory(size_t nBytes);

// The message for an allocation failure: entry 9 (untick raw carving) when the raw switch is
// on, else entry 8.
int OutOfMemoryMessageNumber(int nScanRaw);

// The crash report lines and the memory block written to the log.
void LogMemoryStatus();
