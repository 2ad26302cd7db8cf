// Value storage: heap payload management, value vectors, conversions and
// comparisons. Every conversion the language knows lives here; library code
// calls these instead of converting on its own.
#include "vm/value.h"

#include "common/byte_copy.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace tn
{

namespace
{
// Element storage is capped well below the address space so that a script that
// writes to index 1,500,000,000 gets MemAlloc instead of paging the machine to death.
constexpr int64_t kMaxVectorBytes = int64_t(1) << 30;

// Arrays nest without limit, so releasing one must not recurse once per level.
thread_local std::vector<ArrayObject*> tPendingArrays;
thread_local bool tDrainingArrays = false;

void deleteArray(ArrayObject* array) noexcept;

void destroyArray(ArrayObject* array) noexcept
{
    if (tDrainingArrays)
    {
        tPendingArrays.push_back(array);
        return;
    }
    tDrainingArrays = true;
    deleteArray(array);
    while (!tPendingArrays.empty())
    {
        ArrayObject* next = tPendingArrays.back();
        tPendingArrays.pop_back();
        deleteArray(next);
    }
    tDrainingArrays = false;
}

void appendInt(std::string& out, int32_t v)
{
    char buf[16];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

void appendFloat(std::string& out, double v)
{
    char buf[64];
    int n = std::snprintf(buf, sizeof buf, "%f", v);
    if (n >= 0 && n < static_cast<int>(sizeof buf))
    {
        out.append(buf, static_cast<size_t>(n));
        return;
    }
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), "%f", v);
    big.pop_back();
    out += big;
}

// Small blocks come and go by the million in scripts that work on texts and
// arrays: texts, array objects and element storage of up to 512 bytes wait on
// per-size lists for reuse instead of going back to malloc. A pooled block is
// exactly its class's size, which its owner can tell from what it records (a
// text's or a vector's capacity), so freeing knows the class. Under
// AddressSanitizer every block goes to malloc and free, so that it still sees each one.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPoolBlocks = false;
#else
constexpr bool kPoolBlocks = true;
#endif
constexpr size_t kBlockSizes[] = {32, 64, 128, 256, 512};
constexpr int kBlockClasses = 5;
constexpr int32_t kMaxPooledBlocks = 4096; // per class; beyond that, free()
static_assert(sizeof(StringObject) == 16 && sizeof(Value) == 16);
static_assert(kBlockSizes[0] == 32 && kBlockSizes[1] == 64 && kBlockSizes[2] == 128 && kBlockSizes[3] == 256 &&
              kBlockSizes[4] == 512);

struct BlockPool
{
    struct FreeBlock
    {
        FreeBlock* next;
    };
    FreeBlock* heads[kBlockClasses] = {};
    int32_t counts[kBlockClasses] = {};

    BlockPool() = default;
    BlockPool(const BlockPool&) = delete;
    BlockPool& operator=(const BlockPool&) = delete;
    ~BlockPool()
    {
        for (FreeBlock*& head : heads)
            while (head)
                std::free(std::exchange(head, head->next));
    }
};
thread_local BlockPool tBlockPool;

// The class of a block of [bytes], or -1 when it is not pooled.
int blockClass(int64_t bytes) noexcept
{
    if (!kPoolBlocks || bytes > int64_t(kBlockSizes[kBlockClasses - 1])) return -1;
    if (bytes <= int64_t(kBlockSizes[0])) return 0;
    // The sizes are the powers of two from 32 on.
    return static_cast<int>(std::bit_width(static_cast<uint64_t>(bytes - 1))) - 5;
}

void* allocateBlock(int c)
{
    BlockPool& pool = tBlockPool;
    if (BlockPool::FreeBlock* block = pool.heads[c])
    {
        pool.heads[c] = block->next;
        --pool.counts[c];
        return block;
    }
    void* block = std::malloc(kBlockSizes[c]);
    if (!block) throw ereturnvalue::MemAlloc;
    return block;
}

void freeBlock(void* p, int c) noexcept
{
    BlockPool& pool = tBlockPool;
    if (pool.counts[c] >= kMaxPooledBlocks)
    {
        std::free(p);
        return;
    }
    auto* block = static_cast<BlockPool::FreeBlock*>(p);
    block->next = pool.heads[c];
    pool.heads[c] = block;
    ++pool.counts[c];
}

// A text's block holds its header and capacity.
int pooledClass(int64_t capacity) noexcept
{
    return blockClass(capacity + int64_t(sizeof(StringObject)));
}

// Rounds [capacity] up to its class when the block comes from the pool.
StringObject* allocateString(int64_t& capacity)
{
    const int c = pooledClass(capacity);
    if (c >= 0)
    {
        capacity = int64_t(kBlockSizes[c] - sizeof(StringObject));
        return static_cast<StringObject*>(allocateBlock(c));
    }
    auto* s = static_cast<StringObject*>(std::malloc(sizeof(StringObject) + static_cast<size_t>(capacity)));
    if (!s) throw ereturnvalue::MemAlloc;
    return s;
}

void freeString(StringObject* s) noexcept
{
    const int c = pooledClass(s->capacity);
    if (c >= 0)
        freeBlock(s, c);
    else
        std::free(s);
}

// Element storage: the class of [capacity] elements, or -1.
int storageClass(int64_t capacity) noexcept
{
    return blockClass(capacity * int64_t(sizeof(Value)));
}

void freeStorage(Value* items, int32_t capacity) noexcept
{
    const int c = storageClass(capacity);
    if (c >= 0 && items)
        freeBlock(items, c);
    else
        std::free(items);
}

static_assert(sizeof(ArrayObject) <= 32);

ArrayObject* newArray(ValueVector&& items)
{
    void* block = kPoolBlocks ? allocateBlock(0) : std::malloc(sizeof(ArrayObject));
    if (!block) throw ereturnvalue::MemAlloc;
    return new (block) ArrayObject{1, std::move(items)};
}

ArrayObject* copyArray(const ValueVector& items)
{
    ValueVector copy(items);
    return newArray(std::move(copy));
}

void deleteArray(ArrayObject* array) noexcept
{
    array->~ArrayObject();
    if (kPoolBlocks)
        freeBlock(array, 0);
    else
        std::free(array);
}
} // namespace

