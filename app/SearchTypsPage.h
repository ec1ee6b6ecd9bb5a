// The file-type page of the scan wizards: the catalogue's groups and types as a check tree. On
// Next the ticked types' extensions become the scan's name filter; in a Quick Scan the page then
// runs the scan. The user can add groups and types of their own and delete those again.
#pragma once

#include <vector>

#include "TypeInfoXml.h"
#include "WizardPage.h"

class CImagePushButton;
class CRVTreeWidget;
class CWizard;
class QMenu;
class QAction;

class CSearchTypsPage : public CWizardPage {
    Q_OBJECT
public:
    // bComplete false: the Quick Scan wizard's page, whose Next runs the scan.
    CSearchTypsPage(CWizard* pWizard, bool bComplete);
    ~CSearchTypsPage() override;

    int Initialize() override;
    int OnNext(int& nStep) override;
    int OnBack() override;
    int OnCancel() override;

    CRVTreeWidget* TypeTree() const { return m_pTree; }
    // The filter text the current ticks give (what Next stores).
    QString SelectedFilter() const;

public slots:
    void AddClicked();
    void DelClicked();
    void SelAllClicked();
    void UnselAllClicked();
    void InvertSelClicked();
    void AddGroupAction(bool bChecked);
    void AddTypeAction(bool bChecked);

private:
    void FillTypeTree();
    bool SaveSelectedTypes();
    QIcon ItemIcon(const TYPE_INFO_ITEM& item) const;

    std::vector<TYPE_INFO_ITEM> m_vecItems;
    bool m_bComplete;
    QMenu* m_pAddMenu;
    CRVTreeWidget* m_pTree;
    CImagePushButton* m_pButtonAdd;
    CImagePushButton* m_pButtonDel;
    CImagePushButton* m_pButtonSelectAll;
    CImagePushButton* m_pButtonUnSelect;
    CImagePushButton* m_pButtonInvert;
};
