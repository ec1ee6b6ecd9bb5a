#include "NTFSFileRecordItem.h"

#include "FileRecordHolder.h"
#include "NTFSFileProperties.h"
#include "NTFSFileRecord.h"
#include "NTFSRecordMapping.h"

namespace {

// Records 0 to 4 are system files; a name that points there does not place a file in a folder.
const uint64_t kFirstFolderNumber = 5;
const uint8_t kNamespaceWin32 = 1;

} // namespace

CNTFSFileRecordItem::CNTFSFileRecordItem()
    : m_bIsDirectory(0), m_ullRecordSector(0), m_ullParentNumber(NTFS_NO_RECORD_NUMBER), m_pProperties(nullptr),
      m_ullRecordNumber(NTFS_NO_RECORD_NUMBER)
{
}

CNTFSFileRecordItem::~CNTFSFileRecordItem()
{
    delete m_pProperties;
}

bool CNTFSFileRecordItem::SetFromRecord(uint8_t* pRecord, size_t nLength, uint64_t ullSector)
{
    // The holder keeps the fix-ups applied while the names are read: a $FILE_NAME may span the
    // end of a sector.
    const CFileRecordHolder holder(pRecord, nLength, false);
    if (!holder.IsValid())
        return false;
    m_bIsDirectory = holder.IsDirectory() ? 1 : 0;
    if (holder.HasOwnRecordNumber())
        m_ullRecordNumber = holder.GetOwnRecordNumber();
    m_ullParentNumber = NTFS_NO_RECORD_NUMBER;
    const uint8_t* pSecond = holder.FindAttribute(NTFS_ATTR_FILE_NAME, 1);
    const uint8_t* pFirst = holder.FindAttribute(NTFS_ATTR_FILE_NAME, 0);
    // The folder of the name the file is shown by (the Win32 name when the second is one, else
    // the first), so that a hard link's folder never takes another name; the other name's
    // folder when that one is a system file.
    const bool bSecondShown = pSecond != nullptr && GetFileNameNamespace(pSecond) == kNamespaceWin32;
    const uint8_t* pShown = bSecondShown ? pSecond : pFirst;
    const uint8_t* pOther = bSecondShown ? pFirst : pSecond;
    if (pShown != nullptr && GetFileNameParent(pShown) >= kFirstFolderNumber)
        m_ullParentNumber = GetFileNameParent(pShown);
    else if (pOther != nullptr && GetFileNameParent(pOther) >= kFirstFolderNumber)
        m_ullParentNumber = GetFileNameParent(pOther);
    m_ullRecordSector = ullSector;
    return true;
}

CNTFSFileProperties* CNTFSFileRecordItem::TakeProperties()
{
    CNTFSFileProperties* pProperties = m_pProperties;
    m_pProperties = nullptr;
    return pProperties;
}
