// Files the program writes for itself appear whole or not at all: the bytes go
// to a new file in the target's folder, which takes the target's place only
// once every byte is on disk. A reader never sees a half-written file, and a
// failed write leaves any earlier file as it was.
#pragma once

#include "common/result_codes.h"

#include <string>
#include <string_view>

namespace tn
{

class FileReplacement
{
  public:
    // Creates the new file beside [path]; ready() tells whether that worked.
    explicit FileReplacement(std::string path);
    // Removes the new file unless commit() put it in place.
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    bool ready() const noexcept { return fd_ >= 0; }
    // False once any write has failed or run short; later writes do nothing.
    bool write(std::string_view bytes) noexcept;
    // Flushes the new file to disk and renames it over the target: OK, or
    // FileError after any failure (the new file is then removed).
    ereturnvalue commit();

  private:
    void discard() noexcept;

    std::string target_;
    std::string temporary_;
    int fd_ = -1;
    bool failed_ = false;
};

// [bytes] as the whole content of [path], by the rule above.
ereturnvalue WriteFileWhole(const std::string& path, std::string_view bytes);

} // namespace tn
