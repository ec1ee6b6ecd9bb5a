#include "BuildTreePage.h"

#include "FilePreviewSplit.h"

#include "FilePreview.h"

#include <QCoreApplication>
#include <QFileIconProvider>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QSettings>
#include <QSplitter>
#include <QVBoxLayout>

#include <climits>
#include <cstring>

#include "ICorrand.h"
#include "ITessary.h"
#include "ImagePushButton.h"
#include "MessageTable.h"
#include "ModuleLoader.h"
#include "Pubic.h"
#include "RVTabWidget.h"
#include "RVTreeWidget.h"
#include "ResultRowItem.h"
#include "UIRoutines.h"
#include "Charset.h"

namespace {

QString Tr(const char* pszText)
{
    return QCoreApplication::translate("BuildTreePage", pszText);
}

CImagePushButton* NewButton(QWidget* pParent, const char* pszName)
{
    CImagePushButton* pButton = new CImagePushButton(pParent);
    pButton->setObjectName(pszName);
    return pButton;
}

CRVTreeWidget* NewList(QWidget* pParent, const char* pszName)
{
    CRVTreeWidget* pList = new CRVTreeWidget(pParent);
    pList->setObjectName(pszName);
    pList->setColumnCount(RESULT_COLUMN_COUNT);
    pList->setHeaderLabels({Tr("File name"), Tr("File size"), Tr("File type"), Tr("Modification time"),
                            Tr("Create time"), Tr("Last access time"), Tr("FileSize")});
    pList->setRootIsDecorated(false);
    pList->setUniformRowHeights(true);
    pList->setSortingEnabled(true);
    pList->header()->setSortIndicatorShown(true);
    pList->setColumnHidden(RESULT_COLUMN_SIZE_VALUE, true);
    return pList;
}

// Sums of byte counts never wrap: a count that would pass either end stops there.
uint64_t AddBytes(uint64_t ullA, uint64_t ullB)
{
    return ullA > UINT64_MAX - ullB ? UINT64_MAX : ullA + ullB;
}

} // namespace

// ----- the form ---------------------------------------------------------------------------------

