// Read-only raw access to the table's disks, floppies and volumes, and the disk stack's queries
// of an opened device (geometry, length, READ CAPACITY, storage descriptor, drive layout).
#include "DiskTableModel.h"
#include "ByteOrder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace rvdplat {

namespace {

using namespace disktable;

// Geometry MediaType and shape of a floppy by image size.
bool StandardFloppy(uint64_t qwSize, DWORD* pMedia, uint64_t* pC, DWORD* pH, DWORD* pS) {
    struct Shape {
        uint64_t qwSize;
        DWORD dwMedia;
        uint64_t c;
        DWORD h, s;
    };
    static const Shape kShapes[] = {
        {1474560, kMediaF3_1Pt44_512, 80, 2, 18}, {737280, kMediaF3_720_512, 80, 2, 9},
        {2949120, kMediaF3_2Pt88_512, 80, 2, 36}, {1228800, kMediaF5_1Pt2_512, 80, 2, 15},
        {368640, kMediaF5_360_512, 40, 2, 9},
    };
    for (const Shape& sh : kShapes) {
        if (sh.qwSize == qwSize) {
            *pMedia = sh.dwMedia;
            *pC = sh.c;
            *pH = sh.h;
            *pS = sh.s;
            return true;
        }
    }
    return false;
}

// READ CAPACITY(10) through the SCSI generic pass-through of a block device.
bool SgReadCapacity(int fd, SCSI_READ_CAPACITY* pCapacity) {
    unsigned char cdb[10] = {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    unsigned char data[8] = {0};
    unsigned char sense[32] = {0};
    sg_io_hdr_t io;
    memset(&io, 0, sizeof(io));
    io.interface_id = 'S';
    io.dxfer_direction = SG_DXFER_FROM_DEV;
    io.cmd_len = sizeof(cdb);
    io.cmdp = cdb;
    io.dxfer_len = sizeof(data);
    io.dxferp = data;
    io.mx_sb_len = sizeof(sense);
    io.sbp = sense;
    io.timeout = 4000;  // the same four seconds the pass-through request asks for
    if (ioctl(fd, SG_IO, &io) != 0) return false;
    if ((io.info & SG_INFO_OK_MASK) != SG_INFO_OK || io.resid != 0) {
        errno = EIO;
        return false;
    }
    pCapacity->dwLastLba = rvd::LoadBE32(data);
    pCapacity->dwBlockLength = rvd::LoadBE32(data + 4);
    return true;
}

} // namespace

using namespace disktable;

// ----- CRawDevice ------------------------------------------------------------------------------------

struct CRawDevice::CState {
    std::shared_ptr<const Table> pTable;
    const DriveRec* pDrive = nullptr;     // the disk or floppy whose bytes are read
    const VolumeRec* pVolume = nullptr;   // set for a letter volume on a disk
    int fd = -1;
    int nDiskNumber = -1;
    char chLetter = 0;
    bool bBlock = false;
    uint64_t qwDriveBytes = 0;            // size of the backing disk or floppy
    uint64_t qwWindowStart = 0;           // bytes; a volume's place on its disk
    uint64_t qwWindowBytes = 0;
    uint32_t dwSectorSize = 512;
    std::vector<std::pair<uint64_t, uint64_t>> badBytes;  // absolute byte spans on the drive, half-open

