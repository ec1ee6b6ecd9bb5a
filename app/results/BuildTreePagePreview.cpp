// Preview of one found file from the result page: the file is copied out by the copy-out module
// to a fresh temporary file and shown from there; the scanned medium is never read here.
#include "BuildTreePage.h"

#include <QFile>
#include <QTreeWidget>

#include <cwchar>
#include <vector>

#include "FilePreview.h"
#include "FilePreviewSplit.h"
#include "ICorrand.h"
#include "ITessary.h"
#include "MessageTable.h"
#include "OfficeHandOff.h"
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
const int kMsgNotOffice = 46;

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

bool CBuildTreePage::CheckOfficeFile(QString strPath, QString strName)
{
    // Content decides first: a Word or Excel storage goes to the viewer whatever its name.
    if (IsOfficeDocument(strPath))
        return StartOfficeViewer(strPath, strName, false);
    const QString strExt = DisplayNameExtension(strName);
    if (strExt.compare(".xls", Qt::CaseInsensitive) == 0 || strExt.compare(".doc", Qt::CaseInsensitive) == 0) {
        AskUser(QMessageBox::Warning, TrMessage(kMsgNotOffice), QMessageBox::Ok);
        return false;
    }
    // The newer formats are ZIP packages; the viewer decides what it can make of them.
    if (strExt.compare(".xlsx", Qt::CaseInsensitive) == 0 || strExt.compare(".docx", Qt::CaseInsensitive) == 0)
        return StartOfficeViewer(strPath, strName, true);
    return false;
}

int32_t CBuildTreePage::OpenPdfInViewer(QString strPath, QString strTitle)
{
    return RunPdfViewer(strPath, strTitle);
}

void CBuildTreePage::HandOffOrShow(const QString& strTemp, const QString& strName, FilePreview* pFilePreview,
                                   CFilePreviewSplit* pFilePreviewSplit, BOOL bDoubleClick)
{
    CTempPathNameSignle& temp = CTempPathNameSignle::GetInstance();
    QString strShown = strTemp;
    if (bDoubleClick) {
        if (CheckOfficeFile(strTemp, strName)) {
            temp.DeleteTempFile();
            temp.DeleteXlsVariant();
            return;
        }
        if (IsPdfDisplayName(strName)) {
            // The viewer is given a name that says PDF. Should the rename fail, the file is
            // still handed over (and shown) under its own name rather than a missing one.
            const QString strPdf = CTempPathNameSignle::ReplaceTmpSuffix(strTemp, ".pdf");
            if (!strPdf.isEmpty() && QFile::rename(strTemp, strPdf))
                strShown = strPdf;
            if (OpenPdfInViewer(strShown, strName) == 0) {
                CTempPathNameSignle::DeleteFile(strShown);
                return;
            }
            // No viewer, or it could not show the file: the preview window shows it instead.
        }
    }
    if (pFilePreview != nullptr) {
        pFilePreview->SetFileInfo(strShown, strName);
        pFilePreview->ShowFile();
        pFilePreview->show();
    } else if (pFilePreviewSplit != nullptr) {
        pFilePreviewSplit->SetFileInfo(strShown, strName);
        pFilePreviewSplit->ShowFile();
        pFilePreviewSplit->show();
    }
}

void CBuildTreePage::OnPreview(FilePreview* pFilePreview, CFilePreviewSplit* pFilePreviewSplit, BOOL bDoubleClick)
{
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
        HandOffOrShow(strTemp, NameOf(pInfo), pFilePreview, pFilePreviewSplit, bDoubleClick);
    }();
    if (nStatus & 0xFFFF)
        AskUser(QMessageBox::Warning, TrMessage(kMsgPreviewFailed), QMessageBox::Ok);
    m_pStore->EndPreview();
}

void CBuildTreePage::PreviewRow(QTreeWidgetItem*, QWidget* pPane)
{
    // A click in split mode shows the file in that list's pane, without the outside viewers; a
    // double click replaces the one preview window.
    if (pPane != nullptr) {
        OnPreview(nullptr, qobject_cast<CFilePreviewSplit*>(pPane), 0);
        return;
    }
    delete m_pPreviewWindow;
    m_pPreviewWindow = new FilePreview();
    OnPreview(m_pPreviewWindow, nullptr, 1);
}
