// The split view's preview pane: office documents and PDFs get the double-click hint (never a
// picture or a listing), then a picture by content, an archive listing before a player (the
// window plays first), a player for media names, else the no-preview hint; a new file replaces
// what the pane showed and stops its player; closing the pane removes the temporary file.
#include <QCoreApplication>
#include <QFile>
#include <QGraphicsView>
#include <QImage>
#include <QLabel>
#include <QTreeWidget>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <zip.h>

#include "CompoundFileBuilder.h"
#include "FilePreviewSplit.h"
#include "MessageTable.h"
#include "TempPathNameSignle.h"
#include "SampleFiles.h"
#include "TestSupport.h"

namespace {

enum Shown { IMAGE, LISTING, PLAYER, HINT_OFFICE, HINT_NONE };

Shown WhatPaneShows(CFilePreviewSplit& pane)
{
    if (!pane.GraphicsView()->isHidden())
        return IMAGE;
    if (!pane.TreeWidget()->isHidden())
        return LISTING;
    if (pane.PlayerLabel()->text() == TrMessage(77))
        return HINT_OFFICE;
    if (pane.PlayerLabel()->text() == TrMessage(76))
        return HINT_NONE;
    return PLAYER;
}

TEST(PreviewSplit, PaneShowsByAFixedOrder)
{
    rvdtest::CTempDir dir;
    const QString strPng = QString::fromStdString(dir.File("a.tmp"));
    ASSERT_TRUE(rvdtest::WriteSamplePng(strPng, Qt::blue));
    const QString strZip = QString::fromStdString(dir.File("z.tmp"));
    ASSERT_TRUE(rvdtest::WriteOneEntryZip(strZip));
    const QString strWord = QString::fromStdString(dir.File("w.tmp"));
    rvdtest::WriteFileBytes(strWord.toStdString(), rvdtest::BuildCompoundWithStreams({u"WordDocument"}));
    const QString strPlain = QString::fromStdString(dir.File("p.tmp"));
    rvdtest::WriteFileBytes(strPlain.toStdString(), std::vector<uint8_t>(64, 't'));

    const struct {
        const QString& strPath;
        const char* pszName;
        Shown nShown;
        const char* pszTab;
    } cases[] = {
        {strWord, "letter.doc", HINT_OFFICE, "Image"},
        {strWord, "picture.png", HINT_OFFICE, "Image"}, // content decides first
        {strPng, "scan.PDF", HINT_OFFICE, "Image"},     // a PDF by name, whatever it holds
        {strZip, "report.docx", HINT_OFFICE, "Image"},  // the newer formats by name
        {strPng, "photo.txt", IMAGE, "Image"},
        {strZip, "song.mp3", LISTING, "Compress"},      // archive before player in the pane
        {strPlain, "song.mp3", PLAYER, "Player"},
        {strPlain, "fake.doc", HINT_NONE, "Player"},    // no office document, no other preview
        {strPlain, ".pdf", HINT_NONE, "Player"},
        {strPlain, "clip.mp", HINT_NONE, "Player"},
    };
    // One pane for all, as the result page keeps it: each file replaces the last one's view.
    CFilePreviewSplit pane;
    EXPECT_EQ(pane.count(), 1);
    EXPECT_EQ(pane.objectName(), QString("TabWidget"));
    for (const auto& c : cases) {
        pane.SetFileInfo(c.strPath, c.pszName);
        pane.ShowFile();
        EXPECT_EQ(WhatPaneShows(pane), c.nShown) << c.pszName;
        EXPECT_EQ(pane.tabText(0), QString(c.pszTab)) << c.pszName;
        EXPECT_EQ(pane.count(), 1) << c.pszName;
        if (c.nShown == PLAYER) {
            ASSERT_NE(pane.Player(), nullptr);
            EXPECT_TRUE(pane.Player()->IsMedia());
        }
    }
}

TEST(PreviewSplit, WheelIsSwallowedAndClosingRemovesTheTemporaryFile)
{
    const QString strTemp = CTempPathNameSignle::GetInstance().GetTempPathName();
    ASSERT_FALSE(strTemp.isEmpty());
    rvdtest::WriteFileBytes(strTemp.toStdString(), std::vector<uint8_t>(100, 'q'));
    CFilePreviewSplit pane;
    pane.SetFileInfo(strTemp, "clip.wav");
    pane.ShowFile();
    pane.show();
    QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    wheel.ignore();
    QCoreApplication::sendEvent(&pane, &wheel);
    EXPECT_TRUE(wheel.isAccepted());
    pane.close();
    EXPECT_FALSE(QFile::exists(strTemp));
    pane.StopPlayer(); // a second stop after the close is harmless
}

} // namespace
