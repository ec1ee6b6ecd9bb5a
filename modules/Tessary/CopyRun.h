// One copy-out: the ticked files of the result store (or an explicit list of records) written
// under a new run folder in the target, keeping their folders, with percent, state and message
// lines for the progress page, and a stop when the page asks.
//
// A stretch of the source that cannot be read becomes zeros and a message, and the copy goes
// on. A file that cannot be written whole is removed again and reported as not recovered; a
// full target stops the run. Whatever happens, the progress state reaches
// PROGRESS_STATE_FINISHED as the run's very last touch of the caller's record.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "FileCopier.h"
#include "ITessary.h"
#include "ResultStoreAccess.h"
#include "RunFolder.h"
#include "SourceDevices.h"
#include "SourceReader.h"

namespace tessary {

struct COPY_REQUEST {
    std::u16string strTarget;          // as the caller gave it
    std::string strRunFolderName;      // wanted name of the run folder
    bool bUseList = false;             // the records below in place of the ticked files
    DWORD dwListVolume = 0;
    std::vector<DWORD> vecList;
    SEARCH_PROGRESS* pProgress = nullptr;
    DWORD* pdwFlags = nullptr;
    PFN_MESSAGE_CALLBACK pfnMessage = nullptr;
    void* pMessageContext = nullptr;
};

// Host path of a target given as UTF-16 ('\' only is read as '/'); empty unless absolute.
std::string HostPathOf(const std::u16string& strPath);

class CCopyRun {
public:
    // pAccess null: the store could not be loaded, for the reason strStoreError.
    CCopyRun(IResultStoreAccess* pAccess, const std::string& strStoreError, const COPY_REQUEST& request);
    CCopyRun(const CCopyRun&) = delete;
    CCopyRun& operator=(const CCopyRun&) = delete;

    // Runs the copy-out; TESSARY_OK, or the TESSARY_ERR_* that says how it ended.
    int32_t Execute();

    // The run folder, or the target when none was made.
    const std::string& RecoveryFolder() const { return m_strRecoveryFolder; }

private:
    enum FILE_OUTCOME { FILE_WRITTEN, FILE_WRITTEN_WITH_ZEROS, FILE_FAILED, FILE_STOP_FULL, FILE_STOP_CANCELLED };

    int32_t Finish(int32_t nResult, const char* pszTitle);
    FILE_OUTCOME CopyOne(const STORED_FILE& file);
    void ReportProblems(const std::string& strPath, const COPY_RESULT& result);
    // Where the volume's runs are read from; null when the store holds no such volume.
    const VOLUME_SOURCE* SourceOfVolume(DWORD dwVolume);
    std::vector<std::u16string> FoldersOf(const STORED_FILE& file) const;
    std::string FoundPath(const STORED_FILE& file) const;

    void Message(int32_t nLevel, const std::string& strText);
    bool IsCancelRequested() const;
    void AddDone(uint64_t ullWeight);
    void SetDetail(const std::string& strText);
    void SetTitle(const std::string& strText);

    IResultStoreAccess* m_pAccess;
    std::string m_strStoreError;
    COPY_REQUEST m_Request;
    std::string m_strRecoveryFolder;

    CRunFolder m_Folder;
    CSourceDevices m_Sources;
    CSourceReader m_Reader;
    CFileCopier m_Copier;
    std::map<DWORD, const VOLUME_SOURCE*> m_mapVolumeSource;  // volume -> its source, null when unknown
    bool m_bVolumeFolders;

    uint64_t m_ullTotalWeight;
    uint64_t m_ullDoneWeight;
    uint32_t m_nPercent;
    uint64_t m_ullWritten;
    uint64_t m_ullWithZeros;
    uint64_t m_ullFailed;
};

} // namespace tessary
