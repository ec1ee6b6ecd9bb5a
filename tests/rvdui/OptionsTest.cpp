// The options file: what the dialog shows and stores, and what a scan reads from it.
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QSettings>
#include <QSpinBox>
#include <gtest/gtest.h>

#include "OptionDlg.h"
#include "Pubic.h"
#include "RvdUiTestSupport.h"
#include "ScanOptions.h"
#include "TestSupport.h"

namespace {

QString TempFile(const rvdtest::CTempDir& dir)
{
    return QString::fromStdString(dir.File("Option.ini"));
}

TEST(OptionsTest, FirstRunShowsTheDefaultsAndCancelWritesNothing)
{
    rvdtest::CTempDir dir;
    COptionDlg dlg;
    dlg.ReadOptions(TempFile(dir));
    EXPECT_EQ(dlg.SizeEdit()->text(), "5000000");
    EXPECT_EQ(dlg.PartitionSpin()->value(), 4);
    EXPECT_TRUE(dlg.FullScanBox()->isChecked());
    EXPECT_TRUE(dlg.BadSectorBox()->isChecked());
    EXPECT_TRUE(dlg.PathEdit()->text().isEmpty());
    rvduitest::SaveScreenshot(&dlg, "options-dialog");
    rvduitest::ExpectSkinnedButtonsDrawn(&dlg, "options dialog");
    rvduitest::ExpectNoSkinKeysShown(&dlg, "options dialog");
    dlg.CancelClick();
    EXPECT_FALSE(QFile::exists(TempFile(dir)));
}

TEST(OptionsTest, ValuesRoundTripThroughTheFile)
{
    rvdtest::CTempDir dir;
    {
        COptionDlg dlg;
        dlg.ReadOptions(TempFile(dir));
        dlg.SizeEdit()->setText("123456");
        dlg.PartitionSpin()->setValue(9);
        dlg.FullScanBox()->setChecked(false);
        dlg.BadSectorBox()->setChecked(true);
        dlg.PathEdit()->setText("/srv/recovered files");
        dlg.OKClick();
    }
    COptionDlg dlg;
    dlg.ReadOptions(TempFile(dir));
    EXPECT_EQ(dlg.SizeEdit()->text(), "123456");
    EXPECT_EQ(dlg.PartitionSpin()->value(), 9);
    EXPECT_FALSE(dlg.FullScanBox()->isChecked());
    EXPECT_TRUE(dlg.BadSectorBox()->isChecked());
    EXPECT_EQ(dlg.PathEdit()->text(), "/srv/recovered files") << "paths keep their slashes";

    const SCAN_OPTIONS options = ReadScanOptions(TempFile(dir));
    EXPECT_EQ(options.llRawFileSize, 123456);
    EXPECT_EQ(options.nPartitionMaxlimit, 9);
    EXPECT_EQ(options.nDiskFullScan, 0);
    EXPECT_EQ(options.nBadSectorIgnore, 1);

    // Default then OK: the bad-sector switch is stored off.
    dlg.DefaultClick();
    dlg.OKClick();
    QSettings settings(TempFile(dir), QSettings::IniFormat);
    EXPECT_EQ(settings.value(OPTION_BAD_SECTOR_IGNORE).toInt(), 0);
    EXPECT_EQ(settings.value(OPTION_RAW_FILE_SIZE).toString(), "5000000");
}

TEST(OptionsTest, StoredValuesAreHeldToWhatTheScanCanUse)
{
    struct CASE {
        const char* pszSize;
        int nLimit;
        int nFullScan;
        int64_t llSize;
        int nUsedLimit;
        int nUsedFullScan;
    } aCases[] = {
        {"0", 0, 1, 5000000, 4, 1},
        {"abc", 99, 2, 5000000, 16, 0},
        {"-5", -3, 0, 5000000, 1, 0},
        {"7000000", 16, 1, 7000000, 16, 1},
        {"", 1, 1, 5000000, 1, 1},
    };
    for (const CASE& c : aCases) {
        rvdtest::CTempDir dir;
        {
            QSettings settings(TempFile(dir), QSettings::IniFormat);
            settings.setValue(OPTION_RAW_FILE_SIZE, c.pszSize);
            settings.setValue(OPTION_PARTITION_MAXLIMIT, c.nLimit);
            settings.setValue(OPTION_DISK_FULL_SCAN, c.nFullScan);
        }
        const SCAN_OPTIONS options = ReadScanOptions(TempFile(dir));
        EXPECT_EQ(options.llRawFileSize, c.llSize) << c.pszSize;
        EXPECT_EQ(options.nPartitionMaxlimit, c.nUsedLimit) << c.nLimit;
        EXPECT_EQ(options.nDiskFullScan, c.nUsedFullScan) << c.nFullScan;

        LoadScanOptions(TempFile(dir));
        EXPECT_EQ(CPubic::GetGlobalAdvanceSettingData().m_llRawFileSize, c.llSize);
        EXPECT_EQ(CPubic::GetGlobalAdvanceSettingData().m_nPartitionMaxlimit, c.nUsedLimit);

        if (*c.pszSize != '\0') {
            COptionDlg dlg;
            dlg.ReadOptions(TempFile(dir));
            EXPECT_EQ(dlg.SizeEdit()->text().toLongLong(), c.llSize);
            EXPECT_EQ(dlg.PartitionSpin()->value(), c.nUsedLimit);
        }
    }
}

TEST(OptionsTest, MissingFileGivesTheScanDefaults)
{
    rvdtest::CTempDir dir;
    const SCAN_OPTIONS options = ReadScanOptions(TempFile(dir));
    EXPECT_EQ(options.llRawFileSize, 5000000);
    EXPECT_EQ(options.nPartitionMaxlimit, 4);
    EXPECT_EQ(options.nDiskFullScan, 0);
    EXPECT_EQ(options.nBadSectorIgnore, 0);
}

} // namespace
