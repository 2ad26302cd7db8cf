#include "common/file_replacement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

namespace tn
{

namespace
{
std::atomic<unsigned> gSerial{0};

// Through a symbolic link the file it names is replaced; the link stays.
std::string resolvedTarget(std::string path)
{
    struct stat status;
    if (lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode))
    {
        if (char* real = realpath(path.c_str(), nullptr))
        {
            path = real;
            std::free(real);
        }
    }
    return path;
}
} // namespace

FileReplacement::FileReplacement(std::string path) : target_(resolvedTarget(std::move(path)))
{
    if (target_.empty()) return;
    // The name is unique within the process; another process with the same
    // name in the folder only costs another attempt.
    for (int attempt = 0; attempt < 64 && fd_ < 0; ++attempt)
    {
        temporary_ = target_ + "." + std::to_string(getpid()) + "-" + std::to_string(gSerial++) + ".tmp";
        fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0)
    {
        temporary_.clear();
        return;
    }
    // The new file keeps the permissions of the one it replaces.
    struct stat status;
    if (stat(target_.c_str(), &status) == 0 && S_ISREG(status.st_mode) && fchmod(fd_, status.st_mode & 07777) != 0)
        failed_ = true;
}

FileReplacement::~FileReplacement()
{
    discard();
}

bool FileReplacement::write(std::string_view bytes) noexcept
{
    if (fd_ < 0) failed_ = true;
    while (!failed_ && !bytes.empty())
    {
        const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0)
            failed_ = true;
        else
            bytes.remove_prefix(static_cast<size_t>(written));
    }
    return !failed_;
}

ereturnvalue FileReplacement::commit()
{
    // fsync first: after a crash the target is then either the old file or the whole new one.
    if (fd_ < 0 || failed_ || ::fsync(fd_) != 0)
    {
        discard();
        return ereturnvalue::FileError;
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 || ::rename(temporary_.c_str(), target_.c_str()) != 0)
    {
        discard();
        return ereturnvalue::FileError;
    }
    temporary_.clear();
    return ereturnvalue::OK;
}

void FileReplacement::discard() noexcept
{
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    temporary_.clear();
}

ereturnvalue WriteFileWhole(const std::string& path, std::string_view bytes)
{
    FileReplacement file(path);
    file.write(bytes);
    return file.commit();
}

} // namespace tn
