// The result pages as the program runs them: the engine, the result store and the copy-out
// module loaded by name from the output folder; one quick scan of the NTFS fixture image (its
// deleted files, with their manifest) per test program; a result page whose message boxes,
// folder chooser and search dialog the test answers itself.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTest>
#include <QTreeWidget>
#include <QGuiApplication>
#include <QImage>
#include <QSet>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BuildTreePage.h"
#include "DiskInfo.h"
#include "ICorrand.h"
#include "IDelvar.h"
#include "ITessary.h"
#include "ModuleLoader.h"
#include "RVTreeWidget.h"
#include "ScanRecords.h"
#include "TestSupport.h"

namespace resultstest {

constexpr const char* kImage = "ntfs.img";

// One scratch folder for the whole test program: the device table and the store's file.
inline const std::string& ScratchFolder()
{
    static rvdtest::CTempDir* pDir = new rvdtest::CTempDir();
    return pDir->Path();
}

inline ICorrand* Store()
{
    return static_cast<ICorrand*>(CreateModuleInstance(u"Corrand"));
}

// Quick scan of the fixture image into the store module, once per test program. The image is
// physical drive 0 and holds one NTFS volume from sector 0.
inline bool ScanFixture()
{
    static int nResult = -1;
    if (nResult >= 0)
        return nResult == 0;
    nResult = 1;
    const std::string strImage = rvdtest::FixturePath(kImage);
    struct stat st{};
    if (stat(strImage.c_str(), &st) != 0) {
        ADD_FAILURE() << "no fixture " << strImage;
        return false;
    }
    // NTFS keeps UTC; dates shown and searched are local time, here the same.
    setenv("TZ", "UTC", 1);
    tzset();
    std::vector<uint8_t> vecBoot = rvdtest::ReadFileBytes(strImage);
    uint64_t ullSectors = 0;
    for (int i = 7; i >= 0; --i)
        ullSectors = (ullSectors << 8) | vecBoot[40 + i];
    const uint64_t ullDiskSectors = vecBoot.size() / 512;
    vecBoot.clear();
    const std::string strTable = ScratchFolder() + "/devices.table";
    std::ofstream(strTable) << "disk " << strImage << "\nvolume disk=0 start=0 count=" << ullSectors << " fs=NTFS\n";
    setenv("RAVENDO_DEVICE_TABLE", strTable.c_str(), 1);
    setenv("RAVENDO_RESULT_DB", (ScratchFolder() + "/Corrand.db").c_str(), 1);
    setenv("RAVENDO_MODULE_DIR", rvdtest::OutputDir().c_str(), 1);

    IDelvar* pEngine = static_cast<IDelvar*>(CreateModuleInstance(u"Delvar"));
    if (pEngine == nullptr) {
        ADD_FAILURE() << "the engine module does not load";
        return false;
    }
    const rvdtest::SCAN_RECORDS records = rvdtest::VolumeScanRecords(ullDiskSectors, FILE_SYSTEM_NTFS, 0, ullSectors);
    if (pEngine->Init(&records.Disk, &records.Volume, SCAN_MODE_QUICK, 0) != 0 || pEngine->Search() != DELVAR_SUCCESS) {
        ADD_FAILURE() << "the quick scan of " << kImage << " failed";
        return false;
    }
    nResult = 0;
    return true;
}

// The deleted files of the fixture, by path below "Deleted Files".
inline std::vector<rvdtest::ManifestEntry> DeletedFiles()
{
    std::vector<rvdtest::ManifestEntry> vec;
    for (const rvdtest::ManifestEntry& entry : rvdtest::ReadManifest(kImage))
        if (entry.bDeleted && !entry.bDirectory)
            vec.push_back(entry);
    return vec;
}

// A result page that answers its own questions.
class CTestResultPage : public CBuildTreePage {
public:
    explicit CTestResultPage(QWidget* pParent = nullptr) : CBuildTreePage(pParent, false) {}

