// The NTFS partition candidates of one complete scan, ordered by start sector and then by
// sectors per cluster (two candidates with both equal are the same candidate), and the ways the
// scan's evidence builds a candidate or confirms one it already holds. While the scan runs a
// candidate's start is its evidence sector.
#pragma once

#include <cstdint>
#include <set>
#include <vector>

#include "EngineMemory.h"
#include "NTFSSearchedPartitionInfo.h"

class CNTFSDBR;

// Past this many entries a list of evidence stops growing; further evidence is ignored.
const size_t NTFS_SEARCH_LIST_LIMIT = 500000;

struct NTFSCandidateLess {
    bool operator()(const CSearchedNTFSPartitionInfo* a, const CSearchedNTFSPartitionInfo* b) const
    {
        if (a->m_ullEvidenceSector != b->m_ullEvidenceSector)
            return a->m_ullEvidenceSector < b->m_ullEvidenceSector;
        return a->m_bySectorsPerCluster < b->m_bySectorsPerCluster;
    }
};

typedef std::vector<CSearchedNTFSPartitionInfo*, CEngineAllocator<CSearchedNTFSPartitionInfo*>> CNTFSCandidateList;

class CNTFSCandidateSet : public CEngineObject {
public:
    typedef std::set<CSearchedNTFSPartitionInfo*, NTFSCandidateLess, CEngineAllocator<CSearchedNTFSPartitionInfo*>>
        CSet;
    typedef CSet::iterator iterator;

    CNTFSCandidateSet() {}
    // Deletes every candidate still held.
    ~CNTFSCandidateSet();
    CNTFSCandidateSet(const CNTFSCandidateSet&) = delete;
    CNTFSCandidateSet& operator=(const CNTFSCandidateSet&) = delete;

    // The held candidate that is the same as pProbe, or null.
    CSearchedNTFSPartitionInfo* Find(const CSearchedNTFSPartitionInfo* pProbe) const;
    // Takes the candidate over; false (and the caller keeps it) when the same one is held.
    bool Insert(CSearchedNTFSPartitionInfo* pCandidate);
    // For the held candidate that is the same as pProbe: the bits dwClear are removed and dwAdd
    // OR'ed in; one left without a flag leaves the set and is deleted. Returns whether such a
    // candidate existed. The probe itself is never inserted.
    bool UpdateCandidateFlags(const CSearchedNTFSPartitionInfo* pProbe, uint32_t dwAdd, uint32_t dwClear);
    // UpdateCandidateFlags(pProbe, dwAdd, 0); the probe is deleted when a same candidate was
    // held, else inserted. Null is ignored.
    void AdoptCandidate(CSearchedNTFSPartitionInfo* pProbe, uint32_t dwAdd);
    // Removes the candidate at it from the set and deletes it; returns the next position.
    iterator Erase(iterator it);
    // Hands every candidate over to the caller in set order and empties the set.
    void ReleaseAll(CNTFSCandidateList& out);

    size_t size() const { return m_Set.size(); }
    iterator begin() { return m_Set.begin(); }
    iterator end() { return m_Set.end(); }

private:
    CSet m_Set;
};

// A candidate placed by a structure at sector ullSector that lies at cluster llCluster of its
// volume: start = sector - cluster x nSectorsPerCluster. Null when the start would be negative,
// when cluster x sectors per cluster is below 8, when the start is not below ullTotalSectors or
// when the factors are unusable. The cluster count is what remains of the device.
CSearchedNTFSPartitionInfo* BuildPartitionInfoAccordingtoFileRecord(uint64_t ullSector, int64_t llCluster,
                                                                    uint32_t nSectorsPerCluster, uint32_t dwFlags,
                                                                    uint64_t ullTotalSectors);
// The same for each cluster size 1, 2, 4, ... 128 sectors in that order; appends what can be built.
void BuildPartitionInfoForAllClusterSizes(uint64_t ullSector, int64_t llCluster, uint32_t dwFlags,
                                          uint64_t ullTotalSectors, CNTFSCandidateList& out);
// A candidate from a valid boot sector taken to stand at llStart (signed: a backup boot sector
// may place its volume before the device's start): null for a negative start or one not below
// the device's end, or fewer than 8 usable sectors. Size, sectors per cluster and serial number
// come from the boot sector, the size cut to the device.
CSearchedNTFSPartitionInfo* BuildPartitionInfoAccordingtoDBR(const CNTFSDBR& dbr, int64_t llStart, uint32_t dwFlags,
                                                             uint64_t ullTotalSectors);
