// The file-type catalogue and the file-type page: reading, adding and removing groups and types,
// and what a failed edit leaves behind.
#include <QFile>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "RVTreeWidget.h"
#include "RvdUiTestSupport.h"
#include "ScanWizards.h"
#include "SearchTypsPage.h"
#include "TestSupport.h"
#include "TypeInfoXml.h"

using namespace rvduitest;

namespace {

QByteArray ReadAll(const QString& strPath)
{
    QFile file(strPath);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

void WriteAll(const QString& strPath, const QByteArray& data)
{
    QFile file(strPath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
}

TEST(TypeCatalogueTest, ShippedCatalogueCoversTheBuiltInTypes)
{
    ResetCatalogue();
    CTypeInfoXml xml;
    ASSERT_EQ(xml.ReadTypeInfo(), 0);
    int nTypes = 0;
    for (const TYPE_INFO_ITEM& item : xml.GetTypeInfoList()) {
        EXPECT_TRUE(item.isDefault) << item.description.toStdString();
        if (item.isRoot)
            continue;
        ++nTypes;
        EXPECT_TRUE(item.filterType.startsWith(";.")) << item.description.toStdString();
    }
    EXPECT_EQ(nTypes, 72);
}

TEST(TypeCatalogueTest, ReadingFollowsTheAttributesAlone)
{
    rvdtest::CTempDir dir;
    const QString strPath = QString::fromStdString(dir.File("TypeInfo.xml"));
    WriteAll(strPath, "<TypeXML>"
                      "<Category Description=\"A\" IsRoot=\"1\" Select=\"1\"/>"
                      "<FileType Description=\"t1\" IsRoot=\"0\" Select=\"7\" FilterType=\";.a\"/>"
                      "<FileType Description=\"g2\" IsRoot=\"1\" IsDefault=\"1\"/>"
                      "<FileType Description=\"t2\"/>"
                      "</TypeXML>");
    CTypeInfoXml xml(strPath);
    ASSERT_EQ(xml.ReadTypeInfo(), 0);
    const auto items = xml.GetTypeInfoList();
    ASSERT_EQ(items.size(), 4u);
    EXPECT_TRUE(items[0].isRoot);
    EXPECT_EQ(items[0].select, 1);
    EXPECT_EQ(items[1].select, 2);
    EXPECT_TRUE(items[2].isRoot) << "a FileType with IsRoot 1 is a group";
    EXPECT_TRUE(items[2].isDefault);
    EXPECT_FALSE(items[3].isRoot);
    EXPECT_EQ(items[3].select, 2) << "a missing Select is partially checked";

    WriteAll(strPath, "<Other/>");
    CTypeInfoXml empty(strPath);
    EXPECT_EQ(empty.ReadTypeInfo(), 0);
    EXPECT_TRUE(empty.GetTypeInfoList().empty());
    EXPECT_EQ(CTypeInfoXml(QString::fromStdString(dir.File("none.xml"))).ReadTypeInfo(), TYPEINFO_CANNOT_OPEN);
}

TEST(TypeCatalogueTest, AddAndRemoveUserEntriesButNeverShippedOnes)
{
    rvdtest::CTempDir dir;
    const QString strPath = QString::fromStdString(dir.File("TypeInfo.xml"));
    WriteAll(strPath, "<TypeXML><Category Description=\"Docs\" IsRoot=\"1\" IsDefault=\"1\">"
                      "<FileType Description=\"Word(.doc)\" IsRoot=\"0\" IsDefault=\"1\" FilterType=\";.doc\"/>"
                      "</Category></TypeXML>");
    CTypeInfoXml xml(strPath);
    TYPE_ADD_ITEM group;
    group.group = "Mine";
    EXPECT_TRUE(xml.AddCategory(group));
    TYPE_ADD_ITEM type;
    type.group = "Mine";
    type.description = "Abc(.abc)";
    type.filterType = ".abc";
    type.iconType = "file.abc";
    EXPECT_TRUE(xml.AddFileType(type));
    type.description = "Def(.def)";
    type.filterType = ";.def";
    EXPECT_TRUE(xml.AddFileType(type));

    // A type for a group that is not there leaves the file byte for byte.
    const QByteArray before = ReadAll(strPath);
    type.group = "Nowhere";
    EXPECT_FALSE(xml.AddFileType(type));
    EXPECT_EQ(ReadAll(strPath), before);

    CTypeInfoXml reader(strPath);
    reader.ReadTypeInfo();
    auto items = reader.GetTypeInfoList();
    ASSERT_EQ(items.size(), 5u);
    EXPECT_TRUE(items[2].isRoot);
    EXPECT_FALSE(items[2].isDefault);
    EXPECT_EQ(items[2].select, 0);
    EXPECT_EQ(items[3].filterType, ";.abc");
    EXPECT_EQ(items[4].filterType, ";.def");

    TYPE_REMOVE_ITEM removeShipped;
    removeShipped.group = "Docs";
    removeShipped.fileType = "Word(.doc)";
    TYPE_REMOVE_ITEM removeShippedGroup;
    removeShippedGroup.isCategory = true;
    removeShippedGroup.group = "Docs";
    TYPE_REMOVE_ITEM removeMine;
    removeMine.group = "Mine";
    removeMine.fileType = "Abc(.abc)";
    EXPECT_EQ(CTypeInfoXml(strPath).RemoveTypeInfo({removeShipped, removeShippedGroup, removeMine}), 0);
    CTypeInfoXml after(strPath);
    after.ReadTypeInfo();
    items = after.GetTypeInfoList();
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[1].description, "Word(.doc)");
    EXPECT_EQ(items[3].description, "Def(.def)");

    TYPE_REMOVE_ITEM removeGroup;
    removeGroup.isCategory = true;
    removeGroup.group = "Mine";
    EXPECT_EQ(CTypeInfoXml(strPath).RemoveTypeInfo({removeGroup}), 0);
    CTypeInfoXml last(strPath);
    last.ReadTypeInfo();
    EXPECT_EQ(last.GetTypeInfoList().size(), 2u);
}

TEST(TypeCatalogueTest, ABrokenCatalogueIsNotRewritten)
{
    rvdtest::CTempDir dir;
    const QString strPath = QString::fromStdString(dir.File("TypeInfo.xml"));
    const QByteArray broken = "<TypeXML><Category Description=\"A\" IsRoot=\"1\">";
    WriteAll(strPath, broken);
    EXPECT_EQ(CTypeInfoXml(strPath).RemoveTypeInfo({}), TYPEINFO_CANNOT_PARSE);
    TYPE_ADD_ITEM group;
    group.group = "B";
    EXPECT_FALSE(CTypeInfoXml(strPath).AddCategory(group));
    EXPECT_EQ(ReadAll(strPath), broken);
}

TEST(TypeCatalogueTest, PageBuildsTheFilterAndDeletesOnlyUserTypes)
{
    ResetCatalogue();
    CQuickScanWizard wizard;
    CSearchTypsPage* pPage = wizard.TypesPage();
    pPage->Initialize();
    CRVTreeWidget* pTree = pPage->TypeTree();
    ASSERT_GT(pTree->topLevelItemCount(), 1);

    // .docx ticked before .doc: both extensions reach the filter.
    QTreeWidgetItem* pDocuments = pTree->topLevelItem(0);
    pDocuments->child(1)->setCheckState(0, Qt::Checked);
    pDocuments->child(0)->setCheckState(0, Qt::Checked);
    EXPECT_EQ(pPage->SelectedFilter(), ".doc.docx");
    EXPECT_EQ(pDocuments->checkState(0), Qt::PartiallyChecked);

    pPage->InvertSelClicked();
    EXPECT_EQ(pDocuments->child(0)->checkState(0), Qt::Unchecked);
    EXPECT_EQ(pDocuments->child(2)->checkState(0), Qt::Checked);
    pPage->UnselAllClicked();
    EXPECT_TRUE(pPage->SelectedFilter().isEmpty());

    // Nothing ticked and the answer No: the page stays.
    {
        CMessageBoxWatcher watcher(QMessageBox::No);
        int nStep = 1;
        EXPECT_EQ(pPage->OnNext(nStep), 1);
        EXPECT_EQ(watcher.Texts().size(), 1);
    }

    // Only shipped types ticked: nothing is deleted.
    pPage->SelAllClicked();
    {
        CMessageBoxWatcher watcher;
        pPage->DelClicked();
        EXPECT_EQ(watcher.Texts().size(), 1);
    }
    CTypeInfoXml xml;
    xml.ReadTypeInfo();
    EXPECT_EQ(xml.GetTypeInfoList().size(), 79u);
}

} // namespace