void Ui_BuildTreePage::setupUi(QWidget* pPage)
{
    pPage->setObjectName("BuildTreePage");
    pPage->setWindowTitle(Tr("WizardPage"));
    pPage->setMinimumSize(760, 518);
    pPage->setFont(QFont("Arial"));

    QVBoxLayout* verticalLayout = new QVBoxLayout(pPage);
    verticalLayout->setObjectName("verticalLayout");
    verticalLayout->setContentsMargins(0, 0, 0, 0);
    frame = new QFrame(pPage);
    frame->setObjectName("frame");
    verticalLayout->addWidget(frame);

    QVBoxLayout* verticalLayout_2 = new QVBoxLayout(frame);
    verticalLayout_2->setObjectName("verticalLayout_2");

    QHBoxLayout* horizontalLayout = new QHBoxLayout();
    horizontalLayout->setObjectName("horizontalLayout");
    label = new QLabel(Tr("Selected files and target path, then click \"Next\" to recover."), frame);
    label->setObjectName("label");
    label->setStyleSheet("color: rgb(184, 191, 157);");
    pushButtonSearch = NewButton(frame, "pushButtonSearch");
    horizontalLayout->addWidget(label, 1);
    horizontalLayout->addWidget(pushButtonSearch);
    verticalLayout_2->addLayout(horizontalLayout);

    tabWidgetFileTree = new CRVTabWidget(frame);
    tabWidgetFileTree->setObjectName("tabWidgetFileTree");
    tabWidgetFileTree->setTabsClosable(true);
    verticalLayout_2->addWidget(tabWidgetFileTree, 1);

    // Files tab: folder tree beside the file list (over its preview pane).
    tabBuildFiles = new QWidget();
    tabBuildFiles->setObjectName("tabBuildFiles");
    QVBoxLayout* verticalLayout_3 = new QVBoxLayout(tabBuildFiles);
    verticalLayout_3->setObjectName("verticalLayout_3");
    splitterH = new QSplitter(Qt::Horizontal, tabBuildFiles);
    splitterH->setObjectName("splitterH");
    splitterH->setChildrenCollapsible(false);
    FloderTreeWidget = new CRVTreeWidget(splitterH);
    FloderTreeWidget->setObjectName("FloderTreeWidget");
    FloderTreeWidget->setHeaderHidden(true);
    FloderTreeWidget->setMinimumWidth(200);
    FloderTreeWidget->setFont(QFont("Arial", 8));
    QWidget* layoutWidget = new QWidget(splitterH);
    layoutWidget->setObjectName("layoutWidget");
    QVBoxLayout* verticalLayout_4 = new QVBoxLayout(layoutWidget);
    verticalLayout_4->setObjectName("verticalLayout_4");
    verticalLayout_4->setContentsMargins(0, 0, 0, 0);
    splitterV = new QSplitter(Qt::Vertical, layoutWidget);
    splitterV->setObjectName("splitterV");
    splitterV->setChildrenCollapsible(false);
    FilesTreeWidget = NewList(splitterV, "FilesTreeWidget");
    FilesTreeWidget->setSelectionMode(QAbstractItemView::SingleSelection);
    SplitFilePreview = new CFilePreviewSplit(splitterV);
    SplitFilePreview->setObjectName("SplitFilePreview");
    SplitFilePreview->setMinimumHeight(205);
    splitterV->setStretchFactor(0, 1);
    splitterV->setStretchFactor(1, 2);
    verticalLayout_4->addWidget(splitterV, 1);
    QHBoxLayout* SelectHBoxLayout = new QHBoxLayout();
    SelectHBoxLayout->setObjectName("SelectHBoxLayout");
    pushButtonSelectAll = NewButton(layoutWidget, "pushButtonSelectAll");
    pushButtonUnSelect = NewButton(layoutWidget, "pushButtonUnSelect");
    pushButtonSplit = NewButton(layoutWidget, "pushButtonSplit");
    pushButtonList = NewButton(layoutWidget, "pushButtonList");
    SelectHBoxLayout->addWidget(pushButtonSelectAll);
    SelectHBoxLayout->addWidget(pushButtonUnSelect);
    SelectHBoxLayout->addStretch(1);
    SelectHBoxLayout->addWidget(pushButtonSplit);
    SelectHBoxLayout->addWidget(pushButtonList);
    verticalLayout_4->addLayout(SelectHBoxLayout);
    splitterH->setStretchFactor(0, 1);
    splitterH->setStretchFactor(1, 3);
    verticalLayout_3->addWidget(splitterH);
    tabWidgetFileTree->addTab(tabBuildFiles, Tr("Files"));

    // Search tab: hits beside their preview pane; added to the tab widget by the first search.
    tabSearchFiles = new QWidget();
    tabSearchFiles->setObjectName("tabSearchFiles");
    QVBoxLayout* SearchPreviewHBoxLayout = new QVBoxLayout(tabSearchFiles);
    SearchPreviewHBoxLayout->setObjectName("SearchPreviewHBoxLayout");
    SearchSplitter = new QSplitter(Qt::Horizontal, tabSearchFiles);
    SearchSplitter->setObjectName("SearchSplitter");
    SearchSplitter->setChildrenCollapsible(false);
    SearchFilesTreeWidget = NewList(SearchSplitter, "SearchFilesTreeWidget");
    SearchFilesTreeWidget->setMinimumWidth(400);
    SearchFilesTreeWidget->header()->setHighlightSections(false);
    SplitSearchPreview = new CFilePreviewSplit(SearchSplitter);
    SplitSearchPreview->setObjectName("SplitSearchPreview");
    SplitSearchPreview->setMinimumWidth(300);
    SearchSplitter->setStretchFactor(0, 2);
    SearchSplitter->setStretchFactor(1, 1);
    SearchPreviewHBoxLayout->addWidget(SearchSplitter, 1);
    QHBoxLayout* SearchSelectHBoxLayout = new QHBoxLayout();
    SearchSelectHBoxLayout->setObjectName("SearchSelectHBoxLayout");
    pushButtonSearchSelectAll = NewButton(tabSearchFiles, "pushButtonSearchSelectAll");
    pushButtonSearchUnSelect = NewButton(tabSearchFiles, "pushButtonSearchUnSelect");
    pushButtonSearchSplit = NewButton(tabSearchFiles, "pushButtonSearchSplit");
    pushButtonSearchList = NewButton(tabSearchFiles, "pushButtonSearchList");
    SearchSelectHBoxLayout->addWidget(pushButtonSearchSelectAll);
    SearchSelectHBoxLayout->addWidget(pushButtonSearchUnSelect);
    SearchSelectHBoxLayout->addStretch(1);
    SearchSelectHBoxLayout->addWidget(pushButtonSearchSplit);
    SearchSelectHBoxLayout->addWidget(pushButtonSearchList);
    SearchPreviewHBoxLayout->addLayout(SearchSelectHBoxLayout);

    // Selected size and target line.
    QHBoxLayout* horizontalLayout_2 = new QHBoxLayout();
    horizontalLayout_2->setObjectName("horizontalLayout_2");
    labelSelFileSize = new QLabel(Tr("Selected file(s) size: "), frame);
    labelSelFileSize->setObjectName("labelSelFileSize");
    labelFileSize = new QLabel(frame);
    labelFileSize->setObjectName("labelFileSize");
    horizontalLayout_2->addWidget(labelSelFileSize);
    horizontalLayout_2->addWidget(labelFileSize, 1);
    verticalLayout_2->addLayout(horizontalLayout_2);
    QHBoxLayout* TargetHBoxLayout = new QHBoxLayout();
    TargetHBoxLayout->setObjectName("TargetHBoxLayout");
    labelSpace = new QLabel(frame);
    labelSpace->setObjectName("labelSpace");
    labelTarget = new QLabel(Tr("Target:"), frame);
    labelTarget->setObjectName("labelTarget");
    labelTarget->setStyleSheet("color: rgb(184, 191, 157);");
    lineEditPath = new QLineEdit(frame);
    lineEditPath->setObjectName("lineEditPath");
    lineEditPath->setMaxLength(256);
    pushButtonBrowse = NewButton(frame, "pushButtonBrowse");
    TargetHBoxLayout->addWidget(labelSpace);
    TargetHBoxLayout->addWidget(labelTarget);
    TargetHBoxLayout->addWidget(lineEditPath, 1);
    TargetHBoxLayout->addWidget(pushButtonBrowse);
    verticalLayout_2->addLayout(TargetHBoxLayout);
}

// ----- life cycle -------------------------------------------------------------------------------

CBuildTreePage::CBuildTreePage(QWidget* pParent, bool bContinueMode)
    : CProgressDlg(pParent)
    , m_dwCurrentVolume(0)
    , m_dwCurrentFolder(0)
    , m_ullSelectedSize(0)
    , m_ullSearchSelectedSize(0)
    , m_nFilesSortOrder(Qt::AscendingOrder)
    , m_nSearchSortOrder(Qt::AscendingOrder)
    , m_pCurrentFolderItem(nullptr)
    , m_pRootItem(nullptr)
    , m_pStore(nullptr)
    , m_pTessary(nullptr)
    , m_bSearchMode(false)
    , m_bContinueMode(bContinueMode)
    , m_bFilesSplitMode(true)
    , m_bSearchSplitMode(true)
    , m_SearchCondition{}
    , m_pLastPreviewedFileRow(nullptr)
    , m_pLastPreviewedSearchRow(nullptr)
{
    setupUi(this);
    frame->setObjectName("buildtree");
    frame->setStyleSheet(QString("QFrame#buildtree{border-image: url(%1);}")
                             .arg(CPubic::GetIniParser().GetImagePath("Page_BGImage")));
    SetupConnections();

    m_pStore = static_cast<ICorrand*>(CreateModuleInstance(u"Corrand"));
    m_pTessary = static_cast<ITessary*>(CreateModuleInstance(u"Tessary"));
    SetWaitText(TrMessage(36));
}

