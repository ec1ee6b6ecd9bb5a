#include "ClusterUseBitMap.h"


#include "DataRunList.h"
#include "FileNode.h"
#include "FileProperties.h"
#include "FileTreeWalk.h"

uint64_t CountClearClusterBits(const uint8_t* pBits, uint64_t ullClusters)
{
    uint64_t ullClear = 0;
    const uint64_t ullWhole = ullClusters / 8;
    for (uint64_t i = 0; i < ullWhole; ++i)
        ullClear += 8 - static_cast<uint64_t>(__builtin_popcount(pBits[i]));
    for (uint64_t ullCluster = ullWhole * 8; ullCluster < ullClusters; ++ullCluster)
        ullClear += TestClusterBit(pBits, ullCluster) ? 0 : 1;
    return ullClear;
}

bool CClusterUseBitMap::IsClusterUsed(uint64_t ullSector)
{
    const int64_t llDistance = static_cast<int64_t>(ullSector - m_Info.ullPartitionStart);
    if (llDistance < 0)
        return true;
    // A map without a cluster size describes nothing; counting it as used keeps every hit out
    // of the way of a division by zero.
    if (m_Info.nSectorsPerCluster == 0 || m_Info.pUsedBits == nullptr)
        return true;
    const uint64_t ullCluster = static_cast<uint64_t>(llDistance) / m_Info.nSectorsPerCluster;
    if (ullCluster >= m_Info.ullClusterCount)
        return true;
    return TestClusterBit(m_Info.pUsedBits, ullCluster);
}

namespace {

void MarkCluster(const USED_CLUSTER_MARKER& marker, uint64_t ullCluster)
{
    if (ullCluster < marker.ullClusterCount)
        SetClusterBit(marker.pUsedBits, ullCluster);
}

bool IsUsableMarker(const USED_CLUSTER_MARKER& marker)
{
    return marker.pUsedBits != nullptr && marker.nSectorsPerCluster != 0;
}

} // namespace

void MarkRecordClustersUsed(const USED_CLUSTER_MARKER& marker, uint64_t ullRecordSector)
{
    if (!IsUsableMarker(marker) || ullRecordSector < marker.ullPartitionStart)
        return;
    const uint64_t ullCluster = (ullRecordSector - marker.ullPartitionStart) / marker.nSectorsPerCluster;
    MarkCluster(marker, ullCluster);
    if (marker.nSectorsPerCluster == 1)
        MarkCluster(marker, ullCluster + 1);
}

void MarkDataRunClustersUsed(const USED_CLUSTER_MARKER& marker, IFileProperties* pProperties)
{
    if (!IsUsableMarker(marker) || pProperties == nullptr)
        return;
    IDataRunList* pList = pProperties->GetDataRunList();
    if (pList == nullptr)
        return;
    if (pList->IsResident()) {
        if (pList->GetRunCount() > 0)
            MarkRecordClustersUsed(marker, pList->GetRun(0).ullStart);
        delete pList;
        return;
    }
    const uint64_t ullSize = pProperties->GetSize();
    const uint64_t ullClusterBytes = static_cast<uint64_t>(marker.nSectorsPerCluster) * 512;
    uint64_t ullCovered = 0;
    for (size_t i = 0; i < pList->GetRunCount() && ullCovered < ullSize; ++i) {
        const DATA_RUN& run = pList->GetRun(i);
        if (run.ullStart == DATA_RUN_SPARSE_START)
            continue;
        const uint64_t ullLeft = ullSize - ullCovered;
        const uint64_t ullNeeded = ullLeft / ullClusterBytes + (ullLeft % ullClusterBytes != 0 ? 1 : 0);
        const uint64_t ullTake = run.ullLength < ullNeeded ? run.ullLength : ullNeeded;
        // Clusters past the vector are left alone, so a damaged length costs nothing.
        uint64_t ullEnd = marker.ullClusterCount;
        if (run.ullStart < ullEnd && ullTake < ullEnd - run.ullStart)
            ullEnd = run.ullStart + ullTake;
        for (uint64_t ullCluster = run.ullStart; ullCluster < ullEnd; ++ullCluster)
            SetClusterBit(marker.pUsedBits, ullCluster);
        ullCovered = ullTake == ullNeeded ? ullSize : ullCovered + ullTake * ullClusterBytes;
    }
    delete pList;
}

void MarkUsedClusters(CFileNode* pRoot, const USED_CLUSTER_MARKER& marker)
{
    if (pRoot == nullptr || !IsUsableMarker(marker))
        return;
    ForEachFileNode(pRoot, [&marker](CFileNode* pNode) {
        IFileProperties* pProperties = pNode->GetProperties();
        if (pProperties == nullptr)
            return;
        MarkDataRunClustersUsed(marker, pProperties);
        if (IFileRecordLocation* pRecord = dynamic_cast<IFileRecordLocation*>(pProperties)) {
            uint64_t ullSector = 0;
            if (pRecord->GetFileRecordSector(&ullSector))
                MarkRecordClustersUsed(marker, ullSector);
        }
    });
}
