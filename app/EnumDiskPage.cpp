#include "EnumDiskPage.h"

#include <QCheckBox>
#include <QFileIconProvider>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <new>

#include "IDelvar.h"
#include "IOmbrel.h"
#include "MessageTable.h"
#include "ModuleLoader.h"
#include "Pubic.h"
#include "ScanRunner.h"
#include "UIRoutines.h"
#include "Veskel.h"
#include "WideText.h"
#include "Wizard.h"

namespace {

// No machine has more; a count beyond it comes from a broken module, not from the disks.
constexpr int32_t kMaxRecords = 4096;

const int kRoleColumnPartition = 0;
const int kRoleColumnDisk = 1;
const int kRoleColumnIsDisk = 2;
const int kRoleColumnDynamic = 3;

int32_t BoundCount(int32_t nCount)
{
    return std::clamp<int32_t>(nCount, 0, kMaxRecords);
}

QString SizeOf(uint64_t ullSectors, uint32_t dwBytesPerSector)
{
    return FormatSizeText(ullSectors * dwBytesPerSector);
}

} // namespace

CEnumDiskPage::CEnumDiskPage(CWizard* pWizard, int nMode)
    : CProgressDlg(pWizard)
    , m_pOmbrel(nullptr)
    , m_nMode(nMode)
    , m_pEngine(nullptr)
    , m_pWizard(pWizard)
    , m_nWholeDisk(0)
    , m_bTreeConnected(false)
{
    qRegisterMetaType<DISK_INFO_EX*>("PDISK_INFO_EX");
    qRegisterMetaType<PARTITION_INFO_EX*>("PPARTITION_INFO_EX");
    SetupForm();
    m_pFrame->setObjectName("enumdiskframe");
    m_pFrame->setStyleSheet(QString("QFrame#enumdiskframe{border-image: url(%1);}")
                                .arg(CPubic::GetIniParser().GetImagePath("Page_BGImage")));
    if (m_pWizard != nullptr)
        m_pWizard->setWindowTitle(TrMessage(m_nMode != 0 ? 61 : 62));
    m_pOmbrel = static_cast<IOmbrel*>(CreateModuleInstance(u"Ombrel"));
    m_pEngine = static_cast<IDelvar*>(CreateModuleInstance(u"Delvar"));
    QString strWait = TrMessage(63);
    SetWaitText(strWait);
}

CEnumDiskPage::~CEnumDiskPage() = default;

void CEnumDiskPage::SetupForm()
{
    setObjectName("EnumDiskPage");
    setWindowTitle(tr("WizardPage"));
    resize(760, 518);
    QVBoxLayout* pOuter = new QVBoxLayout(this);
    pOuter->setObjectName("verticalLayout_2");
    m_pFrame = new QFrame(this);
    m_pFrame->setMinimumSize(700, 500);
    m_pFrame->setFrameShape(QFrame::StyledPanel);
    m_pFrame->setFrameShadow(QFrame::Raised);
    pOuter->addWidget(m_pFrame);
    QVBoxLayout* pInner = new QVBoxLayout(m_pFrame);
    pInner->setObjectName("verticalLayout");
    pInner->setSpacing(10);

    const QString strTextStyle = "color: rgb(184, 191, 157);";
    m_pLabelTitle = new QLabel(tr("Select a disk/partition and click \"Next\" to recover deleted files."), m_pFrame);
    m_pLabelTitle->setObjectName("labelTitle");
    m_pLabelTitle->setStyleSheet(strTextStyle);
    m_pDiskTreeWidget = new QTreeWidget(m_pFrame);
    m_pDiskTreeWidget->setObjectName("DiskTreeWidget");
    m_pDiskTreeWidget->setAlternatingRowColors(false);
    m_pDiskTreeWidget->setHeaderLabels({tr("Disk"), tr("Partition"), tr("File system"), tr("Capacity"),
                                        tr("Used space"), tr("Free space"), tr("Type")});
    m_pCheckBoxRaw = new QCheckBox(tr("Enable raw search. (You can set the raw file search size in the option)"), m_pFrame);
    m_pCheckBoxRaw->setObjectName("checkBoxRaw");
    m_pCheckBoxRaw->setStyleSheet(strTextStyle);
    m_pCheckBoxSearchByTypes = new QCheckBox(tr("Search lost files by types."), m_pFrame);
    m_pCheckBoxSearchByTypes->setObjectName("checkBoxSearchByTypes");
    m_pCheckBoxSearchByTypes->setStyleSheet(strTextStyle);
    pInner->addWidget(m_pLabelTitle);
    pInner->addWidget(m_pDiskTreeWidget);
    pInner->addWidget(m_pCheckBoxRaw);
    pInner->addWidget(m_pCheckBoxSearchByTypes);
}

