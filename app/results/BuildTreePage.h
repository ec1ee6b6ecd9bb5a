// The result page: the folder tree read from the result store folder by folder, the file list
// of the opened folder and the search hits on two tabs, ticking with the selected size, the
// target folder and its checks, and the hand-over to the copy-out module on Next.
//
// The page never holds the whole result: the store hands out one folder's children (or one
// search's hits) at a time, in batches, on the wait dialog's worker thread; the rows built from
// that listing are the page's only lasting copy. A folder's files come in pages: opening it
// builds the first rows, and the list asks the store for the next ones as it is scrolled to its
// end (or for all of them when it is sorted by a column, or a tick needs every file's state). The tick state lives in the store; the rows
// mirror it and every change is sent to the store at once.
#pragma once

#include <QHash>
#include <QMessageBox>
#include <QVector>

#include <cstdint>

#include "FileInfo.h"
#include "ProgressDlg.h"
#include "ResultRecords.h"

class FilePreview;
class CFilePreviewSplit;
struct FILE_DETAIL_INFO;
class CImagePushButton;
class CRVTabWidget;
class CRVTreeWidget;
class ICorrand;
class ITessary;
class QFrame;
class QLabel;
class QLineEdit;
class QSplitter;
class QTreeWidget;
class QTreeWidgetItem;
class CResultRowItem;

// The page's widgets, by the object names the style sheet knows.
class Ui_BuildTreePage {
public:
    void setupUi(QWidget* pPage);

    QFrame* frame;
    CImagePushButton* pushButtonSearch;
    QLabel* label;
    CRVTabWidget* tabWidgetFileTree;
    QWidget* tabBuildFiles;
    QWidget* tabSearchFiles;
    QSplitter* splitterH;
    CRVTreeWidget* FloderTreeWidget;
    QSplitter* splitterV;
    CRVTreeWidget* FilesTreeWidget;
    // Hosts of the embedded preview of each tab.
    CFilePreviewSplit* SplitFilePreview;
    CImagePushButton* pushButtonSelectAll;
    CImagePushButton* pushButtonUnSelect;
    CImagePushButton* pushButtonSplit;
    CImagePushButton* pushButtonList;
    QSplitter* SearchSplitter;
    CRVTreeWidget* SearchFilesTreeWidget;
    CFilePreviewSplit* SplitSearchPreview;
    CImagePushButton* pushButtonSearchSelectAll;
    CImagePushButton* pushButtonSearchUnSelect;
    CImagePushButton* pushButtonSearchSplit;
    CImagePushButton* pushButtonSearchList;
    QLabel* labelSelFileSize;
    QLabel* labelFileSize;
    QLabel* labelSpace;
    QLabel* labelTarget;
    QLineEdit* lineEditPath;
    CImagePushButton* pushButtonBrowse;
};

// Columns of the file list and the search list.
enum : int {
    RESULT_COLUMN_NAME = 0,
    RESULT_COLUMN_SIZE = 1,
    RESULT_COLUMN_TYPE = 2,
    RESULT_COLUMN_MODIFIED = 3,
    RESULT_COLUMN_CREATED = 4,
    RESULT_COLUMN_ACCESSED = 5,
    RESULT_COLUMN_SIZE_VALUE = 6,  // hidden: the size as a number
    RESULT_COLUMN_COUNT = 7,
};

// Row data: the key on column 0, a byte count on column 3 (a file's size; for a folder-tree row
// the ticked bytes below it), the number of entries of a folder's last listing on column 1.
constexpr int ROW_KEY_COLUMN = RESULT_COLUMN_NAME;
constexpr int ROW_BYTES_COLUMN = RESULT_COLUMN_MODIFIED;
constexpr int ROW_COUNT_COLUMN = RESULT_COLUMN_SIZE;

// FillLists modes.
enum : int {
    FILL_FOLDER = 0,
    FILL_SEARCH = 3,
};

