#include "NTFSVolumeLabelReader.h"

#include <cstring>
#include <string>
#include <vector>

#include "Charset.h"
#include "FileRecordHolder.h"
#include "IStorageDevice.h"
#include "NTFSBytes.h"
#include "NTFSDBR.h"
#include "NTFSFileRecord.h"

namespace {

const uint64_t kVolumeRecordNumber = 3;

// Length of the longest prefix of a UTF-8 text that fits nMax bytes without splitting a
// character.
size_t FitUtf8(const std::string& strText, size_t nMax)
{
    if (strText.size() <= nMax)
        return strText.size();
    size_t n = nMax;
    while (n > 0 && (static_cast<uint8_t>(strText[n]) & 0xC0) == 0x80)
        --n;
    return n;
}

} // namespace

void GetVolumeNameFromFileRecord(uint8_t* pRecord, size_t nLength, char* pszOut)
{
    if (pszOut == nullptr)
        return;
    const CFileRecordHolder holder(pRecord, nLength, false);
    if (!holder.IsValid() || !IsVolumeFileRecord(holder))
        return;
    const uint8_t* pAttr = holder.FindAttribute(NTFS_ATTR_VOLUME_NAME, 0);
    if (pAttr == nullptr)
        return;
    uint32_t nValueLength = 0;
    const uint8_t* pValue = GetResidentValue(pAttr, &nValueLength);
    if (pValue == nullptr)
        return;
    std::u16string units;
    for (uint32_t i = 0; i + 1 < nValueLength; i += 2)
        units += static_cast<char16_t>(ntfsbytes::U16(pValue + i));
    const std::string strName = rvd::Utf16ToUtf8(units, "_");
    const size_t nCopy = FitUtf8(strName, NTFS_VOLUME_LABEL_MAX_BYTES);
    std::memcpy(pszOut, strName.data(), nCopy);
    pszOut[nCopy] = 0;
}

bool CNTFSVolumeLabelReader::ReadVolumeLabel(uint64_t u64PartitionStart, const CNTFSDBR* pDBR, char* pszOut)
{
    if (m_pDevice == nullptr || pDBR == nullptr || pszOut == nullptr)
        return false;
    const uint64_t u64RecordBytes = pDBR->GetFileRecordSize();
    const uint64_t u64ClusterSectors = pDBR->GetSectorsPerCluster();
    const uint64_t u64MFTCluster = pDBR->GetMFTCluster();
    if (u64RecordBytes == 0 || u64ClusterSectors == 0)
        return false;
    // The $MFT cluster comes from disk: its sector must not wrap around.
    if (u64MFTCluster > (UINT64_MAX - u64PartitionStart) / u64ClusterSectors / 2)
        return false;
    // Record 3 lies at 3 record lengths into the first run of $MFT; with records smaller than a
    // sector it starts inside one.
    const uint64_t u64Offset = kVolumeRecordNumber * u64RecordBytes;
    const uint64_t u64Sector = u64PartitionStart + u64MFTCluster * u64ClusterSectors + u64Offset / NTFS_SECTOR_BYTES;
    const size_t nInSector = static_cast<size_t>(u64Offset % NTFS_SECTOR_BYTES);
    const uint64_t u64Sectors = (nInSector + u64RecordBytes + NTFS_SECTOR_BYTES - 1) / NTFS_SECTOR_BYTES;

    std::vector<uint8_t, CEngineAllocator<uint8_t>> buffer(static_cast<size_t>(u64Sectors) * NTFS_SECTOR_BYTES, 0);
    if (!m_pDevice->ReadSectors(buffer.data(), u64Sector, u64Sectors))
        return false;
    GetVolumeNameFromFileRecord(buffer.data() + nInSector, static_cast<size_t>(u64RecordBytes), pszOut);
    return true;
}
