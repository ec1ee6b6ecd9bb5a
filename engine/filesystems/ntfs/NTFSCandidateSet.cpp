#include "NTFSCandidateSet.h"

#include "DiskInfo.h"
#include "NTFSDBR.h"

namespace {

// The smallest volume a candidate may describe, in sectors.
const uint64_t kMinimumSectors = 8;

CSearchedNTFSPartitionInfo* NewCandidate(uint64_t ullStart, uint32_t nSectorsPerCluster, uint64_t ullUsable,
                                         uint32_t dwFlags)
{
    CSearchedNTFSPartitionInfo* pCandidate = new CSearchedNTFSPartitionInfo();
    pCandidate->m_nFileSystemKind = FILE_SYSTEM_NTFS;
    pCandidate->m_bySectorsPerCluster = nSectorsPerCluster;
    pCandidate->m_ullEvidenceSector = ullStart;
    pCandidate->m_ullClusterCount = ullUsable / nSectorsPerCluster;
    pCandidate->m_ullSectorCount = pCandidate->m_ullClusterCount * nSectorsPerCluster;
    pCandidate->m_dwFlags = dwFlags;
    pCandidate->m_ullRecordMatches = 0;
    return pCandidate;
}

} // namespace

CNTFSCandidateSet::~CNTFSCandidateSet()
{
    for (CSearchedNTFSPartitionInfo* pCandidate : m_Set)
        delete pCandidate;
}

CSearchedNTFSPartitionInfo* CNTFSCandidateSet::Find(const CSearchedNTFSPartitionInfo* pProbe) const
{
    if (pProbe == nullptr)
        return nullptr;
    auto it = m_Set.find(const_cast<CSearchedNTFSPartitionInfo*>(pProbe));
    return it == m_Set.end() ? nullptr : *it;
}

bool CNTFSCandidateSet::Insert(CSearchedNTFSPartitionInfo* pCandidate)
{
    if (pCandidate == nullptr)
        return false;
    return m_Set.insert(pCandidate).second;
}

bool CNTFSCandidateSet::UpdateCandidateFlags(const CSearchedNTFSPartitionInfo* pProbe, uint32_t dwAdd,
                                             uint32_t dwClear)
{
    if (pProbe == nullptr)
        return false;
    auto it = m_Set.find(const_cast<CSearchedNTFSPartitionInfo*>(pProbe));
    if (it == m_Set.end())
        return false;
    CSearchedNTFSPartitionInfo* pCandidate = *it;
    pCandidate->m_dwFlags = (pCandidate->m_dwFlags & ~dwClear) | dwAdd;
    if (pCandidate->m_dwFlags == 0) {
        m_Set.erase(it);
        delete pCandidate;
    }
    return true;
}

void CNTFSCandidateSet::AdoptCandidate(CSearchedNTFSPartitionInfo* pProbe, uint32_t dwAdd)
{
    if (pProbe == nullptr)
        return;
    if (UpdateCandidateFlags(pProbe, dwAdd, 0))
        delete pProbe;
    else
        m_Set.insert(pProbe);
}

CNTFSCandidateSet::iterator CNTFSCandidateSet::Erase(iterator it)
{
    CSearchedNTFSPartitionInfo* pCandidate = *it;
    it = m_Set.erase(it);
    delete pCandidate;
    return it;
}

void CNTFSCandidateSet::ReleaseAll(CNTFSCandidateList& out)
{
    for (CSearchedNTFSPartitionInfo* pCandidate : m_Set)
        out.push_back(pCandidate);
    m_Set.clear();
}

CSearchedNTFSPartitionInfo* BuildPartitionInfoAccordingtoFileRecord(uint64_t ullSector, int64_t llCluster,
                                                                    uint32_t nSectorsPerCluster, uint32_t dwFlags,
                                                                    uint64_t ullTotalSectors)
{
    if (llCluster < 0 || nSectorsPerCluster == 0 || nSectorsPerCluster > NTFS_MAX_SECTORS_PER_CLUSTER)
        return nullptr;
    const uint64_t ullCluster = static_cast<uint64_t>(llCluster);
    if (ullCluster > ullSector / nSectorsPerCluster)
        return nullptr;  // the start would be negative
    const uint64_t ullOffset = ullCluster * nSectorsPerCluster;
    if (ullOffset < kMinimumSectors)
        return nullptr;
    const uint64_t ullStart = ullSector - ullOffset;
    if (ullStart >= ullTotalSectors)
        return nullptr;
    return NewCandidate(ullStart, nSectorsPerCluster, ullTotalSectors - ullStart, dwFlags);
}

void BuildPartitionInfoForAllClusterSizes(uint64_t ullSector, int64_t llCluster, uint32_t dwFlags,
                                          uint64_t ullTotalSectors, CNTFSCandidateList& out)
{
    for (uint32_t nSectorsPerCluster = 1; nSectorsPerCluster <= 128; nSectorsPerCluster *= 2) {
        CSearchedNTFSPartitionInfo* pCandidate =
            BuildPartitionInfoAccordingtoFileRecord(ullSector, llCluster, nSectorsPerCluster, dwFlags, ullTotalSectors);
        if (pCandidate != nullptr)
            out.push_back(pCandidate);
    }
}

CSearchedNTFSPartitionInfo* BuildPartitionInfoAccordingtoDBR(const CNTFSDBR& dbr, int64_t llStart, uint32_t dwFlags,
                                                             uint64_t ullTotalSectors)
{
    if (llStart < 0 || static_cast<uint64_t>(llStart) >= ullTotalSectors)
        return nullptr;
    const uint32_t nSectorsPerCluster = dbr.GetSectorsPerCluster();
    if (nSectorsPerCluster == 0)
        return nullptr;
    const uint64_t ullStart = static_cast<uint64_t>(llStart);
    uint64_t ullUsable = dbr.GetTotalSectors();
    if (ullUsable > ullTotalSectors - ullStart)
        ullUsable = ullTotalSectors - ullStart;
    if (ullUsable < kMinimumSectors)
        return nullptr;
    CSearchedNTFSPartitionInfo* pCandidate = NewCandidate(ullStart, nSectorsPerCluster, ullUsable, dwFlags);
    pCandidate->m_ullSerialNumber = dbr.GetSerialNumber();
    return pCandidate;
}
