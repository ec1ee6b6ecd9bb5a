// The process-wide name of the current temporary preview file, and its cleanup.
//
// A preview needs the found file as an ordinary file: the copy-out module writes it under the name
// this object hands out, and the viewers open it. Names live in a private folder of this process
// (mode 0700, made once), so no other user can plant a link or a file under a name we are about
// to write; each name is reserved with O_CREAT|O_EXCL|O_NOFOLLOW before it is handed out.
#pragma once

#include <QString>

class CTempPathNameSignle {
public:
    static CTempPathNameSignle& GetInstance();

    // A fresh temporary path ("~@!" + hex digits + ".tmp" in the private folder); it becomes the
    // current name. Empty when no private folder or name could be made.
    QString GetTempPathName();
    // Removes the current file, the ".doc" and ".xls" copies a viewer made next to it, and the
    // ".pdf" name a PDF was given for its viewer.
    void DeleteTempFile();
    // Removes the current name with ".xls" appended.
    void DeleteXlsVariant();
    // Removes one file; a missing or busy file is ignored.
    static void DeleteFile(const QString& strPath);
    bool IsExist() const;

    // The current name with its ".tmp" suffix (only the suffix) replaced by strExt; empty when the
    // name does not end in ".tmp".
    static QString ReplaceTmpSuffix(const QString& strPath, const QString& strExt);
    // The private folder (made on first use); empty when it cannot be made.
    QString PrivateFolder();

    virtual ~CTempPathNameSignle();

private:
    CTempPathNameSignle() = default;
    CTempPathNameSignle(const CTempPathNameSignle&) = delete;
    CTempPathNameSignle& operator=(const CTempPathNameSignle&) = delete;

    QString m_strCurrent;
    QString m_strFolder;
};
