// The copy-out module's one object: it keeps what the result page and the preview set, and
// runs a copy-out (CCopyRun) or writes one file for a preview.
//
// The setters and Run may be called from different threads (the result page on the GUI thread,
// the progress page's thread runs the copy): what they share is kept under a lock, and each
// run works on its own copy of it.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "ITessary.h"
#include "ResultStoreAccess.h"

namespace tessary {

class CTessary : public ITessary {
public:
    // pAccess null: the result store is reached through libCorrand.so on first use.
    explicit CTessary(IResultStoreAccess* pAccess = nullptr);
    ~CTessary() override;
    CTessary(const CTessary&) = delete;
    CTessary& operator=(const CTessary&) = delete;

    int32_t SetTarget(const WCHAR* pszPath, DWORD dwSizeLow, DWORD dwSizeHigh) override;
    int32_t Run(int32_t nMode) override;
    int32_t SetFileList(DWORD dwVolume, const DWORD* pdwRecords, int32_t nCount) override;
    int32_t SetSingleFile(DWORD dwVolume, DWORD dwRecord) override;
    int32_t SetProgressSink(SEARCH_PROGRESS* pProgress, DWORD* pdwFlags) override;
    int32_t SetMessageCallback(PFN_MESSAGE_CALLBACK pfnCallback, void* pContext) override;
    int32_t GetRecoveryPath(WCHAR* pszPath) override;

protected:
    // Name of the folder a copy-out makes in the target: "Recovered" and the local date and time.
    virtual std::string RunFolderName();

private:
    IResultStoreAccess* Access(std::string* pstrError);
    int32_t RunCopy();
    int32_t RunPreview();

    std::mutex m_Lock;
    IResultStoreAccess* m_pAccess;
    std::u16string m_strTarget;
    bool m_bHasList;
    DWORD m_dwListVolume;
    std::vector<DWORD> m_vecList;
    bool m_bHasSingle;
    DWORD m_dwSingleVolume;
    DWORD m_dwSingleRecord;
    SEARCH_PROGRESS* m_pProgress;
    DWORD* m_pdwFlags;
    PFN_MESSAGE_CALLBACK m_pfnMessage;
    void* m_pMessageContext;
    std::u16string m_strRecoveryPath;
};

} // namespace tessary
