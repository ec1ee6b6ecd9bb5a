#include "SearchTypsPage.h"

#include <QAction>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QVBoxLayout>

#include "AddTypeDialogs.h"
#include "IDelvar.h"
#include "ImagePushButton.h"
#include "MessageTable.h"
#include "ModuleLoader.h"
#include "Pubic.h"
#include "RVTreeWidget.h"
#include "ScanRunner.h"
#include "UIRoutines.h"
#include "Veskel.h"
#include "Wizard.h"

namespace {

constexpr int kRoleIsDefault = 1;
constexpr int kRoleFilter = 2;

Qt::CheckState StateOf(int nSelect)
{
    return nSelect == 0 ? Qt::Unchecked : nSelect == 1 ? Qt::Checked : Qt::PartiallyChecked;
}

} // namespace

CSearchTypsPage::CSearchTypsPage(CWizard* pWizard, bool bComplete)
    : CWizardPage(pWizard)
    , m_bComplete(bComplete)
    , m_pAddMenu(nullptr)
{
    setObjectName("SearchTypesPage");
    setWindowTitle(tr("WizardPage"));
    resize(760, 518);
    setMinimumSize(760, 518);
    QVBoxLayout* pOuter = new QVBoxLayout(this);
    pOuter->setObjectName("verticalLayout_2");
    pOuter->setSpacing(12);
    QFrame* pFrame = new QFrame(this);
    pFrame->setFrameShape(QFrame::StyledPanel);
    pFrame->setFrameShadow(QFrame::Raised);
    const QString strBackground = CPubic::GetIniParser().GetImagePath("Page_BGImage");
    pFrame->setObjectName("typeframe");
    pFrame->setStyleSheet(QString("QFrame#typeframe{border-image: url(%1);}").arg(strBackground));
    pOuter->addWidget(pFrame);
    QVBoxLayout* pInner = new QVBoxLayout(pFrame);
    pInner->setObjectName("verticalLayout");
    QLabel* pLabel = new QLabel(tr("Set search file types."), pFrame);
    pLabel->setObjectName("label");
    pLabel->setStyleSheet("color: rgb(184, 191, 157);");
    pInner->addWidget(pLabel);
    m_pTree = new CRVTreeWidget(pFrame);
    m_pTree->setObjectName("SearchTypeTree");
    m_pTree->setHeaderLabels({tr("File type")});
    pInner->addWidget(m_pTree);
    QHBoxLayout* pRow = new QHBoxLayout();
    pRow->setObjectName("SelectHBoxLayout");
    m_pButtonAdd = new CImagePushButton(pFrame);
    m_pButtonAdd->setObjectName("pushButtonAdd");
    m_pButtonDel = new CImagePushButton(pFrame);
    m_pButtonDel->setObjectName("pushButtonDel");
    m_pButtonSelectAll = new CImagePushButton(pFrame);
    m_pButtonSelectAll->setObjectName("pushButtonSelectAll");
    m_pButtonUnSelect = new CImagePushButton(pFrame);
    m_pButtonUnSelect->setObjectName("pushButtonUnSelect");
    m_pButtonInvert = new CImagePushButton(pFrame);
    m_pButtonInvert->setObjectName("pushButtonInvertSelect");
    for (CImagePushButton* pButton : {m_pButtonAdd, m_pButtonDel, m_pButtonSelectAll, m_pButtonUnSelect, m_pButtonInvert})
        pRow->addWidget(pButton);
    pRow->addStretch();
    pInner->addLayout(pRow);

    m_pAddMenu = new QMenu();
    m_pAddMenu->setObjectName("AddMenu");
    m_pAddMenu->setStyleSheet(QString("QFrame#AddMenu{border-image: url(%1);}").arg(strBackground));
    QAction* pGroupAction = new QAction(QIcon(CPubic::GetIniParser().GetIconPath("AddGroup")), TrMessage(70), m_pAddMenu);
    QAction* pTypeAction = new QAction(QIcon(CPubic::GetIniParser().GetIconPath("AddType")), TrMessage(71), m_pAddMenu);
    m_pAddMenu->addAction(pGroupAction);
    m_pAddMenu->addAction(pTypeAction);
    connect(pGroupAction, &QAction::triggered, this, &CSearchTypsPage::AddGroupAction);
    connect(pTypeAction, &QAction::triggered, this, &CSearchTypsPage::AddTypeAction);
    connect(m_pButtonAdd, &QPushButton::released, this, &CSearchTypsPage::AddClicked);
    connect(m_pButtonDel, &QPushButton::released, this, &CSearchTypsPage::DelClicked);
    connect(m_pButtonSelectAll, &QPushButton::released, this, &CSearchTypsPage::SelAllClicked);
    connect(m_pButtonUnSelect, &QPushButton::released, this, &CSearchTypsPage::UnselAllClicked);
    connect(m_pButtonInvert, &QPushButton::released, this, &CSearchTypsPage::InvertSelClicked);
}