// ---- StringObject ----

StringObject* StringObject::create(std::string_view text, int32_t capacity)
{
    if (text.size() > 0x7FFFFFF0u) throw ereturnvalue::MemAlloc;
    int32_t length = static_cast<int32_t>(text.size());
    if (capacity < length) capacity = length;
    int64_t size = capacity;
    StringObject* s = allocateString(size);
    s->refs = 1;
    s->length = length;
    s->capacity = static_cast<int32_t>(size);
    CopyBytes(s->data, text.data(), static_cast<size_t>(length));
    s->data[length] = '\0';
    return s;
}

// ---- ValueVector ----

ValueVector::ValueVector(const ValueVector& other)
{
    if (other.count_ == 0) return;
    growTo(other.count_);
    for (int32_t i = 0; i < other.count_; ++i)
        new (&items_[i]) Value(other.items_[i]);
    count_ = other.count_;
}

ValueVector::ValueVector(ValueVector&& other) noexcept
    : items_(other.items_), count_(other.count_), capacity_(other.capacity_)
{
    other.items_ = nullptr;
    other.count_ = other.capacity_ = 0;
}

ValueVector& ValueVector::operator=(const ValueVector& other)
{
    if (this != &other)
    {
        ValueVector copy(other);
        *this = std::move(copy);
    }
    return *this;
}

ValueVector& ValueVector::operator=(ValueVector&& other) noexcept
{
    if (this != &other)
    {
        clear();
        items_ = other.items_;
        count_ = other.count_;
        capacity_ = other.capacity_;
        other.items_ = nullptr;
        other.count_ = other.capacity_ = 0;
    }
    return *this;
}

ValueVector::~ValueVector()
{
    clear();
}

void ValueVector::clear() noexcept
{
    // The storage goes too, so the slots are not reset one by one.
    for (int32_t i = count_; i-- > 0;)
        items_[i].release();
    count_ = 0;
    freeStorage(items_, capacity_);
    items_ = nullptr;
    capacity_ = 0;
}

void ValueVector::pushString(std::string_view text)
{
    if (count_ >= capacity_) growTo(static_cast<int64_t>(count_) + 1);
    StringObject* s = StringObject::create(text, 0);
    // Slots past the count are always Null, so no release is needed.
    Value& slot = items_[count_++];
    slot.type_ = ValueType::String;
    slot.u_.s = s;
}

