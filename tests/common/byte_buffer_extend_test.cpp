// ByteBuffer::extend: room appended for the caller to fill, growing by the
// same rule as append.
#include "common/byte_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

namespace tn
{
namespace
{

TEST(ByteBufferExtend, GrowsLikeAppend)
{
    ByteBuffer extended;
    ByteBuffer appended;
    const int32_t sizes[] = {5, 1, 1000, 1023, 1024, 3000, 7, 70000, 2};
    char fill = 'a';
    for (const int32_t size : sizes)
    {
        char* at = extended.extend(size);
        ASSERT_NE(at, nullptr);
        std::memset(at, fill, static_cast<size_t>(size));
        appended.append(std::string(static_cast<size_t>(size), fill));
        ++fill;
        EXPECT_EQ(extended.length(), appended.length());
        EXPECT_EQ(extended.capacity(), appended.capacity()) << size;
        EXPECT_EQ(extended.windowEnd(), appended.windowEnd());
    }
    EXPECT_EQ(extended.view(), appended.view());
}

TEST(ByteBufferExtend, NothingForNoBytes)
{
    ByteBuffer buffer;
    EXPECT_EQ(buffer.extend(0), nullptr);
    EXPECT_EQ(buffer.extend(-3), nullptr);
    EXPECT_EQ(buffer.length(), 0);
    EXPECT_EQ(buffer.capacity(), 0);
    buffer.append("abc");
    const int32_t capacity = buffer.capacity();
    EXPECT_EQ(buffer.extend(0), nullptr);
    EXPECT_EQ(buffer.view(), "abc");
    EXPECT_EQ(buffer.capacity(), capacity);
}

TEST(ByteBufferExtend, WritesAtTheWindowEndLikeAppend)
{
    ByteBuffer extended;
    extended.append("0123456789");
    extended.setWindow(2, 4);
    ByteBuffer appended(extended);
    std::memcpy(extended.extend(3), "xyz", 3);
    appended.append("xyz");
    EXPECT_EQ(extended.view(), appended.view());
    EXPECT_EQ(extended.view(), "0123xyz789");
    EXPECT_EQ(extended.windowEnd(), 7);
    EXPECT_EQ(extended.length(), 10);
}

TEST(ByteBufferExtend, RefusesToPassTheSizeLimit)
{
    ByteBuffer buffer;
    buffer.append("0123456789");
    EXPECT_THROW(buffer.extend(std::numeric_limits<int32_t>::max() - 5), ereturnvalue);
    EXPECT_EQ(buffer.view(), "0123456789");
}

} // namespace
} // namespace tn
