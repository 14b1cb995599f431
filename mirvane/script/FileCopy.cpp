#include "FileCopy.h"

#include "CLogFile.h"

#include "platform/NewFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Closes a descriptor when it goes.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int Get() const { return m_fd; }
    // Closes now; false when closing reported an error (a failed write).
    bool Close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool CopyBytes(int from, int to)
{
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(from, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        if (const int error = platform::WriteAll(to, std::string_view(buffer, static_cast<std::size_t>(n)));
            error != 0) {
            errno = error;
            return false;
        }
    }
}

} // namespace

bool CopyFileReplacing(const std::string &source, const std::string &target)
{
    FileDescriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (in.Get() < 0 || ::fstat(in.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        VLOG("Mirvane", "복사할 파일을 열 수 없습니다: %s (%s)\n", source.c_str(), std::strerror(errno));
        return false;
    }
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    const std::string temp = folder + "." + name + ".mirvane-tmp";
    FileDescriptor out(platform::CreateNewFile(temp));
    bool ok = out.Get() >= 0 && CopyBytes(in.Get(), out.Get()) &&
              ::fchmod(out.Get(), st.st_mode & 07777) == 0 && ::fsync(out.Get()) == 0;
    ok = out.Close() && ok;
    if (ok && ::rename(temp.c_str(), target.c_str()) == 0)
        return true;
    VLOG("Mirvane", "파일을 복사하지 못했습니다: %s -> %s (%s)\n", source.c_str(), target.c_str(),
         std::strerror(errno));
    ::unlink(temp.c_str());
    return false;
}
