#include "NTFSTreeBuilder.h"

#include <cinttypes>
#include <cstring>

#include "FileNode.h"
#include "FileRecordHolder.h"
#include "FileSystemNode.h"
#include "IStorageDevice.h"
#include "MFTFileRecordSet.h"
#include "MFTRecordInfo.h"
#include "NTFSDBR.h"
#include "NTFSDirectoryTreeAssembler.h"
#include "NTFSFileProperties.h"
#include "NTFSFileRecord.h"
#include "NTFSFileRecordItem.h"
#include "NTFSFullFileRecord.h"
#include "NTFSRecordMapping.h"
#include "NTFSVolumeLabelReader.h"
#include "ProgressRecord.h"
#include "Veskel.h"

namespace {

const size_t kBootBufferBytes = 4096;
const size_t kMinRecordBufferBytes = 8192;
// Records shorter than this are not tested for being protected system files.
const uint32_t kProtectedTestMinBytes = 1024;
// $Volume, which holds the label.
const uint64_t kVolumeRecordNumber = 3;

typedef std::vector<uint8_t, CEngineAllocator<uint8_t>> CByteBuffer;

// ullCluster x nSectorsPerCluster + ullStart, or NTFS_UNKNOWN_SECTOR when it does not fit.
uint64_t ClusterSector(uint64_t ullCluster, uint32_t nSectorsPerCluster, uint64_t ullStart)
{
    if (nSectorsPerCluster == 0 || ullCluster > (NTFS_UNKNOWN_SECTOR - 1 - ullStart) / nSectorsPerCluster)
        return NTFS_UNKNOWN_SECTOR;
    return ullCluster * nSectorsPerCluster + ullStart;
}

uint64_t RunSectors(uint64_t ullLength, uint32_t nSectorsPerCluster)
{
    return ullLength > UINT64_MAX / nSectorsPerCluster ? UINT64_MAX : ullLength * nSectorsPerCluster;
}

} // namespace

CNTFSTreeBuilder::CNTFSTreeBuilder()
    : m_pDevice(nullptr), m_nReserved(0), m_pRoot(nullptr), m_pProgress(nullptr), m_pnCancel(nullptr),
      m_pCurrentSet(nullptr)
{
}

CNTFSTreeBuilder::~CNTFSTreeBuilder()
{
    for (CMFTFileRecordSet* pSet : m_RecordSets)
        delete pSet;
}

void CNTFSTreeBuilder::SetProgress(SEARCH_PROGRESS* pProgress, CANCEL_FLAG* pnCancel)
{
    m_pProgress = pProgress;
    m_pnCancel = pnCancel;
}

CFileSystemNode* CNTFSTreeBuilder::BuildTree(uint64_t ullStartSector, IStorageDevice* pDevice, int32_t nReserved)
{
    m_pRoot = nullptr;
    m_pDevice = pDevice;
    m_nReserved = nReserved;
    if (pDevice == nullptr)
        return nullptr;
    // A device that cannot tell its size bounds nothing; its reads still fail past the end.
    uint64_t ullTotal = pDevice->GetTotalSectors();
    if (ullTotal == 0)
        ullTotal = UINT64_MAX;
    m_Partition.m_ullStartSector = ullStartSector;
    m_Partition.m_ullSectorCount = ullTotal > ullStartSector ? ullTotal - ullStartSector : 0;
    m_Partition.m_bySectorsPerCluster = 1;

    CByteBuffer boot(kBootBufferBytes, 0);
    if (!pDevice->ReadSectors(boot.data(), ullStartSector, 1))
        return nullptr;
    CNTFSDBR dbr;
    if (!dbr.SetIfValid(boot.data(), NTFS_SECTOR_BYTES))
        return nullptr;
    const uint32_t nRecordBytes = dbr.GetFileRecordSize();
    if (nRecordBytes == 0)
        return nullptr;
    m_Partition.m_bySectorsPerCluster = dbr.GetSectorsPerCluster();
    m_pRoot = BuildExistingVolume(nRecordBytes, dbr.GetMFTCluster(), dbr.GetMFTMirrCluster());
    return m_pRoot;
}

