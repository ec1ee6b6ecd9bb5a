// The preview window picks its tabs by a fixed order: picture by content, media by exact
// extension, archive listing, else Text and Hex alone; closing it removes the temporary file.
#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QTabWidget>
#include <gtest/gtest.h>

#include <zip.h>

#include "FilePreview.h"
#include "PreviewHolders.h"
#include "TempPathNameSignle.h"
#include "SampleFiles.h"
#include "TestSupport.h"

namespace {

QStringList Tabs(const QString& strPath, const QString& strName, int* pCurrent = nullptr)
{
    FilePreview window;
    window.SetFileInfo(strPath, strName);
    window.ShowFile();
    QStringList tabs;
    for (int i = 0; i < window.TabWidget()->count(); ++i)
        tabs << window.TabWidget()->tabText(i);
    if (pCurrent)
        *pCurrent = window.TabWidget()->currentIndex();
    return tabs;
}

TEST(PreviewDispatch, TabsByType)
{
    rvdtest::CTempDir dir;
    const QString strPng = QString::fromStdString(dir.File("a.tmp"));
    ASSERT_TRUE(rvdtest::WriteSamplePng(strPng, Qt::red));
    int nCurrent = -1;
    EXPECT_EQ(Tabs(strPng, "picture.txt", &nCurrent), QStringList({"Text", "Hex", "Image"}));
    EXPECT_EQ(nCurrent, 2);

    const QString strZip = QString::fromStdString(dir.File("z.tmp"));
    ASSERT_TRUE(rvdtest::WriteOneEntryZip(strZip));
    EXPECT_EQ(Tabs(strZip, "backup.dat", &nCurrent), QStringList({"Text", "Hex", "Compress"}));
    EXPECT_EQ(nCurrent, 2);
    // Media is told by name and goes before the archive listing.
    EXPECT_EQ(Tabs(strZip, "song.MP3", &nCurrent), QStringList({"Text", "Hex", "Player"}));

    const QString strPlain = QString::fromStdString(dir.File("p.tmp"));
    rvdtest::WriteFileBytes(strPlain.toStdString(), std::vector<uint8_t>(64, 't'));
    EXPECT_EQ(Tabs(strPlain, "notes.txt", &nCurrent), QStringList({"Text", "Hex"}));
    EXPECT_EQ(nCurrent, 0);
    // ".mp" is a piece of the media list but no media extension.
    EXPECT_EQ(Tabs(strPlain, "clip.mp"), QStringList({"Text", "Hex"}));
}

TEST(PreviewDispatch, MediaByExactExtension)
{
    const struct {
        const char* pszName;
        bool bMedia;
    } cases[] = {{"a.mp3", true}, {"B.AVI", true}, {"x.tar.mov", true}, {"a.mp", false},
                 {"a.mp3x", false}, {"mp3", false}, {"a.mov;", false}, {"a.", false}};
    for (const auto& c : cases) {
        CPreviewPlayer player;
        player.SetFileInfo("/t", c.pszName);
        EXPECT_EQ(player.IsMediaFile(), c.bMedia) << c.pszName;
    }
}

TEST(PreviewDispatch, ClosingRemovesTheTemporaryFile)
{
    const QString strTemp = CTempPathNameSignle::GetInstance().GetTempPathName();
    ASSERT_FALSE(strTemp.isEmpty());
    rvdtest::WriteFileBytes(strTemp.toStdString(), std::vector<uint8_t>(100, 'q'));
    FilePreview window;
    window.SetFileInfo(strTemp, "found.bin");
    window.ShowFile();
    window.show();
    window.close();
    EXPECT_FALSE(QFile::exists(strTemp));
}

} // namespace
