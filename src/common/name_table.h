// NameTable: names and the numbers they stand for, kept in the order they
// were first added. All texts share one buffer and the index is an open
// addressed array, so a program with thousands of functions and globals costs
// a handful of allocations instead of one node (and maybe a string) per name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tn
{

class NameTable
{
  public:
    // Position of [name] (0, 1, ... in the order added), or -1.
    int32_t find(std::string_view name) const noexcept;
    // Position of [name]; adds it with [value] when it is new, which [added] tells.
    int32_t insert(std::string_view name, int32_t value, bool& added);

    int32_t size() const noexcept { return static_cast<int32_t>(entries_.size()); }
    std::string_view name(int32_t position) const noexcept;
    int32_t value(int32_t position) const noexcept { return entries_[static_cast<size_t>(position)].value; }
    void setValue(int32_t position, int32_t value) noexcept { entries_[static_cast<size_t>(position)].value = value; }

    // Room for [names] names of [textBytes] bytes in all, without regrowing.
    void reserve(size_t names, size_t textBytes);

    // Forgets every name but keeps the storage.
    void clear() noexcept;

  private:
    struct Entry
    {
        uint32_t offset; // of the text in text_
        uint32_t length;
        uint32_t hash;
        int32_t value;
    };

    static uint32_t hashOf(std::string_view name) noexcept;
    bool matches(const Entry& entry, uint32_t hash, std::string_view name) const noexcept;
    void grow();
    void rehash(size_t size);

    std::string text_;
    std::vector<Entry> entries_;
    // Position + 1 of the entry filed there, 0 when empty; the size is a power of two.
    std::vector<uint32_t> index_;
};

} // namespace tn