CMFTRecordInfo* CNTFSTreeBuilder::LocateMFT(uint64_t ullCluster, uint32_t nRecordBytes)
{
    const uint32_t nSectorsPerCluster = m_Partition.m_bySectorsPerCluster;
    const uint64_t ullStart = m_Partition.m_ullStartSector;
    const uint64_t ullSector = ClusterSector(ullCluster, nSectorsPerCluster, ullStart);
    const uint32_t nSectorsPerRecord = nRecordBytes / NTFS_SECTOR_BYTES;
    if (ullSector == NTFS_UNKNOWN_SECTOR || nSectorsPerRecord == 0)
        return nullptr;
    CByteBuffer record(nRecordBytes > kMinRecordBufferBytes ? nRecordBytes : kMinRecordBufferBytes, 0);
    if (!m_pDevice->ReadSectors(record.data(), ullSector, nSectorsPerRecord))
        return nullptr;
    if (!IsValidFileRecord(record.data(), nRecordBytes))
        return nullptr;
    {
        // A $MFT long enough for an attribute list may have its name moved to an extension
        // record (libntfs-3g does so): the record then shows itself as record 0 by its own number.
        const CFileRecordHolder holder(record.data(), nRecordBytes, false);
        const uint8_t* pName = holder.FindAttribute(NTFS_ATTR_FILE_NAME, 0);
        const bool bNamedElsewhere = pName == nullptr && holder.FindAttribute(NTFS_ATTR_ATTRIBUTE_LIST, 0) != nullptr &&
                                     holder.HasOwnRecordNumber() && holder.GetOwnRecordNumber() == 0;
        if (!bNamedElsewhere && (pName == nullptr || !FileNameEquals(pName, u"$MFT")))
            return nullptr;
    }
    CMFTRecordInfo* pInfo = nullptr;
    if (HasAttributeList(record.data(), nRecordBytes)) {
        LogInfo("MFT file record has 0x20 attribute, MFT start sector is %" PRIu64 "\n", ullSector);
        pInfo = new CMFTRecordInfo();
        if (!CollectMFTRunsAcrossExtensions(record.data(), nRecordBytes, ullStart, nSectorsPerCluster,
                                            nSectorsPerRecord, m_pDevice, &pInfo->m_Runs)) {
            delete pInfo;
            return nullptr;
        }
    } else {
        pInfo = CreateMFTRecordInfo(record.data(), nRecordBytes, ullSector);
        if (pInfo == nullptr)
            return nullptr;
    }
    // The boot sector, read first, is the authority on this volume's geometry.
    pInfo->m_bySectorsPerCluster = nSectorsPerCluster;
    pInfo->m_bySectorsPerRecord = static_cast<uint8_t>(nSectorsPerRecord);
    return pInfo;
}

void CNTFSTreeBuilder::ReadVolumeLabel(const CMFTRecordInfo& mft, uint32_t nRecordBytes, char* pszLabel)
{
    // Record 3 through $MFT's runs: the sixth sector after record 0 only for 1024-byte records
    // in an unfragmented start of $MFT.
    const uint32_t nSectorsPerRecord = nRecordBytes / NTFS_SECTOR_BYTES;
    const uint64_t ullSector = RecordNumberToSector(kVolumeRecordNumber, m_Partition.m_ullStartSector,
                                                    m_Partition.m_bySectorsPerCluster, mft.m_Runs, nSectorsPerRecord);
    if (ullSector == NTFS_UNKNOWN_SECTOR)
        return;
    CByteBuffer record(nRecordBytes, 0);
    if (!m_pDevice->ReadSectors(record.data(), ullSector, nSectorsPerRecord))
        return;
    GetVolumeNameFromFileRecord(record.data(), nRecordBytes, pszLabel);
}

CFileSystemNode* CNTFSTreeBuilder::BuildExistingVolume(uint32_t nRecordBytes, uint64_t ullMFTCluster,
                                                       uint64_t ullMirrCluster)
{
    ResetNTFSLostFilesCounter();
    CMFTRecordInfo* pMFT = LocateMFT(ullMFTCluster, nRecordBytes);
    if (pMFT == nullptr)
        pMFT = LocateMFT(ullMirrCluster, nRecordBytes);
    if (pMFT == nullptr)
        return nullptr;
    m_pCurrentSet = new CMFTFileRecordSet(pMFT);

    char szLabel[NTFS_VOLUME_LABEL_BUFFER] = {};
    ReadVolumeLabel(*pMFT, nRecordBytes, szLabel);

    bool bCancelled = false;
    const uint32_t nKept = ReadFileRecords(*pMFT, nRecordBytes, &bCancelled);

    if (m_pProgress != nullptr) {
        rvd::ProgressSetTitle(m_pProgress, "Phase 2 of 2");
        rvd::ProgressSetDetail(m_pProgress, "Building directory tree");
        rvd::ProgressSetPercent(m_pProgress, 0);
    }
    CNTFSDirectoryTreeAssembler assembler(m_pProgress, m_pnCancel, nKept);
    CFileNode* pTemporaryRoot = assembler.Assemble(m_pCurrentSet, m_Partition.m_ullStartSector);

    CFileSystemNode* pRoot =
        CreateNTFSVolumeRoot(m_Partition.m_ullStartSector, m_Partition.m_bySectorsPerCluster, 0, szLabel);
    MoveNTFSChildren(pTemporaryRoot, pRoot);
    // The items the nodes point to go with the record set.
    ClearNTFSItemLinks(pRoot);
    delete m_pCurrentSet;
    m_pCurrentSet = nullptr;
    delete pMFT;

    if (pRoot->GetFirstChild() == nullptr) {
        delete pRoot->GetProperties();
        DestroyFileSystemNode(pRoot);
        return nullptr;
    }
    return pRoot;
}