void ValueVector::reserve(int32_t n)
{
    if (n > capacity_) growTo(n);
}

void ValueVector::eraseAt(int32_t i) noexcept
{
    if (i < 0 || i >= count_) return;
    items_[i].release();
    std::memmove(static_cast<void*>(items_ + i), items_ + i + 1, sizeof(Value) * static_cast<size_t>(count_ - i - 1));
    --count_;
    std::memset(static_cast<void*>(items_ + count_), 0, sizeof(Value));
}

void ValueVector::growTo(int64_t needed)
{
    // The limit follows the logical rule (capacity = needed + growth); the
    // physical storage grows geometrically so repeated appends stay linear.
    if (needed + kGrowth > kMaxCapacity) throw ereturnvalue::MemAlloc;
    int64_t target = capacity_ < 4 ? 4 : int64_t(capacity_) * 2;
    if (target < needed) target = needed;
    const int64_t maxElements = kMaxVectorBytes / int64_t(sizeof(Value));
    if (target > maxElements)
    {
        if (needed > maxElements) throw ereturnvalue::MemAlloc;
        target = maxElements;
    }
    // Values hold no pointers into themselves, so moving their bytes is a valid relocation.
    const int c = storageClass(target);
    if (c >= 0) target = int64_t(kBlockSizes[c] / sizeof(Value));
    void* grown;
    if (c < 0 && storageClass(capacity_) < 0)
    {
        grown = std::realloc(static_cast<void*>(items_), static_cast<size_t>(target) * sizeof(Value));
        if (!grown) throw ereturnvalue::MemAlloc;
    }
    else
    {
        grown = c >= 0 ? allocateBlock(c) : std::malloc(static_cast<size_t>(target) * sizeof(Value));
        if (!grown) throw ereturnvalue::MemAlloc;
        if (items_) std::memcpy(grown, static_cast<void*>(items_), static_cast<size_t>(capacity_) * sizeof(Value));
        freeStorage(items_, capacity_);
    }
    items_ = static_cast<Value*>(grown);
    std::memset(static_cast<void*>(items_ + capacity_), 0, static_cast<size_t>(target - capacity_) * sizeof(Value));
    capacity_ = static_cast<int32_t>(target);
}

// ---- Value heap payloads ----

Value Value::string(std::string_view text)
{
    Value v;
    v.u_.s = StringObject::create(text, 0);
    v.type_ = ValueType::String;
    return v;
}

Value Value::stringWithCapacity(std::string_view text, int32_t capacity)
{
    Value v;
    v.u_.s = StringObject::create(text, capacity);
    v.type_ = ValueType::String;
    return v;
}

Value Value::stringOfLength(int64_t length)
{
    if (length > 0x7FFFFFF0) throw ereturnvalue::MemAlloc;
    int64_t capacity = length;
    Value v;
    StringObject* s = allocateString(capacity);
    s->refs = 1;
    s->length = static_cast<int32_t>(length);
    s->capacity = static_cast<int32_t>(capacity);
    s->data[length] = '\0';
    v.u_.s = s;
    v.type_ = ValueType::String;
    return v;
}

Value Value::date(const DateValue& d)
{
    Value v;
    v.u_.d = new DateObject{1, d};
    v.type_ = ValueType::Date;
    return v;
}

Value Value::array()
{
    Value v;
    v.u_.a = newArray({});
    v.type_ = ValueType::Array;
    return v;
}

Value Value::array(ValueVector&& items)
{
    Value v;
    v.u_.a = newArray(std::move(items));
    v.type_ = ValueType::Array;
    return v;
}

static_assert(std::is_standard_layout_v<StringObject> && offsetof(StringObject, refs) == 0);
static_assert(std::is_standard_layout_v<ArrayObject> && offsetof(ArrayObject, refs) == 0);
static_assert(std::is_standard_layout_v<DateObject> && offsetof(DateObject, refs) == 0);

void Value::releaseHeap() noexcept
{
    if (--heapRefs() == 0) destroyHeap();
}

void Value::destroyHeap() noexcept
{
    switch (type_)
    {
    case ValueType::String:
        freeString(u_.s);
        break;
    case ValueType::Array:
        destroyArray(u_.a);
        break;
    case ValueType::Date:
        delete u_.d;
        break;
    default:
        break;
    }
}