CBuildTreePage::~CBuildTreePage()
{
    StopPanePlayers();
    delete m_pPreviewWindow;
    m_mapKnownTickStates.clear();
    m_mapFileTickStates.clear();
    m_mapOwnTickedBytes.clear();
    m_mapRowsByRecord.clear();
    // The search tab lives outside the tab widget while it is closed.
    if (tabWidgetFileTree->indexOf(tabSearchFiles) < 0)
        delete tabSearchFiles;
}

void CBuildTreePage::SetupConnections()
{
    connect(tabWidgetFileTree, SIGNAL(tabCloseRequested(int)), this, SLOT(OntabCloseRequested(int)));
    connect(tabWidgetFileTree, SIGNAL(currentChanged(int)), this, SLOT(OntabChanged(int)));
    connect(pushButtonSearch, SIGNAL(released()), this, SLOT(OnSearch()));
    connect(FloderTreeWidget, SIGNAL(itemClicked(QTreeWidgetItem*, int)), this, SLOT(OnItemClicked(QTreeWidgetItem*, int)));
    connect(FilesTreeWidget, SIGNAL(itemDoubleClicked(QTreeWidgetItem*, int)), this,
            SLOT(OnItemDBClicked(QTreeWidgetItem*, int)));
    connect(FilesTreeWidget, SIGNAL(itemClicked(QTreeWidgetItem*, int)), this,
            SLOT(OnRightItemClicked(QTreeWidgetItem*, int)));
    connect(SearchFilesTreeWidget, SIGNAL(itemDoubleClicked(QTreeWidgetItem*, int)), this,
            SLOT(OnItemDBClicked(QTreeWidgetItem*, int)));
    connect(SearchFilesTreeWidget, SIGNAL(itemClicked(QTreeWidgetItem*, int)), this,
            SLOT(OnSearchItemClicked(QTreeWidgetItem*, int)));
    connect(pushButtonSelectAll, SIGNAL(released()), this, SLOT(OnSelectAll()));
    connect(pushButtonUnSelect, SIGNAL(released()), this, SLOT(OnUnSelectAll()));
    connect(pushButtonSearchSelectAll, SIGNAL(released()), this, SLOT(OnSelectAll1()));
    connect(pushButtonSearchUnSelect, SIGNAL(released()), this, SLOT(OnUnSelectAll1()));
    connect(pushButtonBrowse, SIGNAL(released()), this, SLOT(OnBrowse()));
    connect(FilesTreeWidget->header(), SIGNAL(sectionClicked(int)), this, SLOT(OnFilesHeaderClicked(int)));
    connect(SearchFilesTreeWidget->header(), SIGNAL(sectionClicked(int)), this, SLOT(OnSearchHeaderClicked(int)));
    connect(FilesTreeWidget->verticalScrollBar(), SIGNAL(valueChanged(int)), this, SLOT(OnFilesScrolled()));
    connect(FilesTreeWidget->verticalScrollBar(), SIGNAL(rangeChanged(int, int)), this, SLOT(OnFilesScrolled()));
    connect(pushButtonSplit, SIGNAL(released()), this, SLOT(OnSplitMode()));
    connect(pushButtonList, SIGNAL(released()), this, SLOT(OnListMode()));
    connect(pushButtonSearchSplit, SIGNAL(released()), this, SLOT(OnSearchSplitMode()));
    connect(pushButtonSearchList, SIGNAL(released()), this, SLOT(OnSearchListMode()));
}

void CBuildTreePage::SetButtonImages()
{
    CConfigParser& parser = CPubic::GetIniParser();
    pushButtonSearch->SetImagePath(parser.GetImagePathList("SearchImage"));
    pushButtonSelectAll->SetImagePath(parser.GetImagePathList("SelectAllImage"));
    pushButtonUnSelect->SetImagePath(parser.GetImagePathList("UnSelectAllImage"));
    pushButtonSearchSelectAll->SetImagePath(parser.GetImagePathList("SelectAllImage"));
    pushButtonSearchUnSelect->SetImagePath(parser.GetImagePathList("UnSelectAllImage"));
    pushButtonBrowse->SetImagePath(parser.GetImagePathList("BrowseImage"));
    const QStringList listModes = parser.GetImagePathList("FilePreviewModeImage");
    if (listModes.size() >= 2) {
        // One image per mode serves every state of its two buttons.
        for (CImagePushButton* pButton : {pushButtonSplit, pushButtonSearchSplit}) {
            pButton->SetImagePath(listModes.at(0), listModes.at(0), listModes.at(0), listModes.at(0));
            pButton->setIcon(QIcon(listModes.at(0)));
        }
        for (CImagePushButton* pButton : {pushButtonList, pushButtonSearchList}) {
            pButton->SetImagePath(listModes.at(1), listModes.at(1), listModes.at(1), listModes.at(1));
            pButton->setIcon(QIcon(listModes.at(1)));
        }
    }
}

void CBuildTreePage::LoadDefaultTarget()
{
    QSettings settings("Option.ini", QSettings::IniFormat);
    lineEditPath->setText(settings.value("/Path/DefaultPath", QString()).toString());
}

