#include "CarvingSearchMemo.h"

#include "CarvingChainMemo.h"

CCarvingSearchMemo::CCarvingSearchMemo() : m_ullKey(0), m_pDevice(nullptr), m_ullFrom(0), m_ullTo(0)
{
}

uint64_t CCarvingSearchMemo::Resume(const IStorageDevice* pDevice, uint64_t ullFrom)
{
    const uint64_t ullKey = CCarvingChainSession::KeyFor(pDevice);
    if (ullKey == 0 || ullKey != m_ullKey || pDevice != m_pDevice || ullFrom < m_ullFrom || ullFrom > m_ullTo)
        return ullFrom;
    return m_ullTo;
}

void CCarvingSearchMemo::Record(const IStorageDevice* pDevice, uint64_t ullFrom, uint64_t ullTo)
{
    const uint64_t ullKey = CCarvingChainSession::KeyFor(pDevice);
    if (ullKey == 0 || ullTo < ullFrom)
        return;
    const bool bContinues = ullKey == m_ullKey && pDevice == m_pDevice && ullFrom >= m_ullFrom && ullFrom <= m_ullTo;
    if (bContinues && ullTo < m_ullTo)
        return;  // knows less than what is remembered
    if (!bContinues) {
        m_ullKey = ullKey;
        m_pDevice = pDevice;
        m_ullFrom = ullFrom;
    }
    m_ullTo = ullTo;
}
