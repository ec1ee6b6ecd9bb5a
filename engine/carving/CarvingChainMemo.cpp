#include "CarvingChainMemo.h"

#include <algorithm>

namespace {

// Length measurements run one after the other on one thread (as the window reader's buffer).
const IStorageDevice* s_pSessionDevice = nullptr;
uint64_t s_ullSessionKey = 0;
uint64_t s_ullLastKey = 0;
bool s_bDisabled = false;

} // namespace

CCarvingChainSession::CCarvingChainSession(const IStorageDevice* pDevice, uint64_t ullKey)
    : m_pSavedDevice(s_pSessionDevice), m_ullSavedKey(s_ullSessionKey)
{
    s_pSessionDevice = pDevice;
    s_ullSessionKey = ullKey;
}

CCarvingChainSession::~CCarvingChainSession()
{
    s_pSessionDevice = m_pSavedDevice;
    s_ullSessionKey = m_ullSavedKey;
}

uint64_t CCarvingChainSession::NewKey() { return ++s_ullLastKey; }

uint64_t CCarvingChainSession::KeyFor(const IStorageDevice* pDevice)
{
    return !s_bDisabled && pDevice != nullptr && pDevice == s_pSessionDevice ? s_ullSessionKey : 0;
}

void CCarvingChainSession::SetDisabled(bool bDisabled) { s_bDisabled = bDisabled; }

CCarvingChainMemo::CCarvingChainMemo() : m_ullUseCount(0)
{
    for (CHAIN& chain : m_Chains) {
        chain.ullKey = 0;
        chain.pDevice = nullptr;
        chain.ullStop = 0;
        chain.bEnded = false;
        chain.bWalking = false;
        chain.ullUsed = 0;
    }
}

CCarvingChainWalk::CCarvingChainWalk(CCarvingChainMemo* pMemo, const IStorageDevice* pDevice, uint64_t ullStartSector)
    : m_pMemo(pMemo), m_pDevice(pDevice), m_ullKey(CCarvingChainSession::KeyFor(pDevice)),
      m_ullStart(ullStartSector * 512), m_pChain(nullptr)
{
    // A start whose byte address does not fit is walked without the memo.
    if (pMemo == nullptr || ullStartSector > UINT64_MAX / 512)
        m_ullKey = 0;
}

CCarvingChainWalk::~CCarvingChainWalk()
{
    if (m_pChain != nullptr && m_pChain->bWalking) {
        m_pChain->ullKey = 0;
        m_pChain->bWalking = false;
        m_pChain->Records.clear();
    }
}

CHAIN_FOUND CCarvingChainWalk::Find(uint64_t* pullStop)
{
    if (m_ullKey == 0)
        return CHAIN_NONE;
    for (CCarvingChainMemo::CHAIN& chain : m_pMemo->m_Chains) {
        if (chain.ullKey != m_ullKey || chain.pDevice != m_pDevice || chain.bWalking)
            continue;
        if (!std::binary_search(chain.Records.begin(), chain.Records.end(), m_ullStart))
            continue;
        chain.ullUsed = ++m_pMemo->m_ullUseCount;
        // Every record lies before the stop.
        *pullStop = chain.ullStop - m_ullStart;
        if (chain.bEnded)
            return CHAIN_ENDED;
        m_pChain = &chain;
        chain.bWalking = true;
        return CHAIN_CUT;
    }
    return CHAIN_NONE;
}

void CCarvingChainWalk::Pass(uint64_t ullPos)
{
    if (m_ullKey == 0 || ullPos > UINT64_MAX - m_ullStart)
        return;
    if (m_pChain == nullptr) {
        // A new chain takes a free slot, one of an old session, or the one used longest ago.
        CCarvingChainMemo::CHAIN* pSlot = &m_pMemo->m_Chains[0];
        for (CCarvingChainMemo::CHAIN& chain : m_pMemo->m_Chains) {
            if (chain.ullKey != m_ullKey) {
                pSlot = &chain;
                break;
            }
            if (chain.ullUsed < pSlot->ullUsed)
                pSlot = &chain;
        }
        m_pChain = pSlot;
        pSlot->ullKey = m_ullKey;
        pSlot->pDevice = m_pDevice;
        pSlot->Records.clear();
        pSlot->bEnded = false;
        pSlot->bWalking = true;
        pSlot->ullUsed = ++m_pMemo->m_ullUseCount;
    }
    if (!m_pChain->bWalking)
        return;
    auto& records = m_pChain->Records;
    if (records.size() >= CCarvingChainMemo::MAX_RECORDS)
        records.erase(records.begin(), records.begin() + static_cast<std::ptrdiff_t>(records.size() / 2));
    records.push_back(m_ullStart + ullPos);
}

void CCarvingChainWalk::Finish(uint64_t ullPos, bool bEnded)
{
    if (m_pChain == nullptr || !m_pChain->bWalking)
        return;
    if (m_pChain->Records.empty() || ullPos > UINT64_MAX - m_ullStart ||
        m_ullStart + ullPos <= m_pChain->Records.back()) {
        // Not a chain a later hit could use.
        m_pChain->ullKey = 0;
        m_pChain->Records.clear();
    } else {
        m_pChain->ullStop = m_ullStart + ullPos;
        m_pChain->bEnded = bEnded;
    }
    m_pChain->bWalking = false;
}