int CEnumDiskPage::Initialize()
{
    if (!m_bInitialized) {
        m_bInitialized = true;
        BuildDiskTree();
    }
    if (m_pWizard != nullptr)
        m_pWizard->SetButtonStatus(CWizard::BTN_NEXT, false);
    m_pCheckBoxRaw->setVisible(m_nMode != 0);
    return 0;
}

int CEnumDiskPage::Run()
{
    if (m_nMode != 0)
        EnumDiskAndPartitionInfo();
    else
        EnumVolumeInfo();
    return 0;
}

void CEnumDiskPage::EnumDiskAndPartitionInfo()
{
    if (m_pOmbrel == nullptr)
        return;
    if (!m_vecDisks.empty()) {
        m_pOmbrel->EndEnum();
        return;
    }
    m_pOmbrel->Refresh();
    int32_t nDisks = BoundCount(m_pOmbrel->GetDiskCount());
    if (nDisks > 0) {
        std::vector<DISK_INFO_EX> vecDisks(static_cast<size_t>(nDisks));
        const int32_t nCapacity = nDisks;
        const int32_t nResult = m_pOmbrel->GetAllDiskInfo(vecDisks.data(), &nDisks);
        if ((nResult & 0xFFFF) != 0) {
            LogInfo("CEnumDiskPage::EnumDiskAndPartitionInfo-- GetAllDiskInfo failed with %d", nResult);
        } else {
            nDisks = std::clamp<int32_t>(nDisks, 0, nCapacity);
            for (int32_t i = 0; i < nDisks; ++i) {
                DISK_ENTRY entry;
                entry.pDisk = std::make_unique<DISK_INFO_EX>(vecDisks[static_cast<size_t>(i)]);
                int32_t nParts = BoundCount(m_pOmbrel->GetPartitionCount(entry.pDisk->dwDiskNumber));
                if (nParts > 0) {
                    std::vector<PARTITION_INFO_EX> vecParts(static_cast<size_t>(nParts));
                    const int32_t nPartCapacity = nParts;
                    m_pOmbrel->GetAllPartitionInfo(entry.pDisk->dwDiskNumber, vecParts.data(), &nParts);
                    nParts = std::clamp<int32_t>(nParts, 0, nPartCapacity);
                    for (int32_t k = 0; k < nParts; ++k)
                        entry.vecPartitions.push_back(std::make_unique<PARTITION_INFO_EX>(vecParts[static_cast<size_t>(k)]));
                }
                m_vecDisks.push_back(std::move(entry));
            }
        }
    }
    m_pOmbrel->EndEnum();
}

void CEnumDiskPage::EnumVolumeInfo()
{
    if (m_pOmbrel == nullptr)
        return;
    if (!m_vecVolumes.empty()) {
        m_pOmbrel->EndEnum();
        return;
    }
    m_pOmbrel->Refresh();
    int32_t nVolumes = BoundCount(m_pOmbrel->GetVolumeCount());
    if (nVolumes > 0) {
        std::vector<PARTITION_INFO_EX> vecVolumes(static_cast<size_t>(nVolumes));
        const int32_t nCapacity = nVolumes;
        m_pOmbrel->GetAllVolumeInfo(vecVolumes.data(), &nVolumes);
        nVolumes = std::clamp<int32_t>(nVolumes, 0, nCapacity);
        for (int32_t i = 0; i < nVolumes; ++i)
            m_vecVolumes.push_back(std::make_unique<PARTITION_INFO_EX>(vecVolumes[static_cast<size_t>(i)]));
        EnumDynamicVolumeInfo();
    }
    m_pOmbrel->EndEnum();
}

int CEnumDiskPage::EnumDynamicVolumeInfo()
{
    int32_t nVolumes = BoundCount(m_pOmbrel->GetDynamicVolumeCount());
    if (nVolumes == 0)
        return 0;
    std::vector<PARTITION_INFO_EX> vecVolumes(static_cast<size_t>(nVolumes));
    const int32_t nCapacity = nVolumes;
    const int32_t nResult = m_pOmbrel->GetAllDynamicVolumeInfo(vecVolumes.data(), &nVolumes);
    if ((nResult & 0xFFFF) != 0)
        return nResult;
    nVolumes = std::clamp<int32_t>(nVolumes, 0, nCapacity);
    for (int32_t i = 0; i < nVolumes; ++i)
        m_vecVolumes.push_back(std::make_unique<PARTITION_INFO_EX>(vecVolumes[static_cast<size_t>(i)]));
    return 0;
}

