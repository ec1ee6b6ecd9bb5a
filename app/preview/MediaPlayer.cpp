#include "MediaPlayer.h"

#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QStyle>
#include <QTimer>

#include <phonon/SeekSlider>
#include <phonon/VolumeSlider>

#include "MessageTable.h"
#include "Pubic.h"

namespace {

enum { MSG_MEDIA_PLAYER = 17, MSG_NO_MEDIA = 18, MSG_OPEN_LOCATION = 19, MSG_ENTER_ADDRESS = 20 };

const int kInfoLimit = 30;
const char* const kHighlight = "<font color=#ffeeaa>";

QString Cut(const QString& strText)
{
    return strText.size() > kInfoLimit ? strText.left(kInfoLimit) + "..." : strText;
}

QString AfterLastSlash(const QString& strPath)
{
    return strPath.mid(strPath.lastIndexOf('/') + 1);
}

// A duration in milliseconds as h:mm:ss or m:ss. Hours are not wrapped: a damaged file may claim
// a length of days, and that is shown as it is rather than as a smaller, wrong figure.
QString FormatDuration(qint64 nMs, bool bHours)
{
    const qint64 nSeconds = nMs / 1000;
    const qint64 nHours = nSeconds / 3600;
    const int nMinutes = int((nSeconds / 60) % 60);
    const int nSecs = int(nSeconds % 60);
    if (bHours)
        return QString("%1:%2:%3").arg(nHours).arg(nMinutes, 2, 10, QChar('0')).arg(nSecs, 2, 10, QChar('0'));
    return QString("%1:%2").arg(nMinutes).arg(nSecs, 2, 10, QChar('0'));
}

QPushButton* NewButton(QWidget* pParent, QStyle::StandardPixmap icon)
{
    QPushButton* pButton = new QPushButton(pParent);
    pButton->setIcon(pParent->style()->standardIcon(icon));
    pButton->setMinimumSize(34, 28);
    return pButton;
}

} // namespace

// ---------------------------------------------------------------------------------------------

MediaVideoWidget::MediaVideoWidget(MediaPlayer* pPlayer, QWidget* pParent)
    : Phonon::VideoWidget(pParent), m_pPlayer(pPlayer), m_pActionFullScreen(new QAction(this))
{
    m_pActionFullScreen->setText(tr("Full screen"));
    m_pActionFullScreen->setCheckable(true);
    m_pActionFullScreen->setChecked(false);
    m_pActionFullScreen->setShortcut(QKeySequence(Qt::ALT + Qt::Key_Return));
    m_pActionFullScreen->setShortcutContext(Qt::WindowShortcut);
    connect(m_pActionFullScreen, &QAction::toggled, this, &MediaVideoWidget::setFullScreen);
    addAction(m_pActionFullScreen);
}

void MediaVideoWidget::setFullScreen(bool bFullScreen)
{
    Phonon::VideoWidget::setFullScreen(bFullScreen);
    emit fullScreenChanged(bFullScreen);
}

void MediaVideoWidget::mouseDoubleClickEvent(QMouseEvent* pEvent)
{
    Phonon::VideoWidget::mouseDoubleClickEvent(pEvent);
    setFullScreen(!isFullScreen());
}

void MediaVideoWidget::keyPressEvent(QKeyEvent* pEvent)
{
    if (pEvent->modifiers() == Qt::NoModifier) {
        if (pEvent->key() == Qt::Key_Space || pEvent->key() == Qt::Key_0) {
            m_pPlayer->playPause();
            pEvent->accept();
            return;
        }
        if (pEvent->key() == Qt::Key_Escape || pEvent->key() == Qt::Key_Backspace) {
            setFullScreen(false);
            pEvent->accept();
            return;
        }
    }
    Phonon::VideoWidget::keyPressEvent(pEvent);
}

bool MediaVideoWidget::event(QEvent* pEvent)
{
    switch (pEvent->type()) {
    case QEvent::Close:
        // The video area belongs to its player and cannot be closed on its own.
        pEvent->ignore();
        return true;
    case QEvent::MouseMove:
        unsetCursor();
        Q_FALLTHROUGH();
    case QEvent::WindowStateChange: {
        const bool bFull = windowState() & Qt::WindowFullScreen;
        {
            // Only mirror the state on the action; toggling it would switch full screen again.
            const QSignalBlocker blocker(m_pActionFullScreen);
            m_pActionFullScreen->setChecked(bFull);
        }
        if (bFull) {
            m_timer.start(1000, this);
        } else {
            m_timer.stop();
            unsetCursor();
        }
        break;
    }
    default:
        break;
    }
    return Phonon::VideoWidget::event(pEvent);
}

