#include "CustomFileAnalyser.h"

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "SharedModule.h"
#include "Veskel.h"
#include "FileTypeId.h"
#include "RawFileAnalyserFactories.h"

namespace {

const char SCRIPT_FOLDER_NAME[] = "CustomFileScript";
const char SCRIPT_EXTENSION[] = ".fhs";

// Extensions of the user-defined numbers, kept apart from the preset tables: they hold up to 16
// characters, more than a preset row has room for.
struct USER_TYPE_TABLE {
    std::mutex lock;
    std::string names[FILE_TYPE_USER_LAST - FILE_TYPE_USER_FIRST + 1];
    bool bFullReported = false;
};

USER_TYPE_TABLE& UserTypes()
{
    static USER_TYPE_TABLE table;
    return table;
}

bool SameExtension(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const char ca = (a[i] >= 'a' && a[i] <= 'z') ? a[i] - 32 : a[i];
        const char cb = (b[i] >= 'a' && b[i] <= 'z') ? b[i] - 32 : b[i];
        if (ca != cb)
            return false;
    }
    return true;
}

bool IsScriptName(const std::string& strName)
{
    const size_t n = sizeof(SCRIPT_EXTENSION) - 1;
    return strName.size() > n && SameExtension(strName.substr(strName.size() - n), SCRIPT_EXTENSION);
}

} // namespace

int AssignUserFileType(const std::string& strExtension)
{
    USER_TYPE_TABLE& table = UserTypes();
    std::lock_guard<std::mutex> guard(table.lock);
    for (int i = 0; i <= FILE_TYPE_USER_LAST - FILE_TYPE_USER_FIRST; ++i) {
        std::string& strName = table.names[i];
        if (strName.empty()) {
            strName = strExtension;
            return FILE_TYPE_USER_FIRST + i;
        }
        if (SameExtension(strName, strExtension))
            return FILE_TYPE_USER_FIRST + i;
    }
    if (!table.bFullReported) {
        table.bFullReported = true;
        LogInfo("All user-defined type numbers are taken; files of type %s are not reported", strExtension.c_str());
    }
    return -1;
}

std::string GetUserFileTypeExtension(int nType)
{
    if (nType < FILE_TYPE_USER_FIRST || nType > FILE_TYPE_USER_LAST)
        return std::string();
    USER_TYPE_TABLE& table = UserTypes();
    std::lock_guard<std::mutex> guard(table.lock);
    return table.names[nType - FILE_TYPE_USER_FIRST];
}

// ---------------------------------------------------------------------------------------------
CCustomHeaderManage::CCustomHeaderManage() {}

CCustomHeaderManage::~CCustomHeaderManage() { Clear(); }

void CCustomHeaderManage::Clear()
{
    for (CCustomHeader* pHeader : m_vecHeaders)
        delete pHeader;
    m_vecHeaders.clear();
}

bool CCustomHeaderManage::LoadFolder(const std::string& strFolder)
{
    Clear();
    std::vector<std::filesystem::path> vecScripts;
    std::error_code error;
    std::filesystem::directory_iterator it(strFolder, error);
    if (error)
        return false;
    for (; it != std::filesystem::directory_iterator(); it.increment(error)) {
        if (error)
            break;
        if (IsScriptName(it->path().filename().string()) && !it->is_directory(error))
            vecScripts.push_back(it->path());
    }
    // Name order, so that the first matching type is the same on every run.
    std::sort(vecScripts.begin(), vecScripts.end());
    for (const std::filesystem::path& path : vecScripts) {
        CCustomHeader* pHeader = new CCustomHeader;
        std::string strReason;
        if (pHeader->Load(path.string(), &strReason)) {
            m_vecHeaders.push_back(pHeader);
        } else {
            LogInfo("Custom file type script %s is not used: %s", path.string().c_str(), strReason.c_str());
            delete pHeader;
        }
    }
    return !vecScripts.empty();
}

bool CCustomHeaderManage::Match(const uint8_t* pSector, std::string* pstrExtension) const
{
    for (const CCustomHeader* pHeader : m_vecHeaders) {
        if (pHeader->Match(pSector)) {
            *pstrExtension = pHeader->GetExtension();
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
CustomFileAnalyser::CustomFileAnalyser() { m_headers.LoadFolder(GetScriptFolder()); }

CustomFileAnalyser::CustomFileAnalyser(const std::string& strFolder) { m_headers.LoadFolder(strFolder); }

std::string CustomFileAnalyser::GetScriptFolder()
{
    const std::string strProgram = rvdplat::ProgramFolder();
    return strProgram.empty() ? std::string() : strProgram + SCRIPT_FOLDER_NAME;
}

BOOL CustomFileAnalyser::AnalyzeFileSize(CRawFileInfo* /*pInfo*/, IStorageDevice* /*pDevice*/) { return FALSE; }

BOOL CustomFileAnalyser::AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo)
{
    std::string strExtension;
    if (!m_headers.Match(pSector, &strExtension))
        return FALSE;
    const int nType = AssignUserFileType(strExtension);
    if (nType < 0)
        return FALSE;
    pInfo->SetType(nType);
    return TRUE;
}

IRawFileAnalyser* NewCustomFileAnalyser() { return new CustomFileAnalyser; }
