// A cursor over a sequence, as the carving's tree builder walks the carved files.
#pragma once

#include <cstddef>

#include "EngineMemory.h"

template <class T>
class IIterator {
public:
    virtual ~IIterator() {}
    virtual void First() = 0;
    virtual void Next() = 0;
    virtual bool IsDone() const = 0;
    virtual T CurrentItem() const = 0;
};

// Iterator over a random-access list held elsewhere. The cursor is an index, so items appended
// to the list during a walk are still reached and nothing is invalidated.
template <class T, class TList>
class ListIterator : public IIterator<T> {
public:
    explicit ListIterator(const TList* pList) : m_pList(pList), m_nCursor(0) {}
    void First() override { m_nCursor = 0; }
    void Next() override
    {
        if (m_nCursor < m_pList->size())
            ++m_nCursor;
    }
    bool IsDone() const override { return m_nCursor >= m_pList->size(); }
    // The item under the cursor; a default (null) item once the walk is done.
    T CurrentItem() const override { return IsDone() ? T() : (*m_pList)[m_nCursor]; }

private:
    const TList* m_pList;
    size_t m_nCursor;
};