int32_t Value::refCount() const noexcept
{
    switch (type_)
    {
    case ValueType::String:
        return u_.s->refs;
    case ValueType::Array:
        return u_.a->refs;
    case ValueType::Date:
        return u_.d->refs;
    default:
        return 0;
    }
}

ValueVector& Value::mutableArray()
{
    if (u_.a->refs > 1)
    {
        ArrayObject* copy = copyArray(u_.a->items);
        --u_.a->refs;
        u_.a = copy;
    }
    return u_.a->items;
}

DateValue& Value::mutableDate()
{
    if (u_.d->refs > 1)
    {
        auto* copy = new DateObject{1, u_.d->date};
        --u_.d->refs;
        u_.d = copy;
    }
    return u_.d->date;
}

void Value::appendToString(std::string_view text)
{
    StringObject* s = u_.s;
    StringObject* retired = nullptr;
    const int64_t needed = int64_t(s->length) + int64_t(text.size());
    if (needed > 0x7FFFFFF0) throw ereturnvalue::MemAlloc;
    if (s->refs > 1 || needed > s->capacity)
    {
        int64_t capacity = needed;
        if (needed > s->capacity)
            capacity = std::max<int64_t>(needed, std::min<int64_t>(int64_t(s->capacity) * 2, 0x7FFFFFF0));
        if (capacity < 32) capacity = 32;
        // Pooled blocks are never resized in place: a class is a fixed size.
        if (s->refs > 1 || pooledClass(s->capacity) >= 0 || pooledClass(capacity) >= 0)
        {
            StringObject* copy = StringObject::create(s->view(), static_cast<int32_t>(capacity));
            // [text] may lie in the old block: it goes only after the copy.
            if (s->refs > 1)
                --s->refs;
            else
                retired = s;
            s = u_.s = copy;
        }
        else
        {
            // [text] may be this very text: the block may move, so it is found again by its offset.
            const auto from = reinterpret_cast<uintptr_t>(text.data());
            const auto base = reinterpret_cast<uintptr_t>(s->data);
            const bool own = from >= base && from <= base + static_cast<uintptr_t>(s->length);
            auto* grown =
                static_cast<StringObject*>(std::realloc(s, sizeof(StringObject) + static_cast<size_t>(capacity)));
            if (!grown) throw ereturnvalue::MemAlloc;
            s = u_.s = grown;
            s->capacity = static_cast<int32_t>(capacity);
            if (own) text = std::string_view(s->data + (from - base), text.size());
        }
    }
    if (!text.empty()) std::memmove(s->data + s->length, text.data(), text.size());
    s->length = static_cast<int32_t>(needed);
    s->data[s->length] = '\0';
    if (retired) freeString(retired);
}

// ---- Conversions ----

int32_t TextToInt(const char* p) noexcept
{
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    int64_t v = 0;
    while (*p >= '0' && *p <= '9')
    {
        v = v * 10 + (*p++ - '0');
        if (v > 2147483648LL) v = 2147483648LL; // saturate; keep scanning digits
    }
    if (negative) return static_cast<int32_t>(-v < INT32_MIN ? INT32_MIN : -v);
    return static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : v);
}

int32_t TextToInt(std::string_view text) noexcept
{
    char buf[64];
    if (text.size() < sizeof buf)
    {
        std::memcpy(buf, text.data(), text.size());
        buf[text.size()] = '\0';
        return TextToInt(buf);
    }
    return TextToInt(std::string(text).c_str());
}

int32_t Value::toInt() const noexcept
{
    switch (type_)
    {
    case ValueType::Integer:
    case ValueType::Flags:
    case ValueType::Reference:
        return u_.i;
    case ValueType::Array:
        return u_.a->items.count();
    case ValueType::String:
        return TextToInt(u_.s->data);
    case ValueType::Float:
    {
        const double f = u_.f;
        // Out-of-range and NaN give the x86 "integer indefinite" value.
        if (!(f > -2147483649.0 && f < 2147483648.0)) return INT32_MIN;
        return static_cast<int32_t>(f);
    }
    default:
        return 0;
    }
}

