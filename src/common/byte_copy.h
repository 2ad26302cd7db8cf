// Copying short byte runs, the most common kind in scripts' texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tn
{

// Copies [n] bytes; most texts are a few bytes long, where memcpy's call
// costs more than the copy.
inline void CopyBytes(char* to, const char* from, size_t n) noexcept
{
    if (n > 16)
    {
        std::memcpy(to, from, n);
    }
    else if (n >= 8)
    {
        uint64_t head, tail;
        std::memcpy(&head, from, 8);
        std::memcpy(&tail, from + n - 8, 8);
        std::memcpy(to, &head, 8);
        std::memcpy(to + n - 8, &tail, 8);
    }
    else if (n >= 4)
    {
        uint32_t head, tail;
        std::memcpy(&head, from, 4);
        std::memcpy(&tail, from + n - 4, 4);
        std::memcpy(to, &head, 4);
        std::memcpy(to + n - 4, &tail, 4);
    }
    else
    {
        for (size_t i = 0; i < n; ++i)
            to[i] = from[i];
    }
}

} // namespace tn
