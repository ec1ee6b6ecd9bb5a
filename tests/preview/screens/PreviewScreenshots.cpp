// Screenshots of the preview on a real X server (Xvfb): the image preview, the hex view, the
// archive listing and the media player with a sound file loaded. Run by the wrapper script
// under xvfb-run; each picture is checked to show more than a blank window.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QSet>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <zip.h>

#include "FilePreview.h"
#include "MediaPlayer.h"
#include "Pubic.h"
#include "TestSupport.h"
#include "WaveFile.h"

namespace {

class CScreenshotEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        static int nArgc = 1;
        static char szName[] = "test_preview_screens";
        static char* apszArgv[] = {szName, nullptr};
        m_pApp = new QApplication(nArgc, apszArgv);
        // The program's own look: its settings file, tab icons and images, read from the output folder.
        const QString strOut = QString::fromStdString(rvdtest::OutputDir());
        if (QFile::exists(strOut + "/UIConfig.ini")) {
            QDir::setCurrent(strOut);
            CPubic::GetIniParser() = CConfigParser("UIConfig.ini");
        }
    }
    void TearDown() override
    {
        delete m_pApp;
    }

private:
    QApplication* m_pApp = nullptr;
};

const ::testing::Environment* const g_pEnv = ::testing::AddGlobalTestEnvironment(new CScreenshotEnvironment);

int CountColours(const QImage& image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            colours.insert(image.pixel(x, y));
    return colours.size();
}

// Grabs the window from the X server and saves it; the picture must hold more than a few flat
// colours. A busy machine may paint late, so the grab is repeated for a few seconds.
void Shoot(QWidget& window, const QString& strName)
{
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QScreen* pScreen = window.screen();
    ASSERT_NE(pScreen, nullptr);
    QImage image;
    for (int nTry = 0; nTry < 25; ++nTry) {
        QTest::qWait(200);
        image = pScreen->grabWindow(window.winId()).toImage();
        if (!image.isNull() && CountColours(image) > 8)
            break;
    }
    ASSERT_FALSE(image.isNull());
    EXPECT_GT(CountColours(image), 8) << strName.toStdString() << " looks blank";
    ASSERT_TRUE(QDir().mkpath(RVD_SCREENSHOT_DIR));
    ASSERT_TRUE(image.save(QString(RVD_SCREENSHOT_DIR) + "/" + strName + ".png"));
}

QTabWidget* Tabs(FilePreview& window)
{
    return window.TabWidget();
}

TEST(PreviewScreenshots, ImagePreview)
{
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    rvdtest::CTempDir dir;
    const QString strPath = QString::fromStdString(dir.File("p.tmp"));
    QImage picture(480, 360, QImage::Format_RGB32);
    QPainter painter(&picture);
    QLinearGradient gradient(0, 0, 480, 360);
    gradient.setColorAt(0, QColor(20, 60, 160));
    gradient.setColorAt(1, QColor(240, 180, 40));
    painter.fillRect(picture.rect(), gradient);
    painter.setPen(Qt::white);
    painter.setFont(QFont("Sans", 28));
    painter.drawText(picture.rect(), Qt::AlignCenter, "Recovered picture");
    painter.end();
    ASSERT_TRUE(picture.save(strPath, "PNG"));
    FilePreview window;
    window.SetFileInfo(strPath, "IMG_0042.txt");
    window.ShowFile();
    ASSERT_EQ(Tabs(window)->tabText(Tabs(window)->currentIndex()), "Image");
    Shoot(window, "preview-image");
}

TEST(PreviewScreenshots, TextAndHexViews)
{
    rvdtest::CTempDir dir;
    const QString strPath = QString::fromStdString(dir.File("h.tmp"));
    std::vector<uint8_t> vec;
    const char szText[] = "Ravendo preview: a found file shown byte by byte.\r\n";
    for (int i = 0; i < 40; ++i)
        vec.insert(vec.end(), szText, szText + sizeof(szText) - 1);
    for (int i = 0; i < 512; ++i)
        vec.push_back(uint8_t(i));
    rvdtest::WriteFileBytes(strPath.toStdString(), vec);
    FilePreview window;
    window.SetFileInfo(strPath, "notes.bin");
    window.ShowFile();
    Shoot(window, "preview-text");
    Tabs(window)->setCurrentIndex(FilePreview::TAB_HEX);
    ASSERT_FALSE(window.findChild<QTextEdit*>("textEditHex")->toPlainText().isEmpty());
    Shoot(window, "preview-hex");
}

TEST(PreviewScreenshots, ArchiveListing)
{
    rvdtest::CTempDir dir;
    const QString strPath = QString::fromStdString(dir.File("z.tmp"));
    zipFile hZip = zipOpen64(QFile::encodeName(strPath).constData(), APPEND_STATUS_CREATE);
    ASSERT_NE(hZip, nullptr);
    const char* apszNames[] = {"Documents/report.docx", "Documents/budget.xlsx", "Photos/beach.jpg", "readme.txt"};
    int nSize = 1000;
    for (const char* pszName : apszNames) {
        zip_fileinfo info = {};
        info.tmz_date = {4, 5, 9, 7, 4, 2012};
        ASSERT_EQ(zipOpenNewFileInZip64(hZip, pszName, &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 6, 0), ZIP_OK);
        const std::string strData(size_t(nSize), 'x');
        zipWriteInFileInZip(hZip, strData.data(), unsigned(strData.size()));
        zipCloseFileInZip(hZip);
        nSize *= 7;
    }
    zipClose(hZip, nullptr);
    FilePreview window;
    window.SetFileInfo(strPath, "backup.zip");
    window.ShowFile();
    ASSERT_EQ(Tabs(window)->tabText(Tabs(window)->currentIndex()), "Compress");
    ASSERT_EQ(window.findChild<QTreeWidget*>("treeWidget")->topLevelItemCount(), 4);
    Shoot(window, "preview-archive");
}

TEST(PreviewScreenshots, MediaPlayer)
{
    rvdtest::CTempDir dir;
    const QString strPath = QString::fromStdString(dir.File("w.tmp"));
    rvdtest::WriteWave(strPath.toStdString(), 60);
    FilePreview window;
    window.SetFileInfo(strPath, "interview.wav");
    window.ShowFile();
    ASSERT_EQ(Tabs(window)->tabText(Tabs(window)->currentIndex()), "Player");
    MediaPlayer* pPlayer = window.findChild<MediaPlayer*>();
    ASSERT_NE(pPlayer, nullptr);
    window.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return pPlayer->mediaObject().state() == Phonon::PlayingState; }, 15000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return pPlayer->infoText().contains("interview.wav"); }, 15000));
    pPlayer->playPause(); // paused, so the picture shows a steady position
    ASSERT_TRUE(QTest::qWaitFor([&] { return pPlayer->mediaObject().state() == Phonon::PausedState; }, 15000));
    Shoot(window, "preview-player");
    window.close();
}

} // namespace
