#include <gtest/gtest.h>

#include "FileTypeStore.h"

namespace {

struct FilterCase {
    const char* pszFilter;
    const char* pszName; // null for a null name
    bool bIsFolder;
    bool bPasses;
};

const FilterCase kCases[] = {
    // No filter: everything passes, also a name without a dot.
    {"", "report.doc", false, true},
    {"", "README", false, true},
    // Whole last extension, any case.
    {".jpg.doc", "DSC0001.JPG", false, true},
    {".jpg.doc", "photo.jpg", false, true},
    {".jpg.doc", "letter.doc", false, true},
    {".jpg.doc", "Letter.Doc", false, true},
    {".jpg.doc", "tar.jpg", false, true},
    {".jpg.doc", "archive.doc.jpg", false, true},
    {".JPG", "photo.jpg", false, true},
    // Parts of an extension, or text across two extensions, are no extension of the filter.
    {".jpg.doc", "notes.do", false, false},
    {".jpg.doc", "image.jp", false, false},
    {".jpg.doc", "odd.gd", false, false},
    {".jpg.doc", "odd.jpg.d", false, false},
    {".jpg.doc", "page.docx", false, false},
    // Only the last extension counts.
    {".jpg.doc", "photo.jpg.bak", false, false},
    // No dot, or nothing behind the last dot.
    {".jpg.doc", "README", false, false},
    {".jpg.doc", "trailing.", false, false},
    // Folders and null names always pass.
    {".jpg.doc", "DCIM", true, true},
    {".jpg.doc", "folder.zip", true, true},
    {".jpg.doc", nullptr, false, true},
};

} // namespace

TEST(FileTypeStore, CheckFilterCases)
{
    CFileTypeStore filter;
    for (const FilterCase& c : kCases) {
        filter.SaveTypeInfo(c.pszFilter);
        EXPECT_EQ(filter.CheckFilter(c.pszName, c.bIsFolder), c.bPasses)
            << "filter \"" << c.pszFilter << "\" name " << (c.pszName ? c.pszName : "(null)")
            << (c.bIsFolder ? " (folder)" : "");
    }
}

TEST(FileTypeStore, SaveEmptyAndSize)
{
    CFileTypeStore filter;
    EXPECT_EQ(filter.GetFilterSize(), 0);
    filter.SaveTypeInfo(".jpg.doc");
    EXPECT_EQ(filter.GetFilterSize(), 8);
    EXPECT_TRUE(filter.IsFileTypeInList(".DOC"));
    EXPECT_FALSE(filter.IsFileTypeInList(".do"));
    EXPECT_FALSE(filter.CheckFilter("x.png", false));

    CFileTypeStore copy(filter);
    filter.EmptyTypeInfo();
    EXPECT_EQ(filter.GetFilterSize(), 0);
    EXPECT_TRUE(filter.CheckFilter("x.png", false));
    EXPECT_EQ(copy.m_strTypes, ".jpg.doc");
}
