// The two small holders both preview views use: a picture in a graphics view, and the test of a
// found file's name that decides whether it is played as media.
#pragma once

#include <QPointer>
#include <QString>
#include <QVBoxLayout>
#include <memory>

#include "MediaPlayer.h"

class QGraphicsPixmapItem;
class QGraphicsScene;
class QGraphicsView;

class CPreviewImage {
public:
    CPreviewImage();
    ~CPreviewImage();
    void SetPath(const QString& strPath) { m_strPath = strPath; }
    void SetView(QGraphicsView* pView) { m_pView = pView; }
    // Decodes the file by its content (the temporary name ends in ".tmp"); false for no picture.
    bool Load();
    bool IsLoaded() const { return m_bLoaded; }

private:
    QString m_strPath;
    QGraphicsView* m_pView = nullptr;
    std::unique_ptr<QGraphicsScene> m_pScene;
    bool m_bLoaded = false;
};

// The media player of a preview view, laid into a host widget of that view.
class CPreviewPlayer {
public:
    static const char* const kMediaExtensions; // ".mp3;.wma;.wav;.wmv;.avi;.mpg;.mov"

    CPreviewPlayer();
    ~CPreviewPlayer();
    CPreviewPlayer(const CPreviewPlayer&) = delete;
    CPreviewPlayer& operator=(const CPreviewPlayer&) = delete;

    void SetFileInfo(const QString& strPath, const QString& strDisplayName);
    void SetHost(QWidget* pHost) { m_pHost = pHost; }
    // True when the display name's extension is exactly one of the media extensions (any case).
    bool IsMediaFile();
    bool IsMedia() const { return m_bIsMedia; }
    void LayoutPlayer();
    void ShowPlayer(bool bShow);
    // Plays the temporary file under the found file's name.
    void Play();
    void Stop();
    MediaPlayer& Player() { return m_player; }

private:
    QString m_strPath;
    QString m_strDisplayName;
    QString m_strExtensions;
    bool m_bIsMedia = false;
    QWidget* m_pHost = nullptr;
    QPointer<QVBoxLayout> m_pLayout; // set on the host, which deletes the layout it holds
    MediaPlayer m_player;
};
