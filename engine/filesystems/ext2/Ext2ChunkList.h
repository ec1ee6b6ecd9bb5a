// An append-only list of plain records kept in chunks of 2 MiB that never move: the tree
// builder's lists of files, names and nodes, one entry per inode, millions on a large volume.
//
// Memory touched for the first time is what such a list mostly costs: with 4 KiB pages every
// 4 KiB of new entries takes a page fault, and a vector that doubles touches its entries twice.
// A list told to expect many entries takes its chunks from the engine's large buffers, which
// the kernel may back with huge pages (a few faults per chunk); a small list takes plain memory,
// of which it touches only what it uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <type_traits>
#include <vector>

#include "EngineMemory.h"

template <class T>
class CExt2ChunkList {
    static_assert(std::is_trivially_copyable<T>::value, "entries are moved as bytes");

public:
    static constexpr size_t kChunkBytes = 2u << 20;
    static constexpr size_t kPerChunk = kChunkBytes / sizeof(T);

    class iterator {
    public:
        typedef std::random_access_iterator_tag iterator_category;
        typedef T value_type;
        typedef std::ptrdiff_t difference_type;
        typedef T* pointer;
        typedef T& reference;

        iterator() : m_pList(nullptr), m_nIndex(0) {}
        iterator(CExt2ChunkList* pList, size_t nIndex) : m_pList(pList), m_nIndex(nIndex) {}

        T& operator*() const { return (*m_pList)[m_nIndex]; }
        T* operator->() const { return &(*m_pList)[m_nIndex]; }
        T& operator[](difference_type n) const { return (*m_pList)[m_nIndex + n]; }
        iterator& operator++() { ++m_nIndex; return *this; }
        iterator operator++(int) { iterator it = *this; ++m_nIndex; return it; }
        iterator& operator--() { --m_nIndex; return *this; }
        iterator operator--(int) { iterator it = *this; --m_nIndex; return it; }
        iterator& operator+=(difference_type n) { m_nIndex += n; return *this; }
        iterator& operator-=(difference_type n) { m_nIndex -= n; return *this; }
        iterator operator+(difference_type n) const { return iterator(m_pList, m_nIndex + n); }
        friend iterator operator+(difference_type n, const iterator& it) { return it + n; }
        iterator operator-(difference_type n) const { return iterator(m_pList, m_nIndex - n); }
        difference_type operator-(const iterator& other) const
        {
            return static_cast<difference_type>(m_nIndex) - static_cast<difference_type>(other.m_nIndex);
        }
        bool operator==(const iterator& other) const { return m_nIndex == other.m_nIndex; }
        bool operator!=(const iterator& other) const { return m_nIndex != other.m_nIndex; }
        bool operator<(const iterator& other) const { return m_nIndex < other.m_nIndex; }
        bool operator>(const iterator& other) const { return m_nIndex > other.m_nIndex; }
        bool operator<=(const iterator& other) const { return m_nIndex <= other.m_nIndex; }
        bool operator>=(const iterator& other) const { return m_nIndex >= other.m_nIndex; }

    private:
        CExt2ChunkList* m_pList;
        size_t m_nIndex;
    };

    CExt2ChunkList() : m_nSize(0), m_bLarge(false) {}
    ~CExt2ChunkList() { clear(); }
    CExt2ChunkList(const CExt2ChunkList&) = delete;
    CExt2ChunkList& operator=(const CExt2ChunkList&) = delete;

    // Chunks made from now on come from the large buffers when nExpected entries would fill at
    // least an eighth of a chunk: a huge page costs about as much to fault in as a few dozen
    // 4 KiB pages.
    void Expect(uint64_t nExpected) { m_bLarge = nExpected * sizeof(T) >= kChunkBytes / 8; }
    bool IsLarge() const { return m_bLarge; }

    size_t size() const { return m_nSize; }
    bool empty() const { return m_nSize == 0; }
    T& operator[](size_t i) { return m_Chunks[i / kPerChunk][i % kPerChunk]; }
    const T& operator[](size_t i) const { return m_Chunks[i / kPerChunk][i % kPerChunk]; }
    T& back() { return (*this)[m_nSize - 1]; }
    iterator begin() { return iterator(this, 0); }
    iterator end() { return iterator(this, m_nSize); }

    void push_back(const T& value)
    {
        if (m_nSize == m_Chunks.size() * kPerChunk) {
            m_Chunks.reserve(m_Chunks.size() + 1);
            m_Chunks.push_back(static_cast<T*>(m_bLarge ? AllocLargeBuffer(kChunkBytes) : AllocOrRaise(kChunkBytes)));
        }
        (*this)[m_nSize++] = value;
    }
    // Drops the entries from nSize on (never grows the list); whole chunks past the end are
    // given back.
    void shrink(size_t nSize)
    {
        if (nSize >= m_nSize)
            return;
        m_nSize = nSize;
        const size_t nChunks = (nSize + kPerChunk - 1) / kPerChunk;
        while (m_Chunks.size() > nChunks) {
            FreeMemory(m_Chunks.back());
            m_Chunks.pop_back();
        }
    }
    void clear()
    {
        for (T* pChunk : m_Chunks)
            FreeMemory(pChunk);
        m_Chunks.clear();
        m_Chunks.shrink_to_fit();
        m_nSize = 0;
    }

private:
    std::vector<T*, CEngineAllocator<T*>> m_Chunks;
    size_t m_nSize;
    bool m_bLarge;
};