class CBuildTreePage : public CProgressDlg, public Ui_BuildTreePage {
    Q_OBJECT
public:
    CBuildTreePage(QWidget* pParent, bool bContinueMode);
    ~CBuildTreePage() override;

    // Wizard hooks.
    int Initialize() override;
    int OnNext(int& nStep) override;
    int OnBack() override;
    int OnCancel() override;

    // The listing job, on the wait dialog's worker thread.
    int Run() override;

    static int ParseItemKey(QTreeWidgetItem* pItem, DWORD* pdwVolume, DWORD* pdwRecord);

    // --- listing ---
    int EnumFolder(DWORD dwParent, int nKind, LISTING* pListing);
    int EnumSearch(const SEARCH_CONDITION* pCondition, LISTING* pListing);
    static void AppendRecords(const FILE_INFO_EX* pRecords, uint32_t nCount, LISTING* pListing, DWORD dwVolume);
    void FillLists(const LISTING& listing, QTreeWidgetItem* pParent, int nMode);

    // --- the opened folder's files, fetched as the list needs them ---
    // Rows built on opening a folder, and on each scroll to the list's end.
    static constexpr int FILE_ROWS_PER_FETCH = 512;
    // Builds up to nRows more rows of the opened folder's files; returns how many it built.
    int FetchMoreFiles(int nRows = FILE_ROWS_PER_FETCH);
    // Builds every row still missing.
    void FetchRemainingFiles();
    // The opened folder has files without a row yet.
    bool HasMoreFiles() const { return !m_vecPendingFiles.isEmpty(); }
    // Lists a folder-tree row's children (what a click on its name does).
    void OpenFolder(QTreeWidgetItem* pItem);
    void ClearList(QTreeWidget* pList);
    void ForgetSubtree(QTreeWidgetItem* pItem);
    void UpdateSelectedSizeLabel();
    void LoadDefaultTarget();
    void StopPreviews();

    // --- preview ---
    // The gate of a preview: size 1 byte to 50 MiB, no folder, no encrypted file; shows why not.
    bool CanPreview(const FILE_DETAIL_INFO* pInfo);
    // Hands a Word or Excel document to the office viewer and waits for it. True when the viewer
    // ran and the caller must not show the file itself; false otherwise (after a message when
    // the name says .doc or .xls but the content is neither).
    bool CheckOfficeFile(QString strPath, QString strName);
    // Hands a PDF file to the PDF viewer and waits for it: 0 when the viewer showed it, 100 when
    // no viewer started, otherwise the viewer's exit code.
    int32_t OpenPdfInViewer(QString strPath, QString strTitle);
    // The end of a preview, once the file is written: with bDoubleClick an office document or a
    // PDF goes to its viewer; what no viewer took is shown in the given view.
    void HandOffOrShow(const QString& strTemp, const QString& strName, FilePreview* pFilePreview,
                       CFilePreviewSplit* pFilePreviewSplit, BOOL bDoubleClick);

    // --- ticking ---
    void SetItemTickState(QTreeWidgetItem* pItem, Qt::CheckState nState, int nFlag);
    int GetKnownTickState(QTreeWidgetItem* pItem) const;
    static int CountChildrenInState(QTreeWidgetItem* pItem, Qt::CheckState nState);
    static int ListedEntryCount(QTreeWidgetItem* pFolder);
    int RelationToCurrentFolder(QTreeWidgetItem* pItem) const;
    void SyncFolderFromFileList(QTreeWidgetItem* pFolder);
    void UpdateFolderTickStates(QTreeWidgetItem* pItem);
    void UpdateFolderSizes(QTreeWidgetItem* pItem);
    // bTellStore false: the store already knows (its folder was ticked or cleared as a whole).
    void TickAllRows(QTreeWidget* pList, QTreeWidgetItem* pFolder, bool bSelect, bool bTellStore = true);
    void TickAllFiles(QTreeWidget* pList, bool bSelect, bool bRowsDone);
    void PropagateTickDown(QTreeWidgetItem* pFolder, bool bChecked);
    QTreeWidgetItem* FindTwinRow(DWORD dwVolume, DWORD dwRecord, QTreeWidgetItem* pSkip) const;
    // What a click on a check box does: of a folder-tree row, of a file row, of a search hit.
    void TickFolderRow(QTreeWidgetItem* pItem);
    void TickFileRow(QTreeWidgetItem* pItem);
    void TickSearchRow(QTreeWidgetItem* pItem);

