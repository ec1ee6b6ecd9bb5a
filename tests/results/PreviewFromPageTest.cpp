// Preview from the result page: the found file is copied out to a fresh temporary file, shown in
// the preview window byte for byte, and refused with the right message when it cannot be shown.
#include <QFile>
#include <QLabel>
#include <QMetaObject>
#include <QTabWidget>

#include <cstring>

#include "FilePreview.h"
#include "FilePreviewSplit.h"
#include "ICorrand.h"
#include "MessageTable.h"
#include "ResultsTestSupport.h"
#include "TempPathNameSignle.h"

namespace {

using namespace resultstest;

// Opens the scanned partition, then its "Deleted Files" folder, in the page's list; returns that
// folder's item, or null when either is missing.
QTreeWidgetItem* OpenDeletedFiles(CBuildTreePage& page)
{
    QTreeWidgetItem* pPartition = page.FloderTreeWidget->topLevelItem(0);
    if (pPartition == nullptr)
        return nullptr;
    page.OpenFolder(pPartition);
    QTreeWidgetItem* pDeleted = ChildNamed(pPartition, "Deleted Files");
    if (pDeleted != nullptr)
        page.OpenFolder(pDeleted);
    return pDeleted;
}

TEST(PreviewFromPage, GateMessages)
{
    CTestResultPage page;
    const struct {
        uint64_t ullSize;
        WORD wAttributes;
        int nMessage; // 0: previewed
    } cases[] = {{52428800, 0, 0}, {52428801, 0, 43}, {0, 0x4010, 42}, {10, 0x4010, 44},
                 {10, 0x4000, 45}, {1, 0x20, 0}};
    for (const auto& c : cases) {
        FILE_DETAIL_INFO info;
        std::memset(&info, 0, sizeof(info));
        info.ullSize = c.ullSize;
        info.wAttributes = c.wAttributes;
        page.vecMessages.clear();
        EXPECT_EQ(page.CanPreview(&info), c.nMessage == 0) << c.ullSize;
        if (c.nMessage == 0) {
            EXPECT_TRUE(page.vecMessages.empty());
        } else {
            EXPECT_EQ(page.vecMessages, std::vector<QString>{TrMessage(c.nMessage)}) << c.ullSize;
        }
    }
}

TEST(PreviewFromPage, FoundFileIsCopiedOutAndShown)
{
    ASSERT_TRUE(ScanFixture());
    CTestResultPage page;
    page.Initialize();
    ASSERT_NE(nullptr, OpenDeletedFiles(page));

    // Nothing selected: the user is asked to pick a file.
    page.FilesTreeWidget->setCurrentItem(nullptr);
    FilePreview none;
    page.OnPreview(&none, nullptr, 1);
    EXPECT_EQ(page.vecMessages, std::vector<QString>{TrMessage(40)});

    QTreeWidgetItem* pNote = RowNamed(page.FilesTreeWidget, "deleted note.txt");
    ASSERT_NE(nullptr, pNote);
    page.FilesTreeWidget->setCurrentItem(pNote);
    page.vecMessages.clear();
    FilePreview window;
    page.OnPreview(&window, nullptr, 1);
    EXPECT_TRUE(page.vecMessages.empty());
    EXPECT_EQ(window.windowTitle(), QString("deleted note.txt"));
    EXPECT_TRUE(window.isVisible());
    const std::vector<rvdtest::ManifestEntry> vecDeleted = DeletedFiles();
    const rvdtest::ManifestEntry* pEntry = nullptr;
    for (const auto& entry : vecDeleted)
        if (entry.vecNames.back() == "deleted note.txt")
            pEntry = &entry;
    ASSERT_NE(nullptr, pEntry);
    const std::string strTemp = window.FilePath().toStdString();
    EXPECT_EQ(rvdtest::Sha256Hex(rvdtest::ReadFileBytes(strTemp)), pEntry->strSha256);
    QStringList tabs;
    for (int i = 0; i < window.TabWidget()->count(); ++i)
        tabs << window.TabWidget()->tabText(i);
    EXPECT_EQ(tabs, QStringList({"Text", "Hex"}));
    window.close();
    EXPECT_FALSE(QFile::exists(QString::fromStdString(strTemp))) << "closing the window removes the temporary file";
}

TEST(PreviewFromPage, SlotFormsAndTheSplitPane)
{
    CTestResultPage page;
    for (const char* pszSlot : {"OnPreview(FilePreview*,CFilePreviewSplit*,BOOL)", "OnPreview(FilePreview*,CFilePreviewSplit*)",
                                "OnPreview(FilePreview*)", "OnPreview()"})
        EXPECT_GE(page.metaObject()->indexOfSlot(pszSlot), 0) << pszSlot;
    EXPECT_EQ(page.SplitFilePreview->objectName(), QString("SplitFilePreview"));
    EXPECT_EQ(page.SplitSearchPreview->objectName(), QString("SplitSearchPreview"));

    ASSERT_TRUE(ScanFixture());
    page.Initialize();
    ASSERT_NE(nullptr, OpenDeletedFiles(page));
    QTreeWidgetItem* pNote = RowNamed(page.FilesTreeWidget, "deleted note.txt");
    ASSERT_NE(nullptr, pNote);
    page.FilesTreeWidget->setCurrentItem(pNote);

    // The short form writes the file and shows nothing, not even a message.
    CTempPathNameSignle& temp = CTempPathNameSignle::GetInstance();
    temp.DeleteTempFile();
    page.vecMessages.clear();
    ASSERT_TRUE(QMetaObject::invokeMethod(&page, "OnPreview"));
    EXPECT_TRUE(temp.IsExist());
    EXPECT_TRUE(page.vecMessages.empty());
    EXPECT_TRUE(page.SplitFilePreview->FilePath().isEmpty());

    // A click in split mode: the pane shows the file (plain text: the no-preview hint).
    ASSERT_TRUE(QMetaObject::invokeMethod(&page, "OnPreview", Q_ARG(FilePreview*, nullptr),
                                          Q_ARG(CFilePreviewSplit*, page.SplitFilePreview)));
    EXPECT_TRUE(page.vecMessages.empty());
    const QString strShown = page.SplitFilePreview->FilePath();
    EXPECT_FALSE(strShown.isEmpty());
    EXPECT_TRUE(QFile::exists(strShown));
    EXPECT_EQ(page.SplitFilePreview->PlayerLabel()->text(), TrMessage(76));
    EXPECT_TRUE(page.SplitSearchPreview->FilePath().isEmpty()) << "only the pane given shows the file";
}

// A result page as the program has it (its own row preview), answering its message boxes.
class CPreviewingPage : public CBuildTreePage {
public:
    CPreviewingPage() : CBuildTreePage(nullptr, false) {}
    std::vector<QString> vecMessages;

protected:
    QMessageBox::StandardButton AskUser(QMessageBox::Icon, const QString& strText, QMessageBox::StandardButtons) override
    {
        vecMessages.push_back(strText);
        return QMessageBox::Ok;
    }
};

TEST(PreviewFromPage, ClickInSplitModeFillsThePaneAndDoubleClickOpensOneWindow)
{
    ASSERT_TRUE(ScanFixture());
    CPreviewingPage page;
    page.Initialize();
    ASSERT_NE(nullptr, OpenDeletedFiles(page));
    QTreeWidgetItem* pNote = RowNamed(page.FilesTreeWidget, "deleted note.txt");
    ASSERT_NE(nullptr, pNote);
    page.FilesTreeWidget->setCurrentItem(pNote);

    page.OnSplitMode();
    page.OnRightItemClicked(pNote, 0);
    EXPECT_TRUE(page.vecMessages.empty());
    EXPECT_FALSE(page.SplitFilePreview->FilePath().isEmpty());
    EXPECT_EQ(page.SplitFilePreview->PlayerLabel()->text(), TrMessage(76));

    auto Windows = []() {
        std::vector<FilePreview*> vec;
        for (QWidget* pWidget : QApplication::topLevelWidgets())
            if (FilePreview* pWindow = qobject_cast<FilePreview*>(pWidget))
                if (pWindow->isVisible())
                    vec.push_back(pWindow);
        return vec;
    };
    page.OnItemDBClicked(pNote, 0);
    page.OnItemDBClicked(pNote, 0);
    const std::vector<FilePreview*> vecWindows = Windows();
    ASSERT_EQ(vecWindows.size(), 1u) << "a second double click replaces the window";
    EXPECT_EQ(vecWindows[0]->windowTitle(), QString("deleted note.txt"));
    const QString strTemp = vecWindows[0]->FilePath();
    EXPECT_TRUE(QFile::exists(strTemp));
    vecWindows[0]->close();
    EXPECT_FALSE(QFile::exists(strTemp));
    EXPECT_TRUE(page.vecMessages.empty());
}

} // namespace
