// The fuzzer's bytes taken in order as the fields of what a target builds: little-endian values
// of a few bytes, or runs of bytes; what is asked for past their end reads as zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class CFuzzInput {
public:
    CFuzzInput(const uint8_t* pData, size_t nSize) : m_pData(pData), m_nSize(nSize) {}
    bool Empty() const { return m_nPos >= m_nSize; }
    uint64_t Next(size_t nBytes)
    {
        uint64_t u = 0;
        for (size_t i = 0; i < nBytes; ++i, ++m_nPos)
            u |= static_cast<uint64_t>(m_nPos < m_nSize ? m_pData[m_nPos] : 0) << (8 * i);
        return u;
    }
    std::vector<uint8_t> Bytes(size_t nBytes)
    {
        std::vector<uint8_t> vec(nBytes, 0);
        for (size_t i = 0; i < nBytes && m_nPos < m_nSize; ++i)
            vec[i] = m_pData[m_nPos++];
        return vec;
    }

private:
    const uint8_t* m_pData;
    size_t m_nSize;
    size_t m_nPos = 0;
};
