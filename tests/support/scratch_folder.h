// A fresh folder under the system's temporary folder, removed with everything
// in it when the test ends.
#pragma once

#include <sys/stat.h>
#include <sys/time.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace tn::test
{

class ScratchFolder
{
  public:
    ScratchFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "tntest-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

    // Writes [bytes] to [name], which may hold subfolders; returns the full path.
    std::string write(std::string_view name, std::string_view bytes) const
    {
        const std::string full = file(name);
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(full).parent_path(), ignored);
        std::ofstream(full, std::ios::binary | std::ios::trunc).write(bytes.data(), std::ssize(bytes));
        return full;
    }

    static std::string read(const std::string& full)
    {
        std::ifstream in(full, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // Sets the modification time to [seconds] since the epoch.
    static void touch(const std::string& full, long seconds)
    {
        timeval times[2] = {{seconds, 0}, {seconds, 0}};
        utimes(full.c_str(), times);
    }

  private:
    std::string path_;
};

} // namespace tn::test