int CBuildTreePage::Initialize()
{
    SetButtonImages();
    LoadDefaultTarget();

    // Every row goes: no map may keep the address of a deleted row.
    StopPreviews();
    m_mapKnownTickStates.clear();
    m_mapFileTickStates.clear();
    m_mapOwnTickedBytes.clear();
    m_mapRowsByRecord.clear();
    m_mapRestTickStates.clear();
    ResetFileListing();
    m_pCurrentFolderItem = nullptr;
    m_pLastPreviewedFileRow = nullptr;
    m_pLastPreviewedSearchRow = nullptr;
    FloderTreeWidget->clear();
    FilesTreeWidget->clear();
    SearchFilesTreeWidget->clear();
    const int nSearchTab = tabWidgetFileTree->indexOf(tabSearchFiles);
    if (nSearchTab >= 0)
        tabWidgetFileTree->removeTab(nSearchTab);
    tabWidgetFileTree->setCurrentIndex(0);
    tabWidgetFileTree->HideCloseIcon(0);
    m_bSearchMode = false;
    m_ullSelectedSize = 0;
    m_ullSearchSelectedSize = 0;
    FloderTreeWidget->setHeaderHidden(true);
    FilesTreeWidget->setColumnHidden(RESULT_COLUMN_SIZE_VALUE, true);
    SearchFilesTreeWidget->setColumnHidden(RESULT_COLUMN_SIZE_VALUE, true);
    SetFilesSorting(true);

    int32_t nCount = 0;
    if (m_pStore != nullptr)
        m_pStore->GetPartitionCount(&nCount);

    m_pRootItem = FloderTreeWidget->invisibleRootItem();
    m_pRootItem->setData(ROW_KEY_COLUMN, Qt::UserRole, Tr("Root"));
    m_pRootItem->setData(ROW_BYTES_COLUMN, Qt::UserRole, QVariant::fromValue<qulonglong>(0));
    m_mapOwnTickedBytes.insert(m_pRootItem, 0);
    m_pRootItem->setExpanded(true);
    m_dwCurrentFolder = NO_FOLDER_OPENED;
    m_dwCurrentVolume = 0;

    for (int i = 0; i < nCount; ++i)
        AddPartitionNode(i);
    if (m_pStore != nullptr) {
        m_pStore->GetPartitionCount(&nCount);
        if (m_bContinueMode)
            m_pStore->ClearCheckStates();
    }
    UpdateSelectedSizeLabel();
    labelFileSize->setText(FormatSizeText(0));
    return 0;
}

QTreeWidgetItem* CBuildTreePage::AddPartitionNode(int nIndex)
{
    PARTITION_INFO_EX partition;
    std::memset(&partition, 0, sizeof(partition));
    if ((m_pStore->GetPartitionInfo(&partition, nIndex) & 0xFFFF) != 0)
        return nullptr;
    QString strName = QString::fromUtf16(partition.szVolumeLabel,
                                         static_cast<int>(rvd::WideLength(partition.szVolumeLabel, 100)));
    const QString strFileSystem = GetFileSystemName(static_cast<int>(partition.dwFileSystem));
    if (strName.isEmpty())
        strName = strFileSystem;
    const QString strThird = partition.chDriveLetter != 0 ? QString("%1:").arg(QChar(partition.chDriveLetter)) : strFileSystem;
    static const QFileIconProvider iconProvider;
    QTreeWidgetItem* pItem = new QTreeWidgetItem();
    pItem->setText(0, QString("%1 %2(%3)").arg(nIndex + 1).arg(strName, strThird));
    pItem->setData(ROW_KEY_COLUMN, Qt::UserRole, MakePartitionKey(nIndex));
    pItem->setData(ROW_BYTES_COLUMN, Qt::UserRole, QVariant::fromValue<qulonglong>(0));
    FloderTreeWidget->AddData(pItem, true, Qt::Unchecked, nullptr, iconProvider.icon(QFileIconProvider::Drive));
    m_mapOwnTickedBytes.insert(pItem, 0);
    RememberRow(pItem, Qt::Unchecked);
    return pItem;
}

// ----- the listing job --------------------------------------------------------------------------

int CBuildTreePage::ParseItemKey(QTreeWidgetItem* pItem, DWORD* pdwVolume, DWORD* pdwRecord)
{
    if (pItem == nullptr)
        return ITEM_KEY_NONE;
    const QVariant key = pItem->data(ROW_KEY_COLUMN, Qt::UserRole);
    if (!key.isValid() || key.isNull())
        return ITEM_KEY_NONE;
    return ParseItemKeyText(key.toString(), pdwVolume, pdwRecord);
}

int CBuildTreePage::Run()
{
    m_vecListing.clear();
    if (!m_bSearchMode) {
        // Every subfolder (the tree needs them all), then the first page of files, read one
        // batch ahead so that what is left over tells whether the folder has more.
        EnumFolder(m_dwCurrentFolder, ENUM_KIND_FOLDERS, &m_vecListing);
        ReadFileBatches(FILE_ROWS_PER_FETCH + 1);
        const int nFirst = qMin(FILE_ROWS_PER_FETCH, m_vecPendingFiles.size());
        m_vecListing += m_vecPendingFiles.mid(0, nFirst);
        m_vecPendingFiles.remove(0, nFirst);
    } else {
        EnumSearch(&m_SearchCondition, &m_vecListing);
    }
    return 0;
}

void CBuildTreePage::AppendRecords(const FILE_INFO_EX* pRecords, uint32_t nCount, LISTING* pListing, DWORD dwVolume)
{
    if (pRecords == nullptr || nCount == 0 || pListing == nullptr)
        return;
    // Grows geometrically: a folder of a hundred thousand files arrives in hundreds of batches.
    if (pListing->capacity() < pListing->size() + static_cast<int>(nCount))
        pListing->reserve(qMax(pListing->size() + static_cast<int>(nCount), pListing->capacity() * 2));
    for (uint32_t i = 0; i < nCount; ++i) {
        LISTING_ENTRY entry;
        std::memset(&entry, 0, sizeof(entry));
        std::memcpy(&entry.Info, &pRecords[i], sizeof(FILE_INFO_EX));
        entry.dwVolume = dwVolume;
        pListing->append(entry);
    }
}

