#include "SectorWindowReader.h"

#include <cstring>

#include "BufferStorageDevice.h"
#include "CarvingRingView.h"
#include "IStorageDevice.h"

namespace {

alignas(64) uint8_t s_WindowBuffer[SectorWindowReader::BUFFER_BYTES];
// Counts loads of the buffer; a reader's window is the buffer's content only while the count is
// the one it loaded at.
uint64_t s_ullBufferGeneration = 0;

} // namespace

SectorWindowReader::SectorWindowReader(IStorageDevice* pDevice, uint64_t ullBaseSector)
    : m_pDevice(pDevice), m_ullBaseSector(ullBaseSector), m_pWindow(s_WindowBuffer), m_ullWindowOffset(0), m_nValid(0),
      m_nWindowBytes(0), m_nGrowSectors(FIRST_WINDOW_SECTORS), m_ullGeneration(0)
{
}

bool SectorWindowReader::HoldsWindow() const
{
    return m_ullGeneration != 0 && m_ullGeneration == s_ullBufferGeneration;
}

uint64_t SectorWindowReader::DeviceEndSector()
{
    // The ring of recent runs (and the view the scan measures through) counts the sectors it
    // holds, not its last sector + 1.
    if (CBufferStorageDevice* pRing = dynamic_cast<CBufferStorageDevice*>(m_pDevice))
        return pRing->GetWindowEnd();
    if (CCarvingRingView* pView = dynamic_cast<CCarvingRingView*>(m_pDevice))
        return pView->GetWindowEnd();
    return m_pDevice->GetTotalSectors();
}

uint32_t SectorWindowReader::NextWindowSectors()
{
    const uint32_t nSectors = m_nGrowSectors;
    m_nGrowSectors = m_nGrowSectors >= WINDOW_SECTORS / 2 ? WINDOW_SECTORS : 2 * m_nGrowSectors;
    return nSectors;
}

bool SectorWindowReader::Load(uint64_t ullRelSector, uint32_t nSectors)
{
    // Whatever happens below, the buffer no longer holds any reader's window.
    ++s_ullBufferGeneration;
    m_ullGeneration = 0;
    if (m_pDevice == nullptr || nSectors < 2 || nSectors > BUFFER_SECTORS || ullRelSector > UINT64_MAX / 512 ||
        m_ullBaseSector > UINT64_MAX - ullRelSector)
        return false;
    const uint64_t ullFirst = m_ullBaseSector + ullRelSector;
    const size_t nBytes = static_cast<size_t>(nSectors) * 512;
    size_t nValid = 0;
    m_pWindow = s_WindowBuffer;
    // The scan's view holds its runs in memory: a window that lies in one piece of it is read
    // there in place, without a copy.
    CCarvingRingView* pView = dynamic_cast<CCarvingRingView*>(m_pDevice);
    const uint8_t* pInPlace =
        pView != nullptr && ullFirst <= UINT64_MAX - nSectors ? pView->PeekSectors(ullFirst, nSectors) : nullptr;
    if (pInPlace != nullptr) {
        m_pWindow = pInPlace;
        nValid = nBytes;
    } else if (ullFirst <= UINT64_MAX - nSectors && m_pDevice->ReadSectors(s_WindowBuffer, ullFirst, nSectors) != 0) {
        nValid = nBytes;
    } else if (pView != nullptr && pView->NeedsMore()) {
        // The view cannot answer yet; this measurement is thrown away and made again later.
        return false;
    } else {
        // Near the device's end: read what is left, and zero what lies behind it.
        memset(s_WindowBuffer, 0, nBytes);
        const uint64_t ullEnd = DeviceEndSector();
        if (ullFirst >= ullEnd)
            return false;
        const uint64_t ullCount = ullEnd - ullFirst < nSectors ? ullEnd - ullFirst : nSectors;
        if (ullCount == nSectors || m_pDevice->ReadSectors(s_WindowBuffer, ullFirst, ullCount) == 0) {
            memset(s_WindowBuffer, 0, nBytes);
            return false;
        }
        nValid = static_cast<size_t>(ullCount) * 512;
    }
    m_ullWindowOffset = ullRelSector * 512;
    m_nValid = nValid;
    m_nWindowBytes = nBytes - 512;
    m_ullGeneration = s_ullBufferGeneration;
    return true;
}

const uint8_t* SectorWindowReader::Read(uint64_t ullOffset, size_t* pnValid, size_t* pnWindow)
{
    if (!HoldsWindow() || ullOffset < m_ullWindowOffset || ullOffset - m_ullWindowOffset >= m_nWindowBytes) {
        if (!Load(ullOffset / 512, NextWindowSectors() + 1))
            return nullptr;
    }
    const uint64_t ullRel = ullOffset - m_ullWindowOffset;
    if (ullRel >= m_nValid)
        return nullptr;
    if (pnValid != nullptr)
        *pnValid = m_nValid - static_cast<size_t>(ullRel);
    if (pnWindow != nullptr)
        *pnWindow = ullRel < m_nWindowBytes ? m_nWindowBytes - static_cast<size_t>(ullRel) : 1;
    return m_pWindow + ullRel;
}

const uint8_t* SectorWindowReader::ReadSpan(uint64_t ullOffset, size_t nLength)
{
    if (nLength > WINDOW_BYTES || ullOffset > UINT64_MAX - nLength)
        return nullptr;
    const bool bInside = HoldsWindow() && ullOffset >= m_ullWindowOffset &&
                         ullOffset - m_ullWindowOffset <= m_nValid &&
                         nLength <= m_nValid - (ullOffset - m_ullWindowOffset);
    if (!bInside) {
        // The span's sectors, and at least a window of the growing size and the sector after it.
        const uint64_t ullNeeded = (ullOffset % 512 + nLength + 511) / 512;
        uint64_t ullSectors = static_cast<uint64_t>(NextWindowSectors()) + 1;
        if (ullSectors < ullNeeded)
            ullSectors = ullNeeded;
        if (ullSectors > BUFFER_SECTORS)
            ullSectors = BUFFER_SECTORS;
        if (!Load(ullOffset / 512, static_cast<uint32_t>(ullSectors)))
            return nullptr;
    }
    const uint64_t ullRel = ullOffset - m_ullWindowOffset;
    if (ullRel > m_nValid || nLength > m_nValid - ullRel || (nLength == 0 && ullRel >= m_nValid))
        return nullptr;
    return m_pWindow + ullRel;
}