    std::vector<QString> vecMessages;
    QMessageBox::StandardButton nAnswer = QMessageBox::Yes;
    QString strChosenFolder;
    std::vector<QTreeWidgetItem*> vecPreviewed;

protected:
    QMessageBox::StandardButton AskUser(QMessageBox::Icon, const QString& strText,
                                        QMessageBox::StandardButtons buttons) override
    {
        vecMessages.push_back(strText);
        return (buttons & nAnswer) ? nAnswer : QMessageBox::Ok;
    }
    QString ChooseFolder() override { return strChosenFolder; }
    void PreviewRow(QTreeWidgetItem* pItem, QWidget*) override { vecPreviewed.push_back(pItem); }
};

// A picture of a widget as drawn, for the record of what the pages look like. Drawn on an X
// server (the Xvfb run) the file name starts with "xvfb-". A picture of one colour is a fault.
inline void SaveScreenshot(QWidget* pWidget, const QString& strName)
{
    QDir().mkpath(RVD_SCREENSHOT_DIR);
    const QString strPrefix = QGuiApplication::platformName() == QLatin1String("xcb") ? "xvfb-" : "";
    const QImage image = pWidget->grab().toImage();
    EXPECT_TRUE(image.save(QString(RVD_SCREENSHOT_DIR) + "/" + strPrefix + strName + ".png")) << strName.toStdString();
    QSet<QRgb> setColours;
    for (int y = 0; y < image.height(); y += 7)
        for (int x = 0; x < image.width(); x += 7)
            setColours.insert(image.pixel(x, y));
    EXPECT_GT(setColours.size(), 8) << strName.toStdString() << " is blank";
}

inline QString RowName(QTreeWidgetItem* pItem)
{
    return pItem != nullptr ? pItem->text(0) : QString();
}

// The child row of a folder-tree row, or the top-level row of a list, with this name.
inline QTreeWidgetItem* ChildNamed(QTreeWidgetItem* pParent, const QString& strName)
{
    for (int i = 0; pParent != nullptr && i < pParent->childCount(); ++i)
        if (pParent->child(i)->text(0) == strName)
            return pParent->child(i);
    return nullptr;
}

inline QTreeWidgetItem* RowNamed(QTreeWidget* pList, const QString& strName)
{
    for (int i = 0; i < pList->topLevelItemCount(); ++i)
        if (pList->topLevelItem(i)->text(0) == strName)
            return pList->topLevelItem(i);
    return nullptr;
}

inline std::set<QString> RowNames(QTreeWidget* pList)
{
    std::set<QString> set;
    for (int i = 0; i < pList->topLevelItemCount(); ++i)
        set.insert(pList->topLevelItem(i)->text(0));
    return set;
}

// Ticks or clears a row's box as a click on it does: the tree's own rule runs on the change,
// then the page's click handler.
inline void ClickBox(CBuildTreePage& page, QTreeWidget* pList, QTreeWidgetItem* pItem, Qt::CheckState nState)
{
    pItem->setCheckState(0, nState);
    if (pList == page.FloderTreeWidget)
        page.TickFolderRow(pItem);
    else if (pList == page.FilesTreeWidget)
        page.TickFileRow(pItem);
    else
        page.TickSearchRow(pItem);
}

// Regular files below a folder: relative path -> SHA-256.
inline std::map<std::string, std::string> FilesBelow(const std::string& strRoot)
{
    std::map<std::string, std::string> map;
    std::vector<std::string> vecStack = {""};
    while (!vecStack.empty()) {
        const std::string strRel = vecStack.back();
        vecStack.pop_back();
        DIR* pDir = opendir((strRel.empty() ? strRoot : strRoot + "/" + strRel).c_str());
        if (pDir == nullptr)
            continue;
        while (dirent* pEntry = readdir(pDir)) {
            const std::string strName = pEntry->d_name;
            if (strName == "." || strName == "..")
                continue;
            const std::string strChild = strRel.empty() ? strName : strRel + "/" + strName;
            struct stat st{};
            if (lstat((strRoot + "/" + strChild).c_str(), &st) != 0)
                continue;
            if (S_ISDIR(st.st_mode))
                vecStack.push_back(strChild);
            else if (S_ISREG(st.st_mode))
                map[strChild] = rvdtest::Sha256Hex(rvdtest::ReadFileBytes(strRoot + "/" + strChild));
        }
        closedir(pDir);
    }
    return map;
}

} // namespace resultstest
