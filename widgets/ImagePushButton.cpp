#include "ImagePushButton.h"

#include <QBitmap>
#include <QIcon>
#include <QPixmap>

CImagePushButton::CImagePushButton(QWidget* pParent)
    : QPushButton(pParent)
{
}

CImagePushButton::CImagePushButton(const QString& strNormal, const QString& strDisabled,
                                   const QString& strHover, const QString& strPressed,
                                   QWidget* pParent)
    : QPushButton(pParent)
{
    SetImagePath(strNormal, strDisabled, strHover, strPressed);
}

void CImagePushButton::SetImagePath(const QString& strNormal, const QString& strDisabled,
                                    const QString& strHover, const QString& strPressed)
{
    m_strNormalImage = strNormal;
    m_strDisabledImage = strDisabled;
    m_strHoverImage = strHover;
    m_strPressedImage = strPressed;
    ApplyNormalImageWithSize();
}

void CImagePushButton::SetImagePath(const QStringList& listImages)
{
    if (listImages.size() > 3)
        SetImagePath(listImages.at(0), listImages.at(1), listImages.at(2), listImages.at(3));
}

void CImagePushButton::SetPromptMsg(const QString& strPrompt)
{
    m_strPrompt = strPrompt;
}

void CImagePushButton::setDisabled(bool bDisabled)
{
    SetImage(bDisabled ? m_strDisabledImage : m_strNormalImage);
    QWidget::setDisabled(bDisabled);
}

void CImagePushButton::ApplyNormalImageWithSize()
{
    QPixmap pixmap(m_strNormalImage);
    SetImage(m_strNormalImage);
    // A skin image that cannot be read would shrink the button to 0 x 0 and hide it for good;
    // it then keeps its previous size so the user can still reach it.
    if (!pixmap.isNull()) {
        setIconSize(pixmap.size());
        setFixedSize(pixmap.size());
    }
    setFlat(true);
}

void CImagePushButton::SetImage(const QString& strPath)
{
    QPixmap pixmap(strPath);
    QIcon icon;
    icon.addPixmap(pixmap, QIcon::Normal, QIcon::Off);
    setIcon(icon);
    // Clicks and painting follow the opaque part of the image; an image without transparency
    // has no mask, and the whole rectangle stays live.
    QBitmap mask = pixmap.mask();
    if (mask.isNull())
        clearMask();
    else
        setMask(mask);
}

void CImagePushButton::enterEvent(QEvent*)
{
    SetImage(m_strHoverImage);
    emit changePrompt(m_strPrompt);
}

void CImagePushButton::leaveEvent(QEvent*)
{
    SetImage(m_strNormalImage);
    emit changePrompt(QString());
}

void CImagePushButton::mousePressEvent(QMouseEvent*)
{
    SetImage(m_strPressedImage);
}

void CImagePushButton::mouseReleaseEvent(QMouseEvent*)
{
    SetImage(m_strNormalImage);
    emit released();
}
