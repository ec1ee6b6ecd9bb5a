// The File Allocation Table: one on-disk copy loaded whole into memory and checked, and the
// pair FAT1/FAT2 that answers from the first sound copy. Chain walks then cost no device reads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "EngineMemory.h"

class IStorageDevice;

// Normalised entry values: an end-of-chain mark of the table's own width becomes
// FAT_END_OF_CHAIN_LAST (0xFFF, 0xFFFF) or FAT_END_OF_CHAIN (0xFF8-0xFFE, 0xFFF8-0xFFFE).
const uint32_t FAT_END_OF_CHAIN = 0x0FFFFFF8;
const uint32_t FAT_END_OF_CHAIN_LAST = 0xFFFFFFFF;

class IFATTable : public CEngineObject {
public:
    virtual ~IFATTable() {}
    // The entry of cluster nCluster, normalised; 0 (free) beyond the table or when nothing is
    // loaded. Callers end a chain at a value that fails IsValidClusterNumber.
    virtual uint32_t GetNextCluster(uint32_t nCluster) = 0;
};

// One copy of the FAT on the device.
class IRealFATTable : public IFATTable {
public:
    IRealFATTable(IStorageDevice* pDevice, uint64_t u64StartSector, uint32_t nSectors);
    ~IRealFATTable() override;
    IRealFATTable(const IRealFATTable&) = delete;
    IRealFATTable& operator=(const IRealFATTable&) = delete;

    virtual bool IsValid() = 0;

    bool IsLoaded() const { return m_pTable != nullptr; }

protected:
    // Reads the whole copy; a part the device cannot read is left as zeros.
    void Load();

    IStorageDevice* m_pDevice;
    uint64_t m_nStartSector;
    uint32_t m_nSectors;
    // m_nSectors x 128: 32-bit entries (the FAT16 checks count 16-bit entries themselves).
    uint32_t m_nEntryCount;
    uint8_t* m_pTable;
};

class CFAT12Table : public IRealFATTable {
public:
    // Loaded only for 1 to 12 sectors per FAT.
    CFAT12Table(IStorageDevice* pDevice, uint64_t u64StartSector, uint32_t nSectors);
    uint32_t GetNextCluster(uint32_t nCluster) override;
    // Loaded and starting with the FAT12 media pattern; chains are not checked.
    bool IsValid() override;
};

class CFAT16Table : public IRealFATTable {
public:
    // Loaded only for 12 to 256 sectors per FAT.
    CFAT16Table(IStorageDevice* pDevice, uint64_t u64StartSector, uint32_t nSectors);
    uint32_t GetNextCluster(uint32_t nCluster) override;
    // Loaded, the media pattern, no impossible entry, no cross-linked or looping chain.
    bool IsValid() override;
};

class CFAT32Table : public IRealFATTable {
public:
    // Loaded only for 256 to 128000 sectors per FAT.
    CFAT32Table(IStorageDevice* pDevice, uint64_t u64StartSector, uint32_t nSectors);
    // The entry as stored: the four reserved top bits are not masked.
    uint32_t GetNextCluster(uint32_t nCluster) override;
    bool IsValid() override;
};

// FAT1 and FAT2 of one volume, either possibly missing; owns both.
class CDoubleFATTable : public IFATTable {
public:
    CDoubleFATTable(IRealFATTable* pFAT1, IRealFATTable* pFAT2) : m_pFAT1(pFAT1), m_pFAT2(pFAT2) {}
    ~CDoubleFATTable() override;
    CDoubleFATTable(const CDoubleFATTable&) = delete;
    CDoubleFATTable& operator=(const CDoubleFATTable&) = delete;

    // FAT1's answer when FAT1 exists, else FAT2's, else 0.
    uint32_t GetNextCluster(uint32_t nCluster) override;

    IRealFATTable* GetFAT1() const { return m_pFAT1; }
    IRealFATTable* GetFAT2() const { return m_pFAT2; }

private:
    IRealFATTable* m_pFAT1;
    IRealFATTable* m_pFAT2;
};

// The entry of cluster nCluster as stored in a table of type nFATType (0 FAT12, 1 FAT16, 2 FAT32)
// held in pTable's first nBytes: a FAT12 entry unpacked from its 12 bits, a FAT32 entry with
// its four reserved top bits kept. 0 when the entry does not lie whole inside the bytes.
uint32_t GetStoredFATEntry(int nFATType, const uint8_t* pTable, uint64_t nBytes, uint64_t nCluster);

// A checked copy of type nFATType (0 FAT12, 1 FAT16, 2 FAT32) at u64StartSector; null for any
// other type and for a copy that is missing or unsound.
IRealFATTable* CreateFATTable(IStorageDevice* pDevice, int nFATType, uint64_t u64StartSector, uint32_t nSectors);

// FAT1 at u64FAT1Start when bUseFAT1; FAT2 (at FAT1 + nSectorsPerFAT) only when bUseFAT2 and
// FAT1 is missing or unsound, so a sound FAT1 means FAT2 is never read. The pair is returned
// even when both are missing (every cluster then reads as free).
CDoubleFATTable* CreateDoubleFATTable(IStorageDevice* pDevice, uint64_t u64FAT1Start, int nFATType,
                                      uint32_t nSectorsPerFAT, bool bUseFAT1, bool bUseFAT2);

// Deletes through the virtual destructor; null is allowed.
void DeleteFATTable(IFATTable* pTable);
