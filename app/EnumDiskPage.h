// The first page of the Quick Scan and Complete Scan wizards: the disks, partitions and volumes
// of the machine in a tree, as the disk-enumeration module lists them; the raw-search and
// search-by-types boxes; on Next the chosen record goes to the engine (IDelvar::Init) and, in a
// Quick Scan without types, the scan runs at once.
#pragma once

#include <QMetaType>
#include <memory>
#include <vector>

#include "DiskInfo.h"
#include "ProgressDlg.h"

class CWizard;
class IDelvar;
class IOmbrel;
class QCheckBox;
class QFrame;
class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

Q_DECLARE_METATYPE(DISK_INFO_EX*)
Q_DECLARE_METATYPE(PARTITION_INFO_EX*)

class CEnumDiskPage : public CProgressDlg {
    Q_OBJECT
public:
    // nMode 0 Quick Scan (volumes), 1 Complete Scan (disks and their partitions).
    CEnumDiskPage(CWizard* pWizard, int nMode);
    ~CEnumDiskPage() override;

    int Initialize() override;
    int OnNext(int& nStep) override;
    int OnBack() override;
    int OnCancel() override;

    int Run() override;
    // The quick scan of the chosen volume in the progress dialog; 1 without an engine.
    int RunScan();

    QTreeWidget* DiskTree() const { return m_pDiskTreeWidget; }
    QCheckBox* RawCheckBox() const { return m_pCheckBoxRaw; }
    QCheckBox* TypesCheckBox() const { return m_pCheckBoxSearchByTypes; }

public slots:
    void OnItemClicked(QTreeWidgetItem* pItem, int nColumn);

private slots:
    void OnSelectionChanged();

private:
    struct DISK_ENTRY {
        std::unique_ptr<DISK_INFO_EX> pDisk;
        std::vector<std::unique_ptr<PARTITION_INFO_EX>> vecPartitions;
    };

    void SetupForm();
    void BuildDiskTree();
    void EnumDiskAndPartitionInfo();
    void EnumVolumeInfo();
    int EnumDynamicVolumeInfo();
    QTreeWidgetItem* MakePartitionItem(PARTITION_INFO_EX* pPartition, QTreeWidgetItem* pParent);
    // Next is offered for a selected partition or volume, or a selected basic disk.
    void UpdateNextButton(QTreeWidgetItem* pItem);

    IOmbrel* m_pOmbrel;
    std::vector<DISK_ENTRY> m_vecDisks;
    std::vector<std::unique_ptr<PARTITION_INFO_EX>> m_vecVolumes;
    int m_nMode;
    IDelvar* m_pEngine;
    CWizard* m_pWizard;
    int m_nWholeDisk;
    bool m_bTreeConnected;

    QFrame* m_pFrame;
    QLabel* m_pLabelTitle;
    QTreeWidget* m_pDiskTreeWidget;
    QCheckBox* m_pCheckBoxRaw;
    QCheckBox* m_pCheckBoxSearchByTypes;
};
