// The compact media player the preview shows on its Player tab: an information label, a video
// area, rewind / play-pause / forward, a seek slider with time and buffering labels, and a volume
// slider, on the Phonon multimedia framework.
#pragma once

#include <QBasicTimer>
#include <QIcon>
#include <QWidget>

#include <phonon/AudioOutput>
#include <phonon/MediaObject>
#include <phonon/Path>
#include <phonon/VideoWidget>

class QAction;
class QLabel;
class QPushButton;
namespace Phonon {
class SeekSlider;
class VolumeSlider;
} // namespace Phonon

class MediaPlayer;

// The video area: toggles full screen (double click, Alt+Return) and hides the mouse cursor after
// a second without movement while in full screen.
class MediaVideoWidget : public Phonon::VideoWidget {
    Q_OBJECT
public:
    MediaVideoWidget(MediaPlayer* pPlayer, QWidget* pParent = nullptr);

    QAction* FullScreenAction() const { return m_pActionFullScreen; }
    bool IsCursorTimerActive() const { return m_timer.isActive(); }

public slots:
    void setFullScreen(bool bFullScreen);

signals:
    void fullScreenChanged(bool bFullScreen);

protected:
    bool event(QEvent* pEvent) override;
    void timerEvent(QTimerEvent* pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    MediaPlayer* m_pPlayer;
    QBasicTimer m_timer;
    QAction* m_pActionFullScreen;
};

class MediaPlayer : public QWidget {
    Q_OBJECT
public:
    MediaPlayer();
    ~MediaPlayer() override;

    void setKeepSize(bool bKeepSize) { m_bKeepSize = bKeepSize; }
    void setDisplayName(const QString& strName) { m_strDisplayName = strName; }
    void startFile(const QString& strPath);
    void playUrl(const QString& strUrl);
    void stopMedia();

    // The time label's text for a position and a length in milliseconds ("m:ss", or "h:mm:ss"
    // when the length is an hour or more; the length follows " / " when known).
    static QString FormatTime(qint64 nPosition, qint64 nLength);
    // The information label's rich text from the media's meta data and the source.
    static QString FormatInfo(const QString& strTitle, const QString& strArtist, int nBitrate,
                              const QString& strFileName, bool bUrl, const QString& strDisplayName);

    Phonon::MediaObject& mediaObject() { return m_MediaObject; }
    MediaVideoWidget* videoWidget() const { return m_pVideoWidget; }
    QPushButton* playButton() const { return m_pPlayButton; }
    QPushButton* rewindButton() const { return m_pRewindButton; }
    QPushButton* forwardButton() const { return m_pForwardButton; }
    QString infoText() const;
    QString timeText() const;
    QString progressText() const;

public slots:
    void openFile();
    void rewind();
    void forward();
    void updateInfo();
    void updateTime();
    void finished();
    void playPause();
    void scaleChanged(QAction* pAction);
    void aspectChanged(QAction* pAction);
    void setAspect(int nAspect);
    void setScale(int nScale);
    void setSaturation(int nValue);
    void setContrast(int nValue);
    void setHue(int nValue);
    void setBrightness(int nValue);
    void stateChanged(Phonon::State newState, Phonon::State oldState);
    void showContextMenu(const QPoint& point);
    void bufferStatus(int nPercent);
    void openUrl();
    void openRamFile();
    void hasVideoChanged(bool bHasVideo);

private:
    void PlaySource(const Phonon::MediaSource& source, const QString& strTitle);
    void ResizeToContent();
    void ShowError();

    QIcon m_playIcon;
    QIcon m_pauseIcon;
    QPushButton* m_pPlayButton;
    QPushButton* m_pRewindButton;
    QPushButton* m_pForwardButton;
    Phonon::SeekSlider* m_pSeekSlider;
    QLabel* m_pTimeLabel;
    QLabel* m_pProgressLabel;
    Phonon::VolumeSlider* m_pVolumeSlider;
    QLabel* m_pInfo;
    QWidget m_videoWindow;
    Phonon::MediaObject m_MediaObject;
    Phonon::AudioOutput m_AudioOutput;
    MediaVideoWidget* m_pVideoWidget;
    Phonon::Path m_audioOutputPath;
    bool m_bKeepSize = false;
    QString m_strDisplayName;
};
