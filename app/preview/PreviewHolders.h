// The two small holders both preview views use: a picture in a graphics view, and the test of a
// found file's name that decides whether it is played as media.
#pragma once

#include <QString>
#include <memory>

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

class CPreviewPlayer {
public:
    static const char* const kMediaExtensions; // ".mp3;.wma;.wav;.wmv;.avi;.mpg;.mov"

    void SetFileInfo(const QString& strPath, const QString& strDisplayName);
    // True when the display name's extension is exactly one of the media extensions (any case).
    bool IsMediaFile();
    bool IsMedia() const { return m_bIsMedia; }

private:
    QString m_strPath;
    QString m_strDisplayName;
    bool m_bIsMedia = false;
};
