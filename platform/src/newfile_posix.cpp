#include "platform/NewFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

int CreateNewFile(const std::string &path, mode_t mode)
{
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        return -1;
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
}

int WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

bool WriteNewFile(const std::string &path, std::string_view bytes, mode_t mode)
{
    const int fd = CreateNewFile(path, mode);
    if (fd < 0)
        return false;
    if (const int error = WriteAll(fd, bytes); error != 0) {
        ::close(fd);
        errno = error;
        return false;
    }
    return ::close(fd) == 0;
}

} // namespace platform
