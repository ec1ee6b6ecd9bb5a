// The process-wide settings singleton shared by the GUI program, the widget library and
// the engine. It lives in this one shared library so that every deliverable of the process
// sees the same reader, filter and scan settings.
#pragma once

#include "ConfigParser.h"
#include "CRVDPublicExport.h"
#include "FileTypeStore.h"
#include "GlobalAdvanceSettingData.h"

class CRVDPUBLIC_API CPubic {
public:
    static CPubic& Instance();
    static CConfigParser& GetIniParser();
    static CFileTypeStore& GetScanTypeFilter();
    static CGlobalAdvanceSettingData& GetGlobalAdvanceSettingData();

    // The singleton owns the three objects; a copy of these pointers would free them twice.
    CPubic(const CPubic&) = delete;
    CPubic& operator=(const CPubic&) = delete;

    // Order is part of the interface: the GUI reads the first two straight from Instance().
    CConfigParser* m_pParser;
    CFileTypeStore* m_pTypeFilter;
    CGlobalAdvanceSettingData* m_pSettings;

protected:
    CPubic();
    ~CPubic();

private:
    static CPubic m_public;
};
