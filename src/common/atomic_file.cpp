#include "common/atomic_file.h"

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace tn
{

namespace
{
// Unique within the process; the process id makes it unique on the machine.
std::string TemporaryName(const std::string& target)
{
    static std::atomic<unsigned> counter{0};
    return target + ".tmp" + std::to_string(static_cast<long>(getpid())) + "-" + std::to_string(++counter);
}
} // namespace

AtomicFile::AtomicFile(std::string target) : target_(std::move(target))
{
    if (target_.empty()) return;
    temporary_ = TemporaryName(target_);
    // 0666 before the umask, as a plain fopen would make it.
    const int fd = open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
    {
        temporary_.clear();
        return;
    }
    stream_ = fdopen(fd, "wb");
    if (!stream_)
    {
        close(fd);
        unlink(temporary_.c_str());
        temporary_.clear();
    }
}

AtomicFile::~AtomicFile()
{
    if (stream_) std::fclose(stream_);
    if (!temporary_.empty()) unlink(temporary_.c_str());
}

bool AtomicFile::write(const void* data, size_t size)
{
    if (!stream_ || failed_) return false;
    if (size > 0 && std::fwrite(data, 1, size, stream_) != size) failed_ = true;
    return !failed_;
}

bool AtomicFile::commit()
{
    if (!stream_) return false;
    // A failed close can lose buffered bytes, so it counts as a failed write.
    const bool closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
    if (failed_ || !closed || std::rename(temporary_.c_str(), target_.c_str()) != 0) return false;
    temporary_.clear();
    return true;
}

} // namespace tn
