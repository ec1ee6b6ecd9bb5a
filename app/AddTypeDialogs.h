// The two small dialogs of the file-type page's Add menu: CAddGroup asks for the name and icon of
// a new group, CAddTypeDlg for the group, extension, description and icon of a new file type.
// They only collect and check the input; the page adds the item and writes the catalogue.
// Each keeps its own result code (1 after OK, 0 otherwise), so closing by the title bar or
// Escape counts as Cancel.
#pragma once

#include <QDialog>
#include <QStringList>

class CImagePushButton;
class QComboBox;
class QLineEdit;

class CAddGroup : public QDialog {
    Q_OBJECT
public:
    explicit CAddGroup(QWidget* pParent = nullptr);

    void SetupForm();
    int GetResult() const { return m_nResult; }
    QString GetGroupName() const;
    QString GetIconPath() const;

    QLineEdit* GroupEdit() const { return m_pGroupEdit; }
    QLineEdit* IconEdit() const { return m_pIconEdit; }

public slots:
    void OnBrowseClicked();
    void OnOKClicked();
    void OnCancelClicked();

private:
    QLineEdit* m_pGroupEdit;
    QLineEdit* m_pIconEdit;
    CImagePushButton* m_pBrowseButton;
    CImagePushButton* m_pOKButton;
    CImagePushButton* m_pCancelButton;
    int m_nResult;
};

class CAddTypeDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAddTypeDlg(QWidget* pParent = nullptr);

    void SetGroupIndex(int nIndex) { m_nGroupIndex = nIndex; }
    void SetGroupList(const QStringList& listGroups) { m_listGroups = listGroups; }
    void SetupForm();

    int GetResult() const { return m_nResult; }
    QString GetGroup() const;
    QString GetExtension() const;
    QString GetDescription() const;
    QString GetIconPath() const;

    QComboBox* GroupCombo() const { return m_pGroupCombo; }
    QLineEdit* ExtensionEdit() const { return m_pExtEdit; }
    QLineEdit* DescriptionEdit() const { return m_pDescriptionEdit; }

public slots:
    void OnBrowseClicked();
    void OnOKClicked();
    void OnCancelClicked();

private:
    QComboBox* m_pGroupCombo;
    QLineEdit* m_pExtEdit;
    QLineEdit* m_pDescriptionEdit;
    QLineEdit* m_pIconEdit;
    CImagePushButton* m_pBrowseButton;
    CImagePushButton* m_pOKButton;
    CImagePushButton* m_pCancelButton;
    QStringList m_listGroups;
    int m_nGroupIndex;
    int m_nResult;
};
