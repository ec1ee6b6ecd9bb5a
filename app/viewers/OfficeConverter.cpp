#include "OfficeConverter.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QUrl>

#include "CompoundFile.h"

namespace {
const char kCopyBase[] = "document";
}

COfficeConverter::COfficeConverter(QObject* pParent) : QObject(pParent)
{
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, [this]() {
        m_process.kill();
        Fail(tr("LibreOffice did not finish converting the document."));
    });
    connect(&m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &COfficeConverter::OnProcessFinished);
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError nError) {
        if (nError == QProcess::FailedToStart)
            Fail(tr("LibreOffice could not be started."));
    });
}

COfficeConverter::~COfficeConverter()
{
    m_bDone = true;
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString COfficeConverter::FindOffice()
{
    for (const char* pszName : {"soffice", "libreoffice"}) {
        const QString strProgram = QStandardPaths::findExecutable(QLatin1String(pszName));
        if (!strProgram.isEmpty())
            return strProgram;
    }
    return QString();
}

QString COfficeConverter::CopyExtension(const QString& strPath, const QString& strTitle)
{
    CCompoundFile storage;
    if (storage.Open(strPath)) {
        if (storage.HasRootStream("WordDocument"))
            return ".doc";
        if (storage.HasRootStream("Book") || storage.HasRootStream("WorkBook"))
            return ".xls";
    }
    for (const char* pszExt : {".docx", ".xlsx"})
        if (strTitle.endsWith(QLatin1String(pszExt), Qt::CaseInsensitive))
            return QLatin1String(pszExt);
    return QString();
}

QStringList COfficeConverter::ConversionArguments(const QString& strSource, const QString& strOutDir,
                                                  const QString& strProfile)
{
    return {"-env:UserInstallation=" + QUrl::fromLocalFile(strProfile).toString(QUrl::FullyEncoded),
            "--headless", "--norestore", "--nolockcheck", "--convert-to", "pdf", "--outdir", strOutDir, strSource};
}

void COfficeConverter::Start(const QString& strOffice, const QString& strPath, const QString& strTitle)
{
    m_pFolder = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/rvd-office-XXXXXX");
    if (!m_pFolder->isValid()) {
        Fail(tr("No private folder for the conversion could be made."));
        return;
    }
    const QString strFolder = m_pFolder->path();
    const QString strSource = strFolder + "/" + kCopyBase + CopyExtension(strPath, strTitle);
    if (!QFile::copy(strPath, strSource)) {
        Fail(tr("The document could not be read."));
        return;
    }
    QDir(strFolder).mkdir("out");
    m_strPdf = strFolder + "/out/" + kCopyBase + ".pdf";
    m_process.setProgram(strOffice);
    m_process.setArguments(ConversionArguments(strSource, strFolder + "/out", strFolder + "/profile"));
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    m_timeout.start(kTimeoutMs);
    m_process.start(QIODevice::ReadOnly);
}

void COfficeConverter::OnProcessFinished()
{
    if (m_bDone)
        return;
    if (m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0 && QFile::exists(m_strPdf)) {
        m_bDone = true;
        m_timeout.stop();
        emit Finished(true, m_strPdf, QString());
        return;
    }
    Fail(tr("LibreOffice could not convert the document."));
}

void COfficeConverter::Fail(const QString& strError)
{
    if (m_bDone)
        return;
    m_bDone = true;
    m_timeout.stop();
    emit Finished(false, QString(), strError);
}
