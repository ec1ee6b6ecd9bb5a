// The preview window a double click on a found file opens: the Text and Hex tabs always, and one
// more tab for a picture, a media file or an archive listing, chosen in that order.
#pragma once

#include <QMainWindow>

#include "CompressList.h"
#include "FileHexView.h"
#include "FileTextView.h"
#include "PreviewHolders.h"

class QGraphicsView;
class QScrollBar;
class QTabWidget;
class QTextEdit;
class QTreeWidget;

class FilePreview : public QMainWindow {
    Q_OBJECT
public:
    enum { TAB_TEXT, TAB_HEX, TAB_IMAGE, TAB_PLAYER, TAB_COMPRESS };

    explicit FilePreview(QWidget* pParent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~FilePreview() override;

    void SetFileInfo(const QString& strPath, const QString& strDisplayName);
    void ShowFile();
    QTabWidget* TabWidget() const { return m_pTabs; }
    const QString& FilePath() const { return m_strPath; }

public slots:
    void OnTabChanged(int nIndex);

protected:
    void wheelEvent(QWheelEvent* pEvent) override;
    void closeEvent(QCloseEvent* pEvent) override;

private:
    void SetTabIcon(int nIndex, const char* pszKey);

    QTabWidget* m_pTabs = nullptr;
    QTextEdit* m_pTextEdit = nullptr;
    QScrollBar* m_pTextBar = nullptr;
    QTextEdit* m_pHexEdit = nullptr;
    QScrollBar* m_pHexBar = nullptr;
    QGraphicsView* m_pGraphicsView = nullptr;
    QWidget* m_pVideoTab = nullptr;
    QTreeWidget* m_pTree = nullptr;

    QString m_strPath;
    QString m_strDisplayName;
    CFileTextView m_textView;
    CFileHexView m_hexView;
    CPreviewImage m_image;
    CPreviewPlayer m_player;
    CCompressList m_compress;
};
