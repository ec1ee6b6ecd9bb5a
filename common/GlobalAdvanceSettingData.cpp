#include "GlobalAdvanceSettingData.h"

namespace {
// The carving knows file types 1 to 72; by default it looks for all of them.
constexpr int32_t kRawTypeCount = 72;
}

CGlobalAdvanceSettingData::CGlobalAdvanceSettingData()
    : m_nFileSystemType(0),
      m_bScanRaw(0),
      m_nDiskFullScan(1),
      m_llRawFileSize(50000000),
      m_nPartitionMaxlimit(4),
      m_nBadSectorIgnore(1)
{
    m_vecRawTypes.reserve(kRawTypeCount);
    for (int32_t nType = 1; nType <= kRawTypeCount; ++nType)
        m_vecRawTypes.push_back(nType);
}

CGlobalAdvanceSettingData::~CGlobalAdvanceSettingData() = default;