    // --- search and hand-over ---
    // Runs a search with the criteria of a search dialog (the folder and volume are the page's).
    void RunSearch(const SEARCH_CONDITION& condition);
    bool CheckTarget(const QString& strPath);
    uint32_t CheckTargetPath(const QString& strPath);
    // 1: the target lies on the scanned disk (refused); 2: on the file system holding the
    // scanned image (asked); 0: elsewhere.
    int IsSamePartition(uint64_t ullDevice);
    bool CheckFreeSpace(uint64_t ullFreeBytes);
    void ShowPathError(uint32_t dwCode);

    // State the tests and the wizards look at.
    uint64_t SelectedSize() const { return m_ullSelectedSize; }
    uint64_t SearchSelectedSize() const { return m_ullSearchSelectedSize; }
    QTreeWidgetItem* CurrentFolderItem() const { return m_pCurrentFolderItem; }
    QTreeWidgetItem* RootItem() const { return m_pRootItem; }
    bool IsSearchMode() const { return m_bSearchMode; }
    const SEARCH_CONDITION& SearchCondition() const { return m_SearchCondition; }
    DWORD CurrentVolume() const { return m_dwCurrentVolume; }
    DWORD CurrentFolder() const { return m_dwCurrentFolder; }
    int KnownRowCount() const { return m_mapKnownTickStates.size(); }
    static uint64_t RowBytes(QTreeWidgetItem* pItem, bool* pbSet = nullptr);

public slots:
    // Writes the current row's file of the current tab to a fresh temporary file and shows it in
    // the window or else the pane given; with bDoubleClick the outside viewers may take it
    // instead. The shorter forms leave out the later arguments: "OnPreview()" only writes the file.
    void OnPreview(FilePreview* pFilePreview = nullptr, CFilePreviewSplit* pFilePreviewSplit = nullptr,
                   BOOL bDoubleClick = 0);
    void OnSearch();
    void OnItemClicked(QTreeWidgetItem* pItem, int nColumn);
    void OnItemDBClicked(QTreeWidgetItem* pItem, int nColumn);
    void OnRightItemClicked(QTreeWidgetItem* pItem, int nColumn);
    void OnSearchItemClicked(QTreeWidgetItem* pItem, int nColumn);
    void OnSelectAll();
    void OnSelectAll1();
    void OnUnSelectAll();
    void OnUnSelectAll1();
    void OnBrowse();
    void OntabCloseRequested(int nIndex);
    void OntabChanged(int nIndex);
    void OnFilesHeaderClicked(int nColumn);
    void OnSearchHeaderClicked(int nColumn);
    void OnListMode();
    void OnSplitMode();
    void OnSearchListMode();
    void OnSearchSplitMode();
    // The file list was scrolled or grew: near its end, the next rows are fetched.
    void OnFilesScrolled();

protected:
    // Every box the page shows goes through here (tests answer it themselves).
    virtual QMessageBox::StandardButton AskUser(QMessageBox::Icon nIcon, const QString& strText,
                                                QMessageBox::StandardButtons buttons);
    // The folder chooser of the browse button.
    virtual QString ChooseFolder();
    // The search dialog's criteria; false when the user cancelled it.
    virtual bool AskSearchCondition(SEARCH_CONDITION* pCondition);
    // Preview of a row in a tab's pane (pPane set) or in a window of its own (pPane null).
    virtual void PreviewRow(QTreeWidgetItem* pItem, QWidget* pPane);
    // Stops whatever the preview panes play.
    virtual void StopPanePlayers();

private:
    void SetupConnections();
    void SetButtonImages();
    QTreeWidgetItem* AddPartitionNode(int nIndex);
    void RememberRow(QTreeWidgetItem* pItem, int nState);
    void ForgetRow(QTreeWidgetItem* pItem);
    void SetRowBytes(QTreeWidgetItem* pItem, uint64_t ullBytes);
    void AddToSearchTotal(uint64_t ullBytes, bool bAdd);
    QIcon FileIcon(const QString& strName, QString* pstrType);
    bool IsSearchTabOpen() const;
    void RefreshTwin(QTreeWidgetItem* pItem, Qt::CheckState nState);
    CResultRowItem* NewFileRow(const LISTING_ENTRY& entry, Qt::CheckState nState);
    // The store's listing of the opened folder's files: read until nWanted records wait in
    // m_vecPendingFiles or the listing ends; a listing another call ended is begun again after
    // the last record read.
    void ReadFileBatches(int nWanted);
    void AppendFileBatch(const FILE_INFO_EX* pRecords, int32_t nCount);
    // Another listing or search is about to end the store's listing of the opened folder.
    void SuspendFileListing();
    void ResetFileListing();
    // The opened folder's files are shown in the store's order until the user sorts the list.
    void SetFilesSorting(bool bSorted);

