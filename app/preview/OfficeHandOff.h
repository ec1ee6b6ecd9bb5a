// Word, Excel and PDF documents are not drawn by the preview itself: they go to two viewer
// programs that lie beside the GUI program, RVDOfficeViewer and Quirnel. This file decides what
// is an office document (by its content first, by its name after) and starts the viewers.
//
// A viewer gets the temporary file's path and the found file's name as two separate arguments,
// never as one command line: a name read from a damaged disk may hold blanks, quotes, "|" or a
// leading "-", and none of them can split, add or inject an argument. The viewers are waited for
// until the user closes them; the temporary file must live that long.
#pragma once

#include <QString>

class CCompoundFile;

// Return of RunPdfViewer when the viewer program could not be started.
const int kViewerNotStarted = 100;
// Return of RunPdfViewer when the viewer died of a signal rather than exiting.
const int kViewerCrashed = 101;

// True when the file is a compound file whose root holds a Word or an Excel stream.
bool IsOfficeDocument(const QString& strPath);
// True when the storage (null: false) holds the stream "WordDocument".
bool IsWordDocument(const CCompoundFile* pStorage);
// True when the storage (null: false) holds the stream "Book" or "WorkBook".
bool IsExcelDocument(const CCompoundFile* pStorage);

// The display name's extension: from the last "." of its last component, dot included; empty
// when the last component has no dot.
QString DisplayNameExtension(const QString& strName);
// A name of at least 5 characters ending in ".pdf" in any case (".pdf" alone is no PDF name).
bool IsPdfDisplayName(const QString& strName);

// Hands the file to the office viewer and waits for it. Unless bSkipProbe, a file that is no
// compound file is not handed over. True when the viewer ran; false when nothing was started
// (no storage, or no viewer program), so the caller can show the file itself.
bool StartOfficeViewer(const QString& strPath, const QString& strTitle, bool bSkipProbe);
// Hands a PDF file to the PDF viewer and waits for it: the viewer's exit code (0: it showed the
// file), kViewerNotStarted or kViewerCrashed.
int RunPdfViewer(const QString& strPath, const QString& strTitle);

// Where the viewer programs are looked for: the GUI program's own folder unless a folder was set
// (the tests put stand-in viewers in a folder of their own).
QString ViewerFolder();
void SetViewerFolder(const QString& strFolder);
