// The media player of the preview: its time and information texts, playing a WAV written at test
// time under the found file's name, its button states, and the stop when the preview closes.
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

#include "FilePreview.h"
#include "MediaPlayer.h"
#include "PreviewHolders.h"
#include "TempPathNameSignle.h"
#include "TestSupport.h"
#include "WaveFile.h"

namespace {

const int kWaitMs = 15000;

bool WaitForState(MediaPlayer& player, Phonon::State state)
{
    return QTest::qWaitFor([&] { return player.mediaObject().state() == state; }, kWaitMs);
}

TEST(MediaPlayerTexts, TimeLabel)
{
    const qint64 nHour = 3600 * 1000;
    const struct {
        qint64 nPosition, nLength;
        const char* pszText;
    } cases[] = {
        {0, 0, ""},
        {-1, -1, ""},                       // nothing loaded yet
        {5000, 0, "0:05"},                  // length not known: the position alone
        {5000, -1, "0:05"},
        {0, 10000, "0:00 / 0:10"},
        {(59 * 60 + 59) * 1000, (59 * 60 + 59) * 1000 + 999, "59:59 / 59:59"},
        {61500, nHour - 1, "1:01 / 59:59"},
        {0, nHour, "0:00:00 / 1:00:00"},    // an hour long: hours on both sides
        {nHour, nHour, "1:00:00 / 1:00:00"},
        {nHour + 61000, 2 * nHour, "1:01:01 / 2:00:00"},
        {0, 61 * nHour, "0:00:00 / 61:00:00"}, // not wrapped at 60 or 24 hours
    };
    for (const auto& c : cases)
        EXPECT_EQ(MediaPlayer::FormatTime(c.nPosition, c.nLength), QString(c.pszText))
            << c.nPosition << " " << c.nLength;
}

TEST(MediaPlayerTexts, InformationLabel)
{
    const QString strHigh = "<font color=#ffeeaa>";
    const QString str30 = QString(30, 'T');
    const struct {
        QString strTitle, strArtist;
        int nBitrate;
        QString strFile;
        bool bUrl;
        QString strDisplay, strExpected;
    } cases[] = {
        {"", "", 0, "a1b2.tmp", false, "song.mp3", "File: " + strHigh + "song.mp3</font>"},
        {str30 + "X", "", 0, "a1b2.tmp", false, "song.mp3", "Title: " + strHigh + str30 + "...<br></font>"},
        {str30, "", 0, "a1b2.tmp", false, "song.mp3", "Title: " + strHigh + str30 + "<br></font>"},
        {"Tune", "Band", 128000, "a1b2.tmp", false, "x.mp3",
         "Title: " + strHigh + "Tune<br></font>Artist:  " + strHigh + "Band</font><br>Bitrate:  " + strHigh + "128kbit</font>"},
        {"", "", 0, "http://h/s", true, "old.mp3", "Url: " + strHigh + "http://h/s</font>"},
        {"", "", 0, "", false, "song.mp3", ""},
        // Names from a damaged disk are text, not markup.
        {"", "", 0, "a.tmp", false, "<b>x</b>.wav", "File: " + strHigh + "&lt;b&gt;x&lt;/b&gt;.wav</font>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MediaPlayer::FormatInfo(c.strTitle, c.strArtist, c.nBitrate, c.strFile, c.bUrl, c.strDisplay),
                  c.strExpected)
            << c.strTitle.toStdString() << " / " << c.strDisplay.toStdString();
}

TEST(MediaPlayerTexts, BufferingLabelAndStartState)
{
    MediaPlayer player;
    EXPECT_EQ(player.windowTitle(), "Media Player");
    EXPECT_TRUE(player.infoText().contains("No media"));
    EXPECT_FALSE(player.playButton()->isEnabled());
    EXPECT_FALSE(player.rewindButton()->isEnabled());
    EXPECT_FALSE(player.forwardButton()->isEnabled());
    player.bufferStatus(42);
    EXPECT_EQ(player.progressText(), "(42%)");
    player.bufferStatus(100);
    EXPECT_EQ(player.progressText(), "");
}

TEST(MediaPlayerPlayback, PlaysAWaveUnderItsFoundName)
{
    rvdtest::CTempDir dir;
    const QString strWave = QString::fromStdString(dir.File("a7f3.tmp"));
    rvdtest::WriteWave(strWave.toStdString(), 60);

    QWidget host;
    CPreviewPlayer holder;
    holder.SetFileInfo(strWave, "Holiday.WAV");
    holder.SetHost(&host);
    holder.LayoutPlayer();
    ASSERT_TRUE(holder.IsMediaFile());
    holder.Play();
    MediaPlayer& player = holder.Player();
    EXPECT_EQ(player.parentWidget(), &host);
    EXPECT_EQ(player.windowTitle(), "a7f3.tmp");
    ASSERT_TRUE(WaitForState(player, Phonon::PlayingState)) << player.mediaObject().errorString().toStdString();
    EXPECT_EQ(player.mediaObject().totalTime(), 60000);
    EXPECT_TRUE(player.playButton()->isEnabled());
    EXPECT_TRUE(player.rewindButton()->isEnabled());
    EXPECT_FALSE(player.forwardButton()->isEnabled());
    // The label names the found file, never the temporary file.
    EXPECT_TRUE(QTest::qWaitFor([&] { return player.infoText().contains("Holiday.WAV"); }, kWaitMs))
        << player.infoText().toStdString();
    EXPECT_TRUE(player.infoText().startsWith("File: ")) << player.infoText().toStdString();
    EXPECT_FALSE(player.infoText().contains(".tmp"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return player.timeText().endsWith(" / 1:00"); }, kWaitMs))
        << player.timeText().toStdString();

    player.playPause();
    ASSERT_TRUE(WaitForState(player, Phonon::PausedState));
    EXPECT_TRUE(player.playButton()->isEnabled());
    player.playPause();
    ASSERT_TRUE(WaitForState(player, Phonon::PlayingState));
    holder.Stop();
    ASSERT_TRUE(WaitForState(player, Phonon::StoppedState));
    EXPECT_TRUE(player.playButton()->isEnabled()); // the source is still there to play again

    // Hidden and out of the host's layout; shown again in a fresh one.
    holder.ShowPlayer(false);
    EXPECT_FALSE(player.isVisibleTo(&host));
    EXPECT_EQ(host.layout(), nullptr);
    holder.ShowPlayer(true);
    ASSERT_NE(host.layout(), nullptr);
    EXPECT_GE(host.layout()->indexOf(&player), 0);
    EXPECT_TRUE(player.isVisibleTo(&host));
}

TEST(MediaPlayerPlayback, ForwardTakesTheNextQueuedFile)
{
    rvdtest::CTempDir dir;
    QStringList files;
    for (const char* pszName : {"a.wav", "b.wav", "c.wav"}) {
        rvdtest::WriteWave(dir.File(pszName), 60);
        files << QString::fromStdString(dir.File(pszName));
    }
    MediaPlayer player;
    player.startFile(files[0]);
    ASSERT_TRUE(WaitForState(player, Phonon::PlayingState));
    player.forward(); // nothing queued: nothing changes
    EXPECT_EQ(player.mediaObject().currentSource().fileName(), files[0]);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    player.mediaObject().enqueue(Phonon::MediaSource(files[1]));
    player.mediaObject().enqueue(Phonon::MediaSource(files[2]));
#pragma GCC diagnostic pop
    player.forward();
    EXPECT_EQ(player.mediaObject().currentSource().fileName(), files[1]);
    EXPECT_TRUE(player.forwardButton()->isEnabled());
    player.forward();
    EXPECT_EQ(player.mediaObject().currentSource().fileName(), files[2]);
    EXPECT_FALSE(player.forwardButton()->isEnabled());
    EXPECT_TRUE(WaitForState(player, Phonon::PlayingState));
    player.stopMedia();
    EXPECT_TRUE(WaitForState(player, Phonon::StoppedState));
}

TEST(MediaPlayerPlayback, PreviewWindowPlaysAndStopsOnClose)
{
    const QString strTemp = CTempPathNameSignle::GetInstance().GetTempPathName();
    ASSERT_FALSE(strTemp.isEmpty());
    rvdtest::WriteWave(strTemp.toStdString(), 60);
    FilePreview window;
    window.SetFileInfo(strTemp, "voice.wav");
    window.ShowFile();
    window.show();
    QTabWidget* pTabs = window.TabWidget();
    ASSERT_EQ(pTabs->count(), 3);
    EXPECT_EQ(pTabs->tabText(2), "Player");
    EXPECT_EQ(pTabs->currentIndex(), 2);
    QWidget* pVideoTab = window.findChild<QWidget*>("tabVideo");
    ASSERT_NE(pVideoTab, nullptr);
    MediaPlayer* pPlayer = pVideoTab->findChild<MediaPlayer*>();
    ASSERT_NE(pPlayer, nullptr);
    EXPECT_TRUE(pPlayer->isVisible());
    ASSERT_TRUE(WaitForState(*pPlayer, Phonon::PlayingState));
    QSignalSpy finished(&pPlayer->mediaObject(), SIGNAL(finished()));

    window.close();
    EXPECT_FALSE(QFile::exists(strTemp));
    ASSERT_TRUE(WaitForState(*pPlayer, Phonon::StoppedState));
    // Stopped by the close, not played out: the clip is a minute long.
    EXPECT_EQ(finished.count(), 0);
}

TEST(MediaPlayerPlayback, DamagedMediaDoesNotPlay)
{
    rvdtest::CTempDir dir;
    const QString strPath = QString::fromStdString(dir.File("junk.tmp"));
    std::vector<uint8_t> vec(64 * 1024);
    for (size_t i = 0; i < vec.size(); ++i)
        vec[i] = uint8_t(i * 131 + 7);
    rvdtest::WriteFileBytes(strPath.toStdString(), vec);
    QWidget host;
    CPreviewPlayer holder;
    holder.SetFileInfo(strPath, "broken.mp3");
    holder.SetHost(&host);
    holder.LayoutPlayer();
    holder.Play();
    MediaPlayer& player = holder.Player();
    // Whatever the backend makes of it, it ends without playing and nothing blocks here.
    EXPECT_TRUE(QTest::qWaitFor([&] {
        const Phonon::State state = player.mediaObject().state();
        return state == Phonon::ErrorState || state == Phonon::StoppedState;
    }, kWaitMs));
    QTest::qWait(200);
    const Phonon::State state = player.mediaObject().state();
    EXPECT_NE(state, Phonon::PlayingState);
    // A playback error is reported in a box that does not block: this call returns, and the
    // player can still be closed and destroyed while the box is up.
    player.stateChanged(Phonon::ErrorState, Phonon::PlayingState);
    QMessageBox* pBox = player.findChild<QMessageBox*>();
    ASSERT_NE(pBox, nullptr);
    EXPECT_EQ(pBox->windowTitle(), "Phonon Mediaplayer");
    EXPECT_EQ(pBox->standardButtons(), QMessageBox::Close);
}

TEST(MediaPlayerVideo, FullScreenKeysAndCursor)
{
    MediaPlayer player;
    MediaVideoWidget* pVideo = player.videoWidget();
    QSignalSpy spy(pVideo, SIGNAL(fullScreenChanged(bool)));
    pVideo->FullScreenAction()->trigger(); // Alt+Return
    ASSERT_EQ(spy.count(), 1);
    EXPECT_TRUE(spy.at(0).at(0).toBool());
    EXPECT_TRUE(pVideo->isFullScreen());
    EXPECT_TRUE(pVideo->FullScreenAction()->isChecked());

    // In full screen the cursor goes after a second without movement and comes back on a move.
    QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(pVideo, &move);
    EXPECT_TRUE(pVideo->IsCursorTimerActive());
    EXPECT_TRUE(QTest::qWaitFor([&] { return pVideo->cursor().shape() == Qt::BlankCursor; }, 3000));
    QApplication::sendEvent(pVideo, &move);
    EXPECT_NE(pVideo->cursor().shape(), Qt::BlankCursor);

    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(pVideo, &escape);
    EXPECT_TRUE(escape.isAccepted());
    ASSERT_EQ(spy.count(), 2);
    EXPECT_FALSE(spy.at(1).at(0).toBool());
    EXPECT_FALSE(pVideo->isFullScreen());
    QApplication::sendEvent(pVideo, &move);
    EXPECT_FALSE(pVideo->IsCursorTimerActive());

    // The video area cannot be closed on its own.
    QCloseEvent close;
    QApplication::sendEvent(pVideo, &close);
    EXPECT_FALSE(close.isAccepted());
}

} // namespace