uint32_t CNTFSTreeBuilder::ReadFileRecords(const CMFTRecordInfo& mft, uint32_t nRecordBytes, bool* pbCancelled)
{
    *pbCancelled = false;
    const uint32_t nSectorsPerCluster = m_Partition.m_bySectorsPerCluster;
    const uint64_t ullStart = m_Partition.m_ullStartSector;
    const uint64_t ullDeviceSectors = m_Partition.m_ullStartSector + m_Partition.m_ullSectorCount;
    if (m_pProgress != nullptr) {
        rvd::ProgressSetTitle(m_pProgress, "Phase 1 of 2");
        rvd::ProgressSetDetail(m_pProgress, "Reading files...");
        rvd::ProgressSetStatus(m_pProgress, 0);
    }
    // $MFT cannot be larger than the volume: a damaged run list that claims more is read only
    // that far.
    const uint64_t ullLimit = m_Partition.m_ullSectorCount;
    uint64_t ullTotalSectors = 0;
    for (const NTFS_RUN* pRun : mft.m_Runs) {
        const uint64_t ullRun = RunSectors(pRun->ullLength, nSectorsPerCluster);
        ullTotalSectors = ullRun > ullLimit - ullTotalSectors ? ullLimit : ullTotalSectors + ullRun;
    }
    const uint64_t ullTotalChunks = ullTotalSectors / NTFS_MFT_CHUNK_SECTORS;

    CByteBuffer chunk(static_cast<size_t>(NTFS_MFT_CHUNK_SECTORS) * NTFS_SECTOR_BYTES, 0);
    uint64_t aullSectors[NTFS_MFT_CHUNK_SECTORS] = {};
    uint32_t nFilled = 0;
    uint64_t ullIndex = 0;      // $MFT data sector of the chunk's first sector
    uint64_t ullChunksDone = 0;
    uint32_t nKept = 0;

    auto flush = [&]() {
        nKept += ProcessChunk(chunk.data(), aullSectors, nFilled, ullIndex, mft, nRecordBytes);
        ullIndex += nFilled;
        nFilled = 0;
    };

    for (const NTFS_RUN* pRun : mft.m_Runs) {
        if (ullIndex + nFilled >= ullLimit)
            break;
        uint64_t ullLeft = RunSectors(pRun->ullLength, nSectorsPerCluster);
        if (ullLeft > ullLimit - ullIndex - nFilled)
            ullLeft = ullLimit - ullIndex - nFilled;
        uint64_t ullSector = pRun->llLcn < 0 ? NTFS_UNKNOWN_SECTOR
                                             : ClusterSector(static_cast<uint64_t>(pRun->llLcn), nSectorsPerCluster, ullStart);
        // Only what lies on the device is read; a sparse run or the part of a run past the
        // device's end holds no records, but the record numbers after it still count it.
        uint64_t ullOnDevice = 0;
        if (ullSector != NTFS_UNKNOWN_SECTOR && ullSector < ullDeviceSectors)
            ullOnDevice = ullDeviceSectors - ullSector < ullLeft ? ullDeviceSectors - ullSector : ullLeft;
        while (ullOnDevice > 0) {
            const uint32_t nPiece = static_cast<uint32_t>(
                ullOnDevice < NTFS_MFT_CHUNK_SECTORS - nFilled ? ullOnDevice : NTFS_MFT_CHUNK_SECTORS - nFilled);
            uint8_t* pTarget = chunk.data() + static_cast<size_t>(nFilled) * NTFS_SECTOR_BYTES;
            // A failed read must not leave the records of the previous chunk to be taken again
            // at these sectors.
            if (!m_pDevice->ReadSectors(pTarget, ullSector, nPiece))
                memset(pTarget, 0, static_cast<size_t>(nPiece) * NTFS_SECTOR_BYTES);
            for (uint32_t i = 0; i < nPiece; ++i)
                aullSectors[nFilled + i] = ullSector + i;
            nFilled += nPiece;
            ullSector += nPiece;
            ullOnDevice -= nPiece;
            ullLeft -= nPiece;
            if (nFilled == NTFS_MFT_CHUNK_SECTORS) {
                flush();
                ++ullChunksDone;
                if (m_pProgress != nullptr && ullTotalChunks >= 1) {
                    const uint64_t ullPercent = ullChunksDone * 100 / ullTotalChunks;
                    rvd::ProgressSetPercent(m_pProgress, static_cast<DWORD>(ullPercent > 100 ? 100 : ullPercent));
                }
                if (IsCancelRequested(m_pnCancel)) {
                    *pbCancelled = true;
                    return nKept;
                }
            }
        }
        if (ullLeft > 0) {
            if (nFilled > 0)
                flush();
            ullIndex += ullLeft;
        }
    }
    if (nFilled > 0)
        flush();
    return nKept;
}

