// A file the program writes for itself appears whole or not at all: the
// bytes go to a temporary file in the same folder, which replaces the target
// only once everything was written and closed. A reader never sees a torn
// file, and a failed write (full disk, size limit) leaves the old one.
#pragma once

#include <cstdio>
#include <string>

namespace tn
{

class AtomicFile
{
  public:
    // Opens the temporary file; stream() is null when that failed.
    explicit AtomicFile(std::string target);
    // Removes the temporary file unless commit() succeeded.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    std::FILE* stream() const noexcept { return stream_; }
    // Closes the temporary file and renames it over the target. False when
    // any write, the close or the rename failed; the target is then untouched.
    bool commit();
    // Writes [size] bytes; a short write makes commit() fail.
    bool write(const void* data, size_t size);

  private:
    std::string target_;
    std::string temporary_;
    std::FILE* stream_ = nullptr;
    bool failed_ = false;
};

} // namespace tn
