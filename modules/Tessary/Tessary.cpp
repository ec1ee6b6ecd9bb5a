#include "Tessary.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "Charset.h"
#include "CopyRun.h"
#include "FileCopier.h"
#include "ResultStoreLoader.h"
#include "SourceDevices.h"
#include "SourceReader.h"
#include "Time.h"
#include "Veskel.h"
#include "WideText.h"

namespace tessary {

namespace {

// The target path arrives in a buffer of MAX_PATH wide characters.
constexpr size_t TARGET_CHARS = MAX_PATH;

void LogPreviewProblems(const std::string& strPath, const COPY_RESULT& result)
{
    for (const BAD_RANGE& bad : result.vecBad)
        LogInfo("Preview %s: %" PRIu64 " bytes at byte %" PRIu64 " of %s could not be read (reason %d); zeros "
                "written",
                strPath.c_str(), bad.ullBytes, bad.ullOffset, bad.strDevice.c_str(), bad.nReason);
    for (const std::string& strNote : result.vecNotes)
        LogInfo("Preview %s: %s", strPath.c_str(), strNote.c_str());
}

} // namespace

CTessary::CTessary(IResultStoreAccess* pAccess)
    : m_pAccess(pAccess),
      m_bHasList(false),
      m_dwListVolume(0),
      m_bHasSingle(false),
      m_dwSingleVolume(0),
      m_dwSingleRecord(0),
      m_pProgress(nullptr),
      m_pdwFlags(nullptr),
      m_pfnMessage(nullptr),
      m_pMessageContext(nullptr)
{
}

CTessary::~CTessary() = default;

IResultStoreAccess* CTessary::Access(std::string* pstrError)
{
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        if (m_pAccess != nullptr)
            return m_pAccess;
    }
    IResultStoreAccess* pAccess = LoadResultStoreAccess(pstrError);
    std::lock_guard<std::mutex> lock(m_Lock);
    if (m_pAccess == nullptr)
        m_pAccess = pAccess;
    return m_pAccess;
}

std::string CTessary::RunFolderName()
{
    SYSTEMTIME st{};
    rvd::GetLocalTime(st);
    char szName[64];
    std::snprintf(szName, sizeof(szName), "Recovered %04u-%02u-%02u %02u-%02u-%02u", st.wYear, st.wMonth, st.wDay,
                  st.wHour, st.wMinute, st.wSecond);
    return szName;
}

int32_t CTessary::SetTarget(const WCHAR* pszPath, DWORD, DWORD)
{
    // The byte total is the page's sum of its rows; a run measures what it copies from the
    // store's own records instead.
    std::lock_guard<std::mutex> lock(m_Lock);
    m_strTarget = rvd::ReadWideText(pszPath, TARGET_CHARS);
    return pszPath != nullptr ? TESSARY_OK : TESSARY_ERR_BAD_ARGUMENT;
}

int32_t CTessary::SetFileList(DWORD dwVolume, const DWORD* pdwRecords, int32_t nCount)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_vecList.clear();
    m_bHasList = pdwRecords != nullptr && nCount > 0;
    m_dwListVolume = dwVolume;
    if (m_bHasList)
        m_vecList.assign(pdwRecords, pdwRecords + nCount);
    return TESSARY_OK;
}

int32_t CTessary::SetSingleFile(DWORD dwVolume, DWORD dwRecord)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_bHasSingle = true;
    m_dwSingleVolume = dwVolume;
    m_dwSingleRecord = dwRecord;
    return TESSARY_OK;
}

int32_t CTessary::SetProgressSink(SEARCH_PROGRESS* pProgress, DWORD* pdwFlags)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_pProgress = pProgress;
    m_pdwFlags = pdwFlags;
    return TESSARY_OK;
}

int32_t CTessary::SetMessageCallback(PFN_MESSAGE_CALLBACK pfnCallback, void* pContext)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_pfnMessage = pfnCallback;
    m_pMessageContext = pContext;
    return TESSARY_OK;
}

int32_t CTessary::GetRecoveryPath(WCHAR* pszPath)
{
    if (pszPath == nullptr)
        return TESSARY_ERR_BAD_ARGUMENT;
    std::lock_guard<std::mutex> lock(m_Lock);
    rvd::CopyWideText(pszPath, TESSARY_RECOVERY_PATH_CHARS, m_strRecoveryPath);
    return m_strRecoveryPath.empty() ? TESSARY_ERR_NOTHING : TESSARY_OK;
}

int32_t CTessary::Run(int32_t nMode)
{
    if (nMode == TESSARY_RUN_COPY)
        return RunCopy();
    if (nMode == TESSARY_RUN_PREVIEW)
        return RunPreview();
    return TESSARY_ERR_BAD_ARGUMENT;
}

