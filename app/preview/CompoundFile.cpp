#include "CompoundFile.h"

#include <QFile>

#include <cstring>

#include "ByteOrder.h"

namespace {
const uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
const uint32_t kHeaderSize = 512;
const uint32_t kMaxRegularSector = 0xFFFFFFFA;
const uint32_t kEndOfChain = 0xFFFFFFFE;
const uint32_t kFreeSector = 0xFFFFFFFF;
const uint32_t kNoEntry = 0xFFFFFFFF;
const uint32_t kHeaderFatSlots = 109;
const uint32_t kEntrySize = 128;

// Header fields.
const size_t kOffMajorVersion = 0x1A;
const size_t kOffByteOrder = 0x1C;
const size_t kOffSectorShift = 0x1E;
const size_t kOffFatSectors = 0x2C;
const size_t kOffFirstDirSector = 0x30;
const size_t kOffFirstDifatSector = 0x44;
const size_t kOffDifatSectors = 0x48;
const size_t kOffHeaderFat = 0x4C;

// Directory entry fields.
const size_t kOffNameLength = 0x40;
const size_t kOffType = 0x42;
const size_t kOffLeft = 0x44;
const size_t kOffRight = 0x48;
const size_t kOffChild = 0x4C;
} // namespace

bool CCompoundFile::Open(const QString& strPath)
{
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const bool bOpen = Open(&file);
    m_pDevice = nullptr;
    return bOpen;
}

bool CCompoundFile::Open(QIODevice* pDevice)
{
    m_bOpen = false;
    m_vecFat.clear();
    m_vecEntries.clear();
    m_pDevice = pDevice;
    m_ullFileSize = static_cast<uint64_t>(pDevice->size());
    if (m_ullFileSize < kHeaderSize || !pDevice->seek(0))
        return false;
    uint8_t header[kHeaderSize];
    if (pDevice->read(reinterpret_cast<char*>(header), kHeaderSize) != kHeaderSize)
        return false;
    if (std::memcmp(header, kSignature, sizeof(kSignature)) != 0 || rvd::LoadLE16(header + kOffByteOrder) != 0xFFFE)
        return false;
    // Version 3 files use 512-byte sectors, version 4 files 4096-byte ones; nothing else exists.
    const uint16_t wMajor = rvd::LoadLE16(header + kOffMajorVersion);
    const uint16_t wShift = rvd::LoadLE16(header + kOffSectorShift);
    if (!((wMajor == 3 && wShift == 9) || (wMajor == 4 && wShift == 12)))
        return false;
    m_dwSectorSize = 1u << wShift;
    // Sector n lies at (n + 1) * size: the header takes the place of sector -1. Only whole
    // sectors inside the file count; a cut last sector is not read.
    const uint64_t ullSectors = m_ullFileSize / m_dwSectorSize;
    if (ullSectors < 2)
        return false;
    m_dwSectorCount = static_cast<uint32_t>(std::min<uint64_t>(ullSectors - 1, kMaxRegularSector + 1ull));
    if (!ReadAllocationTable(header) || !ReadDirectory(rvd::LoadLE32(header + kOffFirstDirSector)))
        return false;
    if (m_vecEntries.isEmpty() || m_vecEntries[0].nType != TYPE_ROOT)
        return false;
    m_bOpen = true;
    return true;
}

bool CCompoundFile::ReadSector(uint32_t dwSector, QByteArray* pOut)
{
    if (dwSector >= m_dwSectorCount)
        return false;
    const qint64 llOffset = static_cast<qint64>((static_cast<uint64_t>(dwSector) + 1) * m_dwSectorSize);
    pOut->resize(static_cast<int>(m_dwSectorSize));
    return m_pDevice->seek(llOffset) && m_pDevice->read(pOut->data(), m_dwSectorSize) == m_dwSectorSize;
}