int CBuildTreePage::EnumFolder(DWORD dwParent, int nKind, LISTING* pListing)
{
    if (m_pStore == nullptr)
        return 0;
    FILE_INFO_EX* pRecords = nullptr;
    int32_t nCount = 0;
    int nStatus = m_pStore->BeginEnumFiles(dwParent, &pRecords, &nCount, nKind, m_dwCurrentVolume);
    if (nStatus != 0)
        return nStatus;
    AppendRecords(pRecords, nCount > 0 ? static_cast<uint32_t>(nCount) : 0, pListing, m_dwCurrentVolume);
    for (;;) {
        pRecords = nullptr;
        nCount = 0;
        nStatus = m_pStore->GetNextFiles(&pRecords, &nCount);
        if (nStatus != 0 || nCount <= 0)
            break;
        AppendRecords(pRecords, static_cast<uint32_t>(nCount), pListing, m_dwCurrentVolume);
    }
    m_pStore->EndEnumFiles();
    return nStatus;
}

int CBuildTreePage::EnumSearch(const SEARCH_CONDITION* pCondition, LISTING* pListing)
{
    if (m_pStore == nullptr || pCondition == nullptr)
        return 0;
    // Hits belong to the volume that was searched; every later use takes it from their key.
    const DWORD dwVolume = pCondition->dwVolume;
    FILE_INFO_EX* pRecords = nullptr;
    int32_t nCount = 0;
    if (m_pStore->BeginSearchFiles(pCondition, &pRecords, &nCount, 0) != 0)
        return 0;
    AppendRecords(pRecords, nCount > 0 ? static_cast<uint32_t>(nCount) : 0, pListing, dwVolume);
    for (;;) {
        pRecords = nullptr;
        nCount = 0;
        if (m_pStore->GetNextFiles(&pRecords, &nCount) != 0 || nCount <= 0)
            break;
        AppendRecords(pRecords, static_cast<uint32_t>(nCount), pListing, dwVolume);
    }
    m_pStore->EndEnumFiles();
    return 0;
}

void CBuildTreePage::AppendFileBatch(const FILE_INFO_EX* pRecords, int32_t nCount)
{
    if (pRecords == nullptr || nCount <= 0)
        return;
    if (m_vecPendingFiles.capacity() < m_vecPendingFiles.size() + nCount)
        m_vecPendingFiles.reserve(qMax(m_vecPendingFiles.size() + nCount, m_vecPendingFiles.capacity() * 2));
    for (int32_t i = 0; i < nCount; ++i) {
        // A listing begun again passes over what was read before (the store lists in record order).
        if (m_bAnyFileRead && m_bSkippingReadFiles) {
            if (pRecords[i].dwRecordNumber <= m_dwLastFileRecord)
                continue;
            m_bSkippingReadFiles = false;
        }
        LISTING_ENTRY entry;
        std::memset(&entry, 0, sizeof(entry));
        std::memcpy(&entry.Info, &pRecords[i], sizeof(FILE_INFO_EX));
        entry.dwVolume = m_dwFilesVolume;
        m_vecPendingFiles.append(entry);
        m_dwLastFileRecord = pRecords[i].dwRecordNumber;
        m_bAnyFileRead = true;
    }
}

void CBuildTreePage::ReadFileBatches(int nWanted)
{
    if (m_pStore == nullptr) {
        m_nFileListing = FILES_DONE;
        return;
    }
    FILE_INFO_EX* pRecords = nullptr;
    int32_t nCount = 0;
    if (m_nFileListing == FILES_SUSPENDED && m_vecPendingFiles.size() < nWanted) {
        if (m_pStore->BeginEnumFiles(m_dwFilesFolder, &pRecords, &nCount, ENUM_KIND_FILES, m_dwFilesVolume) != 0) {
            m_nFileListing = FILES_DONE;
            return;
        }
        m_nFileListing = FILES_OPEN;
        m_bSkippingReadFiles = m_bAnyFileRead;
        AppendFileBatch(pRecords, nCount);
    }
    while (m_nFileListing == FILES_OPEN && m_vecPendingFiles.size() < nWanted) {
        pRecords = nullptr;
        nCount = 0;
        if (m_pStore->GetNextFiles(&pRecords, &nCount) != 0 || nCount <= 0) {
            m_pStore->EndEnumFiles();
            m_nFileListing = FILES_DONE;
            break;
        }
        AppendFileBatch(pRecords, nCount);
    }
}

void CBuildTreePage::SuspendFileListing()
{
    if (m_nFileListing == FILES_OPEN)
        m_nFileListing = FILES_SUSPENDED;
}

void CBuildTreePage::ResetFileListing()
{
    if (m_nFileListing == FILES_OPEN && m_pStore != nullptr)
        m_pStore->EndEnumFiles();
    m_nFileListing = FILES_DONE;
    m_vecPendingFiles.clear();
    m_vecPendingFiles.squeeze();
    m_bAnyFileRead = false;
    m_bSkippingReadFiles = false;
    m_dwLastFileRecord = 0;
}

// ----- rows -------------------------------------------------------------------------------------

uint64_t CBuildTreePage::RowBytes(QTreeWidgetItem* pItem, bool* pbSet)
{
    const QVariant value = pItem != nullptr ? pItem->data(ROW_BYTES_COLUMN, Qt::UserRole) : QVariant();
    bool bOk = false;
    const qulonglong ullValue = value.isValid() ? value.toULongLong(&bOk) : 0;
    if (pbSet != nullptr)
        *pbSet = value.isValid() && bOk;
    return bOk ? ullValue : 0;
}

void CBuildTreePage::SetRowBytes(QTreeWidgetItem* pItem, uint64_t ullBytes)
{
    if (pItem != nullptr)
        pItem->setData(ROW_BYTES_COLUMN, Qt::UserRole, QVariant::fromValue<qulonglong>(ullBytes));
}

void CBuildTreePage::RememberRow(QTreeWidgetItem* pItem, int nState)
{
    m_mapKnownTickStates.insert(pItem, nState);
}

void CBuildTreePage::ForgetRow(QTreeWidgetItem* pItem)
{
    m_mapKnownTickStates.remove(pItem);
    DWORD dwVolume = 0, dwRecord = 0;
    if (ParseItemKey(pItem, &dwVolume, &dwRecord) == 0) {
        m_mapRowsByRecord.remove((static_cast<uint64_t>(dwVolume) << 32) | dwRecord, pItem);
    }
    if (pItem == m_pLastPreviewedFileRow)
        m_pLastPreviewedFileRow = nullptr;
    if (pItem == m_pLastPreviewedSearchRow)
        m_pLastPreviewedSearchRow = nullptr;
}

