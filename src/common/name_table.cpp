#include "common/name_table.h"

namespace tn
{

namespace
{

constexpr size_t kFirstIndexSize = 64;

} // namespace

// FNV-1a: names are short, and a byte loop beats a block hash there.
uint32_t NameTable::hashOf(std::string_view name) noexcept
{
    uint32_t hash = 2166136261u;
    for (const char c : name)
    {
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    }
    return hash;
}

bool NameTable::matches(const Entry& entry, uint32_t hash, std::string_view name) const noexcept
{
    return entry.hash == hash && std::string_view(text_.data() + entry.offset, entry.length) == name;
}

std::string_view NameTable::name(int32_t position) const noexcept
{
    const Entry& entry = entries_[static_cast<size_t>(position)];
    return {text_.data() + entry.offset, entry.length};
}

int32_t NameTable::find(std::string_view name) const noexcept
{
    if (index_.empty())
    {
        return -1;
    }
    const uint32_t hash = hashOf(name);
    const size_t mask = index_.size() - 1;
    // The index is never more than half full, so an empty slot ends every search.
    for (size_t at = hash & mask;; at = (at + 1) & mask)
    {
        const uint32_t slot = index_[at];
        if (slot == 0)
        {
            return -1;
        }
        if (matches(entries_[slot - 1], hash, name))
        {
            return static_cast<int32_t>(slot - 1);
        }
    }
}

int32_t NameTable::insert(std::string_view name, int32_t value, bool& added)
{
    if ((entries_.size() + 1) * 2 > index_.size())
    {
        grow();
    }
    const uint32_t hash = hashOf(name);
    const size_t mask = index_.size() - 1;
    size_t at = hash & mask;
    for (; index_[at] != 0; at = (at + 1) & mask)
    {
        if (matches(entries_[index_[at] - 1], hash, name))
        {
            added = false;
            return static_cast<int32_t>(index_[at] - 1);
        }
    }
    // Names come from a source text below 2 GB, so offsets fit 32 bits.
    entries_.push_back(Entry{static_cast<uint32_t>(text_.size()), static_cast<uint32_t>(name.size()), hash, value});
    text_.append(name);
    index_[at] = static_cast<uint32_t>(entries_.size());
    added = true;
    return static_cast<int32_t>(entries_.size() - 1);
}

void NameTable::reserve(size_t names, size_t textBytes)
{
    entries_.reserve(names);
    text_.reserve(textBytes);
    size_t size = index_.empty() ? kFirstIndexSize : index_.size();
    while (size < (names + 1) * 2)
        size *= 2;
    if (size > index_.size()) rehash(size);
}

void NameTable::grow()
{
    rehash(index_.empty() ? kFirstIndexSize : index_.size() * 2);
}

void NameTable::rehash(size_t size)
{
    index_.assign(size, 0);
    const size_t mask = size - 1;
    for (size_t i = 0; i < entries_.size(); ++i)
    {
        size_t at = entries_[i].hash & mask;
        while (index_[at] != 0)
        {
            at = (at + 1) & mask;
        }
        index_[at] = static_cast<uint32_t>(i + 1);
    }
}

void NameTable::clear() noexcept
{
    // Empties only the slots in use: a table cleared per function stays cheap
    // after one big function has grown its index.
    const size_t mask = index_.size() - 1;
    for (size_t i = 0; i < entries_.size(); ++i)
    {
        size_t at = entries_[i].hash & mask;
        while (index_[at] != i + 1)
        {
            at = (at + 1) & mask;
        }
        index_[at] = 0;
    }
    entries_.clear();
    text_.clear();
}

} // namespace tn
