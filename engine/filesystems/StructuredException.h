// Processor faults inside the readers as ordinary exceptions. A damaged EXT2/EXT3 structure can
// make the reader divide by a zero block size or follow a wild pointer; run inside
// rvd::RunGuarded, such a fault arrives as a CStructuredException, which derives from
// std::exception, so the reader's handlers for standard exceptions catch it too and log it to
// "Ext2Error.log".
#pragma once

#include <exception>

#include "FaultGuard.h"
#include "WinTypes.h"

class CStructuredException : public std::exception {
public:
    // Copies the record and the processor state the pointers designate.
    explicit CStructuredException(const EXCEPTION_POINTERS* pPointers);
    CStructuredException(const CStructuredException& other);
    CStructuredException& operator=(const CStructuredException& other);
    ~CStructuredException() override;

    // The name of the exception code, e.g. "EXCEPTION_ACCESS_VIOLATION".
    const char* what() const noexcept override;

    DWORD GetCode() const { return m_ExceptionRecord.ExceptionCode; }
    const EXCEPTION_RECORD& GetExceptionRecord() const { return m_ExceptionRecord; }
    const CONTEXT& GetContext() const { return m_Context; }

    // "EXCEPTION_UNKNOWN" for a code not among the processor faults.
    static const char* GetCodeName(DWORD dwCode);

private:
    EXCEPTION_RECORD m_ExceptionRecord;
    CONTEXT m_Context;
};

// Makes every guarded fault of the process throw CStructuredException. Unlike the per-thread
// translator of the Windows runtime, it acts on all threads, so a scan on a later worker thread
// is protected as well. Calling it again does no harm.
void InstallStructuredExceptionTranslator();

// Appends the text and a line end to "Ext2Error.log" in the current directory (created when
// missing, never truncated). Each line goes out in one append, so concurrent writers do not mix
// their lines. A null text writes nothing; a file that cannot be opened loses the line.
void LogExt2Error(const char* pszText);

// What the readers' handlers log for a caught exception: a line with its run-time type name,
// then a line with its what() text.
void LogExt2Exception(const std::exception& e);