QTreeWidgetItem* CEnumDiskPage::MakePartitionItem(PARTITION_INFO_EX* pPartition, QTreeWidgetItem* pParent)
{
    QStringList listTexts;
    QIcon icon;
    listTexts << QString();
    if (pPartition->dwFileSystem == FILE_SYSTEM_UNALLOCATED) {
        listTexts << "*";
        icon = QIcon(CPubic::GetIniParser().GetIconPath("EmptyDisk"));
    } else {
        const std::u16string strLabel = rvd::ReadWideText(pPartition->szVolumeLabel);
        const QString strLetter = pPartition->chDriveLetter != 0
                                      ? QString("%1:").arg(QChar::fromLatin1(pPartition->chDriveLetter))
                                      : QString("*");
        listTexts << QString("%1(%2)").arg(QString::fromUtf16(strLabel.data(), static_cast<int>(strLabel.size())), strLetter);
        icon = QFileIconProvider().icon(QFileIconProvider::Drive);
    }
    const uint32_t dwBytes = pPartition->dwBytesPerSector;
    const uint64_t ullUsed = pPartition->ullTotalSectors >= pPartition->ullFreeSectors
                                 ? pPartition->ullTotalSectors - pPartition->ullFreeSectors
                                 : 0;
    listTexts << GetFileSystemName(static_cast<int>(pPartition->dwFileSystem))
              << SizeOf(pPartition->ullTotalSectors, dwBytes) << SizeOf(ullUsed, dwBytes)
              << SizeOf(pPartition->ullFreeSectors, dwBytes)
              << (pPartition->dwActive != 0 ? tr("Active") : tr("None"))
              << (pPartition->dwPrimary != 0 ? tr("Primary") : tr("Logical"));
    QTreeWidgetItem* pItem = pParent != nullptr ? new QTreeWidgetItem(pParent, listTexts) : new QTreeWidgetItem(listTexts);
    pItem->setIcon(1, icon);
    pItem->setData(kRoleColumnPartition, Qt::UserRole, QVariant::fromValue(pPartition));
    pItem->setData(kRoleColumnIsDisk, Qt::UserRole, false);
    return pItem;
}

void CEnumDiskPage::BuildDiskTree()
{
    m_pDiskTreeWidget->setStyleSheet("QTreeWidget::item{height:28px}");
    m_pDiskTreeWidget->setColumnWidth(0, 140);
    m_pDiskTreeWidget->setColumnWidth(1, 125);
    const QIcon driveIcon = QFileIconProvider().icon(QFileIconProvider::Drive);

    Start();

    bool bListed = false;
    if (m_nMode != 0 && !m_vecDisks.empty()) {
        std::vector<DISK_ENTRY*> vecSorted;
        for (DISK_ENTRY& entry : m_vecDisks)
            vecSorted.push_back(&entry);
        std::stable_sort(vecSorted.begin(), vecSorted.end(), [](const DISK_ENTRY* a, const DISK_ENTRY* b) {
            return a->pDisk->dwDiskNumber < b->pDisk->dwDiskNumber;
        });
        for (DISK_ENTRY* pEntry : vecSorted) {
            DISK_INFO_EX* pDisk = pEntry->pDisk.get();
            const QString strSize = SizeOf(pDisk->ullTotalSectors, pDisk->dwBytesPerSector);
            const bool bDynamic = (pDisk->dwFlags & DISK_FLAG_DYNAMIC) != 0;
            QStringList listTexts;
            if (bDynamic) {
                listTexts << tr("Dynamic Disk(%1)").arg(strSize);
            } else {
                const std::string strDescription = rvd::ReadNarrowText(pDisk->szDescription);
                listTexts << tr("Disk%1(%2)").arg(pDisk->dwDiskNumber).arg(strSize)
                          << QString::fromUtf8(strDescription.data(), static_cast<int>(strDescription.size()));
            }
            QTreeWidgetItem* pDiskItem = new QTreeWidgetItem(listTexts);
            pDiskItem->setIcon(0, driveIcon);
            pDiskItem->setData(kRoleColumnDisk, Qt::UserRole, QVariant::fromValue(pDisk));
            pDiskItem->setData(kRoleColumnIsDisk, Qt::UserRole, true);
            pDiskItem->setData(kRoleColumnDynamic, Qt::UserRole, static_cast<unsigned>(pDisk->dwFlags & DISK_FLAG_DYNAMIC));
            for (auto& pPartition : pEntry->vecPartitions)
                MakePartitionItem(pPartition.get(), pDiskItem);
            m_pDiskTreeWidget->addTopLevelItem(pDiskItem);
            bListed = true;
        }
    } else if (m_nMode == 0 && !m_vecVolumes.empty()) {
        m_pDiskTreeWidget->hideColumn(0);
        for (auto& pVolume : m_vecVolumes)
            m_pDiskTreeWidget->addTopLevelItem(MakePartitionItem(pVolume.get(), nullptr));
        bListed = true;
    }
    if (bListed && !m_bTreeConnected) {
        m_pDiskTreeWidget->expandAll();
        m_pDiskTreeWidget->setRootIsDecorated(false);
        connect(m_pDiskTreeWidget, &QTreeWidget::itemClicked, this, &CEnumDiskPage::OnItemClicked);
        connect(m_pDiskTreeWidget, &QTreeWidget::itemSelectionChanged, this, &CEnumDiskPage::OnSelectionChanged);
        m_bTreeConnected = true;
    }
}

