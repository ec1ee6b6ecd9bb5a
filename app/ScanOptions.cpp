#include "ScanOptions.h"

#include <QSettings>
#include <algorithm>

#include "Pubic.h"

int64_t ClampRawFileSize(int64_t llSize)
{
    return llSize > 0 ? llSize : DEFAULT_RAW_FILE_SIZE;
}

int ClampPartitionMaxlimit(int nLimit)
{
    if (nLimit == 0)
        return DEFAULT_PARTITION_MAXLIMIT;
    return std::clamp(nLimit, MIN_PARTITION_MAXLIMIT, MAX_PARTITION_MAXLIMIT);
}

SCAN_OPTIONS ReadScanOptions(const QString& strFile)
{
    QSettings settings(strFile, QSettings::IniFormat);
    SCAN_OPTIONS options;
    bool bOk = false;
    const qlonglong llSize = settings.value(OPTION_RAW_FILE_SIZE).toString().trimmed().toLongLong(&bOk);
    options.llRawFileSize = ClampRawFileSize(bOk ? llSize : 0);
    options.nPartitionMaxlimit = ClampPartitionMaxlimit(settings.value(OPTION_PARTITION_MAXLIMIT, 0).toInt());
    options.nDiskFullScan = settings.value(OPTION_DISK_FULL_SCAN, 0).toInt() == 1 ? 1 : 0;
    options.nBadSectorIgnore = settings.value(OPTION_BAD_SECTOR_IGNORE, 0).toInt() == 1 ? 1 : 0;
    return options;
}

void LoadScanOptions(const QString& strFile)
{
    const SCAN_OPTIONS options = ReadScanOptions(strFile);
    CGlobalAdvanceSettingData& data = CPubic::GetGlobalAdvanceSettingData();
    data.m_llRawFileSize = options.llRawFileSize;
    data.m_nPartitionMaxlimit = options.nPartitionMaxlimit;
    data.m_nDiskFullScan = options.nDiskFullScan;
    data.m_nBadSectorIgnore = options.nBadSectorIgnore;
}