double Value::toFloat() const noexcept
{
    switch (type_)
    {
    case ValueType::Integer:
    case ValueType::Reference:
        return u_.i;
    case ValueType::Flags:
        return static_cast<uint32_t>(u_.i);
    case ValueType::Array:
        return u_.a->items.count();
    case ValueType::String:
        return std::strtod(u_.s->data, nullptr);
    case ValueType::Float:
        return u_.f;
    default:
        return 0.0;
    }
}

DateValue Value::toDate() const
{
    DateValue d;
    if (type_ == ValueType::Date)
        d = u_.d->date;
    else if (type_ == ValueType::String)
        d.parseHttp(u_.s->view());
    return d;
}

Value Value::toArray() const
{
    if (type_ == ValueType::Array) return *this;
    return array();
}

bool Value::isBlank() const noexcept
{
    switch (type_)
    {
    case ValueType::Integer:
    case ValueType::Flags:
    case ValueType::Reference:
        return u_.i == 0;
    case ValueType::Array:
        return u_.a->items.count() == 0;
    case ValueType::String:
        return u_.s->length == 0;
    case ValueType::Date:
        return u_.d->date.isBlank();
    case ValueType::Float:
        return u_.f == 0.0;
    default:
        return true;
    }
}

void Value::appendText(std::string& out, const DateDisplaySettings* settings) const
{
    switch (type_)
    {
    case ValueType::Integer:
    case ValueType::Flags:
    case ValueType::Reference:
        appendInt(out, u_.i);
        break;
    case ValueType::Array:
        appendInt(out, u_.a->items.count());
        break;
    case ValueType::String:
        out.append(u_.s->data, static_cast<size_t>(u_.s->length));
        break;
    case ValueType::Date:
        if (settings)
            u_.d->date.appendDisplayForm(out, *settings);
        else
            u_.d->date.appendHttpForm(out);
        break;
    case ValueType::Float:
        appendFloat(out, u_.f);
        break;
    default:
        break;
    }
}

std::string Value::toText(const DateDisplaySettings* settings) const
{
    if (type_ == ValueType::String) return std::string(u_.s->view());
    std::string out;
    appendText(out, settings);
    return out;
}

std::string_view Value::textView(std::string& scratch, const DateDisplaySettings* settings) const
{
    if (type_ == ValueType::String) return u_.s->view();
    scratch.clear();
    appendText(scratch, settings);
    return scratch;
}

// ---- Comparison ----

int CompareText(const char* a, const char* b, bool caseSensitive) noexcept
{
    const auto* x = reinterpret_cast<const unsigned char*>(a);
    const auto* y = reinterpret_cast<const unsigned char*>(b);
    for (;; ++x, ++y)
    {
        unsigned cx = *x, cy = *y;
        if (!caseSensitive)
        {
            if (cx >= 'A' && cx <= 'Z') cx += 32;
            if (cy >= 'A' && cy <= 'Z') cy += 32;
        }
        if (cx != cy) return cx < cy ? -1 : 1;
        if (cx == 0) return 0;
    }
}

namespace
{
bool relation(int c, CompareOp op) noexcept
{
    switch (op)
    {
    case CompareOp::LT:
        return c < 0;
    case CompareOp::GT:
        return c > 0;
    case CompareOp::LE:
        return c <= 0;
    case CompareOp::GE:
        return c >= 0;
    case CompareOp::NE:
        return c != 0;
    case CompareOp::EQ:
        return c == 0;
    }
    return false;
}
} // namespace

bool CompareValues(const Value& a, const Value& b, CompareOp op) noexcept
{
    const ValueType ta = a.type(), tb = b.type();
    if (ta == tb)
    {
        switch (ta)
        {
        case ValueType::String:
            return relation(CompareText(a.cString(), b.cString(), true), op);
        case ValueType::Float:
        {
            const double x = a.rawFloat(), y = b.rawFloat();
            switch (op)
            {
            case CompareOp::LT:
                return x < y;
            case CompareOp::GT:
                return x > y;
            case CompareOp::LE:
                return x <= y;
            case CompareOp::GE:
                return x >= y;
            case CompareOp::NE:
                return !(x == y);
            case CompareOp::EQ:
                return x == y;
            }
            return false;
        }
        case ValueType::Date:
            return relation(a.dateValue().compare(b.dateValue()), op);
        default:
            break;
        }
    }
    const int32_t x = a.toInt(), y = b.toInt();
    return relation(x < y ? -1 : (x > y ? 1 : 0), op);
}

} // namespace tn
