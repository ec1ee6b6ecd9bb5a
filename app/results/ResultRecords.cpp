#include "ResultRecords.h"

#include <QCoreApplication>
#include <QStringList>

QString MakeItemKey(DWORD dwVolume, DWORD dwRecord)
{
    return QString::number(dwVolume) + QLatin1String("##") + QString::number(dwRecord);
}

QString MakePartitionKey(int nIndex)
{
    return QString("%1%2").arg(nIndex).arg(QStringLiteral("##"));
}

int ParseItemKeyText(const QString& strKey, DWORD* pdwVolume, DWORD* pdwRecord)
{
    if (strKey.isEmpty() || strKey == QCoreApplication::translate("BuildTreePage", "Root") || strKey == QStringLiteral("Root"))
        return ITEM_KEY_NONE;
    const QStringList listParts = strKey.split(QStringLiteral("##"), Qt::KeepEmptyParts, Qt::CaseSensitive);
    if (pdwVolume != nullptr)
        *pdwVolume = listParts.at(0).toUInt();
    if (listParts.size() > 1 && !listParts.at(1).isEmpty() && pdwRecord != nullptr)
        *pdwRecord = listParts.at(1).toUInt();
    return 0;
}

Qt::CheckState RecordCheckState(const FILE_INFO_EX& info)
{
    if (info.dwFolder == 0)
        return info.dwChecked != 0 ? Qt::Checked : Qt::Unchecked;
    if ((info.dwChecked & FILE_INFO_CHECKED) == 0)
        return Qt::Unchecked;
    return (info.byFullyChecked & FILE_INFO_FULLY_CHECKED) != 0 ? Qt::Checked : Qt::PartiallyChecked;
}