CSearchTypsPage::~CSearchTypsPage()
{
    delete m_pAddMenu;
}

int CSearchTypsPage::Initialize()
{
    if (!m_bInitialized) {
        m_bInitialized = true;
        CConfigParser& parser = CPubic::GetIniParser();
        m_pButtonAdd->SetImagePath(parser.GetImagePathList("AddImage"));
        m_pButtonDel->SetImagePath(parser.GetImagePathList("DelImage"));
        m_pButtonSelectAll->SetImagePath(parser.GetImagePathList("SelectAllImage"));
        m_pButtonUnSelect->SetImagePath(parser.GetImagePathList("UnSelectImage"));
        m_pButtonInvert->SetImagePath(parser.GetImagePathList("InvertSelImage"));
        FillTypeTree();
    }
    return 0;
}

QIcon CSearchTypsPage::ItemIcon(const TYPE_INFO_ITEM& item) const
{
    QIcon icon;
    if (!item.iconPath.isEmpty())
        icon = QIcon(item.iconPath);
    if (icon.isNull() || icon.availableSizes().isEmpty()) {
        char szType[FILE_TYPE_NAME_SIZE] = {};
        icon = GetFileIconAndType(item.iconType, szType);
    }
    return icon;
}

void CSearchTypsPage::FillTypeTree()
{
    CTypeInfoXml xml;
    xml.ReadTypeInfo();
    m_vecItems = xml.GetTypeInfoList();
    QTreeWidgetItem* pGroup = nullptr;
    for (const TYPE_INFO_ITEM& item : m_vecItems) {
        const QIcon icon = ItemIcon(item);
        if (item.isRoot) {
            pGroup = m_pTree->AddData(item.description, true, StateOf(item.select), nullptr, icon);
            pGroup->setData(kRoleIsDefault, Qt::UserRole, item.isDefault);
        } else {
            QTreeWidgetItem* pItem = m_pTree->AddData(item.description, true, StateOf(item.select), pGroup, icon);
            pItem->setData(kRoleIsDefault, Qt::UserRole, item.isDefault);
            pItem->setData(kRoleFilter, Qt::UserRole, item.filterType);
        }
    }
}

void CSearchTypsPage::AddClicked()
{
    const QPoint pos = m_pButtonAdd->mapToGlobal(QPoint(2, m_pButtonAdd->height() - 5));
    m_pAddMenu->exec(pos);
}

void CSearchTypsPage::SelAllClicked()
{
    for (int i = 0; i < m_pTree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* pGroup = m_pTree->topLevelItem(i);
        pGroup->setCheckState(0, Qt::Checked);
        for (int k = 0; k < pGroup->childCount(); ++k)
            pGroup->child(k)->setCheckState(0, Qt::Checked);
    }
}

void CSearchTypsPage::UnselAllClicked()
{
    for (int i = 0; i < m_pTree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* pGroup = m_pTree->topLevelItem(i);
        pGroup->setCheckState(0, Qt::Unchecked);
        for (int k = 0; k < pGroup->childCount(); ++k)
            pGroup->child(k)->setCheckState(0, Qt::Unchecked);
    }
}

