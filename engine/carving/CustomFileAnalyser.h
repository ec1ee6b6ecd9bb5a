// File types described by the user: scripts in the folder "CustomFileScript" beside the program
// are loaded when the analyser is made, and a hit gets a type number from 1000..1999, one per
// distinct extension for the life of the process.
#pragma once

#include <string>
#include <vector>

#include "CustomHeader.h"
#include "RawFileAnalyser.h"

class CCustomHeaderManage {
public:
    CCustomHeaderManage();
    virtual ~CCustomHeaderManage();

    // Drops the types loaded before and loads every *.fhs script of the folder, in name order;
    // a script that fails to load is left out and logged with its reason. True when the folder
    // held at least one script.
    bool LoadFolder(const std::string& strFolder);
    // The extension of the first type whose signatures all match the sector.
    bool Match(const uint8_t* pSector, std::string* pstrExtension) const;
    size_t GetCount() const { return m_vecHeaders.size(); }

    CCustomHeaderManage(const CCustomHeaderManage&) = delete;
    CCustomHeaderManage& operator=(const CCustomHeaderManage&) = delete;

private:
    void Clear();

    std::vector<CCustomHeader*> m_vecHeaders;
};

class CustomFileAnalyser : public IRawFileAnalyser {
public:
    // Loads the scripts of GetScriptFolder().
    CustomFileAnalyser();
    // Loads the scripts of another folder (tests).
    explicit CustomFileAnalyser(const std::string& strFolder);

    // User-defined types have no length rule: the size stays 0.
    BOOL AnalyzeFileSize(CRawFileInfo* pInfo, IStorageDevice* pDevice) override;
    BOOL AnalyzeFileHeader(const uint8_t* pSector, CRawFileInfo* pInfo) override;

    // "CustomFileScript" in the running program's folder.
    static std::string GetScriptFolder();
    const CCustomHeaderManage& GetHeaders() const { return m_headers; }

private:
    CCustomHeaderManage m_headers;
};

// The type number of a user-defined extension: the number it already has (letter case
// ignored), else the lowest free number from 1000. -1 when all 1000 numbers are taken.
// Numbers are never given back while the process runs.
int AssignUserFileType(const std::string& strExtension);
// The full extension (up to 16 characters, upper case) given to a number 1000..1999; empty for
// a number not given out.
std::string GetUserFileTypeExtension(int nType);
