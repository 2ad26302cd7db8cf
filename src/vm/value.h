// Value: the dynamically typed script datum. A type code plus one payload word.
//
// Scalars (Null, Integer, Flags, Reference, Float) live entirely inside the
// Value and never allocate. Strings, arrays and dates are reference-counted
// heap objects shared copy-on-write: copying a Value is O(1), and any change
// goes through a mutable accessor that first detaches a shared payload. This
// keeps the language's deep-copy semantics (two variables never observe each
// other's changes) without paying for copies nobody modifies.
//
// The counts are not atomic: a Value belongs to one virtual machine, which one
// thread runs at a time.
#pragma once

#include "common/byte_copy.h"
#include "common/result_codes.h"
#include "vm/date_value.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace tn
{

enum class ValueType : int32_t
{
    Null = 0,
    Integer = 1,
    Flags = 2,
    Array = 3,
    String = 4,
    Reference = 5,
    Date = 6,
    Float = 7,
};

class Value;
class ValueVector;

// Heap text: always followed by a zero byte so C library readers (atoi, strtod,
// strcmp) see the same text as a zero-terminated string would.
struct StringObject
{
    int32_t refs;
    int32_t length;
    int32_t capacity; // bytes available for text, excluding the terminator
    char data[1];

    static StringObject* create(std::string_view text, int32_t capacity);
    std::string_view view() const noexcept { return {data, static_cast<size_t>(length)}; }
};

struct ArrayObject;
struct DateObject;

// Growable sequence of Values: array payloads, the operand stack, globals and
// locals. Fresh elements are Null. Reading or writing index i makes the vector
// at least i + 1 long; past 0x70000000 elements (or when memory runs out) it
// throws ereturnvalue::MemAlloc.
class ValueVector
{
  public:
    static constexpr int32_t kGrowth = 100;
    static constexpr int64_t kMaxCapacity = 0x70000000;

    ValueVector() noexcept = default;
    ValueVector(const ValueVector& other);
    ValueVector(ValueVector&& other) noexcept;
    ValueVector& operator=(const ValueVector& other);
    ValueVector& operator=(ValueVector&& other) noexcept;
    ~ValueVector();

    int32_t count() const noexcept { return count_; }
    int32_t capacity() const noexcept { return capacity_; } // at() below it never allocates
    bool empty() const noexcept { return count_ == 0; }
    Value* data() noexcept { return items_; }
    const Value* data() const noexcept { return items_; }
    inline Value& operator[](int32_t i) noexcept;
    inline const Value& operator[](int32_t i) const noexcept;

    // Element i, growing the vector to i + 1 elements when needed.
    inline Value& at(int32_t i);
    // Element i without growing; null past the end.
    inline const Value* find(int32_t i) const noexcept;

    inline Value& push(); // appends a Null element and returns it
    inline void push(Value&& v);
    inline void push(const Value& v);
    inline void pushInteger(int32_t v); // fast paths for scalars
    inline void pushReference(int32_t slot);
    void pushString(std::string_view text); // push(Value::string(text)) without the temporary
    inline bool pop() noexcept;             // false on an empty vector
    inline void dropTop() noexcept;         // pop() on a vector known not to be empty
    // dropTop() of a top already moved from (Null).
    void dropMovedTop() noexcept { --count_; }
    inline Value* top() noexcept;
    inline Value* second() noexcept;

    void clear() noexcept;                    // releases elements and storage
    inline void releaseElements() noexcept;   // releases elements, keeps storage
    inline void truncate(int32_t n) noexcept; // drops elements from n on
    // truncate() for elements that hold nothing to release (scalars,
    // references, moved-from values): they are cleared without a look.
    inline void truncatePlain(int32_t n) noexcept;
    void reserve(int32_t n);
    void eraseAt(int32_t i) noexcept;

  private:
    void growTo(int64_t needed);
    Value* items_ = nullptr;
    int32_t count_ = 0;
    int32_t capacity_ = 0;
};

class Value
{
  public:
    Value() noexcept : type_(ValueType::Null) { u_.bits = 0; }
    Value(const Value& other) noexcept : type_(other.type_), u_(other.u_) { retain(); }
    Value(Value&& other) noexcept : type_(other.type_), u_(other.u_)
    {
        other.type_ = ValueType::Null;
        other.u_.bits = 0;
    }
    // Both assignments take the source's payload before releasing the old one,
    // so assigning an element of this value's own array is safe.
    Value& operator=(const Value& other) noexcept
    {
        other.retain();
        const ValueType t = other.type_;
        const Payload p = other.u_;
        release();
        type_ = t;
        u_ = p;
        return *this;
    }
    Value& operator=(Value&& other) noexcept
    {
        if (this != &other)
        {
            const ValueType t = other.type_;
            const Payload p = other.u_;
            other.type_ = ValueType::Null;
            other.u_.bits = 0;
            release();
            type_ = t;
            u_ = p;
        }
        return *this;
    }
    ~Value() { release(); }

    void swap(Value& other) noexcept
    {
        std::swap(type_, other.type_);
        std::swap(u_, other.u_);
    }

    // Construction
    static Value integer(int32_t v) noexcept { return Value(ValueType::Integer, v); }
    static Value flags(int32_t v) noexcept { return Value(ValueType::Flags, v); }
    static Value reference(int32_t slot) noexcept { return Value(ValueType::Reference, slot); }
    static Value floating(double v) noexcept
    {
        Value r;
        r.type_ = ValueType::Float;
        r.u_.f = v;
        return r;
    }
    static Value string(std::string_view text);
    static Value stringWithCapacity(std::string_view text, int32_t capacity);
    // A text of [length] bytes that the caller fills through textBuffer().
    static Value stringOfLength(int64_t length);
    static Value date(const DateValue& d);
    static Value array(); // empty array
    static Value array(ValueVector&& items);

    // Setters (release the old payload first)
    void setNull() noexcept { Value().swap(*this); }
    // setNull() with the count's drop inline, for the few hot places that
    // take values off a stack of their own.
    inline void clearInline() noexcept;
    void setInteger(int32_t v) noexcept
    {
        release();
        type_ = ValueType::Integer;
        u_.bits = 0;
        u_.i = v;
    }
    void setFlags(int32_t v) noexcept { *this = flags(v); }
    void setFloat(double v) noexcept { *this = floating(v); }
    void setString(std::string_view text) { *this = string(text); }
    void setDate(const DateValue& d) { *this = date(d); }
    void setArray() { *this = array(); }
    void setReference(int32_t slot) noexcept { *this = reference(slot); }

    // Type tests
    ValueType type() const noexcept { return type_; }
    bool isNull() const noexcept { return type_ == ValueType::Null; }
    bool isInteger() const noexcept { return type_ == ValueType::Integer; }
    bool isString() const noexcept { return type_ == ValueType::String; }
    bool isArray() const noexcept { return type_ == ValueType::Array; }
    bool isReference() const noexcept { return type_ == ValueType::Reference; }
    bool isDate() const noexcept { return type_ == ValueType::Date; }
    bool isFloat() const noexcept { return type_ == ValueType::Float; }
    // A String no other Value shares: changing it in place is invisible.
    bool isUnsharedString() const noexcept { return type_ == ValueType::String && u_.s->refs == 1; }
    inline bool isUnsharedArray() const noexcept;

    // Raw payload access; the caller has checked the type.
    int32_t rawInt() const noexcept { return u_.i; } // Integer, Flags, Reference
    double rawFloat() const noexcept { return u_.f; }
    std::string_view stringView() const noexcept { return u_.s->view(); }
    const char* cString() const noexcept { return u_.s->data; } // zero-terminated
    // The bytes of a String nothing else shares, to be changed in place.
    char* textBuffer() noexcept { return u_.s->data; }
    const ValueVector& arrayItems() const noexcept;
    const DateValue& dateValue() const noexcept;

    // Mutable access: detaches a shared payload first.
    ValueVector& mutableArray();
    DateValue& mutableDate();
    // Appends to a String in place (detaching, growing geometrically).
    void appendToString(std::string_view text);
    // Gives a String nothing else shares the text [text] in its own storage
    // when it fits; false, and nothing changed, otherwise.
    inline bool overwriteText(std::string_view text) noexcept;
    // The bytes of a String nothing else shares, made [length] long (the
    // caller fills them), when its storage has room; null, and nothing
    // changed, otherwise.
    inline char* textBufferOfLength(int64_t length) noexcept;

    // Conversions
    int32_t toInt() const noexcept;
    double toFloat() const noexcept;
    DateValue toDate() const;
    Value toArray() const;
    bool truth() const noexcept { return toInt() != 0; }
    bool isBlank() const noexcept;
    // Text form. With no settings the plain form (dates as "Sun, 06 Nov 1994
    // 08:49:37 GMT", blank dates as "BLANK"); with settings the general form
    // (dates in the script's display format).
    void appendText(std::string& out, const DateDisplaySettings* settings = nullptr) const;
    std::string toText(const DateDisplaySettings* settings = nullptr) const;
    // The whole text of a String or the converted text of anything else.
    std::string_view textView(std::string& scratch, const DateDisplaySettings* settings = nullptr) const;

    int32_t refCount() const noexcept; // of a heap payload; 0 for scalars (tests, diagnostics)

  private:
    Value(ValueType t, int32_t v) noexcept : type_(t)
    {
        u_.bits = 0;
        u_.i = v;
    }
    inline void retain() const noexcept;
    // A String nothing else shares with room for [length] bytes; and setting
    // its length to that (the bytes are the caller's).
    inline bool hasRoomFor(int64_t length) const noexcept;
    inline char* setTextLength(int64_t length) noexcept;
    // Drops this value's count on a heap payload; the caller overwrites the value.
    inline void release() noexcept;
    void destroyHeap() noexcept; // the last count is gone
    void releaseHeap() noexcept;
    int32_t& heapRefs() const noexcept { return *reinterpret_cast<int32_t*>(u_.s); }

    ValueType type_;
    union Payload
    {
        uint64_t bits;
        int32_t i;
        double f;
        StringObject* s;
        ArrayObject* a;
        DateObject* d;
    } u_;

    friend class ValueVector;
};

static_assert(sizeof(Value) == 16);

struct ArrayObject
{
    int32_t refs;
    ValueVector items;
};

struct DateObject
{
    int32_t refs;
    DateValue date;
};

inline bool isHeapType(ValueType t) noexcept
{
    // One test for String, Array and Date.
    constexpr uint32_t kHeap =
        (1u << uint32_t(ValueType::String)) | (1u << uint32_t(ValueType::Array)) | (1u << uint32_t(ValueType::Date));
    return ((kHeap >> (static_cast<uint32_t>(t) & 31u)) & 1u) != 0;
}

// Every heap payload starts with its count, so one test and one increment
// serve all three kinds.
inline void Value::retain() const noexcept
{
    if (isHeapType(type_)) ++heapRefs();
}

inline void Value::clearInline() noexcept
{
    if (isHeapType(type_) && --heapRefs() == 0) destroyHeap();
    type_ = ValueType::Null;
    u_.bits = 0;
}

inline bool Value::hasRoomFor(int64_t length) const noexcept
{
    return isUnsharedString() && length <= u_.s->capacity;
}

inline char* Value::setTextLength(int64_t length) noexcept
{
    StringObject* s = u_.s;
    s->length = static_cast<int32_t>(length);
    s->data[length] = '\0';
    return s->data;
}

inline bool Value::overwriteText(std::string_view text) noexcept
{
    if (!hasRoomFor(static_cast<int64_t>(text.size()))) return false;
    // [text] may be a part of this very text, at or after its start: short
    // copies read before they write or go forward, and the length is set last.
    if (text.size() > 16)
        std::memmove(u_.s->data, text.data(), text.size());
    else
        CopyBytes(u_.s->data, text.data(), text.size());
    setTextLength(static_cast<int64_t>(text.size()));
    return true;
}

inline char* Value::textBufferOfLength(int64_t length) noexcept
{
    return hasRoomFor(length) ? setTextLength(length) : nullptr;
}

inline void Value::release() noexcept
{
    if (isHeapType(type_)) releaseHeap();
}

inline bool Value::isUnsharedArray() const noexcept
{
    return type_ == ValueType::Array && u_.a->refs == 1;
}

inline const ValueVector& Value::arrayItems() const noexcept
{
    return u_.a->items;
}
inline const DateValue& Value::dateValue() const noexcept
{
    return u_.d->date;
}

// ---- ValueVector inline paths ----

inline Value& ValueVector::operator[](int32_t i) noexcept
{
    return items_[i];
}
inline const Value& ValueVector::operator[](int32_t i) const noexcept
{
    return items_[i];
}
inline const Value* ValueVector::find(int32_t i) const noexcept
{
    return i >= 0 && i < count_ ? items_ + i : nullptr;
}
inline Value* ValueVector::top() noexcept
{
    return count_ > 0 ? items_ + count_ - 1 : nullptr;
}
inline Value* ValueVector::second() noexcept
{
    return count_ > 1 ? items_ + count_ - 2 : nullptr;
}

inline Value& ValueVector::at(int32_t i)
{
    if (i >= count_)
    {
        if (i >= capacity_) growTo(static_cast<int64_t>(i) + 1);
        count_ = i + 1;
    }
    return items_[i];
}

inline Value& ValueVector::push()
{
    if (count_ >= capacity_) growTo(static_cast<int64_t>(count_) + 1);
    return items_[count_++];
}

inline void ValueVector::push(Value&& v)
{
    push() = std::move(v);
}

inline void ValueVector::push(const Value& v)
{
    push() = v;
}

inline void ValueVector::pushInteger(int32_t v)
{
    if (count_ >= capacity_) growTo(static_cast<int64_t>(count_) + 1);
    // Slots past the count are always Null, so no release is needed.
    Value& slot = items_[count_++];
    slot.type_ = ValueType::Integer;
    slot.u_.i = v;
}

inline void ValueVector::pushReference(int32_t slot)
{
    if (count_ >= capacity_) growTo(static_cast<int64_t>(count_) + 1);
    Value& v = items_[count_++];
    v.type_ = ValueType::Reference;
    v.u_.i = slot;
}

inline void ValueVector::truncate(int32_t n) noexcept
{
    if (n < 0) n = 0;
    // From the end, so a failure midway still leaves a consistent count. Slots
    // past the count must read as Null when the vector grows again.
    while (count_ > n)
    {
        Value& v = items_[--count_];
        v.release();
        v.type_ = ValueType::Null;
        v.u_.bits = 0;
    }
}

inline void ValueVector::truncatePlain(int32_t n) noexcept
{
    if (count_ <= n) return;
    if (n < 0) n = 0;
    std::memset(static_cast<void*>(items_ + n), 0, sizeof(Value) * static_cast<size_t>(count_ - n));
    count_ = n;
}

inline void ValueVector::releaseElements() noexcept
{
    truncate(0);
}

inline void ValueVector::dropTop() noexcept
{
    Value& v = items_[--count_];
    v.release();
    v.type_ = ValueType::Null;
    v.u_.bits = 0;
}

inline bool ValueVector::pop() noexcept
{
    if (count_ == 0) return false;
    Value& v = items_[--count_];
    v.release();
    v.type_ = ValueType::Null;
    v.u_.bits = 0;
    return true;
}

// Comparison kinds of the instructions and the library.
enum class CompareOp
{
    LT,
    GT,
    LE,
    GE,
    NE,
    EQ
};

// 1 or 0 as the comparison instructions give it.
bool CompareValues(const Value& a, const Value& b, CompareOp op) noexcept;
// Byte-wise (unsigned) comparison up to the first zero byte; ASCII case folding on request.
int CompareText(const char* a, const char* b, bool caseSensitive) noexcept;
// Text to integer as the 32-bit runtime's atoi reads it (saturating).
int32_t TextToInt(const char* text) noexcept;
int32_t TextToInt(std::string_view text) noexcept;

} // namespace tn
