// The options dialog: edits the five user options kept in "Option.ini" (the size limit of carved
// files, the partition limit of the complete scan, the full-disk fallback, the bad-sector switch
// and the default folder for recovered files). It only reads and writes the file.
#pragma once

#include <QDialog>
#include <memory>

class CImagePushButton;
class QCheckBox;
class QLineEdit;
class QSettings;
class QSpinBox;

class COptionDlg : public QDialog {
    Q_OBJECT
public:
    explicit COptionDlg(QWidget* pParent = nullptr);
    ~COptionDlg() override;

    // Opens the options file (strFile, "Option.ini" in the working directory by default) and
    // loads the controls; the owner calls it once before exec().
    void ReadOptions(const QString& strFile = QString());

    QLineEdit* SizeEdit() const { return m_pSizeEdit; }
    QSpinBox* PartitionSpin() const { return m_pPartitionSpin; }
    QCheckBox* FullScanBox() const { return m_pFullScanBox; }
    QCheckBox* BadSectorBox() const { return m_pBadSectorBox; }
    QLineEdit* PathEdit() const { return m_pPathEdit; }

public slots:
    void DefaultClick();
    void OKClick();
    void CancelClick();
    void BrowseClick();

private:
    QLineEdit* m_pSizeEdit;
    QSpinBox* m_pPartitionSpin;
    QCheckBox* m_pBadSectorBox;
    QLineEdit* m_pPathEdit;
    QCheckBox* m_pFullScanBox;
    CImagePushButton* m_pBrowseButton;
    CImagePushButton* m_pDefaultButton;
    CImagePushButton* m_pOKButton;
    CImagePushButton* m_pCancelButton;
    std::unique_ptr<QSettings> m_pSettings;
};
