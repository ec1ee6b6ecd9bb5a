// The preview pane of the result page's split view: one tab beside the file list (or the search
// list) that shows the clicked file's picture, archive listing or player, or a one-line hint.
// Word, Excel and PDF documents only get the hint to double-click them: their viewers are
// separate programs that a single click does not start.
#pragma once

#include <QTabWidget>
#include <memory>

#include "CompressList.h"
#include "PreviewHolders.h"

class QGraphicsView;
class QLabel;
class QTreeWidget;

class CFilePreviewSplit : public QTabWidget {
    Q_OBJECT
public:
    explicit CFilePreviewSplit(QWidget* pParent = nullptr);
    ~CFilePreviewSplit() override;

    void SetFileInfo(const QString& strPath, const QString& strDisplayName);
    void ShowFile();
    // Stops the pane's player, if it has one.
    void StopPlayer();

    // The pane's office test: a Word or Excel storage by content; otherwise a name ending in
    // ".docx" or ".xlsx" (not ".doc" or ".xls": those were just found not to be one).
    bool IsOfficeFile() const;

    const QString& FilePath() const { return m_strPath; }
    QLabel* PlayerLabel() const { return m_pPlayerLabel; }
    QGraphicsView* GraphicsView() const { return m_pGraphicsView; }
    QTreeWidget* TreeWidget() const { return m_pTree; }
    CPreviewPlayer* Player() const { return m_pPlayer.get(); }

protected:
    void wheelEvent(QWheelEvent* pEvent) override;
    void closeEvent(QCloseEvent* pEvent) override;

private:
    void SetTab(const char* pszIconKey, const QString& strText);

    QWidget* m_pImageTab = nullptr;
    QLabel* m_pPlayerLabel = nullptr;
    QGraphicsView* m_pGraphicsView = nullptr;
    QTreeWidget* m_pTree = nullptr;

    QString m_strPath;
    QString m_strDisplayName;
    CPreviewImage m_image;
    std::unique_ptr<CPreviewPlayer> m_pPlayer;
    CCompressList m_compress;
};