int32_t CTessary::RunCopy()
{
    COPY_REQUEST request;
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        request.strTarget = m_strTarget;
        // A list serves one copy-out: the next hand-over from the folder tree brings none.
        request.bUseList = m_bHasList;
        request.dwListVolume = m_dwListVolume;
        request.vecList.swap(m_vecList);
        m_bHasList = false;
        request.pProgress = m_pProgress;
        request.pdwFlags = m_pdwFlags;
        request.pfnMessage = m_pfnMessage;
        request.pMessageContext = m_pMessageContext;
    }
    request.strRunFolderName = RunFolderName();
    std::string strStoreError;
    IResultStoreAccess* pAccess = Access(&strStoreError);
    CCopyRun run(pAccess, strStoreError, request);
    const int32_t nResult = run.Execute();
    std::lock_guard<std::mutex> lock(m_Lock);
    m_strRecoveryPath = rvd::Utf8ToUtf16(run.RecoveryFolder());
    // The page that owned the record and the callback's context may be gone after the end;
    // forget them unless a new page has set its own meanwhile.
    if (m_pProgress == request.pProgress && m_pdwFlags == request.pdwFlags) {
        m_pProgress = nullptr;
        m_pdwFlags = nullptr;
    }
    if (m_pfnMessage == request.pfnMessage && m_pMessageContext == request.pMessageContext) {
        m_pfnMessage = nullptr;
        m_pMessageContext = nullptr;
    }
    return nResult;
}

int32_t CTessary::RunPreview()
{
    std::u16string strTarget;
    bool bHasSingle = false;
    DWORD dwVolume = 0, dwRecord = 0;
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        strTarget = m_strTarget;
        bHasSingle = m_bHasSingle;
        dwVolume = m_dwSingleVolume;
        dwRecord = m_dwSingleRecord;
    }
    const std::string strPath = HostPathOf(strTarget);
    if (!bHasSingle || strPath.empty()) {
        LogInfo("Preview: no file or no full target path given");
        return TESSARY_ERR_BAD_ARGUMENT;
    }
    std::string strStoreError;
    IResultStoreAccess* pAccess = Access(&strStoreError);
    if (pAccess == nullptr) {
        LogInfo("Preview: the result store could not be loaded (%s)", strStoreError.c_str());
        return TESSARY_ERR_STORE;
    }
    STORED_FILE file;
    if (pAccess->GetStoredFile(dwVolume, dwRecord, &file) != 0 || (file.dwFlags & STORED_FILE_FOLDER) != 0) {
        LogInfo("Preview: volume %u has no file %u", dwVolume, dwRecord);
        return TESSARY_ERR_NO_FILE;
    }
    if (file.ullSize > TESSARY_PREVIEW_MAX_BYTES) {
        LogInfo("Preview: file %u of volume %u has %" PRIu64 " bytes, more than a preview takes", dwRecord, dwVolume,
                file.ullSize);
        return TESSARY_ERR_TOO_BIG;
    }
    STORED_VOLUME volume{};
    if (pAccess->GetVolume(dwVolume, &volume) != 0) {
        LogInfo("Preview: the result store has no volume %u", dwVolume);
        return TESSARY_ERR_STORE;
    }
    CSourceDevices sources;
    const VOLUME_SOURCE& source = sources.Resolve(volume);
    if (source.nKind == SOURCE_MISSING) {
        LogInfo("Preview: file %u of volume %u cannot be read: %s", dwRecord, dwVolume, source.strProblem.c_str());
        return TESSARY_ERR_NO_SOURCE;
    }
    // A fresh name in a shared temporary folder: never follow or reuse what someone put there.
    const int nFd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (nFd < 0) {
        LogInfo("Preview: cannot create %s: %s", strPath.c_str(), std::strerror(errno));
        return TESSARY_ERR_CREATE;
    }
    CSourceReader reader;
    CFileCopier copier(&reader);
    COPY_RESULT result;
    copier.Copy(file, source, nFd, [](uint64_t) { return true; }, &result);
    int nWriteError = result.bWriteFailed ? result.nWriteError : 0;
    if (nWriteError == 0)
        ApplyFileTimes(nFd, file);
    if (close(nFd) != 0 && nWriteError == 0)
        nWriteError = errno;
    if (nWriteError != 0) {
        unlink(strPath.c_str());
        LogInfo("Preview: cannot write %s: %s", strPath.c_str(), std::strerror(nWriteError));
        return TESSARY_ERR_WRITE;
    }
    LogPreviewProblems(strPath, result);
    return TESSARY_OK;
}

} // namespace tessary
