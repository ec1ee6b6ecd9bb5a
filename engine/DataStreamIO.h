// Field-by-field access to an IDataStream: one Write or Read of the field's exact width,
// little-endian whatever the host. The readers return false on a short read so that a Load
// can stop at the first missing byte.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "IDataStream.h"

namespace DataStreamIO {

template <class T>
inline bool WriteLE(IDataStream* pStream, T value)
{
    static_assert(sizeof(T) <= 8 && (std::is_integral_v<T> || std::is_floating_point_v<T>), "fields are integers or doubles");
    uint64_t v;
    if constexpr (std::is_floating_point_v<T>) {
        static_assert(sizeof(T) == 8, "floating fields are doubles");
        std::memcpy(&v, &value, 8);
    } else {
        v = static_cast<uint64_t>(static_cast<std::make_unsigned_t<T>>(value));
    }
    uint8_t bytes[sizeof(T)];
    for (size_t i = 0; i < sizeof(T); ++i)
        bytes[i] = static_cast<uint8_t>(v >> (8 * i));
    return pStream->Write(bytes, static_cast<int>(sizeof(T))) == static_cast<int>(sizeof(T));
}

template <class T>
inline bool ReadLE(IDataStream* pStream, T& value)
{
    static_assert(sizeof(T) <= 8 && (std::is_integral_v<T> || std::is_floating_point_v<T>), "fields are integers or doubles");
    uint8_t bytes[sizeof(T)];
    if (pStream->Read(bytes, static_cast<int>(sizeof(T))) != static_cast<int>(sizeof(T)))
        return false;
    uint64_t v = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
        v |= static_cast<uint64_t>(bytes[i]) << (8 * i);
    if constexpr (std::is_floating_point_v<T>)
        std::memcpy(&value, &v, 8);
    else
        value = static_cast<T>(static_cast<std::make_unsigned_t<T>>(v));
    return true;
}

inline bool WriteBytes(IDataStream* pStream, const void* pData, uint32_t nSize)
{
    if (nSize == 0)
        return true;
    if (nSize > 0x7FFFFFFFu)
        return false;
    return pStream->Write(pData, static_cast<int>(nSize)) == static_cast<int>(nSize);
}

inline bool ReadBytes(IDataStream* pStream, void* pData, uint32_t nSize)
{
    if (nSize == 0)
        return true;
    if (nSize > 0x7FFFFFFFu)
        return false;
    return pStream->Read(pData, static_cast<int>(nSize)) == static_cast<int>(nSize);
}

} // namespace DataStreamIO
