// A push button drawn entirely from four image files (normal, disabled, hover, pressed) and
// shaped to the normal image's transparency. It reports a press only through released(): the
// mouse handlers of QPushButton are bypassed, so it never goes down by itself and emits neither
// pressed() nor clicked().
#pragma once

#include <QPushButton>
#include <QString>
#include <QStringList>

class CImagePushButton : public QPushButton {
    Q_OBJECT
public:
    explicit CImagePushButton(QWidget* pParent = nullptr);
    CImagePushButton(const QString& strNormal, const QString& strDisabled, const QString& strHover,
                     const QString& strPressed, QWidget* pParent = nullptr);

    void SetImagePath(const QString& strNormal, const QString& strDisabled, const QString& strHover,
                      const QString& strPressed);
    // Skin lists hold the four paths in the order normal;disabled;hover;pressed. A list of fewer
    // than four changes nothing; entries past the fourth are ignored.
    void SetImagePath(const QStringList& listImages);
    void SetPromptMsg(const QString& strPrompt);

    // Shows the disabled image while disabled, the normal one otherwise.
    void setDisabled(bool bDisabled);

signals:
    void changePrompt(QString strPrompt);

protected:
    void enterEvent(QEvent* pEvent) override;
    void leaveEvent(QEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;

private:
    void ApplyNormalImageWithSize();
    void SetImage(const QString& strPath);

    QString m_strNormalImage;
    QString m_strDisabledImage;
    QString m_strHoverImage;
    QString m_strPressedImage;
    QString m_strPrompt;
};
