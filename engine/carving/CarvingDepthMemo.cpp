#include "CarvingDepthMemo.h"

#include <algorithm>

#include "CarvingChainMemo.h"

CCarvingDepthMemo::CCarvingDepthMemo() : m_ullKey(0), m_pDevice(nullptr), m_bRecording(false), m_llOffset(0) {}

void CCarvingDepthMemo::Begin(const IStorageDevice* pDevice, uint64_t ullFirst, uint64_t ullLast, uint64_t* pullPos,
                              int64_t* pllDepth)
{
    *pullPos = ullFirst;
    *pllDepth = 1;
    m_bRecording = false;
    const uint64_t ullKey = CCarvingChainSession::KeyFor(pDevice);
    if (ullKey == 0)
        return;
    if (ullKey == m_ullKey && pDevice == m_pDevice && !m_Checks.empty()) {
        auto it = std::lower_bound(m_Checks.begin(), m_Checks.end(), ullFirst,
                                   [](const CHECK& check, uint64_t ullPos) { return check.ullPos < ullPos; });
        if (it != m_Checks.end() && it->ullPos == ullFirst) {
            const size_t nFirst = static_cast<size_t>(it - m_Checks.begin());
            // The stretch where the hit's depth first reaches 0, and the last check within its limit.
            size_t nResume = std::min(it->nStop, m_Checks.size() - 1);
            auto limit = std::upper_bound(m_Checks.begin() + nFirst, m_Checks.end(), ullLast,
                                          [](uint64_t ullPos, const CHECK& check) { return ullPos < check.ullPos; });
            nResume = std::min(nResume, static_cast<size_t>(limit - m_Checks.begin()) - 1);
            *pullPos = m_Checks[nResume].ullPos;
            *pllDepth = 1 + m_Checks[nResume].llLevel - it->llLevel;
            if (nResume + 1 == m_Checks.size()) {
                // The hit walks on from the last position: its walk extends the remembered one.
                m_bRecording = true;
                m_llOffset = m_Checks[nResume].llLevel - *pllDepth;
            }
            return;
        }
    }
    // A walk of its own: it is remembered instead of the last one.
    m_ullKey = ullKey;
    m_pDevice = pDevice;
    m_Checks.clear();
    m_Open.clear();
    m_bRecording = true;
    m_llOffset = 0;
}

void CCarvingDepthMemo::AddCheck(uint64_t ullPos, int64_t llDepth)
{
    if (m_Checks.size() >= MAX_CHECKS) {
        m_bRecording = false;
        return;
    }
    m_Checks.push_back({ullPos, llDepth + m_llOffset, SIZE_MAX});
    m_Open.push_back(m_Checks.size() - 1);
}

void CCarvingDepthMemo::Resolve(int64_t llLevel)
{
    // The depth moves by one: the open checks stand in rising depth, and a fall to llLevel ends
    // every hit whose own depth 1 stood at a level above it, in the stretch of the last check.
    while (!m_Open.empty() && m_Checks[m_Open.back()].llLevel - 1 >= llLevel) {
        m_Checks[m_Open.back()].nStop = m_Checks.size() - 1;
        m_Open.pop_back();
    }
}
