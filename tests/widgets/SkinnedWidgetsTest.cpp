// The skinned button's four images, its size and shape, and its signals; the link label's two
// looks; the tab widget's unclosable first tab.
#include <QApplication>
#include <QBitmap>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "ImagePushButton.h"
#include "LinkLabel.h"
#include "RVTabWidget.h"

namespace {

const QColor NORMAL(200, 0, 0), DISABLED(128, 128, 128), HOVER(0, 200, 0), PRESSED(0, 0, 200);

class ImagePushButtonTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_strNormal = Draw("normal.png", NORMAL);
        m_strDisabled = Draw("disabled.png", DISABLED);
        m_strHover = Draw("hover.png", HOVER);
        m_strPressed = Draw("pressed.png", PRESSED);
    }
    // A 40 x 20 image of one colour whose left quarter is transparent.
    QString Draw(const QString& strName, const QColor& colour)
    {
        QImage image(40, 20, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.fillRect(10, 0, 30, 20, colour);
        painter.end();
        const QString strPath = m_dir.filePath(strName);
        EXPECT_TRUE(image.save(strPath));
        return strPath;
    }
    static QColor Shown(const CImagePushButton& button)
    {
        const QImage image = button.icon().pixmap(QSize(40, 20)).toImage();
        return image.isNull() ? QColor() : QColor(image.pixel(30, 10));
    }

    QTemporaryDir m_dir;
    QString m_strNormal, m_strDisabled, m_strHover, m_strPressed;
};

TEST_F(ImagePushButtonTest, TakesTheNormalImagesSizeAndShape)
{
    CImagePushButton button(m_strNormal, m_strDisabled, m_strHover, m_strPressed);
    EXPECT_EQ(Shown(button), NORMAL);
    EXPECT_EQ(button.size(), QSize(40, 20));
    EXPECT_EQ(button.minimumSize(), QSize(40, 20));
    EXPECT_EQ(button.maximumSize(), QSize(40, 20));
    EXPECT_EQ(button.iconSize(), QSize(40, 20));
    EXPECT_TRUE(button.isFlat());
    EXPECT_FALSE(button.mask().contains(QPoint(2, 10)));
    EXPECT_TRUE(button.mask().contains(QPoint(30, 10)));
}

TEST_F(ImagePushButtonTest, EventsSwitchImagesAndSendPromptAndReleased)
{
    CImagePushButton button;
    button.SetImagePath(QStringList{m_strNormal, m_strDisabled, m_strHover, m_strPressed});
    button.SetPromptMsg("Files loss such as files deleted");
    QSignalSpy spyPrompt(&button, SIGNAL(changePrompt(QString)));
    QSignalSpy spyReleased(&button, SIGNAL(released()));
    QSignalSpy spyPressed(&button, SIGNAL(pressed()));
    QSignalSpy spyClicked(&button, SIGNAL(clicked(bool)));
    button.show();

    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(&button, &enter);
    EXPECT_EQ(Shown(button), HOVER);
    ASSERT_EQ(spyPrompt.count(), 1);
    EXPECT_EQ(spyPrompt.at(0).at(0).toString(), "Files loss such as files deleted");

    QTest::mousePress(&button, Qt::LeftButton, Qt::NoModifier, QPoint(30, 10));
    EXPECT_EQ(Shown(button), PRESSED);
    EXPECT_FALSE(button.isDown());
    QTest::mouseRelease(&button, Qt::LeftButton, Qt::NoModifier, QPoint(30, 10));
    EXPECT_EQ(Shown(button), NORMAL);
    EXPECT_EQ(spyReleased.count(), 1);
    EXPECT_EQ(spyPressed.count(), 0);
    EXPECT_EQ(spyClicked.count(), 0);

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&button, &leave);
    EXPECT_EQ(Shown(button), NORMAL);
    ASSERT_EQ(spyPrompt.count(), 2);
    EXPECT_EQ(spyPrompt.at(1).at(0).toString(), QString());
}

TEST_F(ImagePushButtonTest, SetDisabledShowsTheDisabledImage)
{
    CImagePushButton button(m_strNormal, m_strDisabled, m_strHover, m_strPressed);
    button.setDisabled(true);
    EXPECT_EQ(Shown(button), DISABLED);
    EXPECT_FALSE(button.isEnabled());
    button.setDisabled(false);
    EXPECT_EQ(Shown(button), NORMAL);
    EXPECT_TRUE(button.isEnabled());
}

TEST_F(ImagePushButtonTest, ImageListNeedsFourEntries)
{
    CImagePushButton button;
    button.SetImagePath(QStringList{m_strNormal, m_strDisabled, m_strHover});
    EXPECT_TRUE(button.icon().isNull());
    EXPECT_NE(button.maximumSize(), QSize(40, 20));

    button.SetImagePath(QStringList{m_strHover, m_strDisabled, m_strNormal, m_strPressed, m_strNormal});
    EXPECT_EQ(Shown(button), HOVER);
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(&button, &enter);
    EXPECT_EQ(Shown(button), NORMAL);
}

TEST_F(ImagePushButtonTest, UnreadableImageDoesNotShrinkTheButtonToNothing)
{
    CImagePushButton button(m_dir.filePath("missing.png"), m_strDisabled, m_strHover, m_strPressed);
    EXPECT_TRUE(button.icon().isNull());
    EXPECT_GT(button.sizeHint().width(), 0);
    EXPECT_NE(button.maximumSize(), QSize(0, 0));
}

TEST(LinkLabelTest, LooksLikeALinkUnderTheMouseAndVisitedAfter)
{
    CLinkLabel label("View recovery result");
    EXPECT_EQ(label.QLabel::text(), "View recovery result");
    label.setCursor(Qt::IBeamCursor);

    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(&label, &enter);
    EXPECT_EQ(label.QLabel::text(), "<u><font color=blue><b>View recovery result</b></font></u>");
    EXPECT_EQ(label.cursor().shape(), Qt::PointingHandCursor);

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&label, &leave);
    EXPECT_EQ(label.QLabel::text(), "<font color=#800080>View recovery result</font>");
    EXPECT_EQ(label.cursor().shape(), Qt::IBeamCursor);

    label.setText("Open folder");
    EXPECT_EQ(label.text(), "Open folder");
    EXPECT_EQ(label.QLabel::text(), "<font color=#800080>View recovery result</font>");
    QApplication::sendEvent(&label, &enter);
    EXPECT_EQ(label.QLabel::text(), "<u><font color=blue><b>Open folder</b></font></u>");
}

TEST(RVTabWidgetTest, HideCloseIconShrinksOnlyTheFirstTabsButton)
{
    CRVTabWidget tabs;
    tabs.setTabsClosable(true);
    tabs.addTab(new QWidget, "Preview");
    tabs.addTab(new QWidget, "Hex");
    tabs.show();
    tabs.HideCloseIcon(0);
    QWidget* pFirst = tabs.tabBar()->tabButton(0, QTabBar::RightSide);
    QWidget* pSecond = tabs.tabBar()->tabButton(1, QTabBar::RightSide);
    ASSERT_NE(pFirst, nullptr);
    ASSERT_NE(pSecond, nullptr);
    EXPECT_EQ(pFirst->size(), QSize(0, 0));
    EXPECT_NE(pSecond->size(), QSize(0, 0));

    CRVTabWidget plain;
    plain.addTab(new QWidget, "Text");
    plain.HideCloseIcon(0);
    CRVTabWidget empty;
    empty.HideCloseIcon(0);
}

} // namespace
