// The files one script has open, by handle. Every stream is closed when this
// object goes, so a script's files never outlive it however its run ended.
#pragma once

#include <cstdint>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <string>

#include <sys/stat.h>

namespace tn
{

class OpenFiles
{
  public:
    // Opens [path] with the C library [mode]; the new handle is one above the
    // largest open one (1 when none is open), 0 when the file cannot be opened
    // or is a folder.
    int32_t open(const std::string& path, const char* mode)
    {
        const int32_t largest = files_.empty() ? 0 : files_.rbegin()->first;
        if (largest == std::numeric_limits<int32_t>::max()) return 0;
        std::FILE* file = std::fopen(path.c_str(), mode);
        if (!file) return 0;
        // A folder opens for reading here but is no file to a script.
        struct stat status;
        if (fstat(fileno(file), &status) != 0 || S_ISDIR(status.st_mode))
        {
            std::fclose(file);
            return 0;
        }
        files_.emplace(largest + 1, file);
        return largest + 1;
    }

    std::FILE* find(int32_t handle) const noexcept
    {
        const auto it = files_.find(handle);
        return it == files_.end() ? nullptr : it->second.get();
    }

    // False for a handle that is not open.
    bool close(int32_t handle) { return files_.erase(handle) > 0; }
    void closeAll() noexcept { files_.clear(); }

  private:
    struct Closer
    {
        void operator()(std::FILE* file) const noexcept { std::fclose(file); }
    };
    std::map<int32_t, std::unique_ptr<std::FILE, Closer>> files_;
};

} // namespace tn