void CBuildTreePage::ClearList(QTreeWidget* pList)
{
    if (pList == nullptr)
        return;
    if (pList == FilesTreeWidget)
        m_pLastPreviewedFileRow = nullptr;
    else if (pList == SearchFilesTreeWidget)
        m_pLastPreviewedSearchRow = nullptr;
    // Dropping the whole list's rows one by one from the record index would cost a lookup
    // each; rebuilding the index from the other list's rows is one pass.
    QTreeWidget* pOther = pList == FilesTreeWidget ? static_cast<QTreeWidget*>(SearchFilesTreeWidget) : FilesTreeWidget;
    for (int i = 0; i < pList->topLevelItemCount(); ++i)
        m_mapKnownTickStates.remove(pList->topLevelItem(i));
    m_mapRowsByRecord.clear();
    for (int i = 0; i < pOther->topLevelItemCount(); ++i) {
        QTreeWidgetItem* pRow = pOther->topLevelItem(i);
        DWORD dwVolume = 0, dwRecord = 0;
        if (ParseItemKey(pRow, &dwVolume, &dwRecord) == 0)
            m_mapRowsByRecord.insert((static_cast<uint64_t>(dwVolume) << 32) | dwRecord, pRow);
    }
    pList->clear();
}

void CBuildTreePage::ForgetSubtree(QTreeWidgetItem* pItem)
{
    if (pItem == nullptr)
        return;
    for (int i = 0; i < pItem->childCount(); ++i) {
        QTreeWidgetItem* pChild = pItem->child(i);
        ForgetSubtree(pChild);
        m_mapOwnTickedBytes.remove(pChild);
        m_mapFileTickStates.remove(pChild);
        m_mapKnownTickStates.remove(pChild);
        m_mapRestTickStates.remove(pChild);
        if (pChild == m_pCurrentFolderItem)
            m_pCurrentFolderItem = nullptr;
    }
}

QIcon CBuildTreePage::FileIcon(const QString& strName, QString* pstrType)
{
    const int nDot = strName.lastIndexOf(QLatin1Char('.'));
    const QString strExtension = nDot > 0 ? strName.mid(nDot + 1).toLower() : QString();
    auto it = m_mapTypeCache.constFind(strExtension);
    if (it == m_mapTypeCache.constEnd()) {
        char szType[FILE_TYPE_NAME_SIZE] = {};
        const QIcon icon = GetFileIconAndType(strExtension.isEmpty() ? QString("file") : "file." + strExtension, szType);
        it = m_mapTypeCache.insert(strExtension, qMakePair(icon, QString::fromUtf8(szType)));
    }
    if (pstrType != nullptr)
        *pstrType = it->second;
    return it->first;
}

CResultRowItem* CBuildTreePage::NewFileRow(const LISTING_ENTRY& entry, Qt::CheckState nState)
{
    const FILE_INFO_EX& info = entry.Info;
    const QString strName = QString::fromUtf16(info.szName, static_cast<int>(rvd::WideLength(info.szName, 260)));
    WCHAR szDate[DATE_TEXT_SIZE];
    QString strType;
    CResultRowItem* pItem = new CResultRowItem();
    // The last column first: the row's column storage is sized once, not once per column.
    pItem->setData(RESULT_COLUMN_SIZE_VALUE, Qt::DisplayRole, QVariant::fromValue<qulonglong>(info.ullSize));
    pItem->setText(RESULT_COLUMN_NAME, strName);
    pItem->setIcon(RESULT_COLUMN_NAME, FileIcon(strName, &strType));
    pItem->setText(RESULT_COLUMN_SIZE, FormatSizeText(info.ullSize));
    pItem->setText(RESULT_COLUMN_TYPE, strType);
    pItem->setText(RESULT_COLUMN_MODIFIED, QString::fromUtf16(FormatDateText(info.stModificationTime, szDate)));
    pItem->setText(RESULT_COLUMN_CREATED, QString::fromUtf16(FormatDateText(info.stCreationTime, szDate)));
    pItem->setText(RESULT_COLUMN_ACCESSED, QString::fromUtf16(FormatDateText(info.stAccessTime, szDate)));
    pItem->SetSortTimes(info.stModificationTime, info.stCreationTime, info.stAccessTime);
    pItem->setData(ROW_KEY_COLUMN, Qt::UserRole, MakeItemKey(entry.dwVolume, info.dwRecordNumber));
    SetRowBytes(pItem, info.ullSize);
    pItem->setCheckState(0, nState);
    RememberRow(pItem, nState);
    m_mapRowsByRecord.insert((static_cast<uint64_t>(entry.dwVolume) << 32) | info.dwRecordNumber, pItem);
    return pItem;
}

