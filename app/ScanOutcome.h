// How the last scan of this run ended, kept for the page that follows the scan. Written on the
// GUI thread once the progress dialog has closed; read on the GUI thread.
#pragma once

#include <QString>
#include <cstdint>

struct SCAN_OUTCOME {
    bool bScanned = false;      // a scan ran in this process
    int nResult = 0;            // 0 done, 264 cancelled, 265 nothing found, else the engine's error
    uint64_t ullFilesFound = 0; // the engine's count of files found when the scan ended
    QString strTitle;           // the scan's last phase title
};

void SetLastScanOutcome(const SCAN_OUTCOME& outcome);
SCAN_OUTCOME GetLastScanOutcome();