void MediaVideoWidget::timerEvent(QTimerEvent* pEvent)
{
    if (pEvent->timerId() == m_timer.timerId())
        setCursor(Qt::BlankCursor);
    Phonon::VideoWidget::timerEvent(pEvent);
}

// ---------------------------------------------------------------------------------------------

MediaPlayer::MediaPlayer() : m_AudioOutput(Phonon::VideoCategory), m_pVideoWidget(new MediaVideoWidget(this))
{
    setWindowTitle(TrMessage(MSG_MEDIA_PLAYER));
    setContextMenuPolicy(Qt::CustomContextMenu);
    m_pVideoWidget->setContextMenuPolicy(Qt::CustomContextMenu);

    m_playIcon = style()->standardIcon(QStyle::SP_MediaPlay);
    m_pauseIcon = style()->standardIcon(QStyle::SP_MediaPause);

    m_pRewindButton = NewButton(this, QStyle::SP_MediaSkipBackward);
    m_pForwardButton = NewButton(this, QStyle::SP_MediaSkipForward);
    m_pForwardButton->setEnabled(false);
    m_pPlayButton = NewButton(this, QStyle::SP_MediaPlay);

    m_pSeekSlider = new Phonon::SeekSlider(&m_MediaObject, this);
    m_pTimeLabel = new QLabel(this);
    m_pProgressLabel = new QLabel(this);
    m_pVolumeSlider = new Phonon::VolumeSlider(&m_AudioOutput);
    m_pVolumeSlider->setFixedWidth(120);

    m_pInfo = new QLabel(this);
    m_pInfo->setMinimumHeight(70);
    m_pInfo->setMargin(2);
    m_pInfo->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    m_pInfo->setLineWidth(2);
    m_pInfo->setAutoFillBackground(true);
    QPalette palette = m_pInfo->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    m_pInfo->setPalette(palette);
    const QString strImage = CPubic::GetIniParser().GetImagePath("MainImage");
    if (!strImage.isEmpty())
        m_pInfo->setStyleSheet(QString("border-image:url(%1) ; border-width:3px").arg(strImage));
    m_pInfo->setText(QString("<center>%1</center>").arg(TrMessage(MSG_NO_MEDIA)));

    QVBoxLayout* pLayout = new QVBoxLayout(this);
    pLayout->setContentsMargins(8, 8, 8, 8);

    QHBoxLayout* pButtonRow = new QHBoxLayout;
    pButtonRow->addWidget(m_pRewindButton);
    pButtonRow->addWidget(m_pPlayButton);
    pButtonRow->addWidget(m_pForwardButton);
    pButtonRow->addStretch();
    pButtonRow->addWidget(m_pVolumeSlider);

    QWidget* pSliderPanel = new QWidget;
    QHBoxLayout* pSliderRow = new QHBoxLayout(pSliderPanel);
    pSliderRow->setContentsMargins(0, 0, 0, 0);
    pSliderRow->addWidget(m_pSeekSlider);
    pSliderRow->addWidget(m_pTimeLabel);
    pSliderRow->addWidget(m_pProgressLabel);

    QWidget* pButtonPanel = new QWidget;
    pButtonPanel->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    QVBoxLayout* pPanelLayout = new QVBoxLayout(pButtonPanel);
    pPanelLayout->setContentsMargins(0, 0, 0, 0);
    pPanelLayout->addLayout(pButtonRow);
    pPanelLayout->addWidget(pSliderPanel);

    pLayout->addWidget(m_pInfo);
    pLayout->addWidget(&m_videoWindow);
    pLayout->addWidget(pButtonPanel);
    pLayout->addLayout(new QHBoxLayout);

    QVBoxLayout* pVideoLayout = new QVBoxLayout(&m_videoWindow);
    pVideoLayout->setContentsMargins(0, 0, 0, 0);
    pVideoLayout->addWidget(m_pVideoWidget);
    m_videoWindow.setMinimumSize(100, 100);
    m_videoWindow.hide();

    connect(m_pRewindButton, SIGNAL(released()), this, SLOT(rewind()));
    connect(m_pPlayButton, SIGNAL(released()), this, SLOT(playPause()));
    connect(m_pForwardButton, SIGNAL(released()), this, SLOT(forward()));
    connect(m_pVideoWidget, SIGNAL(customContextMenuRequested(const QPoint&)), this, SLOT(showContextMenu(const QPoint&)));
    connect(this, SIGNAL(customContextMenuRequested(const QPoint&)), this, SLOT(showContextMenu(const QPoint&)));
    connect(&m_MediaObject, SIGNAL(metaDataChanged()), this, SLOT(updateInfo()));
    connect(&m_MediaObject, SIGNAL(totalTimeChanged(qint64)), this, SLOT(updateTime()));
    connect(&m_MediaObject, SIGNAL(tick(qint64)), this, SLOT(updateTime()));
    connect(&m_MediaObject, SIGNAL(finished()), this, SLOT(finished()));
    connect(&m_MediaObject, SIGNAL(stateChanged(Phonon::State,Phonon::State)), this,
            SLOT(stateChanged(Phonon::State,Phonon::State)));
    connect(&m_MediaObject, SIGNAL(bufferStatus(int)), this, SLOT(bufferStatus(int)));
    connect(&m_MediaObject, SIGNAL(hasVideoChanged(bool)), this, SLOT(hasVideoChanged(bool)));

    m_pRewindButton->setEnabled(false);
    m_pPlayButton->setEnabled(false);
    m_audioOutputPath = Phonon::createPath(&m_MediaObject, &m_AudioOutput);
    Phonon::createPath(&m_MediaObject, m_pVideoWidget);
    resize(minimumSizeHint());
}