void CBuildTreePage::FillLists(const LISTING& listing, QTreeWidgetItem* pParent, int nMode)
{
    const bool bSearch = nMode == FILL_SEARCH;
    QTreeWidget* pList = bSearch ? static_cast<QTreeWidget*>(SearchFilesTreeWidget) : FilesTreeWidget;
    static const QFileIconProvider iconProvider;
    const QIcon folderIcon = iconProvider.icon(QFileIconProvider::Folder);

    QVector<int> vecFileStates;
    uint64_t ullOwn = 0;
    QList<QTreeWidgetItem*> listFiles;
    QList<QTreeWidgetItem*> listFolders;
    listFiles.reserve(listing.size());

    for (const LISTING_ENTRY& entry : listing) {
        const FILE_INFO_EX& info = entry.Info;
        const Qt::CheckState nState = RecordCheckState(info);
        if (info.dwFolder != 0) {
            if (bSearch)
                continue;
            const QString strKey = MakeItemKey(entry.dwVolume, info.dwRecordNumber);
            const QString strName = QString::fromUtf16(info.szName, static_cast<int>(rvd::WideLength(info.szName, 260)));
            QTreeWidgetItem* pItem = new QTreeWidgetItem();
            pItem->setText(0, strName);
            pItem->setIcon(0, folderIcon);
            pItem->setData(ROW_KEY_COLUMN, Qt::UserRole, strKey);
            uint64_t ullBytes = 0;
            if (nState != Qt::Unchecked && m_pStore != nullptr)
                ullBytes = m_pStore->GetCheckedSize(info.dwRecordNumber, 0, entry.dwVolume);
            SetRowBytes(pItem, ullBytes);
            pItem->setCheckState(0, nState);
            listFolders.append(pItem);
            RememberRow(pItem, nState);
            continue;
        }
        listFiles.append(NewFileRow(entry, nState));
        if (bSearch) {
            if (nState == Qt::Checked)
                m_ullSearchSelectedSize = AddBytes(m_ullSearchSelectedSize, info.ullSize);
        } else {
            vecFileStates.append(nState);
            if (nState == Qt::Checked)
                ullOwn = AddBytes(ullOwn, info.ullSize);
        }
    }

    // Rows go in at once with sorting off: one sort at the end instead of a sorted insert per row.
    const bool bSorting = pList->isSortingEnabled();
    pList->setSortingEnabled(false);
    pList->addTopLevelItems(listFiles);
    pList->setSortingEnabled(bSorting);
    if (!bSearch && pParent != nullptr && !listFolders.isEmpty()) {
        FloderTreeWidget->DisconnectItemChanged();
        pParent->addChildren(listFolders);
        FloderTreeWidget->RestoreItemChanged();
    }

    if (!bSearch && pParent != nullptr) {
        m_mapFileTickStates.insert(pParent, vecFileStates);
        m_mapOwnTickedBytes.insert(pParent, ullOwn);
        // Files still in the store share the folder's state when it is whole; a folder ticked in
        // part may hold files of both states.
        m_mapRestTickStates.remove(pParent);
        if (HasMoreFiles())
            m_mapRestTickStates.insert(pParent, pParent->checkState(0));
        UpdateFolderTickStates(pParent);
        UpdateFolderSizes(pParent);
    }
}

void CBuildTreePage::OpenFolder(QTreeWidgetItem* pItem)
{
    if (pItem == nullptr)
        return;
    DWORD dwVolume = 0, dwRecord = 0;
    if ((ParseItemKey(pItem, &dwVolume, &dwRecord) & 0xFFFF) != 0)
        return;
    if (dwRecord == m_dwCurrentFolder && dwVolume == m_dwCurrentVolume && m_pCurrentFolderItem == pItem)
        return;
    m_dwCurrentVolume = dwVolume;
    m_dwCurrentFolder = dwRecord;
    if (m_pStore != nullptr)
        m_pStore->StopEnumeration();
    ResetFileListing();

    // The old rows are forgotten before they are deleted, and the list always shows this
    // folder's listing, an empty one included.
    StopPreviews();
    ForgetSubtree(pItem);
    m_mapFileTickStates.remove(pItem);
    m_mapRestTickStates.remove(pItem);
    ClearList(FilesTreeWidget);
    FloderTreeWidget->RemoveChildren(pItem);

    m_bSearchMode = false;
    // The job begins the store's listing of the folder's files.
    m_dwFilesVolume = dwVolume;
    m_dwFilesFolder = dwRecord;
    m_nFileListing = FILES_SUSPENDED;
    m_bListingJob = true;
    Start();
    m_bListingJob = false;
    pItem->setData(ROW_COUNT_COLUMN, Qt::UserRole, m_vecListing.size());
    m_pCurrentFolderItem = pItem;
    // A folder shown in part keeps the store's order: sorting it would need every row.
    SetFilesSorting(!HasMoreFiles());
    FillLists(m_vecListing, pItem, FILL_FOLDER);
    m_vecListing.clear();
    m_vecListing.squeeze();
    pItem->setExpanded(true);
    if (IsSearchTabOpen() && tabWidgetFileTree->currentWidget() == tabSearchFiles)
        m_bSearchMode = true;
}

void CBuildTreePage::UpdateSelectedSizeLabel()
{
    if (m_pRootItem == nullptr)
        return;
    bool bSet = false;
    const uint64_t ullBytes = RowBytes(m_pRootItem, &bSet);
    if (!bSet)
        return;
    m_ullSelectedSize = ullBytes;
    labelFileSize->setText(FormatSizeText(ullBytes));
}

bool CBuildTreePage::IsSearchTabOpen() const
{
    return tabWidgetFileTree->indexOf(tabSearchFiles) >= 0;
}

// ----- clicks, views, tabs ----------------------------------------------------------------------

void CBuildTreePage::OnItemClicked(QTreeWidgetItem* pItem, int)
{
    if (pItem == nullptr)
        return;
    if (FloderTreeWidget->IsClickedCheckBox())
        TickFolderRow(pItem);
    else
        OpenFolder(pItem);
}

void CBuildTreePage::OnItemDBClicked(QTreeWidgetItem* pItem, int)
{
    if (pItem != nullptr)
        PreviewRow(pItem, nullptr);
}

void CBuildTreePage::OnRightItemClicked(QTreeWidgetItem* pItem, int)
{
    if (pItem == nullptr)
        return;
    if (!m_bFilesSplitMode || FilesTreeWidget->IsClickedCheckBox()) {
        TickFileRow(pItem);
        return;
    }
    if (pItem == m_pLastPreviewedFileRow)
        return;
    m_pLastPreviewedFileRow = pItem;
    PreviewRow(pItem, SplitFilePreview);
}

void CBuildTreePage::OnSearchItemClicked(QTreeWidgetItem* pItem, int)
{
    if (pItem == nullptr)
        return;
    if (!m_bSearchSplitMode || SearchFilesTreeWidget->IsClickedCheckBox()) {
        TickSearchRow(pItem);
        return;
    }
    if (pItem == m_pLastPreviewedSearchRow)
        return;
    m_pLastPreviewedSearchRow = pItem;
    PreviewRow(pItem, SplitSearchPreview);
}

