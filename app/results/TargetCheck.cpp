#include "TargetCheck.h"

#include <QStringList>

#include <errno.h>

#include "MessageTable.h"

const char* const TARGET_WRITE_TEST_NAME = "!t_1_e_s_2_3_t.tst";

namespace {

// Refused anywhere in a target: what the file systems of USB sticks and memory cards refuse,
// the backslash (the copy-out reads it as a separator), and control characters.
bool IsRefusedChar(QChar ch)
{
    static const QString strRefused = QStringLiteral("*?\"<>|\\");
    return ch.unicode() < 0x20 || ch.unicode() == 0x7F || strRefused.contains(ch);
}

} // namespace

uint32_t CheckTargetFolder(const QString& strPath, rvdplat::FOLDER_PROBE* pProbe)
{
    rvdplat::FOLDER_PROBE probe;
    if (pProbe != nullptr)
        *pProbe = probe;
    if (strPath.size() > TARGET_MAX_LENGTH)
        return TARGET_TOO_LONG;
    if (strPath.isEmpty())
        return TARGET_EMPTY;
    if (!strPath.startsWith(QLatin1Char('/')))
        return TARGET_NOT_ABSOLUTE;
    for (QChar ch : strPath)
        if (IsRefusedChar(ch))
            return TARGET_BAD_SYMBOL;
    for (const QString& strPart : strPath.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        if (strPart == QLatin1String(".") || strPart == QLatin1String(".."))
            return TARGET_INVALID_NAME;

    const int nError = rvdplat::ProbeFolder(strPath.toUtf8().toStdString(), &probe);
    if (pProbe != nullptr)
        *pProbe = probe;
    if (nError != 0)
        return TARGET_NOT_READY;
    if (!probe.bTopExists)
        return TARGET_NO_DRIVE;
    if (!probe.bIsFolder)
        return TARGET_INVALID_NAME;
    if (probe.nVolumeError != 0)
        return probe.nVolumeError == ENOMEDIUM ? TARGET_NO_MEDIUM : TARGET_NOT_READY;
    if (probe.bReadOnly || probe.strFileSystem == "iso9660" || probe.strFileSystem == "udf")
        return TARGET_NOT_WRITABLE;
    switch (rvdplat::WriteTestFolder(probe.strExisting, TARGET_WRITE_TEST_NAME)) {
    case 0:
        return TARGET_OK;
    case ENOMEDIUM:
        return TARGET_NO_MEDIUM;
    case EIO:
    case ENOTCONN:
    case ESTALE:
        return TARGET_NOT_READY;
    default:
        return TARGET_NOT_WRITABLE;
    }
}

QString TargetErrorText(uint32_t dwCode)
{
    switch (dwCode) {
    case TARGET_NO_DRIVE:
        return TrMessage(49);
    case TARGET_NOT_FORMATTED:
        return TrMessage(50);
    case TARGET_INVALID_NAME:
    case TARGET_NOT_ABSOLUTE:
        return TrMessage(51);
    case TARGET_RAM_DISK:
        return TrMessage(52);
    case TARGET_NOT_READY:
        return TrMessage(53);
    case TARGET_NOT_WRITABLE:
        return TrMessage(54);
    case TARGET_BAD_PARAMETER:
        return TrMessage(6);
    case TARGET_BAD_SYMBOL:
        return TrMessage(55);
    case TARGET_TOO_LONG:
        return TrMessage(56);
    case TARGET_EMPTY:
        return TrMessage(57);
    case TARGET_NO_MEDIUM:
        return TrMessage(48);
    default:
        return TrMessage(7);
    }
}