    DWORD m_dwCurrentVolume;
    DWORD m_dwCurrentFolder;
    uint64_t m_ullSelectedSize;
    uint64_t m_ullSearchSelectedSize;
    Qt::SortOrder m_nFilesSortOrder;
    Qt::SortOrder m_nSearchSortOrder;
    QTreeWidgetItem* m_pCurrentFolderItem;
    QTreeWidgetItem* m_pRootItem;
    LISTING m_vecListing;
    // Records of the opened folder's files read from the store but not yet shown as rows. It is
    // never empty while the store may hold more: one batch is always read ahead.
    LISTING m_vecPendingFiles;
    enum : int { FILES_DONE = 0, FILES_OPEN = 1, FILES_SUSPENDED = 2 };
    int m_nFileListing = FILES_DONE;
    DWORD m_dwFilesVolume = 0;
    DWORD m_dwFilesFolder = 0;
    DWORD m_dwLastFileRecord = 0;
    bool m_bAnyFileRead = false;
    bool m_bSkippingReadFiles = false;
    // A listing job runs behind the wait dialog: the store is busy and the lists are not filled.
    bool m_bListingJob = false;
    bool m_bFetchingFiles = false;
    // Tick state shared by all of a folder's files that have no row (yet): checked, unchecked, or
    // PartiallyChecked when they may differ. No entry: every file has its row.
    QHash<QTreeWidgetItem*, int> m_mapRestTickStates;
    QHash<QTreeWidgetItem*, int> m_mapKnownTickStates;
    QHash<QTreeWidgetItem*, QVector<int>> m_mapFileTickStates;
    QHash<QTreeWidgetItem*, uint64_t> m_mapOwnTickedBytes;
    // File rows and search rows by record (volume in the high word), for their twins.
    QMultiHash<uint64_t, QTreeWidgetItem*> m_mapRowsByRecord;
    ICorrand* m_pStore;
    ITessary* m_pTessary;
    bool m_bSearchMode;
    bool m_bContinueMode;
    bool m_bFilesSplitMode;
    bool m_bSearchSplitMode;
    SEARCH_CONDITION m_SearchCondition;
    QTreeWidgetItem* m_pLastPreviewedFileRow;
    QTreeWidgetItem* m_pLastPreviewedSearchRow;
    // The one preview window a double click opens; the next double click replaces it.
    FilePreview* m_pPreviewWindow = nullptr;
    // Icons and type names by lower-case extension: a folder of many files of few types asks
    // the desktop's type database once per type.
    QHash<QString, QPair<QIcon, QString>> m_mapTypeCache;
};
