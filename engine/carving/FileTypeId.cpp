#include "FileTypeId.h"

#include <strings.h>

// Row numbers are part of stored results and of the readers' extension maps: never renumber.
const char g_szFileTypeExt[FILE_TYPE_TABLE_SIZE][FILE_TYPE_EXT_BYTES] = {
    "Raw", // 0
    "3DS", // 1
    "3GP", // 2
    "ADP", // 3
    "ANI", // 4
    "AI", // 5
    "ASF", // 6
    "AU", // 7
    "AVI", // 8
    "BMP", // 9
    "CAB", // 10
    "CDR", // 11
    "CHM", // 12
    "CLK", // 13
    "CMX", // 14
    "CPT", // 15
    "CRW", // 16
    "CSL", // 17
    "CUR", // 18
    "DBX", // 19
    "DLL", // 20
    "DOC", // 21
    "DWG", // 22
    "DXF", // 23
    "EMF", // 24
    "EPS", // 25
    "EXE", // 26
    "FH11", // 27
    "GIF", // 28
    "GZ", // 29
    "HLP", // 30
    "HTM", // 31
    "ICO", // 32
    "JPG", // 33
    "LZH", // 34
    "MAX", // 35
    "MID", // 36
    "MDB", // 37
    "MNY", // 38
    "MOF", // 39
    "MOV", // 40
    "MP3", // 41
    "MP4", // 42
    "MPP", // 43
    "OLE", // 44
    "ONE", // 45
    "PDF", // 46
    "PNG", // 47
    "PPT", // 48
    "PUB", // 49
    "PSD", // 50
    "PSP", // 51
    "PST", // 52
    "QPW", // 53
    "RAR", // 54
    "RIFF", // 55
    "RTF", // 56
    "SHW", // 57
    "SWF", // 58
    "TAR", // 59
    "TIF", // 60
    "TTF", // 61
    "VSD", // 62
    "WAV", // 63
    "WPD", // 64
    "WPG", // 65
    "WMF", // 66
    "XLS", // 67
    "ZIP", // 68
    "DOCX", // 69
    "XLSX", // 70
    "PPTX", // 71
    "ACCDB", // 72
};

// The descriptions name the type folders of the tree of carved files, letter for letter.
const char g_szFileTypeDesc[FILE_TYPE_TABLE_SIZE][FILE_TYPE_DESC_BYTES] = {
    "Raw", // 0
    "3DS file", // 1
    "3GP Multimedia file", // 2
    "Access Project file", // 3
    "ANI file", // 4
    "Adobe Illustrator file", // 5
    "Audio Streaming Format file", // 6
    "AU file", // 7
    "Audio Video Interleave file", // 8
    "Bitmap file", // 9
    "Cabinet file", // 10
    "COREL Darw file", // 11
    "CHM file", // 12
    "Corel Draw Corel RAVE Image file", // 13
    "Corel Draw Vector Image file", // 14
    "Corel Photo Paint Image file", // 15
    "Canon Raw graphics file", // 16
    "CSL file", // 17
    "Cursor file", // 18
    "Outlook Express Email file", // 19
    "DLL file", // 20
    "Microsoft Word Document", // 21
    "AutoCAD Drawing file", // 22
    "AutoCad DX File", // 23
    "Enhanced Metafile", // 24
    "Encapsulated Postscript file", // 25
    "EXE file", // 26
    "Freehand 10 file", // 27
    "GIF graphics file", // 28
    "GZIP compression file", // 29
    "Help file", // 30
    "HTML Documents file", // 31
    "Icon file", // 32
    "JPEG Graphics file", // 33
    "LZH compression file", // 34
    "3d Studio Max file", // 35
    "Musical Instrument Digital Interface file", // 36
    "Access Database file", // 37
    "Microsoft Money file", // 38
    "MOF file", // 39
    "MOV Multimedia file", // 40
    "MP3 Music file", // 41
    "MP4 Multimedia file", // 42
    "Microsoft Project file", // 43
    "Compound file", // 44
    "Microsoft OneNote file", // 45
    "Adobe Portable Document", // 46
    "Portable Network Graphic file", // 47
    "Microsoft PowerPoint Presentation file", // 48
    "Microsoft Publisher Document", // 49
    "Adobe Photoshop file", // 50
    "Paint Shop Pro file", // 51
    "Outlook Email file", // 52
    "QuattroPro 7 File", // 53
    "RAR compression file", // 54
    "RIFF Multimedia file", // 55
    "Rich Text Document", // 56
    "Corel Presentation File", // 57
    "ShockWave Flash file", // 58
    "TAR archive file", // 59
    "Tagged Image File", // 60
    "True Type Font file", // 61
    "Microsoft Visio Drawing", // 62
    "WAVE Multimedia file", // 63
    "WordPerfect file", // 64
    "WordPerfect Documents and Graphics v8", // 65
    "WMF Multimedia file", // 66
    "Microsoft Excel XML Documents", // 67
    "Zip compression file", // 68
    "Microsoft DOCX file", // 69
    "Microsoft XLSX file", // 70
    "Microsoft PPTX file", // 71
    "Microsoft ACCDB file", // 72
};

FILE_TYPE_ID FindFileTypeByExtension(const char* pszExtension)
{
    if (pszExtension == nullptr || pszExtension[0] == 0)
        return FILE_TYPE_RAW;
    for (FILE_TYPE_ID nType = FILE_TYPE_BUILTIN_FIRST; nType <= FILE_TYPE_BUILTIN_LAST; ++nType) {
        if (strcasecmp(g_szFileTypeExt[nType], pszExtension) == 0)
            return nType;
    }
    return FILE_TYPE_RAW;
}
