// The copy-out module's interface: the Tessary module exports extern "C" void* CreateInstance(),
// which hands out its one process-wide ITessary object. The result page sets the target (and,
// for a search result, the list of records); the progress page runs the copy on a thread of its
// own and polls the progress record; the preview has one file written to a temporary file.
//
// The slot order of the virtual operations is part of the contract and must not change:
//  0 destructor    3 (reserved)       6 (reserved)          9 GetRecoveryPath
//  1 SetTarget     4 SetFileList      7 SetProgressSink
//  2 Run           5 SetSingleFile    8 SetMessageCallback
// Callers test results in their low 16 bits only. Integers are 32-bit unless a width is given.
//
// Order of the calls. Copy-out: SetFileList (search results only), SetTarget (target folder and
// ticked byte total), SetProgressSink, SetMessageCallback, Run(TESSARY_RUN_COPY) on the page's
// thread, GetRecoveryPath once the state reads PROGRESS_STATE_FINISHED. Preview: SetTarget
// (temporary file path and the file's size), SetSingleFile, Run(TESSARY_RUN_PREVIEW).
//
// Paths are host paths as UTF-16 text ('/' separators; a path written with '\' only, as a
// Windows-minded caller turns a chosen folder into, is taken with '/' in their place).
#pragma once

#include <cstdint>

#include "SearchProgress.h"
#include "WinTypes.h"

// Run modes.
enum : int32_t {
    TESSARY_RUN_COPY = 0,     // the ticked files (or the SetFileList records) under a new folder in the target
    TESSARY_RUN_PREVIEW = 1,  // the SetSingleFile record to the SetTarget path, synchronously
};

// Results of Run (and of the setters).
enum : int32_t {
    TESSARY_OK = 0,
    TESSARY_ERR_BAD_ARGUMENT = 0x2001,    // unknown mode, no target, or a target that is no absolute path
    TESSARY_ERR_STORE = 0x2002,           // the result store cannot be loaded or read
    TESSARY_ERR_NO_FILE = 0x2003,         // preview: no such record, or it is a folder
    TESSARY_ERR_TOO_BIG = 0x2004,         // preview: larger than TESSARY_PREVIEW_MAX_BYTES
    TESSARY_ERR_CREATE = 0x2005,          // the target folder, run folder or file could not be made
    TESSARY_ERR_WRITE = 0x2006,           // a write failed (disk full, I/O error); the copy is removed
    TESSARY_ERR_CANCELLED = 0x2007,       // copy-out stopped at the user's request
    TESSARY_ERR_INCOMPLETE = 0x2008,      // copy-out ended, but some files could not be written
    TESSARY_ERR_NOTHING = 0x2009,         // copy-out: no file ticked or listed
    TESSARY_ERR_NO_SOURCE = 0x200A,       // preview: the volume the file was found on is not there now
};

// A preview copies at most this many bytes (50 MiB); the result page refuses larger files first.
constexpr uint64_t TESSARY_PREVIEW_MAX_BYTES = 52428800ULL;

// Characters of the buffer that GetRecoveryPath fills, terminator included.
constexpr int32_t TESSARY_RECOVERY_PATH_CHARS = 1040;

// SetProgressSink's flags: [0] the caller sets it to 1 to cancel; [1] is never used.
enum : int32_t {
    TESSARY_FLAG_CANCEL = 0,
};

// Second argument of the message callback: how serious the line is (the progress page shows
// every line alike).
enum : int32_t {
    TESSARY_MESSAGE_INFO = 0,
    TESSARY_MESSAGE_WARNING = 1,   // a file was written, but part of it is zeros
    TESSARY_MESSAGE_ERROR = 2,     // a file was not written, or the copy-out stopped
};

// Called on the copying thread with one NUL-terminated line; returns 0.
typedef int32_t (*PFN_MESSAGE_CALLBACK)(const WCHAR* pszText, int32_t nLevel, void* pContext);

class ITessary {
public:
    virtual ~ITessary() {}

    // Target of the next run: the folder that receives the run folder (copy-out) or the file to
    // write (preview), at most 260 characters read from pszPath; the byte total as two words.
    virtual int32_t SetTarget(const WCHAR* pszPath, DWORD dwSizeLow, DWORD dwSizeHigh) = 0;
    // TESSARY_RUN_COPY: blocks until the copy ends; the progress record reaches
    // PROGRESS_STATE_FINISHED on every ending. TESSARY_RUN_PREVIEW: writes the one file; 0 when
    // it was written (unreadable stretches of the source are zeros in it).
    virtual int32_t Run(int32_t nMode) = 0;
    virtual int32_t Reserved3() { return 0; }
    // The records of volume dwVolume that the next copy-out writes in place of the ticked files.
    // The array is copied; the caller frees it after the call. A copy-out uses the list once.
    virtual int32_t SetFileList(DWORD dwVolume, const DWORD* pdwRecords, int32_t nCount) = 0;
    // The file that the next preview writes.
    virtual int32_t SetSingleFile(DWORD dwVolume, DWORD dwRecord) = 0;
    virtual int32_t Reserved6() { return 0; }
    // Where the next copy-out reports: percent (0..100), state, files written, title and the
    // current file; pdwFlags points to two words, TESSARY_FLAG_CANCEL becomes 1 on cancel. Both
    // are the caller's and are read and written without a lock. A copy-out forgets them (and
    // the message callback) when it ends; a preview never touches them.
    virtual int32_t SetProgressSink(SEARCH_PROGRESS* pProgress, DWORD* pdwFlags) = 0;
    virtual int32_t SetMessageCallback(PFN_MESSAGE_CALLBACK pfnCallback, void* pContext) = 0;
    // Copies the folder that received the last copy-out's files (the target itself when nothing
    // was written) into pszPath, TESSARY_RECOVERY_PATH_CHARS characters, NUL-terminated.
    virtual int32_t GetRecoveryPath(WCHAR* pszPath) = 0;
};

// The Tessary module's factory, found by the name "CreateInstance".
typedef void* (*PFN_TESSARY_CREATE_INSTANCE)();
