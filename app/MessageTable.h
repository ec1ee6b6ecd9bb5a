// The program's translatable message texts, shared by the GUI program and the widget library.
// Other code names an entry by its number (2 "Ravendo", 10 "Please waiting...", ...); numbers
// that no screen uses hold an empty text. A text is always shown through QObject::tr() with the
// entry as source text, so the translation loaded at start-up can replace it.
//
// The table lives in this header as an inline variable: the widget library and the program both
// include it, neither links the other for it, and the process still sees one definition.
#pragma once

#include <QObject>
#include <QString>

inline constexpr int MESSAGE_TABLE_SIZE = 86;

inline constexpr const char* g_szMessageTable[MESSAGE_TABLE_SIZE] = {
    /* 0 */ "",
    /* 1 */ "",
    /* 2 */ "Ravendo",
    /* 3 */ "",
    /* 4 */ "",
    /* 5 */ "",
    /* 6 */ "Invalid parameter!",
    /* 7 */ "Unknown error!",
    /* 8 */ "Ravendo has encountered a memory problem and needs to close.\nWe are sorry for the "
            "inconvenience.\nYou can enlarge your virtual memory and try again.",
    /* 9 */ "Failed to allocate the memory. Please untick Enable RAW file and try again. ",
    /* 10 */ "Please waiting...",
    /* 11 */ "OK",
    /* 12 */ "Cancel",
    /* 13 */ "Welcome to use Ravendo, it helps you to recover data due to deletion, format, "
             "partition loss, \nsoft crash,virus attach, etc",
    /* 14 */ "Files loss such as files deleted by Shift + Delete or emptied from Recycle Bin.",
    /* 15 */ "Recover files due to accidentally formatted partition, disk displayed as RAW or "
             "Windows asks \nDo you want to format this drive?",
    /* 16 */ "Continue to recovery the last time scan results.",
    /* 17 */ "Media Player",
    /* 18 */ "No media",
    /* 19 */ "Open Location",
    /* 20 */ "Please enter a valid address here:",
    /* 21 */ "Scale and crop",
    /* 22 */ "Scale",
    /* 23 */ "Add group:",
    /* 24 */ "Select icon:",
    /* 25 */ "Select icon",
    /* 26 */ "Image Files (*.png *.jpg *.bmp *.ico)",
    /* 27 */ "Please input group type!",
    /* 28 */ "Group Name:",
    /* 29 */ "Ext name:",
    /* 30 */ "Example(.txt)",
    /* 31 */ "Ext description:",
    /* 32 */ "Select icon:",
    /* 33 */ "Select icon",
    /* 34 */ "Please input ext name description!",
    /* 35 */ "Image Files (*.png *.jpg *.bmp *.ico)",
    /* 36 */ "EnumFolder, Please wait...",
    /* 37 */ "Please select a folder to save the recovered files!",
    /* 38 */ "Search files",
    /* 39 */ "Open Directory",
    /* 40 */ "Please select a file!",
    /* 41 */ "Preview failed!",
    /* 42 */ "The file size is zero, cannot preview this file.",
    /* 43 */ "The file is too big to preview. (Max size: 50M)",
    /* 44 */ "Cannot preview directory.",
    /* 45 */ "Cannot preview encrypted file.",
    /* 46 */ "Failed to preview the file. The file is neither a valid Word nor Excel document.",
    /* 47 */ "The destination path you have selected is on the source partition.\nDo you want to "
             "continue?",
    /* 48 */ "No disk in the drive!",
    /* 49 */ "The specified drive does not exist!",
    /* 50 */ "The drive is not formatted!",
    /* 51 */ "Invalid path name!",
    /* 52 */ "The drive is RAM disk!",
    /* 53 */ "The drive is not ready!",
    /* 54 */ "The drive is not writable!",
    /* 55 */ "The path contains invalid symbol!",
    /* 56 */ "The path is too long!",
    /* 57 */ "Please select a folder to save files!",
    /* 58 */ "No files found, please try other file system!",
    /* 59 */ "",
    /* 60 */ "",
    /* 61 */ "Complete Scan",
    /* 62 */ "Quick Scan",
    /* 63 */ "Enum Disk, Please wait...",
    /* 64 */ "Modified",
    /* 65 */ "Created",
    /* 66 */ "Accessed",
    /* 67 */ "less than",
    /* 68 */ "more than",
    /* 69 */ "No files found matching your criterion.",
    /* 70 */ "Add g&roup",
    /* 71 */ "Add &type",
    /* 72 */ "Please select types to delete which you added!",
    /* 73 */ "The same group name!",
    /* 74 */ "Please select a group!",
    /* 75 */ "No types to select means it will search all files, do you want to continue?",
    /* 76 */ "\tNo preview available, Please double click to view TEXT and HEX informations.",
    /* 77 */ "\tPlease double click to get more informations about Office and PDF files.",
    /* 78 */ "You must run Ravendo with administrator rights.",
    /* 79 */ "Other application of Ravendo is running. Please wait...",
    /* 80 */ "The free space is not enough, please select other drives!",
    /* 81 */ "",
    /* 82 */ "",
    /* 83 */ "",
    /* 84 */ "",
    /* 85 */ "",
};

// The translated text of entry nNumber; an empty text for a number outside the table.
inline QString TrMessage(int nNumber)
{
    if (nNumber < 0 || nNumber >= MESSAGE_TABLE_SIZE)
        return QString();
    return QObject::tr(g_szMessageTable[nNumber]);
}
