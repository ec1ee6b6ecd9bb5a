// The scan's file-type filter. The GUI stores the extensions of the ticked types as one
// text, each with its leading dot and no separator (".jpg.doc"); the tree builders ask it,
// for every file they find, whether the file stays in the tree.
#pragma once

#include <cstdint>
#include <string>

#include "CRVDPublicExport.h"

class CRVDPUBLIC_API CFileTypeStore {
public:
    CFileTypeStore();
    CFileTypeStore(const CFileTypeStore&) = default;
    CFileTypeStore& operator=(const CFileTypeStore&) = default;

    void SaveTypeInfo(std::string strTypes);
    void EmptyTypeInfo();
    // Length of the filter text in bytes; 0 means no filter is in force.
    int32_t GetFilterSize() const;
    // True when strExtension (".jpg", or "jpg") equals, ignoring ASCII case, one of the
    // extensions of the filter text.
    bool IsFileTypeInList(std::string strExtension) const;
    // True when the file stays in the tree: a null name, a folder, or any name while no
    // filter is set; otherwise the name's last extension must be in the filter.
    bool CheckFilter(const char* pszFileName, bool bIsFolder) const;

    std::string m_strTypes;
};