    ~CState() {
        if (fd >= 0) close(fd);
    }
};

CRawDevice::CRawDevice() = default;
CRawDevice::~CRawDevice() = default;
CRawDevice::CRawDevice(CRawDevice&& other) noexcept = default;
CRawDevice& CRawDevice::operator=(CRawDevice&& other) noexcept = default;

// Opens the backing file of a drive and learns its size and sector size.
struct CRawDeviceOpener {
    static std::unique_ptr<CRawDevice::CState> OpenDrive(std::shared_ptr<const Table> pTable, const DriveRec* pDrive) {
    auto p = std::make_unique<CRawDevice::CState>();
    if (pDrive->bOpenFail) {
        errno = EACCES;
        return nullptr;
    }
    // Read-only, always: there is no path in this layer by which a device byte could change.
    int fd = open(pDrive->strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    p->fd = fd;
    p->pTable = std::move(pTable);
    p->pDrive = pDrive;
    struct stat st;
    if (fstat(fd, &st) != 0) return nullptr;
    if (S_ISBLK(st.st_mode)) {
        p->bBlock = true;
        uint64_t qwBytes = 0;
        if (ioctl(fd, BLKGETSIZE64, &qwBytes) != 0) return nullptr;
        p->qwDriveBytes = qwBytes;
        int nSector = 0;
        p->dwSectorSize = (ioctl(fd, BLKSSZGET, &nSector) == 0 && nSector > 0) ? static_cast<uint32_t>(nSector) : 512;
    } else if (S_ISREG(st.st_mode)) {
        p->qwDriveBytes = static_cast<uint64_t>(st.st_size);
        p->dwSectorSize = 512;
    } else {
        errno = ENODEV;
        return nullptr;
    }
    if (pDrive->dwSectorSize) p->dwSectorSize = pDrive->dwSectorSize;
    for (const BadRange& r : pDrive->badRanges) {
        // Saturate rather than wrap: a range past 2^64 bytes simply reaches the end.
        uint64_t a = r.qwFirst > UINT64_MAX / p->dwSectorSize ? UINT64_MAX : r.qwFirst * p->dwSectorSize;
        uint64_t b = r.qwEnd > UINT64_MAX / p->dwSectorSize ? UINT64_MAX : r.qwEnd * p->dwSectorSize;
        p->badBytes.emplace_back(a, b);
    }
    p->qwWindowStart = 0;
    p->qwWindowBytes = p->qwDriveBytes;
    return p;
}
};

bool CRawDevice::OpenPhysicalDrive(int nDiskNumber) {
    Close();
    if (nDiskNumber < 0 || nDiskNumber >= kMaxPhysicalDrives) {
        errno = EINVAL;
        return false;
    }
    std::shared_ptr<const Table> pTable = CurrentTable();
    if (nDiskNumber >= static_cast<int>(pTable->disks.size())) {
        errno = ENODEV;
        return false;
    }
    const DriveRec* pDrive = &pTable->disks[nDiskNumber];
    std::unique_ptr<CState> p = CRawDeviceOpener::OpenDrive(pTable, pDrive);
    if (!p) return false;
    p->nDiskNumber = nDiskNumber;
    m_pState = std::move(p);
    return true;
}

bool CRawDevice::OpenVolume(char chDriveLetter) {
    Close();
    if (!IsLetter(chDriveLetter)) {
        errno = EINVAL;
        return false;
    }
    std::shared_ptr<const Table> pTable = CurrentTable();
    std::unique_ptr<CState> p;
    if (const DriveRec* pFloppy = FindFloppy(*pTable, chDriveLetter)) {
        p = CRawDeviceOpener::OpenDrive(pTable, pFloppy);
        if (!p) return false;
    } else {
        const VolumeRec* pVolume = FindVolumeByLetter(*pTable, chDriveLetter);
        if (!pVolume || !pVolume->bOnDisk || pVolume->entry.nDiskNumber >= static_cast<int>(pTable->disks.size())) {
            errno = ENODEV;
            return false;
        }
        p = CRawDeviceOpener::OpenDrive(pTable, &pTable->disks[pVolume->entry.nDiskNumber]);
        if (!p) return false;
        p->pVolume = pVolume;
        p->nDiskNumber = pVolume->entry.nDiskNumber;
        uint64_t qwStart = pVolume->entry.qwStartSector * kUnit;
        uint64_t qwBytes = pVolume->entry.qwSectorCount * kUnit;
        // A volume that runs past the end of its disk reads only what the disk holds.
        p->qwWindowStart = std::min(qwStart, p->qwDriveBytes);
        p->qwWindowBytes = std::min(qwBytes, p->qwDriveBytes - p->qwWindowStart);
    }
    p->chLetter = UpperLetter(chDriveLetter);
    m_pState = std::move(p);
    return true;
}

bool CRawDevice::OpenDevicePath(const std::string& strDevicePath) {
    const std::string strPrefix = "\\\\.\\";
    if (!StartsWithNoCase(strDevicePath, strPrefix)) {
        Close();
        errno = ENOENT;
        return false;
    }
    std::string strRest = strDevicePath.substr(strPrefix.size());
    if (strRest.size() == 2 && strRest[1] == ':') return OpenVolume(strRest[0]);
    if (StartsWithNoCase(strRest, "PHYSICALDRIVE")) {
        std::string strNumber = strRest.substr(13);
        uint64_t n = 0;
        if (!strNumber.empty() && std::all_of(strNumber.begin(), strNumber.end(), ::isdigit) &&
            ParseUnsigned(strNumber, &n) && n < static_cast<uint64_t>(kMaxPhysicalDrives))
            return OpenPhysicalDrive(static_cast<int>(n));
    }
    Close();
    errno = ENOENT;
    return false;
}

void CRawDevice::Close() { m_pState.reset(); }

bool CRawDevice::IsOpen() const { return m_pState && m_pState->fd >= 0; }

int64_t CRawDevice::ReadAt(uint64_t qwOffset, void* pBuffer, size_t nBytes) const {
    if (!IsOpen()) {
        errno = EBADF;
        return -1;
    }
    const CState& s = *m_pState;
    if (nBytes > static_cast<size_t>(INT64_MAX) || qwOffset > UINT64_MAX - nBytes) {
        errno = EINVAL;
        return -1;
    }
    if (qwOffset >= s.qwWindowBytes || nBytes == 0) return 0;
    uint64_t qwWant = std::min<uint64_t>(nBytes, s.qwWindowBytes - qwOffset);
    uint64_t qwAbs = s.qwWindowStart + qwOffset;
    for (const auto& r : s.badBytes) {
        // Half-open spans: touching an edge is no overlap.
        if (qwAbs < r.second && qwAbs + qwWant > r.first) {
            errno = EIO;
            return -1;
        }
    }
    uint8_t* pOut = static_cast<uint8_t*>(pBuffer);
    uint64_t qwDone = 0;
    while (qwDone < qwWant) {
        // One pread moves at most about 2 GiB; larger requests continue in the loop.
        size_t nChunk = static_cast<size_t>(std::min<uint64_t>(qwWant - qwDone, 1ull << 30));
        ssize_t n = pread(s.fd, pOut + qwDone, nChunk, static_cast<off_t>(qwAbs + qwDone));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;  // the backing file shrank since it was opened
        qwDone += static_cast<uint64_t>(n);
    }
    return static_cast<int64_t>(qwDone);
}

int CRawDevice::DiskNumber() const { return m_pState ? m_pState->nDiskNumber : -1; }

char CRawDevice::DriveLetter() const { return m_pState ? m_pState->chLetter : 0; }

const std::string& CRawDevice::BackingPath() const {
    static const std::string kNone;
    return m_pState && m_pState->pDrive ? m_pState->pDrive->strPath : kNone;
}

bool CRawDevice::GetGeometry(DISK_GEOMETRY* pGeometry) const {
    if (!IsOpen()) {
        errno = EBADF;
        return false;
    }
    const CState& s = *m_pState;
    const DriveRec& d = *s.pDrive;
    if (d.geometry.eAnswer == Answer::Fail) {
        errno = EIO;
        return false;
    }
    DISK_GEOMETRY g{};
    g.BytesPerSector = s.dwSectorSize;
    g.MediaType = kMediaFixed;
    bool bFloppy = d.chLetter != 0;
    if (bFloppy) {
        DWORD dwMedia = kMediaRemovable;
        uint64_t c = 0;
        DWORD h = 2, sec = 18;
        if (!StandardFloppy(s.qwDriveBytes, &dwMedia, &c, &h, &sec)) c = s.qwDriveBytes / (uint64_t(h) * sec * 512);
        g.MediaType = dwMedia;
        g.Cylinders = static_cast<LONGLONG>(c);
        g.TracksPerCylinder = h;
        g.SectorsPerTrack = sec;
    } else {
        DWORD h = kDefaultHeads, sec = kDefaultSectorsPerTrack;
        if (s.bBlock && d.geometry.eAnswer == Answer::Default) {
            hd_geometry hg{};
            if (ioctl(s.fd, HDIO_GETGEO, &hg) == 0 && hg.heads != 0 && hg.sectors != 0) {
                h = hg.heads;
                sec = hg.sectors;
            }
        }
        // HDIO_GETGEO's cylinder field is 16 bits wide; the count comes from the size instead.
        g.Cylinders = static_cast<LONGLONG>(s.qwDriveBytes / (uint64_t(h) * sec * s.dwSectorSize));
        g.TracksPerCylinder = h;
        g.SectorsPerTrack = sec;
    }
    if (d.geometry.eAnswer == Answer::Value) {
        g.Cylinders = static_cast<LONGLONG>(d.geometry.qwCylinders);
        g.TracksPerCylinder = d.geometry.dwHeads;
        g.SectorsPerTrack = d.geometry.dwSectors;
    }
    if (d.bMediaGiven) g.MediaType = d.dwMedia;
    *pGeometry = g;
    return true;
}

bool CRawDevice::GetLengthInfo(uint64_t* pqwLengthBytes) const {
    if (!IsOpen()) {
        errno = EBADF;
        return false;
    }
    const CState& s = *m_pState;
    if (s.pVolume || s.pDrive->chLetter) {  // a volume's own length
        *pqwLengthBytes = s.qwWindowBytes;
        return true;
    }
    if (s.pDrive->eLength == Answer::Fail) {
        errno = EIO;
        return false;
    }
    *pqwLengthBytes = s.pDrive->eLength == Answer::Value ? s.pDrive->qwLength : s.qwDriveBytes;
    return true;
}

bool CRawDevice::ScsiReadCapacity(int nTargetId, SCSI_READ_CAPACITY* pCapacity) const {
    if (!IsOpen()) {
        errno = EBADF;
        return false;
    }
    const CState& s = *m_pState;
    const DriveRec& d = *s.pDrive;
    if (nTargetId < 0 || nTargetId > 1 || d.chLetter) {  // floppies have no SCSI target
        errno = ENODEV;
        return false;
    }
    const ReadCapacityRule& rule = d.readCapacity[nTargetId];
    if (rule.eAnswer == Answer::Fail) {
        errno = EIO;
        return false;
    }
    if (rule.eAnswer == Answer::Value) {
        pCapacity->dwLastLba = rule.value.dwLastLba;
        pCapacity->dwBlockLength = rule.bBlockGiven ? rule.value.dwBlockLength : s.dwSectorSize;
        return true;
    }
    // The disk's own class driver fills in the address, so both target ids reach the same drive.
    if (s.bBlock && !d.bFromTable) return SgReadCapacity(s.fd, pCapacity);
    uint64_t qwLength = d.eLength == Answer::Value ? d.qwLength : s.qwDriveBytes;
    uint64_t qwBlocks = qwLength / s.dwSectorSize;
    if (qwBlocks == 0) {
        errno = EIO;
        return false;
    }
    // READ CAPACITY(10) reports 0xFFFFFFFF when the last block does not fit in 32 bits.
    pCapacity->dwLastLba = qwBlocks - 1 > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(qwBlocks - 1);
    pCapacity->dwBlockLength = s.dwSectorSize;
    return true;
}

bool CRawDevice::GetStorageDescriptor(STORAGE_DESCRIPTOR_INFO* pDescriptor) const {
    if (!IsOpen()) {
        errno = EBADF;
        return false;
    }
    const CState& s = *m_pState;
    const DriveRec& d = *s.pDrive;
    if (d.bDescriptorFail || d.chLetter) {
        errno = EIO;
        return false;
    }
    if (d.bDescriptorGiven) {
        *pDescriptor = d.descriptor;
        return true;
    }
    if (s.bBlock && SysDescriptor(d.strPath, pDescriptor)) return true;
    STORAGE_DESCRIPTOR_INFO info;
    std::string strName = d.strPath.substr(d.strPath.rfind('/') + 1);
    info.strProductId = strName.substr(0, 40);
    *pDescriptor = info;
    return true;
}

bool CRawDevice::GetDriveLayout(DriveLayoutForm eForm, std::vector<LAYOUT_PARTITION>* pPartitions) const {
    if (!IsOpen()) {
        errno = EBADF;
        return false;
    }
    const CState& s = *m_pState;
    if (s.pVolume || s.pDrive->chLetter || s.nDiskNumber < 0) {  // only whole disks have a layout
        errno = ENOTTY;
        return false;
    }
    bool bAnswers = eForm == DriveLayoutForm::Ex ? s.pDrive->bLayoutEx : s.pDrive->bLayoutLegacy;
    if (!bAnswers) {
        errno = ENOTTY;
        return false;
    }
    std::vector<LAYOUT_PARTITION> parts;
    for (const VolumeRec& v : s.pTable->volumes) {
        if (!v.bOnDisk || v.entry.nDiskNumber != s.nDiskNumber) continue;
        LAYOUT_PARTITION p;
        p.qwStartingOffset = v.entry.qwStartSector * kUnit;
        p.qwPartitionLength = v.entry.qwSectorCount * kUnit;
        p.dwPartitionNumber = v.entry.dwPartitionNumber;
        parts.push_back(p);
    }
    *pPartitions = parts;
    return true;
}

DWORD CRawDevice::QueryDriveLayoutBytes(DWORD dwIoctlCode, void* pOut, DWORD nOutSize, DWORD* pdwNeeded) const {
    if (pdwNeeded) *pdwNeeded = 0;
    if (!IsOpen()) return kWinErrInvalidHandle;
    DriveLayoutForm eForm;
    if (dwIoctlCode == kIoctlDiskGetDriveLayoutEx) eForm = DriveLayoutForm::Ex;
    else if (dwIoctlCode == kIoctlDiskGetDriveLayout) eForm = DriveLayoutForm::Legacy;
    else return kWinErrInvalidFunction;
    std::vector<LAYOUT_PARTITION> parts;
    if (!GetDriveLayout(eForm, &parts)) return kWinErrInvalidFunction;
    const uint64_t qwHeader = eForm == DriveLayoutForm::Ex ? 48 : 8;
    const uint64_t qwEntry = eForm == DriveLayoutForm::Ex ? 144 : 32;
    uint64_t qwNeeded = qwHeader + qwEntry * parts.size();
    if (pdwNeeded) *pdwNeeded = static_cast<DWORD>(qwNeeded);
    if (!pOut || nOutSize < qwNeeded) return kWinErrInsufficientBuffer;
    uint8_t* p = static_cast<uint8_t*>(pOut);
    memset(p, 0, static_cast<size_t>(qwNeeded));
    if (eForm == DriveLayoutForm::Ex) {
        rvd::StoreLE32(p + 0, 0);  // partition style: MBR
        rvd::StoreLE32(p + 4, static_cast<uint32_t>(parts.size()));
        for (size_t i = 0; i < parts.size(); ++i) {
            uint8_t* e = p + qwHeader + qwEntry * i;
            rvd::StoreLE64(e + 8, parts[i].qwStartingOffset);
            rvd::StoreLE64(e + 16, parts[i].qwPartitionLength);
            rvd::StoreLE32(e + 24, parts[i].dwPartitionNumber);
        }
    } else {
        rvd::StoreLE32(p + 0, static_cast<uint32_t>(parts.size()));
        for (size_t i = 0; i < parts.size(); ++i) {
            uint8_t* e = p + qwHeader + qwEntry * i;
            rvd::StoreLE64(e + 0, parts[i].qwStartingOffset);
            rvd::StoreLE64(e + 8, parts[i].qwPartitionLength);
            rvd::StoreLE32(e + 16, static_cast<uint32_t>(parts[i].qwStartingOffset / kUnit));  // hidden sectors
            rvd::StoreLE32(e + 20, parts[i].dwPartitionNumber);
            e[26] = 1;  // recognised partition
        }
    }
    return kWinErrSuccess;
}

bool QueryStorageDescriptor(int nDiskNumber, STORAGE_DESCRIPTOR_INFO* pDescriptor) {
    CRawDevice dev;
    return dev.OpenPhysicalDrive(nDiskNumber) && dev.GetStorageDescriptor(pDescriptor);
}

std::string BusTypeName(DWORD dwBusType) {
    switch (dwBusType) {
    case 1: return "SCSI Disk Device";
    case 2: return "ATAPI Bus";
    case 3: return "ATA Bus";
    case 4: return "1394 Disk Device";
    case 5: return "SSA Disk Device";
    case 6: return "FIBER Disk Device";
    case 7: return "USB Device";
    case 8: return "RAID Disk Device";
    default: return std::string();
    }
}

} // namespace rvdplat
