// Word and Excel documents become PDF through LibreOffice, when it is installed: the document is
// copied into a private folder under a fixed name of our own, converted there by a headless
// LibreOffice with a profile of its own (so it neither meets a running LibreOffice nor writes
// into the user's), and the PDF is shown by the page view. Nothing is written beside the file.
#pragma once

#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>

class COfficeConverter : public QObject {
    Q_OBJECT
public:
    // A conversion that has not ended after this long is stopped.
    static const int kTimeoutMs = 180000;

    explicit COfficeConverter(QObject* pParent = nullptr);
    ~COfficeConverter() override;

    // LibreOffice's program on the search path, or empty.
    static QString FindOffice();
    // The extension the private copy gets: by content for a compound file (".doc" for a Word,
    // ".xls" for an Excel storage), else the name's ".docx" or ".xlsx", else none (LibreOffice
    // then tells the format by content).
    static QString CopyExtension(const QString& strPath, const QString& strTitle);
    // LibreOffice's arguments to convert strSource into a PDF in strOutDir with the profile in
    // strProfile (all three are paths in the private folder).
    static QStringList ConversionArguments(const QString& strSource, const QString& strOutDir, const QString& strProfile);

    // Starts the conversion with the given LibreOffice program; Finished follows, also on failure.
    void Start(const QString& strOffice, const QString& strPath, const QString& strTitle);

signals:
    // bOk: strPdf names the converted document; otherwise strError says why there is none.
    void Finished(bool bOk, const QString& strPdf, const QString& strError);

private:
    void OnProcessFinished();
    void Fail(const QString& strError);

    std::unique_ptr<QTemporaryDir> m_pFolder;
    QProcess m_process;
    QTimer m_timeout;
    QString m_strPdf;
    bool m_bDone = false;
};
