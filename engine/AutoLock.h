// The engine's scoped lock guard: holds a critical section (a recursive mutex, since a
// critical section may be entered again by the thread that owns it) for one scope.
#pragma once

#include <mutex>

class CAutoLock {
public:
    explicit CAutoLock(std::recursive_mutex* pSection) : m_pSection(pSection)
    {
        if (m_pSection)
            m_pSection->lock();
    }
    ~CAutoLock()
    {
        if (m_pSection)
            m_pSection->unlock();
    }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

private:
    std::recursive_mutex* m_pSection;
};
