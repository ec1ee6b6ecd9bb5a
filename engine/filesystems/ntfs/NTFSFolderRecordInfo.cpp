#include "NTFSFolderRecordInfo.h"

#include "FileRecordHolder.h"
#include "NTFSFileRecord.h"
#include "NTFSFileRecordAttribute.h"
#include "NTFSIndexRecord.h"

namespace {

// Record number of the root folder.
const uint64_t kRootFolder = 5;

} // namespace

CNTFSFolderRecordInfo::CNTFSFolderRecordInfo()
    : m_ullRecordSector(NTFS_UNKNOWN_SECTOR), m_ullLogSequence(0), m_ullFolderNumber(NTFS_NO_RECORD_NUMBER),
      m_nHeaderNumber(0), m_bHasHeaderNumber(0), m_nSectorsPerCluster(0)
{
}

bool CNTFSFolderRecordInfo::SetFromRecord(uint8_t* pRecord, size_t nLength, uint64_t ullSector)
{
    const CFileRecordHolder holder(pRecord, nLength, false);
    if (!holder.IsValid() || holder.IsExtension())
        return false;
    const size_t nEnd = GetAttributeAreaEnd(pRecord, nLength);
    uint64_t ullFolder = NTFS_NO_RECORD_NUMBER;
    if (const uint8_t* pRoot = holder.FindAttribute(NTFS_ATTR_INDEX_ROOT, 0))
        ullFolder = GetFolderNumberFromIndexRoot(pRoot, nEnd - static_cast<size_t>(pRoot - pRecord));

    const uint8_t* pAllocation = holder.FindAttribute(NTFS_ATTR_INDEX_ALLOCATION, 0);
    if (pAllocation == nullptr || static_cast<int32_t>(GetAttributeLength(pAllocation)) <= 0)
        return false;
    const size_t nRoom = nEnd - static_cast<size_t>(pAllocation - pRecord);
    CNTFSRunList runs;
    if (!DecodeAttributeRuns(pAllocation, nRoom, &runs))
        return false;
    const int nSectorsPerCluster = SectorsPerClusterOfAttribute(pAllocation, nRoom);
    if (nSectorsPerCluster == 0)
        return false;

    m_IndexRuns.Clear();
    runs.CopyTo(&m_IndexRuns);
    m_nSectorsPerCluster = nSectorsPerCluster;
    m_ullRecordSector = ullSector;
    m_ullLogSequence = holder.GetLogSequenceNumber();
    if (holder.HasOwnRecordNumber()) {
        m_nHeaderNumber = holder.GetOwnRecordNumber();
        m_bHasHeaderNumber = 1;
        if (ullFolder == NTFS_NO_RECORD_NUMBER)
            ullFolder = m_nHeaderNumber;
    }
    m_ullFolderNumber = ullFolder;
    return ullFolder != kRootFolder && ullFolder != NTFS_NO_RECORD_NUMBER;
}

int64_t CNTFSFolderRecordInfo::MapVCN(uint64_t ullVcn) const
{
    if (ullVcn > static_cast<uint64_t>(INT64_MAX))
        return -1;
    return m_IndexRuns.VcnToLcn(static_cast<int64_t>(ullVcn));
}
