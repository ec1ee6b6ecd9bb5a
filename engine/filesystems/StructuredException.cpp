#include "StructuredException.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <string>
#include <typeinfo>

#include <fcntl.h>
#include <unistd.h>

namespace {

struct CodeName {
    DWORD dwCode;
    const char* pszName;
};

const CodeName kCodeNames[] = {
    {EXCEPTION_GUARD_PAGE, "EXCEPTION_GUARD_PAGE"},
    {EXCEPTION_DATATYPE_MISALIGNMENT, "EXCEPTION_DATATYPE_MISALIGNMENT"},
    {EXCEPTION_BREAKPOINT, "EXCEPTION_BREAKPOINT"},
    {EXCEPTION_SINGLE_STEP, "EXCEPTION_SINGLE_STEP"},
    {EXCEPTION_ACCESS_VIOLATION, "EXCEPTION_ACCESS_VIOLATION"},
    {EXCEPTION_IN_PAGE_ERROR, "EXCEPTION_IN_PAGE_ERROR"},
    {EXCEPTION_INVALID_HANDLE, "EXCEPTION_INVALID_HANDLE"},
    {EXCEPTION_ILLEGAL_INSTRUCTION, "EXCEPTION_ILLEGAL_INSTRUCTION"},
    {EXCEPTION_NONCONTINUABLE_EXCEPTION, "EXCEPTION_NONCONTINUABLE_EXCEPTION"},
    {EXCEPTION_INVALID_DISPOSITION, "EXCEPTION_INVALID_DISPOSITION"},
    {EXCEPTION_ARRAY_BOUNDS_EXCEEDED, "EXCEPTION_ARRAY_BOUNDS_EXCEEDED"},
    {EXCEPTION_FLT_DENORMAL_OPERAND, "EXCEPTION_FLT_DENORMAL_OPERAND"},
    {EXCEPTION_FLT_DIVIDE_BY_ZERO, "EXCEPTION_FLT_DIVIDE_BY_ZERO"},
    {EXCEPTION_FLT_INEXACT_RESULT, "EXCEPTION_FLT_INEXACT_RESULT"},
    {EXCEPTION_FLT_INVALID_OPERATION, "EXCEPTION_FLT_INVALID_OPERATION"},
    {EXCEPTION_FLT_OVERFLOW, "EXCEPTION_FLT_OVERFLOW"},
    {EXCEPTION_FLT_STACK_CHECK, "EXCEPTION_FLT_STACK_CHECK"},
    {EXCEPTION_FLT_UNDERFLOW, "EXCEPTION_FLT_UNDERFLOW"},
    {EXCEPTION_INT_DIVIDE_BY_ZERO, "EXCEPTION_INT_DIVIDE_BY_ZERO"},
    {EXCEPTION_INT_OVERFLOW, "EXCEPTION_INT_OVERFLOW"},
    {EXCEPTION_PRIV_INSTRUCTION, "EXCEPTION_PRIV_INSTRUCTION"},
    {EXCEPTION_STACK_OVERFLOW, "EXCEPTION_STACK_OVERFLOW"},
};

void ThrowStructuredException(unsigned int /*uCode*/, EXCEPTION_POINTERS* pPointers)
{
    throw CStructuredException(pPointers);
}

} // namespace

CStructuredException::CStructuredException(const EXCEPTION_POINTERS* pPointers)
{
    std::memset(&m_ExceptionRecord, 0, sizeof(m_ExceptionRecord));
    std::memset(&m_Context, 0, sizeof(m_Context));
    if (pPointers != nullptr && pPointers->ExceptionRecord != nullptr)
        m_ExceptionRecord = *pPointers->ExceptionRecord;
    if (pPointers != nullptr && pPointers->ContextRecord != nullptr)
        m_Context = *pPointers->ContextRecord;
    // A chained record lives in the faulting frame, which is gone once this is thrown.
    m_ExceptionRecord.ExceptionRecord = nullptr;
}

CStructuredException::CStructuredException(const CStructuredException& other)
    : std::exception(other), m_ExceptionRecord(other.m_ExceptionRecord), m_Context(other.m_Context)
{
}

CStructuredException& CStructuredException::operator=(const CStructuredException& other)
{
    std::exception::operator=(other);
    m_ExceptionRecord = other.m_ExceptionRecord;
    m_Context = other.m_Context;
    return *this;
}

CStructuredException::~CStructuredException() = default;

const char* CStructuredException::what() const noexcept
{
    return GetCodeName(m_ExceptionRecord.ExceptionCode);
}

const char* CStructuredException::GetCodeName(DWORD dwCode)
{
    for (const CodeName& entry : kCodeNames) {
        if (entry.dwCode == dwCode)
            return entry.pszName;
    }
    return "EXCEPTION_UNKNOWN";
}

void InstallStructuredExceptionTranslator()
{
    rvd::SetSeTranslator(&ThrowStructuredException);
}

void LogExt2Error(const char* pszText)
{
    if (pszText == nullptr)
        return;
    std::string strLine(pszText);
    strLine.push_back('\n');
    const int fd = open("Ext2Error.log", O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const char* p = strLine.data();
    size_t n = strLine.size();
    while (n > 0) {
        const ssize_t nDone = write(fd, p, n);
        if (nDone < 0 && errno == EINTR)
            continue;
        if (nDone <= 0)
            break;
        p += nDone;
        n -= static_cast<size_t>(nDone);
    }
    close(fd);
}

void LogExt2Exception(const std::exception& e)
{
    const char* pszMangled = typeid(e).name();
    int nStatus = -1;
    char* pszDemangled = abi::__cxa_demangle(pszMangled, nullptr, nullptr, &nStatus);
    LogExt2Error(nStatus == 0 && pszDemangled != nullptr ? pszDemangled : pszMangled);
    std::free(pszDemangled);
    LogExt2Error(e.what());
}
