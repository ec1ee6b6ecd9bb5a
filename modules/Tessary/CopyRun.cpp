#include "CopyRun.h"

#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "Charset.h"
#include "SafeName.h"
#include "Veskel.h"
#include "WideText.h"

namespace tessary {

namespace {

// Progress weight of one file beside its bytes, so that many small files move the bar too.
constexpr uint64_t FILE_WEIGHT = 4096;
// Ticked files asked of the store at a time.
constexpr size_t STORE_BATCH = 256;
// Unreadable stretches reported one by one for a file; the rest are counted in one line.
constexpr size_t MAX_STRETCH_LINES = 8;

bool IsTargetFull(int nError)
{
    return nError == ENOSPC || nError == EDQUOT;
}

std::string ErrorText(int nError)
{
    return std::strerror(nError);
}

std::string FormatBytes(uint64_t ullBytes)
{
    static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
    if (ullBytes < 1024)
        return std::to_string(ullBytes) + (ullBytes == 1 ? " byte" : " bytes");
    double dValue = static_cast<double>(ullBytes) / 1024.0;
    size_t nUnit = 0;
    while (dValue >= 1024.0 && nUnit + 1 < sizeof(kUnits) / sizeof(kUnits[0])) {
        dValue /= 1024.0;
        ++nUnit;
    }
    char szText[64];
    std::snprintf(szText, sizeof(szText), "%.1f %s", dValue, kUnits[nUnit]);
    return szText;
}

std::string Files(uint64_t n)
{
    return std::to_string(n) + (n == 1 ? " file" : " files");
}

std::string SectorSpan(const BAD_RANGE& bad)
{
    const uint64_t ullFirst = bad.ullOffset / 512;
    const uint64_t ullLast = (bad.ullOffset + bad.ullBytes - 1) / 512;
    if (ullFirst == ullLast)
        return "sector " + std::to_string(ullFirst);
    return "sectors " + std::to_string(ullFirst) + " to " + std::to_string(ullLast);
}

} // namespace

std::string HostPathOf(const std::u16string& strPath)
{
    std::string strHost = rvd::Utf16ToUtf8(strPath);
    if (!strHost.empty() && strHost[0] == '\\' && strHost.find('/') == std::string::npos)
        for (char& ch : strHost)
            if (ch == '\\')
                ch = '/';
    if (strHost.empty() || strHost[0] != '/' || strHost.find('\0') != std::string::npos)
        return std::string();
    return strHost;
}

CCopyRun::CCopyRun(IResultStoreAccess* pAccess, const std::string& strStoreError, const COPY_REQUEST& request)
    : m_pAccess(pAccess),
      m_strStoreError(strStoreError),
      m_Request(request),
      m_Copier(&m_Reader),
      m_bVolumeFolders(false),
      m_ullTotalWeight(0),
      m_ullDoneWeight(0),
      m_nPercent(0),
      m_ullWritten(0),
      m_ullWithZeros(0),
      m_ullFailed(0)
{
}

// ----- the caller's progress record and messages ----------------------------------------------

bool CCopyRun::IsCancelRequested() const
{
    return m_Request.pdwFlags != nullptr &&
           __atomic_load_n(&m_Request.pdwFlags[TESSARY_FLAG_CANCEL], __ATOMIC_RELAXED) != 0;
}

void CCopyRun::Message(int32_t nLevel, const std::string& strText)
{
    if (nLevel != TESSARY_MESSAGE_INFO)
        LogInfo("Copy-out: %s", strText.c_str());
    if (m_Request.pfnMessage == nullptr)
        return;
    const std::u16string strWide = rvd::Utf8ToUtf16(strText);
    m_Request.pfnMessage(strWide.c_str(), nLevel, m_Request.pMessageContext);
}

void CCopyRun::AddDone(uint64_t ullWeight)
{
    m_ullDoneWeight = ullWeight > UINT64_MAX - m_ullDoneWeight ? UINT64_MAX : m_ullDoneWeight + ullWeight;
    if (m_Request.pProgress == nullptr || m_ullTotalWeight == 0)
        return;
    // 100 is kept for the end: the page takes it as done.
    double dPercent = static_cast<double>(m_ullDoneWeight) * 100.0 / static_cast<double>(m_ullTotalWeight);
    const uint32_t nPercent = dPercent >= 99.0 ? 99u : static_cast<uint32_t>(dPercent);
    if (nPercent > m_nPercent) {
        m_nPercent = nPercent;
        __atomic_store_n(&m_Request.pProgress->dwPercent, nPercent, __ATOMIC_RELAXED);
    }
}

void CCopyRun::SetDetail(const std::string& strText)
{
    if (m_Request.pProgress != nullptr)
        rvd::CopyWideText(m_Request.pProgress->szDetail, rvd::Utf8ToUtf16(strText));
}

void CCopyRun::SetTitle(const std::string& strText)
{
    if (m_Request.pProgress != nullptr)
        rvd::CopyWideText(m_Request.pProgress->szTitle, rvd::Utf8ToUtf16(strText));
}

int32_t CCopyRun::Finish(int32_t nResult, const char* pszTitle)
{
    LogInfo("Copy-out end: result 0x%x, %" PRIu64 " written, %" PRIu64 " with unreadable parts, %" PRIu64
            " not recovered, folder %s",
            static_cast<unsigned>(nResult), m_ullWritten, m_ullWithZeros, m_ullFailed, m_strRecoveryFolder.c_str());
    if (m_Request.pProgress != nullptr) {
        SetTitle(pszTitle);
        if (nResult == TESSARY_OK || nResult == TESSARY_ERR_INCOMPLETE)
            __atomic_store_n(&m_Request.pProgress->dwPercent, 100u, __ATOMIC_RELAXED);
        // The page may free its record and thread as soon as it sees this: nothing of the
        // caller's is touched after it.
        __atomic_store_n(&m_Request.pProgress->dwState, static_cast<DWORD>(PROGRESS_STATE_FINISHED),
                         __ATOMIC_RELEASE);
    }
    return nResult;
}

// ----- the run ----------------------------------------------------------------------------------

int32_t CCopyRun::Execute()
{
    if (SEARCH_PROGRESS* p = m_Request.pProgress) {
        __atomic_store_n(&p->dwState, 0u, __ATOMIC_RELAXED);
        __atomic_store_n(&p->dwPercent, 0u, __ATOMIC_RELAXED);
        __atomic_store_n(&p->dwPhase, static_cast<DWORD>(PROGRESS_PHASE_SEARCHING), __ATOMIC_RELAXED);
        __atomic_store_n(&p->ullFilesFound, 0ULL, __ATOMIC_RELAXED);
        __atomic_store_n(&p->dwStatus, 0u, __ATOMIC_RELAXED);
        SetTitle("Recovering files");
        SetDetail(std::string());
    }
    const std::string strTarget = HostPathOf(m_Request.strTarget);
    m_strRecoveryFolder = strTarget;
    LogInfo("Copy-out begin: target %s, %s", strTarget.c_str(),
            m_Request.bUseList ? "listed records" : "ticked files");
    if (strTarget.empty()) {
        Message(TESSARY_MESSAGE_ERROR, "The target folder \"" + rvd::Utf16ToUtf8(m_Request.strTarget) +
                                           "\" is not a full path; nothing was recovered.");
        return Finish(TESSARY_ERR_BAD_ARGUMENT, "Recovery failed");
    }
    if (m_pAccess == nullptr) {
        Message(TESSARY_MESSAGE_ERROR,
                "The result store could not be loaded (" + m_strStoreError + "); nothing was recovered.");
        return Finish(TESSARY_ERR_STORE, "Recovery failed");
    }

    // What is to be copied, and how much.
    std::vector<STORED_FILE> vecListed;
    uint64_t ullFiles = 0, ullBytes = 0;
    if (m_Request.bUseList) {
        for (DWORD dwRecord : m_Request.vecList) {
            STORED_FILE file;
            if (m_pAccess->GetStoredFile(m_Request.dwListVolume, dwRecord, &file) != 0) {
                Message(TESSARY_MESSAGE_ERROR, "Record " + std::to_string(dwRecord) + " of volume " +
                                                   std::to_string(m_Request.dwListVolume) +
                                                   " is not in the result store; it was not recovered.");
                ++m_ullFailed;
                continue;
            }
            ullBytes += (file.dwFlags & STORED_FILE_FOLDER) != 0 ? 0 : file.ullSize;
            ++ullFiles;
            vecListed.push_back(std::move(file));
        }
    } else if (m_pAccess->GetCheckedTotals(&ullFiles, &ullBytes) != 0) {
        Message(TESSARY_MESSAGE_ERROR, "The ticked files could not be read from the result store; nothing was "
                                       "recovered.");
        return Finish(TESSARY_ERR_STORE, "Recovery failed");
    }
    if (ullFiles == 0) {
        if (m_ullFailed == 0)
            Message(TESSARY_MESSAGE_INFO, "No files are ticked for recovery.");
        return Finish(m_ullFailed != 0 ? TESSARY_ERR_INCOMPLETE : TESSARY_ERR_NOTHING, "Recovery finished");
    }
    DWORD dwVolumes = 0;
    m_bVolumeFolders = m_pAccess->GetVolumeCount(&dwVolumes) == 0 && dwVolumes > 1;

    std::string strWhat;
    if (!m_Folder.Create(strTarget, m_Request.strRunFolderName, &strWhat)) {
        Message(TESSARY_MESSAGE_ERROR,
                "Could not make the folder \"" + strWhat + "\": " + ErrorText(errno) + ". Nothing was recovered.");
        return Finish(TESSARY_ERR_CREATE, "Recovery failed");
    }
    m_strRecoveryFolder = m_Folder.Path();
    m_ullTotalWeight = ullBytes + (ullFiles > (UINT64_MAX - ullBytes) / FILE_WEIGHT ? 0 : ullFiles * FILE_WEIGHT);
    Message(TESSARY_MESSAGE_INFO, "Recovering " + Files(ullFiles) + " (" + FormatBytes(ullBytes) + ") into \"" +
                                      m_strRecoveryFolder + "\".");

    FILE_OUTCOME nStop = FILE_WRITTEN;
    uint64_t ullSeen = 0;
    auto handle = [&](const STORED_FILE& file) {
        if (IsCancelRequested()) {
            nStop = FILE_STOP_CANCELLED;
            return false;
        }
        ++ullSeen;
        const FILE_OUTCOME nOutcome = CopyOne(file);
        if (nOutcome == FILE_STOP_FULL || nOutcome == FILE_STOP_CANCELLED) {
            nStop = nOutcome;
            return false;
        }
        return true;
    };
    if (m_Request.bUseList) {
        for (const STORED_FILE& file : vecListed)
            if (!handle(file))
                break;
    } else {
        CHECKED_FILE_CURSOR cursor;
        std::vector<STORED_FILE> vecBatch;
        bool bGoOn = true;
        while (bGoOn) {
            vecBatch.clear();
            if (m_pAccess->GetNextCheckedFiles(&cursor, &vecBatch, STORE_BATCH) != 0 || vecBatch.empty())
                break;
            for (const STORED_FILE& file : vecBatch)
                if (!(bGoOn = handle(file)))
                    break;
        }
        if (bGoOn && ullSeen < ullFiles) {
            const uint64_t ullMissing = ullFiles - ullSeen;
            Message(TESSARY_MESSAGE_ERROR, std::to_string(ullMissing) + " ticked " +
                                               (ullMissing == 1 ? "file" : "files") +
                                               " could not be read from the result store and were not recovered.");
            m_ullFailed += ullMissing;
        }
    }

    if (nStop == FILE_STOP_CANCELLED) {
        Message(TESSARY_MESSAGE_WARNING, "Recovery cancelled: " + std::to_string(m_ullWritten) + " of " +
                                             Files(ullFiles) + " were written into \"" + m_strRecoveryFolder +
                                             "\".");
        return Finish(TESSARY_ERR_CANCELLED, "Recovery cancelled");
    }
    if (nStop == FILE_STOP_FULL) {
        const uint64_t ullLeft = ullFiles > ullSeen ? ullFiles - ullSeen : 0;
        m_ullFailed += ullLeft;
        Message(TESSARY_MESSAGE_ERROR, "The target disk is full, so the recovery stopped: " + Files(m_ullWritten) +
                                           " written, " + Files(m_ullFailed) + " not recovered.");
        return Finish(TESSARY_ERR_WRITE, "Recovery stopped");
    }
    std::string strSummary = "Recovery finished: " + Files(m_ullWritten) + " written into \"" +
                             m_strRecoveryFolder + "\".";
    if (m_ullWithZeros != 0)
        strSummary += " " + std::to_string(m_ullWithZeros) + " of them " + (m_ullWithZeros == 1 ? "is" : "are") +
                      " not wholly the original bytes (see above).";
    if (m_ullFailed != 0)
        strSummary += " " + Files(m_ullFailed) + " could not be recovered.";
    Message(m_ullFailed != 0 ? TESSARY_MESSAGE_ERROR : TESSARY_MESSAGE_INFO, strSummary);
    return Finish(m_ullFailed != 0 ? TESSARY_ERR_INCOMPLETE : TESSARY_OK, "Recovery finished");
}

// ----- one file ---------------------------------------------------------------------------------

const VOLUME_SOURCE* CCopyRun::SourceOfVolume(DWORD dwVolume)
{
    auto it = m_mapVolumeSource.find(dwVolume);
    if (it == m_mapVolumeSource.end()) {
        STORED_VOLUME volume{};
        const VOLUME_SOURCE* pSource = nullptr;
        if (m_pAccess->GetVolume(dwVolume, &volume) == 0)
            pSource = &m_Sources.Resolve(volume);
        it = m_mapVolumeSource.emplace(dwVolume, pSource).first;
    }
    return it->second;
}

std::vector<std::u16string> CCopyRun::FoldersOf(const STORED_FILE& file) const
{
    std::vector<std::u16string> vecFolders;
    vecFolders.reserve(file.vecFolders.size() + 2);
    // Results of several volumes each begin with their own "Deleted Files"; a folder per
    // volume keeps them apart.
    if (m_bVolumeFolders)
        vecFolders.push_back(u"Volume " + rvd::Utf8ToUtf16(std::to_string(static_cast<uint64_t>(file.dwVolume) + 1)));
    vecFolders.insert(vecFolders.end(), file.vecFolders.begin(), file.vecFolders.end());
    return vecFolders;
}

std::string CCopyRun::FoundPath(const STORED_FILE& file) const
{
    std::string strPath;
    for (const std::u16string& strFolder : FoldersOf(file))
        strPath += SanitiseComponent(strFolder) + "/";
    return strPath + SanitiseComponent(file.strName);
}

CCopyRun::FILE_OUTCOME CCopyRun::CopyOne(const STORED_FILE& file)
{
    const bool bFolder = (file.dwFlags & STORED_FILE_FOLDER) != 0;
    const uint64_t ullSize = bFolder ? 0 : file.ullSize;
    uint64_t ullFileDone = 0;
    auto settle = [&]() { AddDone((ullSize > ullFileDone ? ullSize - ullFileDone : 0) + FILE_WEIGHT); };
    auto fail = [&](int nError) {
        ++m_ullFailed;
        settle();
        return IsTargetFull(nError) ? FILE_STOP_FULL : FILE_FAILED;
    };

    const VOLUME_SOURCE* pSource = bFolder ? nullptr : SourceOfVolume(file.dwVolume);
    if (!bFolder && pSource == nullptr) {
        Message(TESSARY_MESSAGE_ERROR, "\"" + FoundPath(file) + "\" belongs to volume " +
                                           std::to_string(file.dwVolume) +
                                           ", which the result store does not hold; it was not recovered.");
        return fail(0);
    }
    // Reading some other device at the stored sectors would give another file's bytes.
    if (!bFolder && pSource->nKind == SOURCE_MISSING) {
        Message(TESSARY_MESSAGE_ERROR, "\"" + FoundPath(file) + "\" was not recovered: " + pSource->strProblem + ".");
        return fail(0);
    }
    std::vector<std::u16string> vecFolders = FoldersOf(file);
    if (bFolder)
        vecFolders.push_back(file.strName);
    std::string strRelative;
    const int nDirFd = m_Folder.OpenFolder(vecFolders, &strRelative);
    if (nDirFd < 0) {
        const int nError = errno;
        Message(TESSARY_MESSAGE_ERROR, "Could not make the folder \"" + strRelative + "\": " + ErrorText(nError) +
                                           "; \"" + FoundPath(file) + "\" was not recovered.");
        return fail(nError);
    }
    if (bFolder) {
        settle();
        return FILE_WRITTEN;
    }

    std::string strName;
    const int nFd = m_Folder.CreateFile(file.strName, &strName);
    if (nFd < 0) {
        const int nError = errno;
        const std::string strWanted = SanitiseComponent(file.strName);
        Message(TESSARY_MESSAGE_ERROR, "Could not create \"" + (strRelative.empty() ? "" : strRelative + "/") +
                                           strWanted + "\": " + ErrorText(nError) + ". The file was not recovered.");
        return fail(nError);
    }
    const std::string strPath = strRelative.empty() ? strName : strRelative + "/" + strName;
    SetDetail(strPath);

    COPY_RESULT result;
    m_Copier.Copy(file, *pSource, nFd,
                  [&](uint64_t ullBytes) {
                      ullFileDone += ullBytes;
                      AddDone(ullBytes);
                      return !IsCancelRequested();
                  },
                  &result);
    if (result.bCancelled) {
        // An unfinished copy would pass for a recovered file.
        close(nFd);
        m_Folder.RemoveFile(strName);
        return FILE_STOP_CANCELLED;
    }
    int nWriteError = result.bWriteFailed ? result.nWriteError : 0;
    int nTimesError = 0;
    if (nWriteError == 0 && !ApplyFileTimes(nFd, file))
        nTimesError = errno;
    if (close(nFd) != 0 && nWriteError == 0)
        nWriteError = errno;
    if (nWriteError != 0) {
        m_Folder.RemoveFile(strName);
        Message(TESSARY_MESSAGE_ERROR,
                "Could not write \"" + strPath + "\": " + ErrorText(nWriteError) + ". The file was not recovered.");
        return fail(nWriteError);
    }
    ReportProblems(strPath, result);
    if (nTimesError != 0)
        Message(TESSARY_MESSAGE_WARNING, "\"" + strPath + "\": its times could not be set (" +
                                             ErrorText(nTimesError) + ").");
    ++m_ullWritten;
    if (m_Request.pProgress != nullptr)
        __atomic_store_n(&m_Request.pProgress->ullFilesFound, m_ullWritten, __ATOMIC_RELAXED);
    settle();
    if (!result.vecBad.empty() || !result.vecNotes.empty()) {
        ++m_ullWithZeros;
        return FILE_WRITTEN_WITH_ZEROS;
    }
    return FILE_WRITTEN;
}

void CCopyRun::ReportProblems(const std::string& strPath, const COPY_RESULT& result)
{
    const std::string strWho = "\"" + strPath + "\": ";
    size_t nLines = 0;
    bool bNoDiskShown = false;
    for (size_t i = 0; i < result.vecBad.size(); ++i) {
        const BAD_RANGE& bad = result.vecBad[i];
        if (bad.nReason == BAD_RANGE_NO_DISK) {
            // One line says it all: every stretch of that device is zeros.
            if (!bNoDiskShown)
                Message(TESSARY_MESSAGE_WARNING, strWho + bad.strDevice + " cannot be opened (" +
                                                     ErrorText(bad.nError) + "); its data was written as zeros.");
            bNoDiskShown = true;
            continue;
        }
        if (nLines == MAX_STRETCH_LINES) {
            const size_t nLeft = result.vecBad.size() - i;
            Message(TESSARY_MESSAGE_WARNING, strWho + std::to_string(nLeft) + " more " +
                                                 (nLeft == 1 ? "stretch" : "stretches") +
                                                 " could not be read; zeros were written in their place.");
            break;
        }
        ++nLines;
        const bool bOne = bad.ullBytes <= 512;
        switch (bad.nReason) {
        case BAD_RANGE_PAST_END:
            Message(TESSARY_MESSAGE_WARNING, strWho + SectorSpan(bad) + (bOne ? " lies" : " lie") +
                                                 " beyond the end of " + bad.strDevice +
                                                 "; zeros were written in their place.");
            break;
        case BAD_RANGE_PAST_VOLUME:
            Message(TESSARY_MESSAGE_WARNING, strWho + SectorSpan(bad) + " of " + bad.strDevice +
                                                 (bOne ? " lies" : " lie") +
                                                 " beyond the end of its volume; zeros were written in their place.");
            break;
        case BAD_RANGE_BAD_POSITION:
            Message(TESSARY_MESSAGE_WARNING, strWho + "a stored position (sector " + std::to_string(bad.ullOffset) +
                                                 ") cannot lie on a disk; zeros were written in its place.");
            break;
        case BAD_RANGE_MEMBER_AREA:
            Message(TESSARY_MESSAGE_WARNING, strWho + bad.strDevice + ", a member of its volume, could not be read " +
                                                 "at " + SectorSpan(bad) +
                                                 "; whatever of the file lay there is zeros.");
            break;
        default:
            Message(TESSARY_MESSAGE_WARNING, strWho + SectorSpan(bad) + " of " + bad.strDevice +
                                                 " could not be read; zeros were written in their place.");
            break;
        }
    }
    for (const std::string& strNote : result.vecNotes)
        Message(TESSARY_MESSAGE_WARNING, strWho + strNote + ".");
}

} // namespace tessary
