// File-type numbers of carved files, shared by the carving, the tree of carved files and the
// extension maps of the FAT and NTFS readers: 0 "Raw" (no type), 1..72 the built-in types,
// 1000..1999 user-defined types numbered at run time. The two tables are indexed by the number.
#pragma once

#include <cstdint>

typedef int32_t FILE_TYPE_ID;

enum : int32_t {
    FILE_TYPE_RAW = 0,
    FILE_TYPE_3DS = 1,
    FILE_TYPE_3GP = 2,
    FILE_TYPE_ADP = 3,
    FILE_TYPE_ANI = 4,
    FILE_TYPE_AI = 5,
    FILE_TYPE_ASF = 6,
    FILE_TYPE_AU = 7,
    FILE_TYPE_AVI = 8,
    FILE_TYPE_BMP = 9,
    FILE_TYPE_CAB = 10,
    FILE_TYPE_CDR = 11,
    FILE_TYPE_CHM = 12,
    FILE_TYPE_CLK = 13,
    FILE_TYPE_CMX = 14,
    FILE_TYPE_CPT = 15,
    FILE_TYPE_CRW = 16,
    FILE_TYPE_CSL = 17,
    FILE_TYPE_CUR = 18,
    FILE_TYPE_DBX = 19,
    FILE_TYPE_DLL = 20,
    FILE_TYPE_DOC = 21,
    FILE_TYPE_DWG = 22,
    FILE_TYPE_DXF = 23,
    FILE_TYPE_EMF = 24,
    FILE_TYPE_EPS = 25,
    FILE_TYPE_EXE = 26,
    FILE_TYPE_FH11 = 27,
    FILE_TYPE_GIF = 28,
    FILE_TYPE_GZ = 29,
    FILE_TYPE_HLP = 30,
    FILE_TYPE_HTM = 31,
    FILE_TYPE_ICO = 32,
    FILE_TYPE_JPG = 33,
    FILE_TYPE_LZH = 34,
    FILE_TYPE_MAX = 35,
    FILE_TYPE_MID = 36,
    FILE_TYPE_MDB = 37,
    FILE_TYPE_MNY = 38,
    FILE_TYPE_MOF = 39,
    FILE_TYPE_MOV = 40,
    FILE_TYPE_MP3 = 41,
    FILE_TYPE_MP4 = 42,
    FILE_TYPE_MPP = 43,
    FILE_TYPE_OLE = 44,
    FILE_TYPE_ONE = 45,
    FILE_TYPE_PDF = 46,
    FILE_TYPE_PNG = 47,
    FILE_TYPE_PPT = 48,
    FILE_TYPE_PUB = 49,
    FILE_TYPE_PSD = 50,
    FILE_TYPE_PSP = 51,
    FILE_TYPE_PST = 52,
    FILE_TYPE_QPW = 53,
    FILE_TYPE_RAR = 54,
    FILE_TYPE_RIFF = 55,
    FILE_TYPE_RTF = 56,
    FILE_TYPE_SHW = 57,
    FILE_TYPE_SWF = 58,
    FILE_TYPE_TAR = 59,
    FILE_TYPE_TIF = 60,
    FILE_TYPE_TTF = 61,
    FILE_TYPE_VSD = 62,
    FILE_TYPE_WAV = 63,
    FILE_TYPE_WPD = 64,
    FILE_TYPE_WPG = 65,
    FILE_TYPE_WMF = 66,
    FILE_TYPE_XLS = 67,
    FILE_TYPE_ZIP = 68,
    FILE_TYPE_DOCX = 69,
    FILE_TYPE_XLSX = 70,
    FILE_TYPE_PPTX = 71,
    FILE_TYPE_ACCDB = 72,

    FILE_TYPE_BUILTIN_FIRST = 1,
    FILE_TYPE_BUILTIN_LAST = 72,
    FILE_TYPE_USER_FIRST = 1000,
    FILE_TYPE_USER_LAST = 1999,
    // Entries of each table; no number at or above it may index them.
    FILE_TYPE_TABLE_SIZE = 2000,
};

const int FILE_TYPE_EXT_BYTES = 6;    // at most 5 upper-case characters and the terminator
const int FILE_TYPE_DESC_BYTES = 80;  // English description and the terminator

// Preset rows 0..72; every other entry is empty (first byte 0). User-defined numbers have
// neither extension nor description here: the custom analyser keeps tables of its own.
extern const char g_szFileTypeExt[FILE_TYPE_TABLE_SIZE][FILE_TYPE_EXT_BYTES];
extern const char g_szFileTypeDesc[FILE_TYPE_TABLE_SIZE][FILE_TYPE_DESC_BYTES];

inline bool IsBuiltinFileType(int32_t nType)
{
    return nType >= FILE_TYPE_BUILTIN_FIRST && nType <= FILE_TYPE_BUILTIN_LAST;
}

inline bool IsFileTypeIndex(int32_t nType)
{
    return nType >= 0 && nType < FILE_TYPE_TABLE_SIZE;
}

// The preset row whose extension equals pszExtension (no dot; letter case ignored), or 0 ("Raw")
// when none does. Only rows 1..72 are searched.
FILE_TYPE_ID FindFileTypeByExtension(const char* pszExtension);
