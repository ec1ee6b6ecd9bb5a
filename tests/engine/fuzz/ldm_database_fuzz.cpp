// Fuzz target for the dynamic-disk database: the input is a database area (VBLK blocks), parsed
// and linked on its own, and then read as the database of a disk in memory whose private header
// points at it, so that the volumes it describes are built and read. Whatever the input, nothing
// may read past a record or a buffer, loop, or allocate more than the area's size.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "DynamicVolumeDevice.h"
#include "LdmDatabase.h"
#include "LdmDatabaseReader.h"

namespace {

const uint64_t kDatabaseStart = 64;
const uint64_t kDiskSectors = kDatabaseStart + LDM_DATABASE_SECTORS + 2;

// A disk whose sector 6 is a private header naming the database at sector 64, which holds the
// input; every other sector reads as zeros, and sectors past the end fail.
class CFuzzDisk : public IStorageDevice {
public:
    CFuzzDisk(const uint8_t* pData, size_t nSize) : m_Area(pData, pData + std::min<size_t>(nSize, LDM_DATABASE_SECTORS * 512))
    {
        memset(m_aHeader, 0, sizeof(m_aHeader));
        memcpy(m_aHeader, "PRIVHEAD", 8);
        // The first member of the fixture's GPT set: the seeds made from its first 64 KiB hold
        // its database, whose volumes on this disk are then built and read.
        memcpy(m_aHeader + 48, "5241564e-444b-0001-8000-000000000001", 36);
        memcpy(m_aHeader + 240, "FuzzDg0", 7);
        m_aHeader[283 + 7] = 0;                                   // logical disk start 0
        m_aHeader[299 + 7] = static_cast<uint8_t>(kDatabaseStart);
    }
    int ReadSectors(void* pBuffer, uint64_t u64Start, uint64_t u64Count) override
    {
        if (u64Count > kDiskSectors)
            return 0;
        memset(pBuffer, 0, u64Count * 512);
        if (u64Start >= kDiskSectors || u64Count > kDiskSectors - u64Start)
            return 0;
        uint8_t* pOut = static_cast<uint8_t*>(pBuffer);
        for (uint64_t i = 0; i < u64Count; ++i) {
            const uint64_t u64Sector = u64Start + i;
            if (u64Sector == 6)
                memcpy(pOut + i * 512, m_aHeader, 512);
            if (u64Sector >= kDatabaseStart) {
                const uint64_t u64Byte = (u64Sector - kDatabaseStart) * 512;
                if (u64Byte < m_Area.size())
                    memcpy(pOut + i * 512, m_Area.data() + u64Byte, std::min<size_t>(512, m_Area.size() - u64Byte));
            }
        }
        return 1;
    }
    uint64_t GetTotalSectors() override { return kDiskSectors; }
    int GetSectorSize() override { return 512; }
    int Open() override { return 1; }
    int Close() override { return 1; }

private:
    std::vector<uint8_t> m_Area;
    uint8_t m_aHeader[512];
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    {
        CLdmDatabase database;
        database.Load(pData, nSize);
        for (const LDM_VOLUME_RECORD& volume : database.Volumes())
            IsBuildableLdmVolume(volume);
        LDM_PRIVATE_HEADER header;
        ReadLdmPrivateHeader(pData, nSize, &header);
    }
    {
        CFuzzDisk disk(pData, nSize);
        CLdmDiskList disks;
        disks.push_back(&disk);
        disks.push_back(&disk);
        CLdmDatabaseReader reader;
        CDynamicVolumeInfoList volumes;
        reader.ReadDynamicVolumes(disks, volumes);
        static uint8_t aBuffer[300 * 512];
        for (DYNAMIC_VOLUME_INFO* pInfo : volumes) {
            IDynamicDevice* pDevice = pInfo->pDevice;
            const uint64_t u64Total = pDevice->GetTotalSectors();
            pDevice->ReadSectors(aBuffer, 0, std::min<uint64_t>(300, u64Total));
            if (u64Total > 300)
                pDevice->ReadSectors(aBuffer, u64Total - 150, 300);
            CLdmExtentList members;
            pDevice->GetMembers(members);
        }
        FreeDynamicVolumeInfos(volumes, true);
    }
    return 0;
}
