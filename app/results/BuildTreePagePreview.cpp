// Preview of one found file from the result page: the file is copied out by the copy-out module
// to a fresh temporary file and shown from there; the scanned medium is never read here.
#include "BuildTreePage.h"

#include <QTreeWidget>

#include <cwchar>
#include <vector>

#include "FilePreview.h"
#include "ICorrand.h"
#include "ITessary.h"
#include "MessageTable.h"
#include "RVTabWidget.h"
#include "RVTreeWidget.h"
#include "TempPathNameSignle.h"
#include "Veskel.h"

namespace {
const uint64_t kMaxPreviewSize = 52428800; // 50 MiB
const WORD kAttrDirectory = 0x10;
const WORD kAttrEncrypted = 0x4000;
const int kMsgSelectFile = 40;
const int kMsgPreviewFailed = 41;
const int kMsgSizeZero = 42;
const int kMsgTooBig = 43;
const int kMsgDirectory = 44;
const int kMsgEncrypted = 45;

QString NameOf(const FILE_DETAIL_INFO* pInfo)
{
    size_t nLen = 0;
    while (nLen < 260 && pInfo->szName[nLen] != 0)
        ++nLen;
    return QString::fromUtf16(pInfo->szName, static_cast<int>(nLen));
}
} // namespace

bool CBuildTreePage::CanPreview(const FILE_DETAIL_INFO* pInfo)
{
    int nMessage = 0;
    if (pInfo->ullSize == 0)
        nMessage = kMsgSizeZero;
    else if (pInfo->ullSize > kMaxPreviewSize)
        nMessage = kMsgTooBig;
    else if (pInfo->wAttributes & kAttrDirectory)
        nMessage = kMsgDirectory;
    else if (pInfo->wAttributes & kAttrEncrypted)
        nMessage = kMsgEncrypted;
    if (nMessage == 0)
        return true;
    AskUser(QMessageBox::Warning, TrMessage(nMessage), QMessageBox::Ok);
    return false;
}

void CBuildTreePage::OnPreview(FilePreview* pFilePreview, BOOL bDoubleClick)
{
    (void)bDoubleClick; // the outside office and PDF viewers are not built yet
    if (m_pStore == nullptr)
        return;
    int32_t nReserved = 0;
    int nStatus = m_pStore->BeginPreview(&nReserved);
    [&]() {
        if (nStatus != 0)
            return;
        QTreeWidget* pList = nullptr;
        const int nTab = tabWidgetFileTree->currentIndex();
        if (nTab == 0)
            pList = FilesTreeWidget;
        else if (nTab == 1)
            pList = SearchFilesTreeWidget;
        QTreeWidgetItem* pItem = pList ? pList->currentItem() : nullptr;
        if (pItem == nullptr) {
            AskUser(QMessageBox::Information, TrMessage(kMsgSelectFile), QMessageBox::Ok);
            return;
        }
        DWORD dwVolume = 0, dwRecord = 0;
        nStatus = ParseItemKey(pItem, &dwVolume, &dwRecord);
        if (nStatus & 0xFFFF)
            return;
        FILE_DETAIL_INFO* pInfo = nullptr;
        m_pStore->GetFileInfo(dwRecord, &pInfo, dwVolume);
        if (pInfo == nullptr || !CanPreview(pInfo))
            return;

        LogInfo("On preview begin recovery!");
        CTempPathNameSignle& temp = CTempPathNameSignle::GetInstance();
        temp.DeleteTempFile();
        const QString strTemp = temp.GetTempPathName();
        if (strTemp.isEmpty()) {
            nStatus = 1;
            return;
        }
        if (m_pTessary != nullptr) {
            std::vector<WCHAR> wide(strTemp.size() + 1, 0);
            std::copy(strTemp.utf16(), strTemp.utf16() + strTemp.size(), wide.begin());
            m_pTessary->SetTarget(wide.data(), static_cast<DWORD>(pInfo->ullSize),
                                  static_cast<DWORD>(pInfo->ullSize >> 32));
            m_pTessary->SetSingleFile(m_dwCurrentVolume, dwRecord);
            nStatus = m_pTessary->Run(TESSARY_RUN_PREVIEW);
            if (nStatus & 0xFFFF)
                return;
        }
        LogInfo("On preview end recovery!");
        const QString strName = NameOf(pInfo);
        if (pFilePreview != nullptr) {
            pFilePreview->SetFileInfo(strTemp, strName);
            pFilePreview->ShowFile();
            pFilePreview->show();
        }
    }();
    if (nStatus & 0xFFFF)
        AskUser(QMessageBox::Warning, TrMessage(kMsgPreviewFailed), QMessageBox::Ok);
    m_pStore->EndPreview();
}

void CBuildTreePage::PreviewRow(QTreeWidgetItem*, QWidget* pPane)
{
    // The split panes show nothing yet; a double click opens the one preview window.
    if (pPane != nullptr)
        return;
    delete m_pPreviewWindow;
    m_pPreviewWindow = new FilePreview();
    OnPreview(m_pPreviewWindow, 1);
}