MediaPlayer::~MediaPlayer()
{
    m_MediaObject.stop();
}

QString MediaPlayer::infoText() const
{
    return m_pInfo->text();
}

QString MediaPlayer::timeText() const
{
    return m_pTimeLabel->text();
}

QString MediaPlayer::progressText() const
{
    return m_pProgressLabel->text();
}

void MediaPlayer::PlaySource(const Phonon::MediaSource& source, const QString& strTitle)
{
    setWindowTitle(AfterLastSlash(strTitle));
    m_MediaObject.setCurrentSource(source);
    m_MediaObject.play();
}

void MediaPlayer::startFile(const QString& strPath)
{
    // A plain file name gives a local-file source (a URL would make it a network source and the
    // information label would call it "Url").
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const Phonon::MediaSource source(strPath);
#pragma GCC diagnostic pop
    PlaySource(source, strPath);
}

void MediaPlayer::playUrl(const QString& strUrl)
{
    PlaySource(Phonon::MediaSource(QUrl::fromEncoded(strUrl.toUtf8())), strUrl);
}

void MediaPlayer::stopMedia()
{
    m_MediaObject.stop();
}

void MediaPlayer::playPause()
{
    if (m_MediaObject.state() == Phonon::PlayingState) {
        m_MediaObject.pause();
        return;
    }
    if (m_MediaObject.currentTime() == m_MediaObject.totalTime())
        m_MediaObject.seek(0);
    m_MediaObject.play();
}

void MediaPlayer::rewind()
{
    m_MediaObject.seek(0);
}

void MediaPlayer::forward()
{
    QList<Phonon::MediaSource> queue = m_MediaObject.queue();
    if (queue.isEmpty())
        return;
    const Phonon::MediaSource next = queue.takeFirst();
    m_MediaObject.setCurrentSource(next);
    m_MediaObject.setQueue(queue);
    m_pForwardButton->setEnabled(!queue.isEmpty());
    m_MediaObject.play();
}

void MediaPlayer::finished()
{
}

void MediaPlayer::showContextMenu(const QPoint&)
{
}

void MediaPlayer::ResizeToContent()
{
    if (m_MediaObject.hasVideo())
        resize(sizeHint());
    else
        resize(minimumSizeHint());
}

void MediaPlayer::ShowError()
{
    // Not a blocking box: a nested event loop inside a media signal could let the preview close
    // and destroy this player while the slot still runs.
    QMessageBox* pBox = new QMessageBox(QMessageBox::Warning, "Phonon Mediaplayer", m_MediaObject.errorString(),
                                        QMessageBox::Close, this);
    pBox->setAttribute(Qt::WA_DeleteOnClose);
    pBox->open();
}

