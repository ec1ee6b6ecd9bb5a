#include "ConfigParser.h"

#include <cstring>
#include <string>
#include <utility>

#include <QSettings>
#include <QVariant>

namespace {

const char kDefaultFileName[] = "UIConfig.ini";
const char kEmptyText[] = "";

std::unique_ptr<QSettings> OpenSettings(const QString& strFileName)
{
    std::unique_ptr<QSettings> pSettings(new QSettings(strFileName, QSettings::IniFormat));
    pSettings->setIniCodec("UTF-8");
    return pSettings;
}

// Longest prefix of strText, at most nMax bytes, that does not end inside a UTF-8 sequence.
size_t Utf8PrefixLength(const std::string& strText, size_t nMax)
{
    if (strText.size() <= nMax)
        return strText.size();
    size_t nLen = nMax;
    // Back off continuation bytes (10xxxxxx) so the cut falls before a lead byte.
    while (nLen > 0 && (static_cast<unsigned char>(strText[nLen]) & 0xC0) == 0x80)
        --nLen;
    return nLen;
}

} // namespace

CConfigParser::CConfigParser(const char* pszFileName)
{
    m_pSettings = OpenSettings(QString::fromUtf8(pszFileName != nullptr ? pszFileName : kDefaultFileName));
    InitPicPrefix();
}

CConfigParser::CConfigParser(const CConfigParser& other)
    : m_strImagePrefix(other.m_strImagePrefix), m_strIconPrefix(other.m_strIconPrefix)
{
    if (other.m_pSettings)
        m_pSettings = OpenSettings(other.m_pSettings->fileName());
}

CConfigParser& CConfigParser::operator=(const CConfigParser& other)
{
    if (this != &other) {
        CConfigParser copy(other);
        std::swap(m_strImagePrefix, copy.m_strImagePrefix);
        std::swap(m_strIconPrefix, copy.m_strIconPrefix);
        std::swap(m_pSettings, copy.m_pSettings);
    }
    return *this;
}

CConfigParser::~CConfigParser() = default;

void CConfigParser::InitPicPrefix()
{
    if (!m_pSettings)
        return;
    m_strImagePrefix = ReadValue(QStringLiteral("/Public/ImagePrefix"));
    m_strIconPrefix = ReadValue(QStringLiteral("/Public/IconPrefix"));
}

QString CConfigParser::ReadValue(const QString& strKey) const
{
    if (!m_pSettings)
        return QString();
    const QVariant varValue = m_pSettings->value(strKey, QString());
    // The ini format splits an unquoted value at its commas into a list, whose text
    // conversion is empty; a message such as "Disk not found, retry" must survive.
    if (varValue.type() == QVariant::StringList)
        return varValue.toStringList().join(QStringLiteral(", "));
    return varValue.toString();
}

QString CConfigParser::GetImagePath(const QString& strName) const
{
    if (!m_pSettings)
        return QString();
    return m_strImagePrefix + ReadValue(QStringLiteral("/Image/") + strName);
}

QString CConfigParser::GetIconPath(const QString& strName) const
{
    if (!m_pSettings)
        return QString();
    return m_strIconPrefix + ReadValue(QStringLiteral("/Icon/") + strName);
}

QStringList CConfigParser::GetImagePathList(const QString& strName) const
{
    const QString strValue = ReadValue(QStringLiteral("/Image/") + strName);
    if (strValue.isEmpty())
        return QStringList(QString());
    QStringList listPaths = strValue.split(QLatin1Char(';'), Qt::KeepEmptyParts, Qt::CaseSensitive);
    for (QString& strPath : listPaths)
        strPath.prepend(m_strImagePrefix);
    return listPaths;
}

QString CConfigParser::GetText(const QString& strKey, const QString& strGroup) const
{
    return ReadValue(QStringLiteral("/%1/").arg(strGroup) + strKey);
}

const char* CConfigParser::GetCharText(const QString& strKey, char* pszBuffer, size_t nBufferSize) const
{
    if (pszBuffer == nullptr)
        return nullptr;
    const QString strText = GetText(strKey, QStringLiteral("Text"));
    if (strText.isEmpty())
        return kEmptyText;
    if (nBufferSize == 0)
        return kEmptyText;
    const std::string strUtf8 = strText.toStdString();
    const size_t nCopy = Utf8PrefixLength(strUtf8, nBufferSize - 1);
    std::memcpy(pszBuffer, strUtf8.data(), nCopy);
    pszBuffer[nCopy] = '\0';
    return pszBuffer;
}

QString CConfigParser::GetErrorMsg(uint32_t dwCode, int32_t nBase) const
{
    // QString::number accepts bases 2 to 36 only.
    if (!m_pSettings || nBase < 2 || nBase > 36)
        return QString();
    QString strKey = QStringLiteral("/ErrorMsg/");
    if (nBase == 16)
        strKey += QStringLiteral("0x");
    strKey += QString::number(dwCode, nBase);
    return ReadValue(strKey);
}