void CBuildTreePage::OnSplitMode()
{
    m_bFilesSplitMode = true;
    SplitFilePreview->show();
}

void CBuildTreePage::OnListMode()
{
    StopPreviews();
    m_bFilesSplitMode = false;
    SplitFilePreview->hide();
}

void CBuildTreePage::OnSearchSplitMode()
{
    m_bSearchSplitMode = true;
    SplitSearchPreview->show();
}

void CBuildTreePage::OnSearchListMode()
{
    StopPreviews();
    m_bSearchSplitMode = false;
    SplitSearchPreview->hide();
}

void CBuildTreePage::SetFilesSorting(bool bSorted)
{
    FilesTreeWidget->setSortingEnabled(bSorted);
    FilesTreeWidget->header()->setSortIndicatorShown(bSorted);
    FilesTreeWidget->header()->setSectionsClickable(true);
}

void CBuildTreePage::OnFilesScrolled()
{
    if (m_bListingJob || m_bFetchingFiles || !HasMoreFiles())
        return;
    const QScrollBar* pBar = FilesTreeWidget->verticalScrollBar();
    if (pBar->value() < pBar->maximum() - pBar->pageStep())
        return;
    m_bFetchingFiles = true;
    FetchMoreFiles(FILE_ROWS_PER_FETCH);
    m_bFetchingFiles = false;
}

int CBuildTreePage::FetchMoreFiles(int nRows)
{
    QTreeWidgetItem* pFolder = m_pCurrentFolderItem;
    if (m_bListingJob || nRows <= 0 || m_vecPendingFiles.isEmpty() || pFolder == nullptr)
        return 0;
    nRows = qMin(nRows, INT_MAX / 2);
    ReadFileBatches(nRows + 1);
    const int nTake = qMin(nRows, m_vecPendingFiles.size());
    const int nRest = m_mapRestTickStates.value(pFolder, Qt::PartiallyChecked);
    QVector<int>& vecStates = m_mapFileTickStates[pFolder];
    uint64_t ullOwn = m_mapOwnTickedBytes.value(pFolder, 0);
    QList<QTreeWidgetItem*> listRows;
    listRows.reserve(nTake);
    for (int i = 0; i < nTake; ++i) {
        const LISTING_ENTRY& entry = m_vecPendingFiles.at(i);
        // A record read ahead before its folder was ticked or cleared as a whole is older than
        // the store: the folder's state is the files' state.
        const Qt::CheckState nState =
            nRest == Qt::PartiallyChecked ? RecordCheckState(entry.Info) : static_cast<Qt::CheckState>(nRest);
        listRows.append(NewFileRow(entry, nState));
        vecStates.append(nState);
        if (nState == Qt::Checked)
            ullOwn = AddBytes(ullOwn, entry.Info.ullSize);
    }
    m_vecPendingFiles.remove(0, nTake);
    if (m_vecPendingFiles.isEmpty())
        m_vecPendingFiles.squeeze();
    m_mapOwnTickedBytes.insert(pFolder, ullOwn);
    const bool bSorting = FilesTreeWidget->isSortingEnabled();
    FilesTreeWidget->setSortingEnabled(false);
    FilesTreeWidget->addTopLevelItems(listRows);
    FilesTreeWidget->setSortingEnabled(bSorting);
    pFolder->setData(ROW_COUNT_COLUMN, Qt::UserRole, ListedEntryCount(pFolder) + nTake);
    if (!HasMoreFiles()) {
        m_mapRestTickStates.remove(pFolder);
        // Every file's state is known now: a folder ticked in part may turn out whole.
        if (nRest == Qt::PartiallyChecked)
            UpdateFolderTickStates(pFolder);
    }
    return nTake;
}

void CBuildTreePage::FetchRemainingFiles()
{
    // In slices: the records waiting for their rows stay a few MiB, not the whole folder's.
    constexpr int kRowsPerSlice = 16 * FILE_ROWS_PER_FETCH;
    while (HasMoreFiles() && FetchMoreFiles(kRowsPerSlice) > 0) {
    }
}

void CBuildTreePage::OnFilesHeaderClicked(int nColumn)
{
    if (!FilesTreeWidget->isSortingEnabled()) {
        // The first sort of a folder shown in part: every row is fetched, then sorted once.
        FetchRemainingFiles();
        FilesTreeWidget->header()->setSortIndicator(nColumn, Qt::AscendingOrder);
        SetFilesSorting(true);
    }
    if (nColumn != RESULT_COLUMN_SIZE)
        return;
    FilesTreeWidget->sortItems(RESULT_COLUMN_SIZE_VALUE, m_nFilesSortOrder);
    m_nFilesSortOrder = m_nFilesSortOrder == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
}

void CBuildTreePage::OnSearchHeaderClicked(int nColumn)
{
    if (nColumn != RESULT_COLUMN_SIZE)
        return;
    SearchFilesTreeWidget->sortItems(RESULT_COLUMN_SIZE_VALUE, m_nSearchSortOrder);
    m_nSearchSortOrder = m_nSearchSortOrder == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
}

void CBuildTreePage::OntabChanged(int nIndex)
{
    if (nIndex == 0) {
        m_bSearchMode = false;
        UpdateFolderSizes(nullptr);
    } else if (nIndex == 1) {
        m_bSearchMode = true;
        labelFileSize->setText(FormatSizeText(m_ullSearchSelectedSize));
    }
}

void CBuildTreePage::OntabCloseRequested(int nIndex)
{
    StopPreviews();
    tabWidgetFileTree->removeTab(nIndex);
    ClearList(SearchFilesTreeWidget);
    m_ullSearchSelectedSize = 0;
}

void CBuildTreePage::StopPreviews()
{
    StopPanePlayers();
}


void CBuildTreePage::StopPanePlayers()
{
    SplitFilePreview->StopPlayer();
    SplitSearchPreview->StopPlayer();
}
