#include "OfficeHandOff.h"

#include <QCoreApplication>
#include <QProcess>

#include "CompoundFile.h"

namespace {
const char kOfficeViewer[] = "RVDOfficeViewer";
const char kPdfViewer[] = "Quirnel";

QString& ViewerFolderOverride()
{
    static QString s_strFolder;
    return s_strFolder;
}

// Starts a viewer program from the viewer folder with its two arguments and waits for it
// without a time limit; the viewer ends when its user closes it.
int RunViewer(const char* pszProgram, const QString& strPath, const QString& strTitle)
{
    QProcess process;
    process.setProgram(ViewerFolder() + "/" + QLatin1String(pszProgram));
    process.setArguments({strPath, strTitle});
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(QIODevice::NotOpen);
    if (!process.waitForStarted(-1))
        return kViewerNotStarted;
    process.waitForFinished(-1);
    if (process.exitStatus() != QProcess::NormalExit)
        return kViewerCrashed;
    return process.exitCode();
}
} // namespace

bool IsWordDocument(const CCompoundFile* pStorage)
{
    return pStorage != nullptr && pStorage->HasRootStream(QStringLiteral("WordDocument"));
}

bool IsExcelDocument(const CCompoundFile* pStorage)
{
    return pStorage != nullptr
           && (pStorage->HasRootStream(QStringLiteral("Book")) || pStorage->HasRootStream(QStringLiteral("WorkBook")));
}

bool IsOfficeDocument(const QString& strPath)
{
    CCompoundFile storage;
    if (!storage.Open(strPath))
        return false;
    return IsWordDocument(&storage) || IsExcelDocument(&storage);
}

QString DisplayNameExtension(const QString& strName)
{
    const int nSlash = std::max(strName.lastIndexOf('/'), strName.lastIndexOf('\\'));
    const int nDot = strName.lastIndexOf('.');
    if (nDot <= nSlash)
        return QString();
    return strName.mid(nDot);
}

bool IsPdfDisplayName(const QString& strName)
{
    return strName.size() >= 5 && strName.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive);
}

bool StartOfficeViewer(const QString& strPath, const QString& strTitle, bool bSkipProbe)
{
    if (!bSkipProbe) {
        // Only a file that still opens as a storage is handed over; the look-in is closed again
        // before the viewer starts.
        CCompoundFile storage;
        if (!storage.Open(strPath))
            return false;
    }
    return RunViewer(kOfficeViewer, strPath, strTitle) != kViewerNotStarted;
}

int RunPdfViewer(const QString& strPath, const QString& strTitle)
{
    return RunViewer(kPdfViewer, strPath, strTitle);
}

QString ViewerFolder()
{
    const QString& strFolder = ViewerFolderOverride();
    return strFolder.isEmpty() ? QCoreApplication::applicationDirPath() : strFolder;
}

void SetViewerFolder(const QString& strFolder)
{
    ViewerFolderOverride() = strFolder;
}
