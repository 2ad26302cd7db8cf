// Array functions: count, push, pop, sort, strsort, reverse, split,
// splitwithquotes, join, joinwithquotes, min, max, shuffle, find, erase, and
// the random numbers rand and srand.
//
// Every function that gives an array builds a new one from copies of the
// elements; copies share payloads, so they cost a reference count each.
#include "lib/core_functions.h"

#include "common/ascii.h"
#include "common/byte_copy.h"
#include "common/quotes.h"
#include "common/text_split.h"
#include "vm/virtual_machine.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tn
{

namespace
{
// Variants of the handlers that serve two names.
constexpr int32_t kPlain = 0;
constexpr int32_t kQuoted = 1; // splitwithquotes, joinwithquotes
constexpr int32_t kByText = 1; // strsort
constexpr int32_t kMin = 0;
constexpr int32_t kMax = 1;

// ---- Random numbers ----

// The classic C runtime generator, state 1 until the first srand. Like the C
// runtime's, its state belongs to the thread that runs the scripts.
thread_local uint32_t randomState = 1;

uint32_t nextRandom() noexcept
{
    randomState = randomState * 214013u + 2531011u;
    return (randomState >> 16) & 0x7FFFu;
}

// A uniform draw in [0, bound): as many 15-bit draws as the bound needs, and a
// draw from the incomplete top band is thrown away so no result is favoured.
uint64_t randomBelow(uint64_t bound) noexcept
{
    const int draws = bound <= (1u << 15) ? 1 : (bound <= (1u << 30) ? 2 : 3);
    const uint64_t span = uint64_t(1) << (15 * draws);
    const uint64_t limit = span - span % bound;
    for (;;)
    {
        uint64_t r = 0;
        for (int i = 0; i < draws; ++i)
            r = (r << 15) | nextRandom();
        if (r < limit) return r % bound;
    }
}

ereturnvalue randomNumber(SysCall& call)
{
    const int64_t low = std::max(call.integer(1), 0);
    int64_t high = call.integer(2);
    if (high < low) high = low + 1;
    const int64_t range = high - low + 1;
    // low + 1 may pass the 32-bit limit; the sum wraps as 32-bit arithmetic does.
    const int64_t drawn = low + static_cast<int64_t>(nextRandom()) % range;
    return call.returnInt(static_cast<int32_t>(static_cast<uint32_t>(drawn)));
}

ereturnvalue seedRandom(SysCall& call)
{
    const int32_t seed = call.integer(1);
    if (seed != 0)
        randomState = static_cast<uint32_t>(seed);
    else
    {
        const auto tick =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
        randomState = static_cast<uint32_t>(tick.count());
    }
    return call.returnInt(seed);
}

// ---- Building and reordering ----

ereturnvalue count(SysCall& call)
{
    return call.returnInt(call.array(1).count());
}

ereturnvalue push(SysCall& call)
{
    Value& array = call.arg(1);
    if (array.isUnsharedArray())
    {
        // Nothing else holds it (see reusingFirst): it grows in place, and
        // only once the room for all elements is there.
        ValueVector& grown = array.mutableArray();
        grown.reserve(grown.count() + call.argc - 1);
        for (int32_t i = 2; i <= call.argc; ++i)
            grown.push(std::move(call.arg(i)));
        return call.returnValue(std::move(array));
    }
    const ValueVector& first = call.array(1);
    ValueVector items;
    items.reserve(first.count() + call.argc - 1);
    for (int32_t i = 0; i < first.count(); ++i)
        items.push(first[i]);
    // The arguments are the call's own copies, so they can be moved.
    for (int32_t i = 2; i <= call.argc; ++i)
        items.push(std::move(call.arg(i)));
    return call.returnArray(std::move(items));
}

// The argument is by reference: the shortened array left in its slot is what
// the VM copies back into the caller's variable. Anything else stays as it was.
ereturnvalue pop(SysCall& call)
{
    Value& target = call.arg(1);
    if (!target.isArray() || target.arrayItems().empty()) return ereturnvalue::OK;
    ValueVector& items = target.mutableArray();
    call.result = std::move(items[items.count() - 1]);
    items.pop();
    return ereturnvalue::OK;
}

ereturnvalue reverse(SysCall& call)
{
    const ValueVector& source = call.array(1);
    ValueVector items;
    items.reserve(source.count());
    for (int32_t i = source.count() - 1; i >= 0; --i)
        items.push(source[i]);
    return call.returnArray(std::move(items));
}

ereturnvalue erase(SysCall& call)
{
    const int32_t index = call.integer(2);
    const ValueVector& source = call.array(1);
    ValueVector items;
    items.reserve(source.count());
    for (int32_t i = 0; i < source.count(); ++i)
        if (i != index) items.push(source[i]);
    return call.returnArray(std::move(items));
}

// Fisher-Yates over copies of the elements.
ereturnvalue shuffle(SysCall& call)
{
    const ValueVector& source = call.array(1);
    ValueVector items;
    items.reserve(source.count());
    for (int32_t i = 0; i < source.count(); ++i)
        items.push(source[i]);
    for (int32_t i = items.count() - 1; i > 0; --i)
    {
        const auto j = static_cast<int32_t>(randomBelow(static_cast<uint64_t>(i) + 1));
        items[i].swap(items[j]);
    }
    return call.returnArray(std::move(items));
}

// min and max compare the elements as integers; a non-array comes back as it is.
ereturnvalue minMax(SysCall& call)
{
    Value& argument = call.arg(1);
    if (!argument.isArray()) return call.returnValue(std::move(argument));
    const ValueVector& items = argument.arrayItems();
    if (items.empty()) return call.returnInt(0);
    int32_t best = items[0].toInt();
    for (int32_t i = 1; i < items.count(); ++i)
    {
        const int32_t v = items[i].toInt();
        best = call.variant() == kMax ? std::max(best, v) : std::min(best, v);
    }
    return call.returnInt(best);
}

// ---- Sorting ----

// Stable bottom-up merge sort: short runs by insertion, then merging runs of
// doubling width between [data] and a buffer. A pair of runs already in order
// is copied, not merged, so sorted input costs one comparison per run.
template <typename T, typename Less> void mergeSort(T* data, size_t n, Less less)
{
    constexpr size_t kRun = 16;
    for (size_t lo = 0; lo < n; lo += kRun)
    {
        const size_t hi = std::min(lo + kRun, n);
        for (size_t i = lo + 1; i < hi; ++i)
        {
            const T item = data[i];
            size_t j = i;
            for (; j > lo && less(item, data[j - 1]); --j)
                data[j] = data[j - 1];
            data[j] = item;
        }
    }
    if (n <= kRun) return;
    // Every slot is written before it is read: no need to clear the buffer.
    const auto buffer = std::make_unique_for_overwrite<T[]>(n);
    T* from = data;
    T* to = buffer.get();
    for (size_t width = kRun; width < n; width *= 2)
    {
        for (size_t lo = 0; lo < n; lo += 2 * width)
        {
            const size_t mid = std::min(lo + width, n);
            const size_t hi = std::min(lo + 2 * width, n);
            if (mid == hi || !less(from[mid], from[mid - 1]))
            {
                std::copy(from + lo, from + hi, to + lo);
                continue;
            }
            // Equal keys take the left run first: that keeps the sort stable.
            // Branch-free steps, from both ends at once: the front takes the
            // smallest, the back the largest, two independent chains.
            size_t i = lo, j = mid, k = lo;
            size_t ie = mid, je = hi, ke = hi;
            // Each step takes one element at each end, so this many steps
            // cannot run past a bound; the bounds are checked once per batch.
            for (size_t steps; (steps = std::min({mid - i, hi - j, ie - lo, je - mid, (ke - k) / 2})) > 0;)
                for (; steps > 0; --steps)
                {
                    const bool right = less(from[j], from[i]);
                    to[k++] = right ? from[j] : from[i];
                    j += right;
                    i += !right;
                    const bool left = less(from[je - 1], from[ie - 1]);
                    to[--ke] = left ? from[ie - 1] : from[je - 1];
                    ie -= left;
                    je -= !left;
                }
            while (i < ie && j < je)
            {
                const bool right = less(from[j], from[i]);
                to[k++] = right ? from[j] : from[i];
                j += right;
                i += !right;
            }
            std::copy(from + i, from + ie, to + k);
            std::copy(from + j, from + je, to + k + (ie - i));
        }
        std::swap(from, to);
    }
    if (from != data) std::copy(from, from + n, data);
}

// An element's sort key: the element, or the first element of a nested array,
// as deep as the nesting goes. An empty array's element 0 reads as null.
const Value& sortKey(const Value& element)
{
    static const Value kNull;
    const Value* key = &element;
    while (key->isArray())
    {
        const ValueVector& items = key->arrayItems();
        if (items.empty()) return kNull;
        key = &items[0];
    }
    return *key;
}

struct TextKey
{
    const char* data; // null while the text sits in the arena at [offset]
    size_t offset;
    size_t length;
    int32_t index;
};

// Byte-wise, unsigned; a text sorts before any longer text it begins.
bool textLess(const TextKey& a, const TextKey& b) noexcept
{
    const int c = std::memcmp(a.data, b.data, std::min(a.length, b.length));
    return c != 0 ? c < 0 : a.length < b.length;
}

// Integer keys are packed with their index into one word: the key's sign bit
// flipped in the high half, the index in the low half. Word order is then key
// order with ties broken by position.
void pushByInteger(const ValueVector& source, ValueVector& items)
{
    const auto n = static_cast<size_t>(source.count());
    const auto keys = std::make_unique_for_overwrite<uint64_t[]>(n);
    for (int32_t i = 0; i < source.count(); ++i)
    {
        const Value& item = source[i];
        const int32_t value = item.isInteger() ? item.rawInt() : sortKey(item).toInt();
        const uint32_t key = static_cast<uint32_t>(value) ^ 0x80000000u;
        keys[static_cast<size_t>(i)] = (uint64_t(key) << 32) | static_cast<uint32_t>(i);
    }
    mergeSort(keys.get(), n, [](uint64_t a, uint64_t b) { return a < b; });
    for (size_t i = 0; i < n; ++i)
        items.push(source[static_cast<int32_t>(keys[i] & 0xFFFFFFFFu)]);
}

// Texts of string keys are read in place; other keys are converted into one
// arena (dates in the plain HTTP form).
void pushByText(const ValueVector& items, ValueVector& sorted)
{
    std::vector<TextKey> keys(static_cast<size_t>(items.count()));
    std::string arena;
    for (int32_t i = 0; i < items.count(); ++i)
    {
        const Value& key = sortKey(items[i]);
        TextKey& entry = keys[static_cast<size_t>(i)];
        entry.index = i;
        if (key.isString())
        {
            entry.data = key.stringView().data();
            entry.length = key.stringView().size();
            continue;
        }
        entry.data = nullptr;
        entry.offset = arena.size();
        key.appendText(arena);
        entry.length = arena.size() - entry.offset;
    }
    for (TextKey& entry : keys)
        if (entry.data == nullptr) entry.data = arena.data() + entry.offset;
    mergeSort(keys.data(), keys.size(), textLess);
    for (const TextKey& entry : keys)
        sorted.push(items[entry.index]);
}

ereturnvalue sort(SysCall& call)
{
    const ValueVector& source = call.array(1);
    ValueVector items;
    items.reserve(source.count());
    if (call.variant() == kByText)
        pushByText(source, items);
    else
        pushByInteger(source, items);
    return call.returnArray(std::move(items));
}

// ---- Searching ----

// One pair of surrounding double quotes removed.
std::string_view withoutDoubleQuotes(std::string_view text)
{
    return IsDoubleQuoted(text) ? text.substr(1, text.size() - 2) : text;
}

ereturnvalue find(SysCall& call)
{
    // The flags count only when exactly 1.
    const bool strictType = call.argc >= 3 && call.integer(3) == 1;
    const bool caseSensitive = call.argc >= 4 && call.integer(4) == 1;
    const bool ignoreQuotes = call.argc >= 5 && call.integer(5) == 1;
    const Value& wanted = call.arg(2);
    const ValueVector& items = call.array(1);
    const std::string_view wantedText =
        wanted.isString() ? (ignoreQuotes ? withoutDoubleQuotes(wanted.stringView()) : wanted.stringView())
                          : std::string_view();
    for (int32_t i = 0; i < items.count(); ++i)
    {
        const Value& item = items[i];
        bool match;
        if (item.type() != wanted.type())
            match = !strictType && CompareValues(item, wanted, CompareOp::EQ);
        else if (!item.isString())
            match = CompareValues(item, wanted, CompareOp::EQ);
        else if (ignoreQuotes)
        {
            const std::string_view text = withoutDoubleQuotes(item.stringView());
            match = caseSensitive ? text == wantedText : EqualsIgnoreCase(text, wantedText);
        }
        else
            match = CompareText(item.cString(), wanted.cString(), caseSensitive) == 0;
        if (match) return call.returnInt(i);
    }
    return call.returnInt(-1);
}

// ---- Splitting and joining ----

ereturnvalue split(SysCall& call)
{
    const bool quoted = call.variant() == kQuoted;
    if (call.argc == 1)
    {
        const std::string_view text = call.text(1);
        ValueVector items;
        items.reserve(static_cast<int32_t>(text.size()));
        for (size_t i = 0; i < text.size(); ++i)
        {
            const std::string_view byte = text.substr(i, 1);
            items.pushString(quoted ? TrimQuotes(byte) : byte);
        }
        return call.returnArray(std::move(items));
    }
    const std::string_view separator = call.text(1);
    const std::string_view text = call.text(2);
    TextSplitter splitter(separator, text, quoted, false, 0);
    if (call.result.isUnsharedArray())
    {
        // The old array of the variable the pieces go to: its storage and
        // texts nothing else holds take them.
        ValueVector& old = call.result.mutableArray();
        int32_t n = 0;
        splitter.forEach(
            [&](std::string_view piece)
            {
                if (quoted) piece = TrimQuotes(piece);
                if (n == old.count())
                    old.pushString(piece);
                else if (Value& item = old[n]; !item.overwriteText(piece))
                    item = Value::string(piece);
                ++n;
            });
        old.truncate(n);
        return ereturnvalue::OK;
    }
    ValueVector items;
    items.reserve(splitter.remaining());
    splitter.forEach([&](std::string_view piece) { items.pushString(quoted ? TrimQuotes(piece) : piece); });
    return call.returnArray(std::move(items));
}

// Calls [visit] with each scalar of [value] in order, nested arrays
// flattened. The walk keeps its own stack, built only when an array nests
// another, so deep nesting cannot exhaust the machine's.
template <typename Visit> void forEachScalar(const Value& value, Visit&& visit)
{
    if (!value.isArray())
    {
        visit(value);
        return;
    }
    const ValueVector& top = value.arrayItems();
    for (int32_t t = 0; t < top.count(); ++t)
    {
        if (!top[t].isArray())
        {
            visit(top[t]);
            continue;
        }
        std::vector<std::pair<const ValueVector*, int32_t>> stack{{&top[t].arrayItems(), 0}};
        while (!stack.empty())
        {
            auto& [items, next] = stack.back();
            if (next >= items->count())
            {
                stack.pop_back();
                continue;
            }
            const Value& item = (*items)[next++];
            if (item.isArray())
                stack.emplace_back(&item.arrayItems(), 0);
            else
                visit(item);
        }
    }
}

// The text of a join is gathered here and then copied once into the result.
// The buffer stays with the thread so that small joins allocate nothing but
// the result; one that grew large for a big join is let go afterwards.
thread_local std::string tJoinBuffer;
constexpr size_t kKeptJoinBuffer = 64 * 1024;

// Calls [visit] with each value of arguments [first] on, the elements of
// arrays one level deep, while it answers true; false when it stopped.
template <typename Visit> bool forEachElement(SysCall& call, int32_t first, Visit&& visit)
{
    for (int32_t i = first; i <= call.argc; ++i)
    {
        const Value& v = call.arg(i);
        if (!v.isArray())
        {
            if (!visit(v)) return false;
            continue;
        }
        const ValueVector& items = v.arrayItems();
        for (int32_t k = 0; k < items.count(); ++k)
            if (!visit(items[k])) return false;
    }
    return true;
}

// The plain join of texts (and arrays of texts): the result is measured, then
// filled in place. False, with nothing done, for anything else.
bool joinTexts(SysCall& call, std::string_view separator, int32_t first)
{
    // No separator before the first text that is not empty.
    int64_t length = 0;
    bool started = false;
    const bool texts = forEachElement(call, first,
                                      [&](const Value& v)
                                      {
                                          if (!v.isString()) return false;
                                          const size_t n = v.stringView().size();
                                          length += static_cast<int64_t>(n + (started ? separator.size() : 0));
                                          started = started || n != 0;
                                          return true;
                                      });
    if (!texts) return false;
    // The old text of the variable the result goes to, when it has room.
    Value out;
    char* at = call.result.textBufferOfLength(length);
    if (!at)
    {
        out = Value::stringOfLength(length);
        at = out.textBuffer();
    }
    started = false;
    forEachElement(call, first,
                   [&](const Value& v)
                   {
                       const std::string_view text = v.stringView();
                       if (started && separator.size() == 1)
                       {
                           *at++ = separator[0];
                       }
                       else if (started)
                       {
                           CopyBytes(at, separator.data(), separator.size());
                           at += separator.size();
                       }
                       CopyBytes(at, text.data(), text.size());
                       at += text.size();
                       started = started || !text.empty();
                       return true;
                   });
    if (!out.isNull()) call.returnValue(std::move(out));
    return true;
}

ereturnvalue join(SysCall& call)
{
    const bool hasSeparator = call.argc >= 2;
    const std::string_view separator = hasSeparator ? call.text(1) : std::string_view();
    const bool quoted = call.variant() == kQuoted;
    if (!quoted && joinTexts(call, separator, hasSeparator ? 2 : 1)) return ereturnvalue::OK;
    std::string& out = tJoinBuffer;
    out.clear();
    std::string scratch;
    for (int32_t i = hasSeparator ? 2 : 1; i <= call.argc; ++i)
        forEachScalar(call.arg(i),
                      [&](const Value& v)
                      {
                          // No separator before the first text that is not empty.
                          if (!out.empty()) out.append(separator);
                          if (!quoted && !v.isString())
                          {
                              v.appendText(out); // plain form: dates as HTTP dates
                              return;
                          }
                          const std::string_view text = v.textView(scratch);
                          const bool addQuotes = quoted && NeedsQuotes(text);
                          if (addQuotes) out += '"';
                          out.append(text);
                          if (addQuotes) out += '"';
                      });
    const ereturnvalue r = call.returnText(out);
    if (out.capacity() > kKeptJoinBuffer) std::string().swap(out);
    return r;
}

constexpr ArgRule kSplitArgs = ArgRule::between(1, 2, ArgRule::Message::Minimum, 1);
constexpr ArgRule kFindArgs = ArgRule::between(2, 5, ArgRule::Message::Exact, 5);

constexpr SysFunction kArrayFunctions[] = {
    Fn("count", -5633, ArgRule::exactly(1), count).message("size").declared(1),
    Fn("push", -5634, ArgRule::atLeast(2), push).reusingFirst(),
    Fn("pop", -5635, ArgRule::exactly(1), pop).declared(1, {1}),
    Fn("sort", -5636, ArgRule::exactly(1), sort).as(kPlain),
    Fn("strsort", -5637, ArgRule::exactly(1), sort).as(kByText).message("sort"),
    Fn("reverse", -5638, ArgRule::exactly(1), reverse),
    Fn("split", -5639, kSplitArgs, split).as(kPlain).reusingTarget(),
    Fn("join", -5640, ArgRule::atLeast(1), join).as(kPlain).reusingTarget(),
    Fn("min", -5641, ArgRule::exactly(1), minMax).as(kMin),
    Fn("max", -5642, ArgRule::exactly(1), minMax).as(kMax),
    Fn("shuffle", -5643, ArgRule::exactly(1), shuffle),
    Fn("find", -5644, kFindArgs, find),
    Fn("splitwithquotes", -5645, kSplitArgs, split).as(kQuoted).message("split").reusingTarget(),
    Fn("erase", -5646, ArgRule::exactly(2), erase),
    Fn("joinwithquotes", -5647, ArgRule::atLeast(1), join).as(kQuoted).message("join").reusingTarget(),
    Fn("rand", -5889, ArgRule::exactly(2), randomNumber),
    Fn("srand", -5890, ArgRule::exactly(1), seedRandom),
};
} // namespace

std::span<const SysFunction> ArrayFunctions()
{
    return kArrayFunctions;
}

} // namespace tn
