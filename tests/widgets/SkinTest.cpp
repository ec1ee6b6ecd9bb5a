// The default skin beside the program: every image and icon that UIConfig.ini names exists and
// draws, so no skinned widget ends up 0 x 0.
#include <QPixmap>
#include <QSettings>
#include <gtest/gtest.h>

#include "Pubic.h"

namespace {

TEST(SkinTest, EveryNamedImageAndIconLoads)
{
    QSettings ini("UIConfig.ini", QSettings::IniFormat);
    CConfigParser& parser = CPubic::GetIniParser();

    ini.beginGroup("Image");
    const QStringList listImages = ini.childKeys();
    ini.endGroup();
    ASSERT_FALSE(listImages.isEmpty());
    for (const QString& strKey : listImages) {
        for (const QString& strPath : parser.GetImagePathList(strKey)) {
            const QPixmap pixmap(strPath);
            EXPECT_FALSE(pixmap.isNull()) << strKey.toStdString() << ": " << strPath.toStdString();
        }
    }

    ini.beginGroup("Icon");
    const QStringList listIcons = ini.childKeys();
    ini.endGroup();
    ASSERT_FALSE(listIcons.isEmpty());
    for (const QString& strKey : listIcons)
        EXPECT_FALSE(QPixmap(parser.GetIconPath(strKey)).isNull()) << strKey.toStdString();
}

TEST(SkinTest, ButtonImagesComeInFours)
{
    CConfigParser& parser = CPubic::GetIniParser();
    for (const char* pszKey : {"BackImage", "NextImage", "CancelImage", "FinishImage"})
        EXPECT_EQ(parser.GetImagePathList(pszKey).size(), 4) << pszKey;
    EXPECT_EQ(parser.GetImagePathList("LoadingImages").size(), 8);
}

} // namespace
