// The engine's critical section: one recursive mutex (a thread that holds it may enter it
// again, as with the system lock it stands for). CAutoLock takes GetSection() for a scope.
#pragma once

#include <mutex>

#include "EngineMemory.h"

class CCriticalSectionLock : public CEngineObject {
public:
    CCriticalSectionLock() {}
    ~CCriticalSectionLock() {}
    CCriticalSectionLock(const CCriticalSectionLock&) = delete;
    CCriticalSectionLock& operator=(const CCriticalSectionLock&) = delete;

    void Lock() { m_Section.lock(); }
    void Unlock() { m_Section.unlock(); }
    std::recursive_mutex* GetSection() { return &m_Section; }

private:
    std::recursive_mutex m_Section;
};
