// A PCM WAV written at test time: a RIFF header and a sine tone, mono 16-bit.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace rvdtest {

inline void WriteWave(const std::string& strPath, int nSeconds, int nRate = 8000)
{
    const uint32_t nSamples = uint32_t(nSeconds) * uint32_t(nRate);
    const uint32_t nDataBytes = nSamples * 2;
    std::vector<uint8_t> vec;
    const auto Tag = [&](const char* psz) { vec.insert(vec.end(), psz, psz + 4); };
    const auto U32 = [&](uint32_t n) { for (int i = 0; i < 4; ++i) vec.push_back(uint8_t(n >> (8 * i))); };
    const auto U16 = [&](uint16_t n) { vec.push_back(uint8_t(n)); vec.push_back(uint8_t(n >> 8)); };
    Tag("RIFF");
    U32(36 + nDataBytes);
    Tag("WAVE");
    Tag("fmt ");
    U32(16);
    U16(1); // PCM
    U16(1); // mono
    U32(uint32_t(nRate));
    U32(uint32_t(nRate) * 2);
    U16(2);
    U16(16);
    Tag("data");
    U32(nDataBytes);
    for (uint32_t i = 0; i < nSamples; ++i)
        U16(uint16_t(int16_t(8000 * std::sin(2 * M_PI * 440.0 * i / nRate))));
    WriteFileBytes(strPath, vec);
}

} // namespace rvdtest
