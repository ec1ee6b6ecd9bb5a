// Which clusters of a partition the files of a found tree occupy. When files are also carved by
// signature from a partition whose file system was read, a carved hit that starts inside a
// cluster a found file owns is not a lost file; the carving asks IsClusterUsed for each hit.
//
// The bit vector is plain bytes, bit n (byte n / 8, bit n % 8) standing for cluster n, where a
// cluster counts from ullPartitionStart in steps of the cluster size. The tree builders make the
// vector, fill it and release it after the carving's tree builder has finished.
#pragma once

#include <cstddef>
#include <cstdint>

#include "EngineMemory.h"

class CFileNode;
class IFileProperties;

class IIsClusterUsed {
public:
    virtual bool IsClusterUsed(uint64_t ullSector) = 0;

protected:
    // Users never delete through this interface.
    ~IIsClusterUsed() {}
};

struct CLUSTER_BITMAP_INFO {
    const uint8_t* pUsedBits;    // not owned
    uint64_t ullPartitionStart;  // sector of cluster (bit) 0
    uint32_t nSectorsPerCluster;
    uint64_t ullClusterCount;    // clusters the vector covers
};

// Bytes a vector of nClusters bits takes.
inline size_t ClusterBitmapBytes(uint64_t ullClusters)
{
    return static_cast<size_t>((ullClusters + 7) / 8);
}

inline bool TestClusterBit(const uint8_t* pBits, uint64_t ullCluster)
{
    return (pBits[ullCluster / 8] >> (ullCluster % 8)) & 1;
}

inline void SetClusterBit(uint8_t* pBits, uint64_t ullCluster)
{
    pBits[ullCluster / 8] |= static_cast<uint8_t>(1u << (ullCluster % 8));
}

// Clusters 0 .. ullClusters - 1 whose bit is clear (an NTFS $Bitmap counts free clusters so).
uint64_t CountClearClusterBits(const uint8_t* pBits, uint64_t ullClusters);

class CClusterUseBitMap : public CEngineObject, public IIsClusterUsed {
public:
    explicit CClusterUseBitMap(const CLUSTER_BITMAP_INFO& info) : m_Info(info) {}
    virtual ~CClusterUseBitMap() {}

    // Everything outside the mapped area counts as used (a sector before the partition, a
    // cluster beyond the vector, a map without clusters or without a cluster size), so the
    // carving keeps only hits in clusters known to be free.
    bool IsClusterUsed(uint64_t ullSector) override;

private:
    CLUSTER_BITMAP_INFO m_Info;
};

// Context of MarkUsedClusters. ullClusterCount bounds the marking: a run list read from a
// damaged file system may name clusters far beyond the vector.
struct USED_CLUSTER_MARKER {
    uint8_t* pUsedBits;          // not owned
    uint64_t ullPartitionStart;
    uint32_t nSectorsPerCluster;
    uint64_t ullClusterCount;
};

// Properties of a file that has a record of its own on disk (an NTFS FILE record) answer where
// it lies, so that the record's clusters are marked along with the file's data.
class IFileRecordLocation {
public:
    virtual bool GetFileRecordSector(uint64_t* pullSector) = 0;

protected:
    ~IFileRecordLocation() {}
};

// Marks the cluster of a record sector, and the next cluster too when a cluster is one sector
// (a FILE record spans two sectors).
void MarkRecordClustersUsed(const USED_CLUSTER_MARKER& marker, uint64_t ullRecordSector);

// Marks the clusters of a file's runs: for a resident list the cluster of the record holding
// the data; otherwise every cluster of every run, in order, until the marked clusters (counted
// at 512 bytes per sector) cover the file size. Sparse runs own no clusters.
void MarkDataRunClustersUsed(const USED_CLUSTER_MARKER& marker, IFileProperties* pProperties);

// Walks the tree breadth-first (the root first, then each node's children in list order) and
// marks, for every node with properties, the clusters of its runs, and the clusters of its
// record when its properties have one. Null root: nothing.
void MarkUsedClusters(CFileNode* pRoot, const USED_CLUSTER_MARKER& marker);
