// The logging library: one log file per process, one line per call, safe to call from any
// thread and before InitLog (lines then go to the default file).
//
// Formats are printf's. Formats written for the Windows runtime must be translated: "%I64d"
// becomes "%" PRId64 (and "%I64u" "%" PRIu64, "%I64x" "%" PRIx64) from <cinttypes>, "%S" of a
// wide string has no counterpart (convert the text to UTF-8 and use "%s"). The compiler checks
// every call against its arguments.
//
// Where the lines go, first match wins:
//   1. the file named by the environment variable RAVENDO_LOG_FILE (tests use it);
//   2. the path given to InitLog, when not empty;
//   3. "RVDLog.log" in the folder of the running program.
// The file is opened for appending and each line is written whole with one write, so lines of
// different threads and processes never interleave. A line that cannot be written is lost
// silently: logging never stops the program.
//
// Each line reads "YYYY-MM-DD HH:MM:SS.mmm [thread] LEVEL text"; line ends at the end of the
// text are dropped and one "\n" is added.
#pragma once

#if defined(__GNUC__)
#define VESKEL_API __attribute__((visibility("default")))
#define VESKEL_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VESKEL_API
#define VESKEL_PRINTF(fmt, args)
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Opens the log. nLevel chooses what is written: 0 LogInfo only, 1 also ReleaseTrace,
// 2 (the program's choice) also DebugTrace. nFlags is reserved and must be 0. Calling it again
// closes the previous file and opens the new one. Returns 1 when the file is open, else 0.
VESKEL_API int InitLog(const char* pszPath, int nLevel, int nFlags);

// Normal lines: phases, counts, the user's choices.
VESKEL_API void LogInfo(const char* pszFormat, ...) VESKEL_PRINTF(1, 2);

// Trace lines kept in released builds of the program.
VESKEL_API void ReleaseTrace(const char* pszFormat, ...) VESKEL_PRINTF(1, 2);

// Detailed trace lines.
VESKEL_API void DebugTrace(const char* pszFormat, ...) VESKEL_PRINTF(1, 2);

// Closes the log file (the next line opens it again). For tests and orderly shutdown.
VESKEL_API void CloseLog(void);

#ifdef __cplusplus
}
#endif
