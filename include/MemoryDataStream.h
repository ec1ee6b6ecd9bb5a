// An IDataStream over a growable byte buffer: writes append, reads consume from a cursor.
// Used to carry persisted records in memory (a store's blobs, round trips in tests).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "IDataStream.h"

class CMemoryDataStream : public IDataStream {
public:
    CMemoryDataStream() : m_nReadPos(0) {}
    CMemoryDataStream(const void* pData, size_t nSize)
        : m_Buffer(static_cast<const uint8_t*>(pData), static_cast<const uint8_t*>(pData) + nSize),
          m_nReadPos(0) {}
    explicit CMemoryDataStream(const std::vector<uint8_t>& data) : m_Buffer(data), m_nReadPos(0) {}

    int Read(void* pBuffer, int nBytes) override
    {
        if (nBytes <= 0 || pBuffer == nullptr)
            return 0;
        size_t nAvailable = m_Buffer.size() - m_nReadPos;
        size_t nCopy = static_cast<size_t>(nBytes) < nAvailable ? static_cast<size_t>(nBytes) : nAvailable;
        if (nCopy != 0)
            std::memcpy(pBuffer, m_Buffer.data() + m_nReadPos, nCopy);
        m_nReadPos += nCopy;
        return static_cast<int>(nCopy);
    }

    int Write(const void* pBuffer, int nBytes) override
    {
        if (nBytes <= 0 || pBuffer == nullptr)
            return 0;
        const uint8_t* p = static_cast<const uint8_t*>(pBuffer);
        m_Buffer.insert(m_Buffer.end(), p, p + nBytes);
        return nBytes;
    }

    const std::vector<uint8_t>& GetData() const { return m_Buffer; }
    size_t GetSize() const { return m_Buffer.size(); }
    size_t GetReadPosition() const { return m_nReadPos; }
    size_t GetRemaining() const { return m_Buffer.size() - m_nReadPos; }
    void Rewind() { m_nReadPos = 0; }
    void Clear()
    {
        m_Buffer.clear();
        m_nReadPos = 0;
    }

private:
    std::vector<uint8_t> m_Buffer;
    size_t m_nReadPos;
};