void CEnumDiskPage::UpdateNextButton(QTreeWidgetItem* pItem)
{
    if (m_pWizard == nullptr)
        return;
    if (pItem == nullptr) {
        m_pWizard->SetButtonStatus(CWizard::BTN_NEXT, false);
        return;
    }
    if (pItem->data(kRoleColumnIsDisk, Qt::UserRole).toBool()) {
        m_nWholeDisk = 1;
        m_pWizard->SetButtonStatus(CWizard::BTN_NEXT, !pItem->data(kRoleColumnDynamic, Qt::UserRole).toBool());
    } else {
        m_nWholeDisk = 0;
        m_pWizard->SetButtonStatus(CWizard::BTN_NEXT, true);
    }
}

void CEnumDiskPage::OnItemClicked(QTreeWidgetItem* pItem, int /*nColumn*/)
{
    UpdateNextButton(pItem);
}

void CEnumDiskPage::OnSelectionChanged()
{
    const QList<QTreeWidgetItem*> listSelected = m_pDiskTreeWidget->selectedItems();
    UpdateNextButton(listSelected.isEmpty() ? nullptr : listSelected.first());
}

int CEnumDiskPage::OnNext(int& nStep)
{
    // The choice is the row selected now, whatever was clicked last.
    DISK_INFO_EX* pDisk = nullptr;
    PARTITION_INFO_EX* pPartition = nullptr;
    const QList<QTreeWidgetItem*> listSelected = m_pDiskTreeWidget->selectedItems();
    if (!listSelected.isEmpty()) {
        QTreeWidgetItem* pItem = listSelected.first();
        if (pItem->data(kRoleColumnIsDisk, Qt::UserRole).toBool()) {
            if (pItem->data(kRoleColumnDynamic, Qt::UserRole).toBool())
                return 1; // a dynamic disk is scanned through its volumes, not as a whole
            pDisk = pItem->data(kRoleColumnDisk, Qt::UserRole).value<DISK_INFO_EX*>();
        } else {
            pPartition = pItem->data(kRoleColumnPartition, Qt::UserRole).value<PARTITION_INFO_EX*>();
        }
    }
    if (pDisk == nullptr && pPartition == nullptr)
        return 1;

    const bool bByTypes = m_pCheckBoxSearchByTypes->isChecked();
    if (!bByTypes) {
        LogInfo("User select not by types!");
        nStep = 2;
    }
    CGlobalAdvanceSettingData& settings = CPubic::GetGlobalAdvanceSettingData();
    if (m_pCheckBoxRaw->isChecked()) {
        LogInfo("User scan by raw!");
        settings.m_bScanRaw = 1;
    } else {
        LogInfo("User scan not by raw!");
        settings.m_bScanRaw = 0;
    }
    CPubic::GetScanTypeFilter().EmptyTypeInfo();

    int nMode = SCAN_MODE_QUICK;
    if (m_pEngine != nullptr) {
        if (m_nMode != 0)
            nMode = pDisk != nullptr ? SCAN_MODE_WHOLE_DISK : SCAN_MODE_COMPLETE;
        const int32_t nInit = pDisk != nullptr ? m_pEngine->Init(pDisk, nullptr, nMode, 0)
                                               : m_pEngine->Init(nullptr, pPartition, nMode, 0);
        if ((nInit & 0xFFFF) != 0) {
            LogInfo("CEnumDiskPage::OnNext-- Init failed with 0x%x", static_cast<unsigned>(nInit));
            ShowWarning(this, EngineErrorText(nInit));
            return 1;
        }
    }
    if (!bByTypes && nMode == SCAN_MODE_QUICK) {
        const int nResult = RunScan();
        if (nResult != 0)
            return 1;
    }
    return 0;
}

int CEnumDiskPage::RunScan()
{
    if (m_pEngine == nullptr)
        return 1;
    return RunScanAndReport(m_pEngine, this, 0);
}

int CEnumDiskPage::OnBack()
{
    LogInfo("CEnumDiskPage::OnBack()!");
    return 0;
}

int CEnumDiskPage::OnCancel()
{
    LogInfo("CEnumDiskPage::OnCancel()!");
    return 0;
}
