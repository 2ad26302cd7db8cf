// ByteBuffer: the growable byte array that file, stream, page and output data
// pass through. It keeps a window [windowStart, windowEnd) inside its bytes;
// appends write at the window end.
//
// Capacity follows a fixed, observable rule (an append that runs short grows by
// the shortfall, plus 1024 when the shortfall is below 1024 and storage already
// existed). The physical allocation may be larger than the reported capacity so
// that long runs of small appends stay linear.
#pragma once

#include "common/result_codes.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace tn
{

class ByteBuffer
{
  public:
    ByteBuffer() noexcept = default;
    ByteBuffer(const ByteBuffer& other); // copy: own storage of the source's capacity; throws MemAlloc
    ByteBuffer(ByteBuffer&& other) noexcept;
    ByteBuffer& operator=(const ByteBuffer& other);
    ByteBuffer& operator=(ByteBuffer&& other) noexcept; // move: takes storage, other left clear
    virtual ~ByteBuffer();

    // Frees the storage; length, capacity and window become 0.
    virtual void clear() noexcept;

    // Storage
    ereturnvalue allocate(int32_t n); // clear, then capacity exactly n (n < 1: none)
    ereturnvalue resize(int32_t n);   // keep contents, capacity exactly n
    ereturnvalue grow(int32_t n) { return resize(capacity_ + n); }
    void moveFrom(ByteBuffer& other) noexcept { *this = std::move(other); }

    // Writing (appends throw ereturnvalue::MemAlloc when growth fails)
    void append(const void* bytes, int32_t count);
    void append(std::string_view text) { append(text.data(), static_cast<int32_t>(text.size())); }
    // Appends [count] bytes for the caller to fill and returns where they
    // start (null for count < 1). Grows and throws like append.
    char* extend(int32_t count)
    {
        // Inline while the capacity suffices: emitters call this per instruction.
        if (count > 0 && count <= capacity_ - windowEnd_)
        {
            char* at = data_ + windowEnd_;
            windowEnd_ += count;
            length_ = std::max(length_, windowEnd_);
            return at;
        }
        return extendGrowing(count);
    }
    void appendText(const char* text); // zero-terminated; null appends nothing
    void assignText(const char* text);
    void appendBuffer(const ByteBuffer& other);         // other's bytes 0..length
    ereturnvalue appendWindow(const ByteBuffer& other); // other's window; Empty when empty
    ereturnvalue assignWindow(const ByteBuffer& other); // clear, then appendWindow
    void appendZeros(int32_t n);                        // length becomes capacity

    // Reading and trimming
    char* windowStartPtr() noexcept; // null when empty
    char* windowEndPtr() noexcept;   // null when empty
    char* at(int32_t i) noexcept;    // null outside 0..length-1
    const char* data() const noexcept { return data_; }
    int32_t length() const noexcept { return length_; }
    int32_t capacity() const noexcept { return capacity_; }
    int32_t windowStart() const noexcept { return windowStart_; }
    int32_t windowEnd() const noexcept { return windowEnd_; }
    void setWindow(int32_t start, int32_t end) noexcept; // clamped to 0..length
    bool empty() const noexcept { return length_ == 0; }
    std::string_view view() const noexcept { return {data_ ? data_ : "", static_cast<size_t>(length_)}; }
    std::string_view windowView() const noexcept;

    void dropLast(int32_t n) noexcept;
    void truncate(int32_t n) noexcept; // n < 1 clears
    ereturnvalue dropTrailingZero() noexcept;
    // Signed-byte comparison of this window against other's window; 0 when the first n
    // bytes of this window (all of it for n == 0) are a prefix of the other window.
    int compareWindow(const ByteBuffer& other, int32_t n) const noexcept;

    // Files and streams
    ereturnvalue readStream(std::FILE* stream);
    ereturnvalue readFile(const std::string& path, int32_t expectedSize);
    ereturnvalue writeStream(std::FILE* stream) const;
    ereturnvalue writeFile(const std::string& path, bool append) const; // empty path throws DataError

    // Body scrambling of compiled files, applied in place to the window.
    ereturnvalue scrambleWindow() noexcept;

  protected:
    char* data_ = nullptr;
    int32_t length_ = 0;
    int32_t capacity_ = 0;
    int32_t windowStart_ = 0;
    int32_t windowEnd_ = 0;
    int64_t allocated_ = 0; // physical bytes behind data_, >= capacity_

  private:
    bool ensurePhysical(int64_t bytes) noexcept;
    // Capacity for [count] more bytes at the window end, by the fixed rule.
    void growFor(int32_t count);
    char* extendGrowing(int32_t count);
    void clampWindow() noexcept;
    // Drops the storage without freeing it (it has moved elsewhere). Not virtual
    // on purpose: a derived buffer's own fields still have to be moved after it.
    void forgetStorage() noexcept;
    // Whole-stream reading: one fread after the first [filled] bytes (-1 when it cannot fit),
    // then the final length, window and trimmed capacity.
    int64_t readAtEnd(std::FILE* stream, int64_t count, int64_t filled) noexcept;
    void finishRead(int64_t total) noexcept;
};

// A buffer with a read position, read chunk by chunk.
class ReadingByteBuffer : public ByteBuffer
{
  public:
    using ByteBuffer::ByteBuffer;
    ReadingByteBuffer() noexcept = default;
    ReadingByteBuffer(const ReadingByteBuffer& other) = default;
    ReadingByteBuffer(ReadingByteBuffer&& other) noexcept; // other left clear, read position included
    ReadingByteBuffer& operator=(const ReadingByteBuffer& other) = default;
    ReadingByteBuffer& operator=(ReadingByteBuffer&& other) noexcept;
    void clear() noexcept override;
    // Copies at most n bytes from the read position, skipping CR (13) when dropCR is set;
    // the position advances by the bytes examined. Returns the bytes copied.
    int32_t readChunk(char* destination, int32_t n, bool dropCR) noexcept;
    int32_t readPosition() const noexcept { return readPos_; }

  private:
    int32_t readPos_ = 0;
};

// The body scrambling itself: byte k of [bytes] is xored with
// mask ^ (step * (position + k + 1)), mod 256. [position] is where [bytes]
// stand in a body scrambled piece by piece.
void ScrambleBytes(char* bytes, int64_t count, int64_t position = 0) noexcept;

} // namespace tn