void MediaPlayer::stateChanged(Phonon::State newState, Phonon::State oldState)
{
    if (oldState == Phonon::LoadingState && !m_bKeepSize) {
        // Sized once the pending layout events have run, without running them from inside the
        // media object's signal.
        QTimer::singleShot(0, this, &MediaPlayer::ResizeToContent);
    }
    switch (newState) {
    case Phonon::LoadingState:
        m_pRewindButton->setEnabled(false);
        break;
    case Phonon::StoppedState:
        if (m_pVideoWidget->isFullScreen())
            m_pVideoWidget->setFullScreen(false);
        Q_FALLTHROUGH();
    case Phonon::PausedState: {
        m_pPlayButton->setIcon(m_playIcon);
        const Phonon::MediaSource::Type type = m_MediaObject.currentSource().type();
        const bool bValid = type != Phonon::MediaSource::Invalid && type != Phonon::MediaSource::Empty;
        m_pPlayButton->setEnabled(bValid);
        m_pRewindButton->setEnabled(bValid);
        break;
    }
    case Phonon::PlayingState:
        m_pPlayButton->setEnabled(true);
        m_pPlayButton->setIcon(m_pauseIcon);
        if (m_MediaObject.hasVideo())
            m_videoWindow.show();
        m_pRewindButton->setEnabled(true);
        break;
    case Phonon::BufferingState:
        m_pRewindButton->setEnabled(true);
        break;
    case Phonon::ErrorState:
        if (m_MediaObject.errorType() == Phonon::FatalError) {
            m_pPlayButton->setEnabled(false);
            m_pRewindButton->setEnabled(false);
        } else {
            m_MediaObject.pause();
        }
        ShowError();
        break;
    }
}

QString MediaPlayer::FormatTime(qint64 nPosition, qint64 nLength)
{
    // Before a source has loaded its length is reported as -1: it is unknown, like 0.
    nPosition = std::max<qint64>(nPosition, 0);
    nLength = std::max<qint64>(nLength, 0);
    if (nPosition == 0 && nLength == 0)
        return QString();
    const bool bHours = nLength >= 3600 * 1000;
    QString strText = FormatDuration(nPosition, bHours);
    if (nLength != 0)
        strText += " / " + FormatDuration(nLength, bHours);
    return strText;
}

void MediaPlayer::updateTime()
{
    m_pTimeLabel->setText(FormatTime(m_MediaObject.currentTime(), m_MediaObject.totalTime()));
}

void MediaPlayer::bufferStatus(int nPercent)
{
    if (nPercent == 100)
        m_pProgressLabel->setText(QString());
    else
        m_pProgressLabel->setText(QString("(%1%)").arg(nPercent));
}

QString MediaPlayer::FormatInfo(const QString& strTitle, const QString& strArtist, int nBitrate,
                                const QString& strFileName, bool bUrl, const QString& strDisplayName)
{
    // Names and tags come from a damaged disk: they are shown as text, never read as markup.
    QString strTitlePart;
    if (!strTitle.isEmpty()) {
        strTitlePart = "Title: " + QString(kHighlight) + Cut(strTitle).toHtmlEscaped() + "<br></font>";
    } else if (!strFileName.isEmpty()) {
        // A network source has no found file behind it: it is named by its address.
        const QString strName = bUrl || strDisplayName.isEmpty() ? strFileName : Cut(strDisplayName);
        strTitlePart = QString(bUrl ? "Url: " : "File: ") + kHighlight + strName.toHtmlEscaped() + "</font>";
    }
    QString strArtistPart;
    if (!strArtist.isEmpty())
        strArtistPart = "Artist:  " + QString(kHighlight) + Cut(strArtist).toHtmlEscaped() + "</font>";
    QString strBitratePart;
    if (nBitrate != 0)
        strBitratePart = "<br>Bitrate:  " + QString(kHighlight) + QString::number(nBitrate / 1000) + "kbit</font>";
    return strTitlePart + strArtistPart + strBitratePart;
}

void MediaPlayer::updateInfo()
{
    const auto First = [this](Phonon::MetaData key) {
        const QStringList values = m_MediaObject.metaData(key);
        return values.isEmpty() ? QString() : values.first();
    };
    const Phonon::MediaSource source = m_MediaObject.currentSource();
    const bool bUrl = source.type() == Phonon::MediaSource::Url;
    const QString strFileName = bUrl ? source.url().toString() : Cut(AfterLastSlash(source.fileName()));
    QString strTitle = First(Phonon::TitleMetaData);
    // With no title tag the playback library reports the file's own name as the title; for a
    // preview that is the temporary file, so it is no title at all.
    if (!bUrl && strTitle == AfterLastSlash(source.fileName()))
        strTitle.clear();
    const int nBitrate = m_MediaObject.metaData(QStringLiteral("BITRATE")).value(0).toInt();
    m_pInfo->setText(FormatInfo(strTitle, First(Phonon::ArtistMetaData), nBitrate, strFileName, bUrl, m_strDisplayName));
}

void MediaPlayer::hasVideoChanged(bool bHasVideo)
{
    m_pInfo->setVisible(!bHasVideo);
    m_videoWindow.setVisible(bHasVideo);
}

