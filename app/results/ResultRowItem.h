// A row of the file list or the search list. Sizes and dates sort by their values, not by the
// texts shown ("9.00 KB" after "10.00 KB", "2024/9/1" after "2024/10/1" as text).
#pragma once

#include <QTreeWidgetItem>

#include "WinTypes.h"

class CResultRowItem : public QTreeWidgetItem {
public:
    CResultRowItem() : QTreeWidgetItem(UserType) {}

    void SetSortTimes(const SYSTEMTIME& stModified, const SYSTEMTIME& stCreated, const SYSTEMTIME& stAccessed)
    {
        m_aullTimes[0] = TimeValue(stModified);
        m_aullTimes[1] = TimeValue(stCreated);
        m_aullTimes[2] = TimeValue(stAccessed);
    }

    bool operator<(const QTreeWidgetItem& other) const override;

private:
    static uint64_t TimeValue(const SYSTEMTIME& st)
    {
        return (uint64_t(st.wYear) << 48) | (uint64_t(st.wMonth & 0xFF) << 40) | (uint64_t(st.wDay & 0xFF) << 32) |
               (uint64_t(st.wHour & 0xFF) << 24) | (uint64_t(st.wMinute & 0xFF) << 16) |
               (uint64_t(st.wSecond & 0xFF) << 8);
    }

    uint64_t m_aullTimes[3] = {0, 0, 0};
};
