// Helpers for the analyser tests: byte buffers built field by field, a candidate placed on a
// memory device, and the carved-size limit set for one test.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ByteOrder.h"
#include "CarvingTestSupport.h"
#include "EngineSettings.h"
#include "GlobalAdvanceSettingData.h"
#include "RawFileAnalyser.h"
#include "RawFileInfo.h"

// A growing byte buffer; writes past the end extend it with zeros.
class CBytes {
public:
    CBytes() {}
    explicit CBytes(size_t nSize) : m_bytes(nSize) {}

    CBytes& Text(size_t nAt, const std::string& str) { return Raw(nAt, str.data(), str.size()); }
    CBytes& Raw(size_t nAt, const void* p, size_t n)
    {
        Grow(nAt + n);
        memcpy(m_bytes.data() + nAt, p, n);
        return *this;
    }
    CBytes& Bytes(size_t nAt, std::initializer_list<uint8_t> bytes)
    {
        Grow(nAt + bytes.size());
        std::copy(bytes.begin(), bytes.end(), m_bytes.begin() + nAt);
        return *this;
    }
    CBytes& LE16(size_t nAt, uint16_t v) { Grow(nAt + 2); rvd::StoreLE16(&m_bytes[nAt], v); return *this; }
    CBytes& LE32(size_t nAt, uint32_t v) { Grow(nAt + 4); rvd::StoreLE32(&m_bytes[nAt], v); return *this; }
    CBytes& LE64(size_t nAt, uint64_t v) { Grow(nAt + 8); rvd::StoreLE64(&m_bytes[nAt], v); return *this; }
    CBytes& BE16(size_t nAt, uint16_t v) { return Bytes(nAt, {uint8_t(v >> 8), uint8_t(v)}); }
    CBytes& BE32(size_t nAt, uint32_t v)
    {
        return Bytes(nAt, {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
    }
    CBytes& Fill(size_t nAt, size_t n, uint8_t nValue)
    {
        Grow(nAt + n);
        memset(m_bytes.data() + nAt, nValue, n);
        return *this;
    }
    CBytes& Append(const std::vector<uint8_t>& more)
    {
        m_bytes.insert(m_bytes.end(), more.begin(), more.end());
        return *this;
    }
    void Grow(size_t n)
    {
        if (m_bytes.size() < n)
            m_bytes.resize(n);
    }
    size_t Size() const { return m_bytes.size(); }
    const std::vector<uint8_t>& Get() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};

struct ANALYSER_RESULT {
    BOOL bHeader = FALSE;
    BOOL bSize = FALSE;
    int32_t nType = 0;
    uint64_t ullSize = 0;
};

// Runs the header test on the candidate's first sector and, when it matches, the length rule
// over a device on which the candidate starts at sector ullStartSector (the sectors before it
// are filled with 0xEE) and the device ends with the candidate's last sector.
inline ANALYSER_RESULT Analyse(IRawFileAnalyser& analyser, const std::vector<uint8_t>& candidate,
                               uint64_t ullStartSector = 3)
{
    std::vector<uint8_t> disk(ullStartSector * 512, 0xEE);
    disk.insert(disk.end(), candidate.begin(), candidate.end());
    CCarvingMemoryDevice device(disk);
    std::vector<uint8_t> first(candidate.begin(), candidate.begin() + std::min<size_t>(512, candidate.size()));
    first.resize(512);
    CRawFileInfo info;
    ANALYSER_RESULT result;
    result.bHeader = analyser.AnalyzeFileHeader(first.data(), &info);
    if (result.bHeader) {
        info.SetStartSector(ullStartSector);
        if (info.GetSize() == 0)
            result.bSize = analyser.AnalyzeFileSize(&info, &device);
        else
            result.bSize = TRUE;
    }
    result.nType = info.GetType();
    result.ullSize = info.GetSize();
    return result;
}

inline ANALYSER_RESULT Analyse(IRawFileAnalyser& analyser, const CBytes& candidate, uint64_t ullStartSector = 3)
{
    return Analyse(analyser, candidate.Get(), ullStartSector);
}

// Sets the scan settings' carved-size limit for the life of the object.
class CAnalyserSizeLimit {
public:
    explicit CAnalyserSizeLimit(int64_t llLimit) : m_llSaved(GetEngineSettings()->m_llRawFileSize)
    {
        GetEngineSettings()->m_llRawFileSize = llLimit;
    }
    ~CAnalyserSizeLimit() { GetEngineSettings()->m_llRawFileSize = m_llSaved; }

private:
    int64_t m_llSaved;
};
