#include "Pubic.h"

#include <memory>

// Built during the library's load; an exception here (out of memory) fails the load.
CPubic CPubic::m_public;

CPubic::CPubic()
    : m_pParser(nullptr), m_pTypeFilter(nullptr), m_pSettings(nullptr)
{
    std::unique_ptr<CConfigParser> pParser(new CConfigParser(nullptr));
    std::unique_ptr<CFileTypeStore> pTypeFilter(new CFileTypeStore());
    std::unique_ptr<CGlobalAdvanceSettingData> pSettings(new CGlobalAdvanceSettingData());
    m_pParser = pParser.release();
    m_pTypeFilter = pTypeFilter.release();
    m_pSettings = pSettings.release();
}

CPubic::~CPubic()
{
    delete m_pParser;
    m_pParser = nullptr;
    delete m_pTypeFilter;
    m_pTypeFilter = nullptr;
    delete m_pSettings;
    m_pSettings = nullptr;
}

CPubic& CPubic::Instance()
{
    return m_public;
}

CConfigParser& CPubic::GetIniParser()
{
    return *m_public.m_pParser;
}

CFileTypeStore& CPubic::GetScanTypeFilter()
{
    return *m_public.m_pTypeFilter;
}

CGlobalAdvanceSettingData& CPubic::GetGlobalAdvanceSettingData()
{
    return *m_public.m_pSettings;
}
