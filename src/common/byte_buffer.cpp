#include "common/byte_buffer.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>

namespace tn
{

namespace
{

// Compiled-file body scrambling. The step is odd so the running counter
// visits all 256 values before repeating.
constexpr uint8_t kScrambleMask = 0xA7;
constexpr uint8_t kScrambleStep = 0x3D;

constexpr int32_t kFirstChunk = 8192;
constexpr int kMaxChunkDoublings = 6;
constexpr int64_t kMaxCapacity = std::numeric_limits<int32_t>::max();

// True when [p] points into the block [base, base + size); used to keep
// appends of a buffer's own bytes valid across reallocation.
bool pointsInto(const void* p, const char* base, int64_t size) noexcept
{
    if (base == nullptr)
    {
        return false;
    }
    const std::less_equal<const char*> le;
    const char* c = static_cast<const char*>(p);
    return le(base, c) && !le(base + size, c);
}

// The key of body byte j depends on j mod 256 only: the counter is a byte.
struct ScrambleKey
{
    uint8_t bytes[256] = {};
    constexpr ScrambleKey()
    {
        for (int j = 0; j < 256; ++j)
        {
            bytes[j] = static_cast<uint8_t>(kScrambleMask ^ static_cast<uint8_t>(kScrambleStep * (j + 1)));
        }
    }
};
constexpr ScrambleKey kScrambleKey;

} // namespace

void ScrambleBytes(char* bytes, int64_t count, int64_t position) noexcept
{
    auto* data = reinterpret_cast<uint8_t*>(bytes);
    const uint8_t* key = kScrambleKey.bytes;
    auto phase = static_cast<uint8_t>(static_cast<uint64_t>(position));
    int64_t k = 0;
    // Up to a whole period, then whole periods (a loop the compiler vectorises), then the rest.
    for (; k < count && phase != 0; ++k, ++phase)
    {
        data[k] ^= key[phase];
    }
    for (; count - k >= 256; k += 256)
    {
        for (int j = 0; j < 256; ++j)
        {
            data[k + j] ^= key[j];
        }
    }
    for (int j = 0; k < count; ++k, ++j)
    {
        data[k] ^= key[j];
    }
}

// ---- Construction and storage ----------------------------------------------

ByteBuffer::ByteBuffer(const ByteBuffer& other)
{
    if (other.data_ == nullptr)
    {
        return;
    }
    const int64_t bytes = std::max<int64_t>(other.capacity_, 1);
    data_ = static_cast<char*>(std::malloc(static_cast<size_t>(bytes)));
    if (data_ == nullptr)
    {
        throw ereturnvalue::MemAlloc;
    }
    allocated_ = bytes;
    if (other.length_ > 0)
    {
        std::memcpy(data_, other.data_, static_cast<size_t>(other.length_));
    }
    length_ = other.length_;
    capacity_ = other.capacity_;
    windowStart_ = other.windowStart_;
    windowEnd_ = other.windowEnd_;
}

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : data_(other.data_), length_(other.length_), capacity_(other.capacity_), windowStart_(other.windowStart_),
      windowEnd_(other.windowEnd_), allocated_(other.allocated_)
{
    other.forgetStorage();
}

ByteBuffer& ByteBuffer::operator=(const ByteBuffer& other)
{
    if (this != &other)
    {
        ByteBuffer copy(other);
        *this = std::move(copy);
    }
    return *this;
}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept
{
    if (this == &other)
    {
        return *this;
    }
    clear();
    data_ = other.data_;
    length_ = other.length_;
    capacity_ = other.capacity_;
    windowStart_ = other.windowStart_;
    windowEnd_ = other.windowEnd_;
    allocated_ = other.allocated_;
    other.forgetStorage();
    return *this;
}

ByteBuffer::~ByteBuffer()
{
    std::free(data_);
}

void ByteBuffer::forgetStorage() noexcept
{
    data_ = nullptr;
    length_ = 0;
    capacity_ = 0;
    windowStart_ = 0;
    windowEnd_ = 0;
    allocated_ = 0;
}

void ByteBuffer::clear() noexcept
{
    std::free(data_);
    forgetStorage();
}

bool ByteBuffer::ensurePhysical(int64_t bytes) noexcept
{
    if (bytes <= allocated_)
    {
        return true;
    }
    // Geometric physical growth keeps runs of small appends linear even though
    // the reported capacity grows only by the fixed rule.
    const int64_t geometric = allocated_ + allocated_ / 2;
    int64_t target = std::max(bytes, std::min(geometric, kMaxCapacity));
    void* grown = std::realloc(data_, static_cast<size_t>(target));
    if (grown == nullptr && target > bytes)
    {
        target = bytes;
        grown = std::realloc(data_, static_cast<size_t>(target));
    }
    if (grown == nullptr)
    {
        return false;
    }
    data_ = static_cast<char*>(grown);
    allocated_ = target;
    return true;
}

void ByteBuffer::clampWindow() noexcept
{
    windowStart_ = std::clamp(windowStart_, 0, length_);
    windowEnd_ = std::clamp(windowEnd_, windowStart_, length_);
}

ereturnvalue ByteBuffer::allocate(int32_t n)
{
    clear();
    if (n < 1)
    {
        return ereturnvalue::OK;
    }
    data_ = static_cast<char*>(std::malloc(static_cast<size_t>(n)));
    if (data_ == nullptr)
    {
        return ereturnvalue::MemAlloc;
    }
    allocated_ = n;
    capacity_ = n;
    return ereturnvalue::OK;
}

ereturnvalue ByteBuffer::resize(int32_t n)
{
    if (data_ == nullptr)
    {
        return allocate(n);
    }
    if (n == capacity_)
    {
        return ereturnvalue::OK;
    }
    if (n < 1)
    {
        clear();
        return ereturnvalue::OK;
    }
    if (n > capacity_)
    {
        if (!ensurePhysical(n))
        {
            clear();
            return ereturnvalue::MemAlloc;
        }
    }
    else
    {
        // Give memory back on a real shrink; a failed shrink keeps the larger block.
        if (void* shrunk = std::realloc(data_, static_cast<size_t>(n)))
        {
            data_ = static_cast<char*>(shrunk);
            allocated_ = n;
        }
        length_ = std::min(length_, n);
        clampWindow();
    }
    capacity_ = n;
    return ereturnvalue::OK;
}

// ---- Writing -----------------------------------------------------------------

void ByteBuffer::growFor(int32_t count)
{
    const int64_t needed = static_cast<int64_t>(windowEnd_) + count;
    if (needed <= capacity_)
    {
        return;
    }
    if (needed > kMaxCapacity)
    {
        throw ereturnvalue::MemAlloc;
    }
    const int64_t shortfall = needed - capacity_;
    int64_t newCapacity = needed;
    if (shortfall < 1024 && data_ != nullptr)
    {
        newCapacity = std::min(needed + 1024, kMaxCapacity);
    }
    if (!ensurePhysical(newCapacity))
    {
        throw ereturnvalue::MemAlloc;
    }
    capacity_ = static_cast<int32_t>(newCapacity);
}

void ByteBuffer::append(const void* bytes, int32_t count)
{
    if (count <= 0 || bytes == nullptr)
    {
        return;
    }
    if (static_cast<int64_t>(windowEnd_) + count > capacity_)
    {
        // Growing may move the storage that [bytes] points into.
        const bool aliased = pointsInto(bytes, data_, allocated_);
        const std::ptrdiff_t offset = aliased ? static_cast<const char*>(bytes) - data_ : 0;
        growFor(count);
        if (aliased)
        {
            bytes = data_ + offset;
        }
    }
    std::memmove(data_ + windowEnd_, bytes, static_cast<size_t>(count));
    windowEnd_ += count;
    length_ = std::max(length_, windowEnd_);
}

char* ByteBuffer::extendGrowing(int32_t count)
{
    if (count <= 0)
    {
        return nullptr;
    }
    growFor(count);
    char* at = data_ + windowEnd_;
    windowEnd_ += count;
    length_ = std::max(length_, windowEnd_);
    return at;
}

void ByteBuffer::appendText(const char* text)
{
    if (text != nullptr)
    {
        const size_t n = std::strlen(text);
        if (n > static_cast<size_t>(kMaxCapacity))
        {
            throw ereturnvalue::MemAlloc;
        }
        append(text, static_cast<int32_t>(n));
    }
}

void ByteBuffer::assignText(const char* text)
{
    clear();
    appendText(text);
}

void ByteBuffer::appendBuffer(const ByteBuffer& other)
{
    const int32_t count = other.length_;
    if (count <= 0)
    {
        return;
    }
    if (static_cast<int64_t>(windowEnd_) + count > capacity_)
    {
        // Grows by exactly the other's length; a self-append copies after the move.
        if (static_cast<int64_t>(capacity_) + count > kMaxCapacity || !ensurePhysical(capacity_ + count))
        {
            throw ereturnvalue::MemAlloc;
        }
        capacity_ += count;
    }
    std::memmove(data_ + windowEnd_, other.data_, static_cast<size_t>(count));
    windowEnd_ += count;
    length_ = std::max(length_, windowEnd_);
}

ereturnvalue ByteBuffer::appendWindow(const ByteBuffer& other)
{
    const int32_t count = other.windowEnd_ - other.windowStart_;
    if (other.data_ == nullptr || count <= 0)
    {
        return ereturnvalue::Empty;
    }
    append(other.data_ + other.windowStart_, count);
    return ereturnvalue::OK;
}

ereturnvalue ByteBuffer::assignWindow(const ByteBuffer& other)
{
    if (this == &other)
    {
        ByteBuffer fresh;
        const ereturnvalue rc = fresh.appendWindow(other);
        *this = std::move(fresh);
        return rc;
    }
    clear();
    return appendWindow(other);
}

void ByteBuffer::appendZeros(int32_t n)
{
    n = std::max(n, 0);
    const int64_t needed = static_cast<int64_t>(length_) + n;
    if (needed > capacity_)
    {
        if (needed > kMaxCapacity || resize(static_cast<int32_t>(needed)) != ereturnvalue::OK)
        {
            throw ereturnvalue::MemAlloc;
        }
    }
    if (capacity_ > length_)
    {
        std::memset(data_ + length_, 0, static_cast<size_t>(capacity_ - length_));
    }
    length_ = capacity_;
}

// ---- Reading and trimming ------------------------------------------------------

char* ByteBuffer::windowStartPtr() noexcept
{
    return length_ > 0 ? data_ + windowStart_ : nullptr;
}

char* ByteBuffer::windowEndPtr() noexcept
{
    return length_ > 0 ? data_ + windowEnd_ : nullptr;
}

char* ByteBuffer::at(int32_t i) noexcept
{
    return (i >= 0 && i < length_) ? data_ + i : nullptr;
}

void ByteBuffer::setWindow(int32_t start, int32_t end) noexcept
{
    windowStart_ = start;
    windowEnd_ = end;
    clampWindow();
}

std::string_view ByteBuffer::windowView() const noexcept
{
    if (data_ == nullptr || windowEnd_ <= windowStart_)
    {
        return {};
    }
    return {data_ + windowStart_, static_cast<size_t>(windowEnd_ - windowStart_)};
}

void ByteBuffer::dropLast(int32_t n) noexcept
{
    if (n > 0)
    {
        length_ = n >= length_ ? 0 : length_ - n;
        clampWindow();
    }
}

void ByteBuffer::truncate(int32_t n) noexcept
{
    if (n < 1)
    {
        clear();
        return;
    }
    length_ = std::min(length_, n);
    clampWindow();
}

ereturnvalue ByteBuffer::dropTrailingZero() noexcept
{
    windowStart_ = 0;
    windowEnd_ = length_;
    if (length_ == 0)
    {
        return ereturnvalue::Empty;
    }
    if (data_[length_ - 1] != 0)
    {
        return ereturnvalue::Empty;
    }
    --length_;
    windowEnd_ = length_;
    return ereturnvalue::OK;
}

int ByteBuffer::compareWindow(const ByteBuffer& other, int32_t n) const noexcept
{
    const std::string_view mine = windowView();
    const std::string_view theirs = other.windowView();
    if (mine.empty())
    {
        return theirs.empty() ? 0 : -1;
    }
    if (theirs.empty())
    {
        return 1;
    }
    const size_t limit = (n <= 0 || static_cast<size_t>(n) > mine.size()) ? mine.size() : static_cast<size_t>(n);
    for (size_t i = 0; i < limit; ++i)
    {
        if (i == theirs.size())
        {
            return 1;
        }
        const auto a = static_cast<int8_t>(mine[i]);
        const auto b = static_cast<int8_t>(theirs[i]);
        if (a != b)
        {
            return a < b ? -1 : 1;
        }
    }
    return 0;
}

// ---- Files and streams -------------------------------------------------------

int64_t ByteBuffer::readAtEnd(std::FILE* stream, int64_t count, int64_t filled) noexcept
{
    if (filled + count > kMaxCapacity || !ensurePhysical(filled + count))
    {
        return -1;
    }
    return static_cast<int64_t>(std::fread(data_ + filled, 1, static_cast<size_t>(count), stream));
}

void ByteBuffer::finishRead(int64_t total) noexcept
{
    length_ = static_cast<int32_t>(total);
    capacity_ = length_;
    windowStart_ = 0;
    windowEnd_ = length_;
    if (length_ == 0)
    {
        clear();
    }
    else if (allocated_ > length_)
    {
        if (void* shrunk = std::realloc(data_, static_cast<size_t>(length_)))
        {
            data_ = static_cast<char*>(shrunk);
            allocated_ = length_;
        }
    }
}

ereturnvalue ByteBuffer::readStream(std::FILE* stream)
{
    clear();
    if (stream == nullptr)
    {
        return ereturnvalue::FileError;
    }
    int64_t chunk = kFirstChunk;
    int doublings = 0;
    int64_t total = 0;
    for (;;)
    {
        const int64_t got = readAtEnd(stream, chunk, total);
        if (got < 0)
        {
            clear();
            return ereturnvalue::MemAlloc;
        }
        total += got;
        if (got < chunk)
        {
            break;
        }
        if (doublings < kMaxChunkDoublings)
        {
            chunk *= 2;
            ++doublings;
        }
    }
    if (std::ferror(stream))
    {
        clear();
        return ereturnvalue::FileError;
    }
    finishRead(total);
    return ereturnvalue::OK;
}

ereturnvalue ByteBuffer::readFile(const std::string& path, int32_t expectedSize)
{
    clear();
    if (path.empty())
    {
        return ereturnvalue::DataError;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
    {
        return ereturnvalue::FileError;
    }
    ereturnvalue rc = ereturnvalue::OK;
    if (expectedSize <= 0)
    {
        rc = readStream(file);
    }
    else
    {
        int64_t total = readAtEnd(file, expectedSize, 0);
        // A file of exactly one first chunk gets the follow-up read that finds its end.
        if (total == kFirstChunk && expectedSize == kFirstChunk)
        {
            const int64_t more = readAtEnd(file, 2 * kFirstChunk, total);
            total = more < 0 ? -1 : total + more;
        }
        if (total < 0)
        {
            clear();
            rc = ereturnvalue::MemAlloc;
        }
        else if (std::ferror(file))
        {
            clear();
            rc = ereturnvalue::FileError;
        }
        else
        {
            finishRead(total);
        }
    }
    std::fclose(file);
    return rc;
}

ereturnvalue ByteBuffer::writeStream(std::FILE* stream) const
{
    if (stream == nullptr)
    {
        return ereturnvalue::FileError;
    }
    ereturnvalue rc = ereturnvalue::Empty;
    if (length_ > 0)
    {
        const size_t written = std::fwrite(data_, 1, static_cast<size_t>(length_), stream);
        rc = written == static_cast<size_t>(length_) ? ereturnvalue::OK : ereturnvalue::FileError;
    }
    std::fflush(stream);
    return rc;
}

ereturnvalue ByteBuffer::writeFile(const std::string& path, bool append) const
{
    if (path.empty())
    {
        throw ereturnvalue::DataError;
    }
    std::FILE* file = std::fopen(path.c_str(), append ? "ab" : "wb");
    if (file == nullptr)
    {
        return ereturnvalue::FileError;
    }
    bool complete = true;
    if (length_ > 0)
    {
        complete = std::fwrite(data_, 1, static_cast<size_t>(length_), file) == static_cast<size_t>(length_);
    }
    // A failed close can lose buffered bytes, so it counts as a failed write.
    if (std::fclose(file) != 0)
    {
        complete = false;
    }
    return complete ? ereturnvalue::OK : ereturnvalue::FileError;
}

ereturnvalue ByteBuffer::scrambleWindow() noexcept
{
    if (data_ == nullptr || windowEnd_ <= windowStart_)
    {
        return ereturnvalue::Empty;
    }
    ScrambleBytes(data_ + windowStart_, windowEnd_ - windowStart_);
    return ereturnvalue::OK;
}

// ---- Reading buffer ------------------------------------------------------------

ReadingByteBuffer::ReadingByteBuffer(ReadingByteBuffer&& other) noexcept
    : ByteBuffer(std::move(other)), readPos_(other.readPos_)
{
    other.readPos_ = 0;
}

ReadingByteBuffer& ReadingByteBuffer::operator=(ReadingByteBuffer&& other) noexcept
{
    if (this != &other)
    {
        const int32_t position = other.readPos_;
        ByteBuffer::operator=(std::move(other));
        readPos_ = position;
        other.readPos_ = 0;
    }
    return *this;
}

void ReadingByteBuffer::clear() noexcept
{
    ByteBuffer::clear();
    readPos_ = 0;
}

int32_t ReadingByteBuffer::readChunk(char* destination, int32_t n, bool dropCR) noexcept
{
    if (destination == nullptr || n <= 0 || data_ == nullptr)
    {
        return 0;
    }
    int32_t pos = std::clamp(readPos_, 0, length_);
    int32_t copied = 0;
    if (!dropCR)
    {
        copied = std::min(n, length_ - pos);
        std::memcpy(destination, data_ + pos, static_cast<size_t>(copied));
        readPos_ = pos + copied;
        return copied;
    }
    while (copied < n && pos < length_)
    {
        const char c = data_[pos++];
        if (c != '\r')
        {
            destination[copied++] = c;
        }
    }
    readPos_ = pos;
    return copied;
}

} // namespace tn