bool CCompoundFile::ReadAllocationTable(const uint8_t* pHeader)
{
    // The table's own sectors are listed by the header's 109 slots, then by the chain of extra
    // list sectors. Their count cannot exceed the sectors the file holds.
    const uint32_t dwFatSectors = rvd::LoadLE32(pHeader + kOffFatSectors);
    if (dwFatSectors == 0 || dwFatSectors > m_dwSectorCount)
        return false;
    QVector<uint32_t> vecFatSectors;
    vecFatSectors.reserve(static_cast<int>(dwFatSectors));
    for (uint32_t i = 0; i < kHeaderFatSlots && static_cast<uint32_t>(vecFatSectors.size()) < dwFatSectors; ++i)
        vecFatSectors.append(rvd::LoadLE32(pHeader + kOffHeaderFat + 4 * i));
    uint32_t dwDifat = rvd::LoadLE32(pHeader + kOffFirstDifatSector);
    uint32_t dwDifatLeft = rvd::LoadLE32(pHeader + kOffDifatSectors);
    const uint32_t dwSlotsPerDifat = m_dwSectorSize / 4 - 1; // the last slot links to the next
    QByteArray sector;
    while (static_cast<uint32_t>(vecFatSectors.size()) < dwFatSectors) {
        if (dwDifatLeft == 0 || dwDifat > kMaxRegularSector || !ReadSector(dwDifat, &sector))
            return false;
        --dwDifatLeft; // bounds the walk: a looping chain runs out of its stated length
        const uint8_t* p = reinterpret_cast<const uint8_t*>(sector.constData());
        for (uint32_t i = 0; i < dwSlotsPerDifat && static_cast<uint32_t>(vecFatSectors.size()) < dwFatSectors; ++i)
            vecFatSectors.append(rvd::LoadLE32(p + 4 * i));
        dwDifat = rvd::LoadLE32(p + 4 * dwSlotsPerDifat);
    }
    const uint32_t dwPerSector = m_dwSectorSize / 4;
    for (uint32_t dwFatSector : vecFatSectors) {
        if (dwFatSector > kMaxRegularSector || !ReadSector(dwFatSector, &sector))
            return false;
        const uint8_t* p = reinterpret_cast<const uint8_t*>(sector.constData());
        for (uint32_t i = 0; i < dwPerSector; ++i)
            m_vecFat.append(rvd::LoadLE32(p + 4 * i));
    }
    return true;
}

bool CCompoundFile::ReadDirectory(uint32_t dwFirst)
{
    QByteArray sector;
    uint32_t dwSector = dwFirst;
    // A chain cannot be longer than the file has sectors; a longer walk is a loop.
    for (uint32_t nSteps = 0; dwSector != kEndOfChain; ++nSteps) {
        if (nSteps >= m_dwSectorCount || dwSector > kMaxRegularSector
            || dwSector >= static_cast<uint32_t>(m_vecFat.size()) || !ReadSector(dwSector, &sector))
            return false;
        const uint8_t* p = reinterpret_cast<const uint8_t*>(sector.constData());
        for (uint32_t nOff = 0; nOff + kEntrySize <= m_dwSectorSize; nOff += kEntrySize) {
            const uint8_t* e = p + nOff;
            Entry entry;
            entry.nType = e[kOffType];
            entry.dwLeft = rvd::LoadLE32(e + kOffLeft);
            entry.dwRight = rvd::LoadLE32(e + kOffRight);
            entry.dwChild = rvd::LoadLE32(e + kOffChild);
            // The stored length counts bytes with the terminating NUL; 64 bytes at most.
            const uint16_t wNameBytes = rvd::LoadLE16(e + kOffNameLength);
            if (wNameBytes >= 2 && wNameBytes <= 64 && wNameBytes % 2 == 0) {
                const int nChars = wNameBytes / 2 - 1;
                entry.strName.reserve(nChars);
                for (int i = 0; i < nChars; ++i)
                    entry.strName.append(QChar(rvd::LoadLE16(e + 2 * i)));
            }
            m_vecEntries.append(entry);
        }
        dwSector = m_vecFat[static_cast<int>(dwSector)];
    }
    return true;
}

bool CCompoundFile::HasRootStream(const QString& strName) const
{
    if (!m_bOpen)
        return false;
    // The root's children form a binary tree through their left and right links. Every index is
    // checked, and each entry is visited once, so a damaged tree that links back ends the walk.
    const int nEntries = m_vecEntries.size();
    QVector<bool> vecSeen(nEntries, false);
    QVector<uint32_t> vecTodo{m_vecEntries[0].dwChild};
    while (!vecTodo.isEmpty()) {
        const uint32_t dwId = vecTodo.takeLast();
        if (dwId == kNoEntry || dwId >= static_cast<uint32_t>(nEntries) || vecSeen[static_cast<int>(dwId)])
            continue;
        vecSeen[static_cast<int>(dwId)] = true;
        const Entry& entry = m_vecEntries[static_cast<int>(dwId)];
        if (entry.nType == TYPE_STREAM && entry.strName.compare(strName, Qt::CaseInsensitive) == 0)
            return true;
        vecTodo.append(entry.dwLeft);
        vecTodo.append(entry.dwRight);
    }
    return false;
}
