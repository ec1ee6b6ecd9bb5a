// The options file "Option.ini" (in the working directory, QSettings INI format): the size limit
// of carved files, the partition limit of the complete scan, the full-disk fallback, the
// bad-sector switch and the default folder for recovered files. The options dialog edits it;
// a complete scan loads the four scan options into the engine's settings record.
#pragma once

#include <QString>
#include <cstdint>

inline constexpr const char* OPTIONS_FILE_NAME = "Option.ini";
inline constexpr const char* OPTION_RAW_FILE_SIZE = "/RAW/FileSize";
inline constexpr const char* OPTION_PARTITION_MAXLIMIT = "/Partition/Maxlimit";
inline constexpr const char* OPTION_DISK_FULL_SCAN = "/DiskScan/FullScan";
inline constexpr const char* OPTION_BAD_SECTOR_IGNORE = "/BadSector/Ignore";
inline constexpr const char* OPTION_DEFAULT_PATH = "/Path/DefaultPath";

inline constexpr int64_t DEFAULT_RAW_FILE_SIZE = 5000000;
inline constexpr int DEFAULT_PARTITION_MAXLIMIT = 4;
inline constexpr int MIN_PARTITION_MAXLIMIT = 1;
inline constexpr int MAX_PARTITION_MAXLIMIT = 16;

struct SCAN_OPTIONS {
    int64_t llRawFileSize = DEFAULT_RAW_FILE_SIZE;
    int nPartitionMaxlimit = DEFAULT_PARTITION_MAXLIMIT;
    int nDiskFullScan = 0;
    int nBadSectorIgnore = 0;
};

// A size that is not a positive number of bytes (also a missing key or text that is no number)
// becomes 5000000.
int64_t ClampRawFileSize(int64_t llSize);
// 0 (also a missing key) means 4; anything else is held to 1..16.
int ClampPartitionMaxlimit(int nLimit);

// The four scan options as a scan uses them, read from the options file: each switch is on only
// when its stored value is exactly 1.
SCAN_OPTIONS ReadScanOptions(const QString& strFile = OPTIONS_FILE_NAME);

// ReadScanOptions into the process's scan settings record.
void LoadScanOptions(const QString& strFile = OPTIONS_FILE_NAME);
