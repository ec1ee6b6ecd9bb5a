// The crash report: when the program dies of a processor fault or an abort, a text report is
// written next to the executable, to the first free name "RVDCrash<n>.dmp" (n from 0), before
// the process ends with the signal's default action (a core dump where the system keeps one).
//
// The report holds the signal, the faulting address, the thread, the memory figures, a
// backtrace and the process's memory map. Everything it does from the signal handler is
// async-signal-safe: open/write/read/close on fixed buffers, no allocation, no lock, no stdio.
// No window is shown from the faulting thread.
//
// Faults inside an rvd::RunGuarded call never get here: the guard's handler, installed after
// this one, takes them and chains to this one only for faults outside every guard.
#pragma once

#include <cstdint>

namespace rvdplat {

// Installs the handler for SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT, writing reports into
// pszFolder (ending in '/'; the program's folder when null or empty). Safe to call again: the
// folder is replaced and the handlers stay.
void InstallCrashReportHandler(const char* pszFolder = nullptr);

// Writes one report now, from ordinary code or a signal handler (async-signal-safe), with the
// given signal number (0 for none), address and exception code (0xE0000001 for an allocation
// that failed). Returns the number n of the file written, or -1 when none could be made. After
// a report written this way, an abort that follows writes no second one.
int WriteCrashReport(int nSignal, const void* pAddress, uint32_t dwCode);

// The folder reports are written to, ending in '/' ("" before InstallCrashReportHandler).
const char* CrashReportFolder();

} // namespace rvdplat
