// The word-at-a-time byte search and short compare against the plain
// byte-by-byte answer, over every length and position around their word
// sizes and the hand-over to memchr.
#include "common/byte_scan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace tn
{
namespace
{

TEST(ByteScanTest, FindByteFindsTheFirstAtEveryPlace)
{
    for (size_t n = 0; n <= 80; ++n)
        for (size_t at = 0; at <= n; ++at)
        {
            // Bytes one off the target and bytes that differ from it in the
            // top bit are where a word-wise test could go wrong.
            std::string text(n, ' ');
            for (size_t i = 0; i < n; ++i)
                text[i] = "\x60\x62\xE1\xE0"[i % 4];
            if (at < n) text[at] = 'a';
            if (at + 5 < n) text[at + 5] = 'a'; // a later one must not win
            const char* found = FindByte(text.data(), text.data() + n, 'a');
            const void* expected = n ? std::memchr(text.data(), 'a', n) : nullptr;
            ASSERT_EQ(static_cast<const void*>(found), expected) << "length " << n << " at " << at;
        }
}

TEST(ByteScanTest, SameShortBytesSeesADifferenceAtEveryPlace)
{
    const std::string a = "0123456789abcdef";
    for (size_t n = 0; n <= 16; ++n)
    {
        std::string b = a;
        EXPECT_TRUE(SameShortBytes(a.data(), b.data(), n)) << n;
        for (size_t at = 0; at < n; ++at)
        {
            b = a;
            b[at] = static_cast<char>(b[at] ^ 0x80);
            EXPECT_FALSE(SameShortBytes(a.data(), b.data(), n)) << "length " << n << " at " << at;
        }
    }
}

} // namespace
} // namespace tn
