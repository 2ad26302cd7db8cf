// Copying short byte runs, the most common kind in scripts' texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tn
{

// [n] bytes, sizeof(Word) <= n <= 2 * sizeof(Word), as two overlapping words
// (both read before either is written).
template <typename Word> inline void CopyHeadAndTail(char* to, const char* from, size_t n) noexcept
{
    Word head, tail;
    std::memcpy(&head, from, sizeof(Word));
    std::memcpy(&tail, from + n - sizeof(Word), sizeof(Word));
    std::memcpy(to, &head, sizeof(Word));
    std::memcpy(to + n - sizeof(Word), &tail, sizeof(Word));
}

// Copies [n] bytes; most texts are a few bytes long, where memcpy's call
// costs more than the copy.
inline void CopyBytes(char* to, const char* from, size_t n) noexcept
{
    if (n > 16)
        std::memcpy(to, from, n);
    else if (n >= 8)
        CopyHeadAndTail<uint64_t>(to, from, n);
    else if (n >= 4)
        CopyHeadAndTail<uint32_t>(to, from, n);
    else
        for (size_t i = 0; i < n; ++i)
            to[i] = from[i];
}

} // namespace tn
