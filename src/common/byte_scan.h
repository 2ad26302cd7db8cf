// Finding a byte in a short run, and comparing short runs: the most common
// searches in scripts' texts.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tn
{

// The first [c] in [at, end), or null. Pieces of texts are mostly short, where
// the C library's call costs more than the search: the first words are
// looked at here, eight bytes at a time, and only a longer run goes to memchr.
inline const char* FindByte(const char* at, const char* end, char c) noexcept
{
    constexpr uint64_t kOnes = 0x0101010101010101u;
    constexpr uint64_t kHigh = 0x8080808080808080u;
    const uint64_t pattern = kOnes * static_cast<unsigned char>(c);
    for (int words = 0; end - at >= 8; at += 8)
    {
        if (++words > 4) return static_cast<const char*>(std::memchr(at, c, static_cast<size_t>(end - at)));
        uint64_t x;
        std::memcpy(&x, at, 8);
        x ^= pattern;
        // The top bit of each zero byte of x, and perhaps of bytes above one:
        // the lowest set bit is exact.
        if (const uint64_t hits = (x - kOnes) & ~x & kHigh) return at + (std::countr_zero(hits) >> 3);
    }
    for (; at < end; ++at)
        if (*at == c) return at;
    return nullptr;
}

// Whether [n] bytes at [a] and [b] are the same; n is at most 16, as in the
// short patterns searched for, where memcmp's call costs more than the test.
inline bool SameShortBytes(const char* a, const char* b, size_t n) noexcept
{
    const auto same = [&](auto word)
    {
        decltype(word) x, y, u, v;
        std::memcpy(&x, a, sizeof x);
        std::memcpy(&y, b, sizeof y);
        std::memcpy(&u, a + n - sizeof u, sizeof u);
        std::memcpy(&v, b + n - sizeof v, sizeof v);
        return ((x ^ y) | (u ^ v)) == 0;
    };
    if (n >= 8) return same(uint64_t{});
    if (n >= 4) return same(uint32_t{});
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

} // namespace tn
