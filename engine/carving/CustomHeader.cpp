#include "CustomHeader.h"

#include <cstring>

#include "ScriptProcess.h"

CCustomHeader::CCustomHeader() {}

CCustomHeader::~CCustomHeader() {}

bool CCustomHeader::Load(const std::string& strPath, std::string* pstrReason)
{
    CScriptProcess script;
    if (!script.Open(strPath)) {
        if (pstrReason != nullptr)
            *pstrReason = "cannot be opened for reading";
        return false;
    }
    if (!script.IsValid(pstrReason))
        return false;
    m_strExtension = script.GetExtension();
    m_vecSignatures = script.GetSignatures();
    return true;
}

bool CCustomHeader::Match(const uint8_t* pSector) const
{
    if (m_vecSignatures.empty())
        return false;
    for (const SignatureEntry& entry : m_vecSignatures) {
        // Offset and length were checked when the script was read: the bytes lie in the sector.
        if (memcmp(pSector + entry.offset, entry.data, entry.length) != 0)
            return false;
    }
    return true;
}