void CSearchTypsPage::InvertSelClicked()
{
    for (int i = 0; i < m_pTree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* pGroup = m_pTree->topLevelItem(i);
        const Qt::CheckState state = pGroup->checkState(0);
        if (state == Qt::Checked) {
            pGroup->setCheckState(0, Qt::Unchecked);
        } else if (state == Qt::Unchecked) {
            pGroup->setCheckState(0, Qt::Checked);
        } else {
            for (int k = 0; k < pGroup->childCount(); ++k) {
                QTreeWidgetItem* pChild = pGroup->child(k);
                pChild->setCheckState(0, pChild->checkState(0) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
            }
        }
    }
}

QString CSearchTypsPage::SelectedFilter() const
{
    // Each extension once. The engine compares whole extensions, so ".doc" must be listed even
    // when ".docx" already is: a substring test would leave every .doc file out of the scan.
    QString strFilter;
    QStringList listTaken;
    for (int i = 0; i < m_pTree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* pGroup = m_pTree->topLevelItem(i);
        if (pGroup->checkState(0) == Qt::Unchecked)
            continue;
        for (int k = 0; k < pGroup->childCount(); ++k) {
            QTreeWidgetItem* pChild = pGroup->child(k);
            if (pChild->checkState(0) != Qt::Checked)
                continue;
            const QStringList listParts = pChild->data(kRoleFilter, Qt::UserRole).toString().split(';', Qt::SkipEmptyParts);
            for (const QString& strPart : listParts) {
                if (!listTaken.contains(strPart, Qt::CaseInsensitive)) {
                    listTaken << strPart;
                    strFilter += strPart;
                }
            }
        }
    }
    return strFilter;
}

bool CSearchTypsPage::SaveSelectedTypes()
{
    const QString strFilter = SelectedFilter();
    if (strFilter.isEmpty()) {
        const int nAnswer = QMessageBox::information(this, TrMessage(2), TrMessage(75), QMessageBox::Yes | QMessageBox::No,
                                                     QMessageBox::NoButton);
        if (nAnswer == QMessageBox::No)
            return false;
    }
    const QByteArray strBytes = strFilter.toUtf8();
    CPubic::GetScanTypeFilter().SaveTypeInfo(std::string(strBytes.constData(), static_cast<size_t>(strBytes.size())));
    LogInfo("User scan by types: %s", strBytes.constData());
    return true;
}

int CSearchTypsPage::OnNext(int& /*nStep*/)
{
    LogInfo("CSearchTypsPage::OnNext begin!");
    if (!SaveSelectedTypes())
        return 1;
    if (!m_bComplete) {
        IDelvar* pEngine = static_cast<IDelvar*>(CreateModuleInstance(u"Delvar"));
        // A scan that did not finish keeps the user here rather than show older results.
        if (pEngine != nullptr && RunScanAndReport(pEngine, this, 0) != 0)
            return 1;
    }
    LogInfo("CSearchTypsPage::OnNext end!");
    return 0;
}

int CSearchTypsPage::OnBack()
{
    LogInfo("CSearchTypsPage::OnBack begin!");
    return 0;
}

int CSearchTypsPage::OnCancel()
{
    LogInfo("CSearchTypsPage::OnCancel begin!");
    return 0;
}

void CSearchTypsPage::AddGroupAction(bool /*bChecked*/)
{
    CAddGroup dlg(this);
    dlg.SetupForm();
    dlg.exec();
    if (dlg.GetResult() != 1)
        return;
    const QString strName = dlg.GetGroupName();
    for (int i = 0; i < m_pTree->topLevelItemCount(); ++i) {
        if (m_pTree->topLevelItem(i)->text(0).compare(strName, Qt::CaseInsensitive) == 0) {
            QMessageBox::information(this, TrMessage(2), TrMessage(73), QMessageBox::Ok);
            return;
        }
    }
    const QString strIconPath = dlg.GetIconPath();
    const QString strIconFile = strIconPath.mid(strIconPath.lastIndexOf('/') + 1);
    QTreeWidgetItem* pItem = m_pTree->AddData(strName, true, Qt::Unchecked, nullptr, QIcon(strIconPath));
    pItem->setData(kRoleIsDefault, Qt::UserRole, false);
    TYPE_ADD_ITEM add;
    add.group = strName;
    add.iconPath = strIconPath;
    add.iconType = strIconFile;
    CTypeInfoXml().AddCategory(add);
}

void CSearchTypsPage::AddTypeAction(bool /*bChecked*/)
{
    QTreeWidgetItem* pCurrent = m_pTree->currentItem();
    if (pCurrent == nullptr) {
        QMessageBox::information(this, TrMessage(2), TrMessage(74), QMessageBox::Ok);
        return;
    }
    QTreeWidgetItem* pChosen = pCurrent->parent() != nullptr ? pCurrent->parent() : pCurrent;
    QStringList listGroups;
    int nIndex = 0;
    for (int i = 0; i < m_pTree->topLevelItemCount(); ++i) {
        listGroups << m_pTree->topLevelItem(i)->text(0);
        if (listGroups.last() == pChosen->text(0))
            nIndex = i;
    }
    CAddTypeDlg dlg(this);
    dlg.SetGroupIndex(nIndex);
    dlg.SetGroupList(listGroups);
    dlg.SetupForm();
    dlg.exec();
    if (dlg.GetResult() != 1)
        return;
    const QString strGroup = dlg.GetGroup();
    QString strExtension = dlg.GetExtension();
    if (!strExtension.startsWith('.'))
        strExtension.prepend('.');
    const QString strIconPath = dlg.GetIconPath();
    const QString strIconType = QString("file%1").arg(strExtension);
    const QString strText = QString("%1(%2)").arg(dlg.GetDescription(), strExtension);
    for (int i = 0; i < m_pTree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* pGroup = m_pTree->topLevelItem(i);
        if (pGroup->text(0) != strGroup)
            continue;
        TYPE_INFO_ITEM info;
        info.iconPath = strIconPath;
        info.iconType = strIconType;
        QTreeWidgetItem* pItem = m_pTree->AddData(strText, true, Qt::Unchecked, pGroup, ItemIcon(info));
        pItem->setData(kRoleIsDefault, Qt::UserRole, false);
        pItem->setData(kRoleFilter, Qt::UserRole, strExtension);
        TYPE_ADD_ITEM add;
        add.description = strText;
        add.group = pGroup->text(0);
        add.filterType = strExtension;
        add.iconPath = strIconPath;
        add.iconType = strIconType;
        CTypeInfoXml().AddFileType(add);
        break;
    }
}

void CSearchTypsPage::DelClicked()
{
    QList<TYPE_REMOVE_ITEM> listRemove;
    for (int i = 0; i < m_pTree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* pGroup = m_pTree->topLevelItem(i);
        if (pGroup->checkState(0) == Qt::Unchecked)
            continue;
        if (pGroup->childCount() == 0) {
            // The catalogue keeps a shipped group whatever is asked of it.
            if (!pGroup->data(kRoleIsDefault, Qt::UserRole).toBool()) {
                TYPE_REMOVE_ITEM item;
                item.isCategory = true;
                item.group = pGroup->text(0);
                listRemove << item;
            }
            continue;
        }
        for (int k = 0; k < pGroup->childCount(); ++k) {
            QTreeWidgetItem* pChild = pGroup->child(k);
            if (pChild->checkState(0) != Qt::Checked || pChild->data(kRoleIsDefault, Qt::UserRole).toBool())
                continue;
            TYPE_REMOVE_ITEM item;
            item.group = pGroup->text(0);
            item.fileType = pChild->text(0);
            listRemove << item;
        }
    }
    if (listRemove.isEmpty()) {
        QMessageBox::information(this, TrMessage(2), TrMessage(72), QMessageBox::Ok);
        return;
    }
    CTypeInfoXml().RemoveTypeInfo(listRemove);
    m_pTree->clear();
    FillTypeTree();
}
