#include "CTargetFile.h"

#include "CSha256.h"

#include "platform/NewFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

bool CTargetFile::IsOwnPrivateFile(const struct stat &st)
{
    return st.st_uid == ::geteuid() && (st.st_mode & 022) == 0;
}

CTargetFile::~CTargetFile()
{
    Close();
}

int CTargetFile::Create(const std::string &path)
{
    Close();
    m_error = 0;
    // Installed files keep the mode a download gets: readable by everyone,
    // as the umask allows.
    m_fd = platform::CreateNewFile(path, 0666);
    return m_fd < 0 ? errno : 0;
}

int CTargetFile::OpenToResume(const std::string &path, std::int64_t offset, CSha256 *digest)
{
    Close();
    m_error = 0;
    m_fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (m_fd < 0)
        return errno;
    struct stat st {};
    int err = 0;
    if (::fstat(m_fd, &st) != 0)
        err = errno;
    else if (!S_ISREG(st.st_mode) || st.st_size < offset)
        err = EINVAL;
    else if (!IsOwnPrivateFile(st))
        err = EPERM;
    else if (::ftruncate(m_fd, offset) != 0 || ::lseek(m_fd, offset, SEEK_SET) != offset)
        err = errno;
    if (!err && digest) {
        char buffer[64 * 1024];
        for (std::int64_t at = 0; at < offset && !err;) {
            const std::int64_t want = offset - at < static_cast<std::int64_t>(sizeof buffer)
                                          ? offset - at
                                          : static_cast<std::int64_t>(sizeof buffer);
            const ssize_t n = ::pread(m_fd, buffer, static_cast<std::size_t>(want), at);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                err = n < 0 ? errno : EIO;
            else {
                digest->Update(buffer, static_cast<std::size_t>(n));
                at += n;
            }
        }
    }
    if (err) {
        ::close(m_fd);
        m_fd = -1;
    }
    return err;
}

int CTargetFile::Write(const char *data, std::size_t bytes)
{
    if (m_error)
        return m_error;
    if (m_fd < 0)
        return m_error = EBADF;
    if (!m_buffer)
        m_buffer = std::make_unique<char[]>(bufferBytes);
    while (bytes > 0) {
        const std::size_t take = bytes < bufferBytes - m_used ? bytes : bufferBytes - m_used;
        std::copy(data, data + take, m_buffer.get() + m_used);
        m_used += take;
        data += take;
        bytes -= take;
        if (m_used == bufferBytes && Flush() != 0)
            return m_error;
    }
    return 0;
}

int CTargetFile::Flush()
{
    if (m_error || m_used == 0)
        return m_error;
    if (m_digest)
        m_digest->Update(m_buffer.get(), m_used);
    m_error = platform::WriteAll(m_fd, std::string_view(m_buffer.get(), m_used));
    m_used = 0;
    return m_error;
}

int CTargetFile::Close()
{
    if (m_fd < 0)
        return m_error;
    Flush();
    if (::close(m_fd) != 0 && !m_error && errno != EINTR)
        m_error = errno;
    m_fd = -1;
    return m_error;
}
