#include <gtest/gtest.h>

#include <cstring>

#include "MessageTable.h"

namespace {

struct MESSAGE_CASE {
    int nNumber;
    const char* pszText;
};

TEST(MessageTableTest, EntriesHoldTheProgramsTexts)
{
    const MESSAGE_CASE aCases[] = {
        {2, "Ravendo"},
        {8, "Ravendo has encountered a memory problem and needs to close.\nWe are sorry for the "
            "inconvenience.\nYou can enlarge your virtual memory and try again."},
        {9, "Failed to allocate the memory. Please untick Enable RAW file and try again. "},
        {10, "Please waiting..."},
        {12, "Cancel"},
        {13, "Welcome to use Ravendo, it helps you to recover data due to deletion, format, "
             "partition loss, \nsoft crash,virus attach, etc"},
        {32, "Select icon:"},
        {35, "Image Files (*.png *.jpg *.bmp *.ico)"},
        {58, "No files found, please try other file system!"},
        {61, "Complete Scan"},
        {63, "Enum Disk, Please wait..."},
        {70, "Add g&roup"},
        {76, "\tNo preview available, Please double click to view TEXT and HEX informations."},
        {80, "The free space is not enough, please select other drives!"},
    };
    for (const MESSAGE_CASE& c : aCases) {
        EXPECT_STREQ(g_szMessageTable[c.nNumber], c.pszText) << "entry " << c.nNumber;
        EXPECT_EQ(TrMessage(c.nNumber), QString::fromUtf8(c.pszText)) << "entry " << c.nNumber;
    }
}

TEST(MessageTableTest, UnusedNumbersAreEmptyAndOutsideNumbersGiveNothing)
{
    static_assert(MESSAGE_TABLE_SIZE == 86, "entries 0 to 85");
    for (int nNumber : {0, 1, 3, 4, 5, 59, 60, 81, 82, 83, 84, 85})
        EXPECT_STREQ(g_szMessageTable[nNumber], "") << "entry " << nNumber;
    for (int nNumber = 0; nNumber < MESSAGE_TABLE_SIZE; ++nNumber)
        ASSERT_NE(g_szMessageTable[nNumber], nullptr) << "entry " << nNumber;
    EXPECT_TRUE(TrMessage(-1).isEmpty());
    EXPECT_TRUE(TrMessage(MESSAGE_TABLE_SIZE).isEmpty());
}

} // namespace