void MediaPlayer::setSaturation(int nValue)
{
    m_pVideoWidget->setSaturation(nValue * 0.125);
}

void MediaPlayer::setContrast(int nValue)
{
    m_pVideoWidget->setContrast(nValue * 0.125);
}

void MediaPlayer::setHue(int nValue)
{
    m_pVideoWidget->setHue(nValue * 0.125);
}

void MediaPlayer::setBrightness(int nValue)
{
    m_pVideoWidget->setBrightness(nValue * 0.125);
}

void MediaPlayer::setAspect(int nAspect)
{
    m_pVideoWidget->setAspectRatio(Phonon::VideoWidget::AspectRatio(nAspect));
}

void MediaPlayer::setScale(int nScale)
{
    m_pVideoWidget->setScaleMode(Phonon::VideoWidget::ScaleMode(nScale));
}

void MediaPlayer::aspectChanged(QAction* pAction)
{
    if (!pAction)
        return;
    const QString strText = pAction->text();
    if (strText == "16/9")
        m_pVideoWidget->setAspectRatio(Phonon::VideoWidget::AspectRatio16_9);
    else if (strText == tr("Scale"))
        m_pVideoWidget->setAspectRatio(Phonon::VideoWidget::AspectRatioWidget);
    else if (strText == "4/3")
        m_pVideoWidget->setAspectRatio(Phonon::VideoWidget::AspectRatio4_3);
    else
        m_pVideoWidget->setAspectRatio(Phonon::VideoWidget::AspectRatioAuto);
}

void MediaPlayer::scaleChanged(QAction* pAction)
{
    if (pAction && pAction->text() == tr("Scale and crop"))
        m_pVideoWidget->setScaleMode(Phonon::VideoWidget::ScaleAndCrop);
    else
        m_pVideoWidget->setScaleMode(Phonon::VideoWidget::FitInView);
}

void MediaPlayer::openFile()
{
    const bool bPausedForDialog = m_bKeepSize && m_MediaObject.hasVideo() && m_MediaObject.state() == Phonon::PlayingState;
    if (bPausedForDialog)
        m_MediaObject.pause();
    const QStringList files = QFileDialog::getOpenFileNames(
        this, QString(), QStandardPaths::writableLocation(QStandardPaths::MusicLocation));
    if (bPausedForDialog)
        m_MediaObject.play();
    m_MediaObject.clearQueue();
    if (!files.isEmpty()) {
        startFile(files.first());
        for (int i = 1; i < files.size(); ++i) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
            m_MediaObject.enqueue(Phonon::MediaSource(files[i]));
#pragma GCC diagnostic pop
        }
    }
    m_pForwardButton->setEnabled(!m_MediaObject.queue().isEmpty());
}

void MediaPlayer::openUrl()
{
    QSettings settings;
    settings.beginGroup(QStringLiteral("BrowserMainWindow"));
    const QString strLast = settings.value("location").toString();
    bool bOk = false;
    const QString strUrl = QInputDialog::getText(this, TrMessage(MSG_OPEN_LOCATION), TrMessage(MSG_ENTER_ADDRESS),
                                                 QLineEdit::Normal, strLast, &bOk);
    if (bOk && !strUrl.isEmpty()) {
        playUrl(strUrl);
        settings.setValue("location", strUrl);
    }
}

void MediaPlayer::openRamFile()
{
    QSettings settings;
    settings.beginGroup(QStringLiteral("BrowserMainWindow"));
    const QStringList files = QFileDialog::getOpenFileNames(this, QString(), settings.value("openRamFile").toString(),
                                                            tr("RAM files (*.ram)"));
    if (files.isEmpty())
        return;
    QList<QUrl> list;
    for (const QString& strFile : files) {
        QFile file(strFile);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        while (!file.atEnd()) {
            const QByteArray line = file.readLine().trimmed();
            if (line.isEmpty())
                continue;
            const QUrl url = QUrl::fromEncoded(line);
            if (url.isValid())
                list.append(url);
        }
    }
    if (!list.isEmpty()) {
        m_MediaObject.clearQueue();
        playUrl(QString::fromUtf8(list.first().toEncoded()));
        for (int i = 1; i < list.size(); ++i)
            m_MediaObject.enqueue(Phonon::MediaSource(list[i]));
        m_MediaObject.play();
    }
    m_pForwardButton->setEnabled(!m_MediaObject.queue().isEmpty());
    settings.setValue("openRamFile", files.first());
}
