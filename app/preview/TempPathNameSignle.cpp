#include "TempPathNameSignle.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const char kPrefix[] = "~@!";
const char kTmpExt[] = ".tmp";
} // namespace

CTempPathNameSignle& CTempPathNameSignle::GetInstance()
{
    static CTempPathNameSignle s_instance;
    return s_instance;
}

QString CTempPathNameSignle::PrivateFolder()
{
    if (!m_strFolder.isEmpty())
        return m_strFolder;
    QString strBase = QDir::tempPath();
    while (strBase.size() > 1 && strBase.endsWith('/'))
        strBase.chop(1);
    QByteArray templ = QFile::encodeName(strBase + "/ravendo-preview-XXXXXX");
    // mkdtemp makes the folder with mode 0700, owned by us, and fails on any existing name.
    if (::mkdtemp(templ.data()) == nullptr)
        return QString();
    m_strFolder = QFile::decodeName(templ);
    return m_strFolder;
}

QString CTempPathNameSignle::GetTempPathName()
{
    const QString strFolder = PrivateFolder();
    if (strFolder.isEmpty())
        return QString();
    static std::mt19937 s_rand(std::random_device{}());
    for (int nTry = 0; nTry < 64; ++nTry) {
        const QString strName = strFolder + "/" + kPrefix
                                + QString::number(s_rand() & 0xFFFFu, 16).toUpper() + kTmpExt;
        const QByteArray narrow = QFile::encodeName(strName);
        const int fd = ::open(narrow.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return QString();
        }
        ::close(fd);
        m_strCurrent = strName;
        // The empty file only reserved the name; the name stays reserved in the private folder.
        DeleteTempFile();
        return m_strCurrent;
    }
    return QString();
}

QString CTempPathNameSignle::ReplaceTmpSuffix(const QString& strPath, const QString& strExt)
{
    if (!strPath.endsWith(QLatin1String(kTmpExt)))
        return QString();
    return strPath.left(strPath.size() - 4) + strExt;
}

void CTempPathNameSignle::DeleteFile(const QString& strPath)
{
    if (strPath.isEmpty())
        return;
    const QByteArray narrow = QFile::encodeName(strPath);
    struct stat st;
    // A viewer may have left the file read-only; never follow a link to give it write rights.
    if (::lstat(narrow.constData(), &st) == 0 && S_ISREG(st.st_mode))
        ::chmod(narrow.constData(), (st.st_mode & 07777) | S_IWUSR);
    ::unlink(narrow.constData());
}

void CTempPathNameSignle::DeleteTempFile()
{
    if (m_strCurrent.isEmpty())
        return;
    DeleteFile(m_strCurrent);
    DeleteFile(ReplaceTmpSuffix(m_strCurrent, ".doc"));
    DeleteFile(ReplaceTmpSuffix(m_strCurrent, ".xls"));
    // A PDF is renamed to ".pdf" for its viewer and, when no viewer took it, shown from there.
    DeleteFile(ReplaceTmpSuffix(m_strCurrent, ".pdf"));
}

void CTempPathNameSignle::DeleteXlsVariant()
{
    if (m_strCurrent.isEmpty())
        return;
    DeleteFile(m_strCurrent + ".xls");
}

bool CTempPathNameSignle::IsExist() const
{
    return !m_strCurrent.isEmpty() && QFile::exists(m_strCurrent);
}

CTempPathNameSignle::~CTempPathNameSignle()
{
    DeleteTempFile();
    DeleteXlsVariant();
    DeleteFile(m_strCurrent);
    if (!m_strFolder.isEmpty())
        ::rmdir(QFile::encodeName(m_strFolder).constData());
}
