#include "RawFileAnalyser.h"

#include "EngineSettings.h"
#include "GlobalAdvanceSettingData.h"

BOOL GuardedAnalyzeFileHeader(IRawFileAnalyser* pAnalyser, const uint8_t* pSector, CRawFileInfo* pInfo)
{
    try {
        return pAnalyser->AnalyzeFileHeader(pSector, pInfo);
    } catch (...) {
        return FALSE;
    }
}

BOOL GuardedAnalyzeFileSize(IRawFileAnalyser* pAnalyser, CRawFileInfo* pInfo, IStorageDevice* pDevice, bool* pbThrew)
{
    if (pbThrew != nullptr)
        *pbThrew = false;
    try {
        return pAnalyser->AnalyzeFileSize(pInfo, pDevice);
    } catch (...) {
        if (pbThrew != nullptr)
            *pbThrew = true;
        return FALSE;
    }
}

uint64_t GetCarvedSizeLimit()
{
    const int64_t llLimit = GetEngineSettings()->m_llRawFileSize;
    return llLimit > 0 ? static_cast<uint64_t>(llLimit) : 0;
}
