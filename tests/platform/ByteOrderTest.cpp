#include "ByteOrder.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Eight distinct bytes with the top bit set in the last, so a getter that sign-extends through
// int, drops a byte or swaps two of them gives a different number.
constexpr uint8_t kBytes[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

// The getters run in constant expressions.
static_assert(rvd::LoadLE16(kBytes) == 0x2301, "");
static_assert(rvd::LoadBE64(kBytes) == 0x0123456789ABCDEFull, "");
static_assert(rvd::LoadLEBytes(kBytes, 3) == 0x452301, "");

// The bytes copied to every offset 0..7 of a larger buffer, so that most reads straddle the
// host's natural alignment.
template <typename Check>
void AtEveryOffset(Check check)
{
    alignas(8) uint8_t abyBuffer[24] = {};
    for (size_t nOffset = 0; nOffset < 8; ++nOffset) {
        memset(abyBuffer, 0xFF, sizeof(abyBuffer));
        memcpy(abyBuffer + nOffset, kBytes, sizeof(kBytes));
        SCOPED_TRACE(nOffset);
        check(abyBuffer + nOffset);
    }
}

} // namespace

TEST(ByteOrder, LoadsReadFieldsAtAnyAlignment)
{
    struct LOAD_CASE {
        const char* pszName;
        uint64_t (*pfnLoad)(const uint8_t*);
        uint64_t ullExpected;
    };
    const LOAD_CASE aCases[] = {
        {"LE16", [](const uint8_t* p) -> uint64_t { return rvd::LoadLE16(p); }, 0x2301},
        {"LE32", [](const uint8_t* p) -> uint64_t { return rvd::LoadLE32(p); }, 0x67452301},
        {"LE48", [](const uint8_t* p) -> uint64_t { return rvd::LoadLE48(p); }, 0xAB8967452301ull},
        {"LE64", [](const uint8_t* p) -> uint64_t { return rvd::LoadLE64(p); }, 0xEFCDAB8967452301ull},
        {"BE16", [](const uint8_t* p) -> uint64_t { return rvd::LoadBE16(p); }, 0x0123},
        {"BE32", [](const uint8_t* p) -> uint64_t { return rvd::LoadBE32(p); }, 0x01234567},
        {"BE64", [](const uint8_t* p) -> uint64_t { return rvd::LoadBE64(p); }, 0x0123456789ABCDEFull},
    };
    AtEveryOffset([&](const uint8_t* p) {
        for (const LOAD_CASE& c : aCases)
            EXPECT_EQ(c.pfnLoad(p), c.ullExpected) << c.pszName;
    });
}

TEST(ByteOrder, LoadLEBytesReadsOnlyTheBytesAsked)
{
    const uint64_t aullExpected[9] = {
        0, 0x01, 0x2301, 0x452301, 0x67452301, 0x8967452301ull, 0xAB8967452301ull, 0xCDAB8967452301ull,
        0xEFCDAB8967452301ull,
    };
    AtEveryOffset([&](const uint8_t* p) {
        for (unsigned n = 0; n <= 8; ++n)
            EXPECT_EQ(rvd::LoadLEBytes(p, n), aullExpected[n]) << n << " bytes";
    });
}

TEST(ByteOrder, StoresWriteLittleEndianAndTouchNothingElse)
{
    struct STORE_CASE {
        const char* pszName;
        size_t nBytes;
        void (*pfnStore)(uint8_t*);
    };
    const STORE_CASE aCases[] = {
        {"LE16", 2, [](uint8_t* p) { rvd::StoreLE16(p, 0x2301); }},
        {"LE32", 4, [](uint8_t* p) { rvd::StoreLE32(p, 0x67452301); }},
        {"LE64", 8, [](uint8_t* p) { rvd::StoreLE64(p, 0xEFCDAB8967452301ull); }},
    };
    for (const STORE_CASE& c : aCases) {
        for (size_t nOffset = 0; nOffset < 8; ++nOffset) {
            SCOPED_TRACE(nOffset);
            alignas(8) uint8_t abyBuffer[24];
            memset(abyBuffer, 0xA5, sizeof(abyBuffer));
            c.pfnStore(abyBuffer + nOffset);
            for (size_t i = 0; i < sizeof(abyBuffer); ++i) {
                const bool bInField = i >= nOffset && i < nOffset + c.nBytes;
                EXPECT_EQ(abyBuffer[i], bInField ? kBytes[i - nOffset] : 0xA5) << c.pszName << " byte " << i;
            }
        }
    }
}