uint32_t CNTFSTreeBuilder::ProcessChunk(uint8_t* pChunk, const uint64_t* pSectors, uint32_t nSectors,
                                        uint64_t ullFirstIndex, const CMFTRecordInfo& mft, uint32_t nRecordBytes)
{
    const uint32_t nSectorsPerRecord = nRecordBytes / NTFS_SECTOR_BYTES;
    const uint32_t nSectorsPerCluster = m_Partition.m_bySectorsPerCluster;
    const uint64_t ullStart = m_Partition.m_ullStartSector;
    uint32_t nKept = 0;
    // Records start at whole multiples of the record size in $MFT's data.
    uint32_t h = static_cast<uint32_t>((nSectorsPerRecord - ullFirstIndex % nSectorsPerRecord) % nSectorsPerRecord);
    for (; h + nSectorsPerRecord <= nSectors; h += nSectorsPerRecord) {
        uint8_t* pRecord = pChunk + static_cast<size_t>(h) * NTFS_SECTOR_BYTES;
        const uint64_t ullNumber = (ullFirstIndex + h) / nSectorsPerRecord;
        // Base records that are folders or not in use; the header fields read here lie before
        // the first fix-up.
        if (!IsFileRecordHeader(pRecord, nRecordBytes) || IsExtensionRecord(pRecord, nRecordBytes))
            continue;
        if (IsRecordInUse(pRecord, nRecordBytes) && !IsRecordDirectory(pRecord, nRecordBytes))
            continue;
        if (nRecordBytes >= kProtectedTestMinBytes) {
            const CFileRecordHolder holder(pRecord, nRecordBytes, false);
            if (IsProtectedSystemFile(holder))
                continue;
        }
        if (!IsValidFileRecord(pRecord, nRecordBytes))
            continue;
        const uint64_t ullSector = pSectors[h];
        CNTFSFileRecordItem* pItem = new CNTFSFileRecordItem();
        if (!pItem->SetFromRecord(pRecord, nRecordBytes, ullSector)) {
            delete pItem;
            continue;
        }
        pItem->m_ullRecordNumber = ullNumber;
        m_pCurrentSet->AddItem(pItem);
        ++nKept;

        CRecordLocationList* pExtensions = CollectExtensionRecords(pRecord, nRecordBytes, ullSector, ullStart,
                                                                   nSectorsPerCluster, mft.m_Runs, nSectorsPerRecord,
                                                                   m_pDevice);
        CNTFSFullFileRecord full;
        full.Open(pRecord, nRecordBytes, ullSector, m_pDevice, pExtensions);
        uint64_t ullParent = NTFS_NO_RECORD_NUMBER;
        const uint64_t ullClusterBytes = static_cast<uint64_t>(nSectorsPerCluster) * STORAGE_UNIT_BYTES;
        CNTFSFileProperties* pProperties = CreateNTFSFileProperties(ullSector, full, ullClusterBytes, &ullParent);
        if (pProperties != nullptr) {
            CompleteNTFSFileSize(pProperties, nSectorsPerCluster);
            pProperties->SetRecordExtents(pExtensions);
            pExtensions = nullptr;
            pItem->m_pProperties = pProperties;
            if (pItem->m_ullParentNumber == NTFS_NO_RECORD_NUMBER)
                pItem->m_ullParentNumber = ullParent;
        }
        delete pExtensions;
        full.Close();
    }
    return nKept;
}
