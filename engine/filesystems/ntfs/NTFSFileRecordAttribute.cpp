#include "NTFSFileRecordAttribute.h"

#include <cmath>

#include "FileRecordHolder.h"
#include "NTFSFileRecord.h"

bool CNTFSFileRecordFileNameAttribute::IsValid(const uint8_t* pAttr, size_t nRoom) const
{
    return IsValidFileNameAttribute(pAttr, nRoom);
}

uint64_t CNTFSFileRecordFileNameAttribute::GetParentNumber(const uint8_t* pAttr) const
{
    return GetFileNameParent(pAttr);
}

uint32_t CNTFSFileRecordFileNameAttribute::GetFlags(const uint8_t* pAttr) const
{
    return GetFileNameFlags(pAttr);
}

uint8_t CNTFSFileRecordFileNameAttribute::GetNamespace(const uint8_t* pAttr) const
{
    return GetFileNameNamespace(pAttr);
}

bool CNTFSFileRecordDataRunsAttribute::DecodeRuns(const uint8_t* pAttr, size_t nRoom)
{
    m_Runs.Clear();
    return DecodeAttributeRuns(pAttr, nRoom, &m_Runs);
}

bool DecodeAttributeRuns(const uint8_t* pAttr, size_t nRoom, CNTFSRunList* pList)
{
    size_t nPairs = 0;
    const uint8_t* pPairs = GetMappingPairs(pAttr, nRoom, &nPairs);
    if (pPairs == nullptr || pList == nullptr || !CNTFSRunList::ValidateMappingPairs(pPairs, nPairs))
        return false;
    CNTFSRunList::ParseMappingPairs(pPairs, nPairs, pList);
    return true;
}

int64_t GetAttributeClusterCount(const uint8_t* pAttr, size_t nRoom)
{
    size_t nPairs = 0;
    const uint8_t* pPairs = GetMappingPairs(pAttr, nRoom, &nPairs);
    if (pPairs == nullptr || !CNTFSRunList::ValidateMappingPairs(pPairs, nPairs))
        return -1;
    return CNTFSRunList::SumMappingPairLengths(pPairs, nPairs);
}

void AppendAttributeRuns(const uint8_t* pAttr, size_t nRoom, int64_t* pRealSize, uint64_t* pFirstVcn,
                         CNTFSRunList* pList)
{
    if (pAttr == nullptr || IsAttributeNamed(pAttr) || IsAttributeResident(pAttr) || !IsValidAttribute(pAttr, nRoom))
        return;
    size_t nPairs = 0;
    const uint8_t* pPairs = GetMappingPairs(pAttr, nRoom, &nPairs);
    if (pPairs == nullptr || !CNTFSRunList::ValidateMappingPairs(pPairs, nPairs))
        return;
    const uint64_t u64FirstVcn = GetFirstVcn(pAttr);
    if (pFirstVcn != nullptr)
        *pFirstVcn = u64FirstVcn;
    const bool bHasRuns = nPairs > 0 && pPairs[0] != 0;
    if (bHasRuns && pList != nullptr)
        pList->AppendMappingPairs(pPairs, nPairs, u64FirstVcn);
    if (pRealSize != nullptr)
        *pRealSize = bHasRuns ? static_cast<int64_t>(GetRealSize(pAttr)) : 0;
}

bool CollectDataRuns(const CFileRecordHolder& holder, CNTFSRunList* pList, bool bCheck, int64_t* pRealSize)
{
    if (!holder.IsValid())
        return false;
    const uint8_t* pRecord = holder.GetRecord();
    const size_t nEnd = GetAttributeAreaEnd(pRecord, holder.GetLength());
    for (int nIndex = 0;; ++nIndex) {
        const uint8_t* pAttr = holder.FindAttribute(NTFS_ATTR_DATA, nIndex);
        if (pAttr == nullptr)
            return true;
        if (static_cast<int32_t>(GetAttributeLength(pAttr)) <= 0)
            return false;
        if (IsAttributeNamed(pAttr))
            continue;
        if (IsAttributeResident(pAttr))
            return false;
        const size_t nRoom = nEnd - static_cast<size_t>(pAttr - pRecord);
        if (bCheck && !IsAttributeCompressed(pAttr)) {
            size_t nPairs = 0;
            const uint8_t* pPairs = GetMappingPairs(pAttr, nRoom, &nPairs);
            const int64_t i64Clusters = CNTFSRunList::SumMappingPairLengths(pPairs, nPairs);
            const uint64_t u64Span = GetLastVcn(pAttr) - GetFirstVcn(pAttr) + 1;
            if (static_cast<uint64_t>(i64Clusters) != u64Span)
                return false;
        }
        int64_t i64RealSize = 0;
        uint64_t u64FirstVcn = UINT64_MAX;
        AppendAttributeRuns(pAttr, nRoom, &i64RealSize, &u64FirstVcn, pList);
        if (u64FirstVcn == 0 && pRealSize != nullptr)
            *pRealSize = i64RealSize;
    }
}

bool CollectDataRuns(uint8_t* pRecord, size_t nLength, CNTFSRunList* pList, bool bCheck, int64_t* pRealSize)
{
    const CFileRecordHolder holder(pRecord, nLength, false);
    return CollectDataRuns(holder, pList, bCheck, pRealSize);
}

bool InferSectorsPerCluster(const CFileRecordHolder& holder, uint32_t* pSectorsPerCluster)
{
    CNTFSRunList runs;
    int64_t i64RealSize = 0;
    if (!CollectDataRuns(holder, &runs, true, &i64RealSize)) {
        if (pSectorsPerCluster != nullptr)
            *pSectorsPerCluster = 0;
        return false;
    }
    if (pSectorsPerCluster != nullptr)
        *pSectorsPerCluster =
            static_cast<uint32_t>(SectorsPerClusterFromSizes(i64RealSize, static_cast<int64_t>(runs.GetTotalLength())));
    return true;
}

bool InferSectorsPerCluster(uint8_t* pRecord, size_t nLength, uint32_t* pSectorsPerCluster)
{
    const CFileRecordHolder holder(pRecord, nLength, false);
    return InferSectorsPerCluster(holder, pSectorsPerCluster);
}

int SectorsPerClusterFromSizes(int64_t i64Bytes, int64_t i64Clusters)
{
    if (i64Clusters <= 0 || i64Bytes <= 0)
        return 0;
    const double dSectors = std::ceil(static_cast<double>(i64Bytes) / static_cast<double>(i64Clusters) / 512.0);
    // Up to 4096 sectors: Windows formats clusters as large as 2 MiB.
    for (int n = 1; n <= 4096; n *= 2)
        if (dSectors <= n)
            return n;
    return 0;
}

int SectorsPerClusterOfAttribute(const uint8_t* pAttr, size_t nRoom)
{
    const int64_t i64Initialized = static_cast<int64_t>(GetInitializedSize(pAttr));
    const int64_t i64Clusters = GetAttributeClusterCount(pAttr, nRoom);
    if (i64Initialized <= 0 || i64Clusters <= 0)
        return 0;
    return SectorsPerClusterFromSizes(i64Initialized, i64Clusters);
}
