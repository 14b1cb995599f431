#include "CResumeNote.h"

#include "CTargetFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// A note is a URL and a header value; anything longer is not one of ours.
constexpr std::size_t maxNoteBytes = 16 * 1024;

} // namespace

CResumeNote::CResumeNote(const std::string &folder, const std::string &name)
    : m_path(folder + "." + name + ".resume")
{
}

bool CResumeNote::Matches(const std::string &url, std::string *validator) const
{
    const int fd = ::open(m_path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    // A note someone else could have written says nothing about our bytes.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !CTargetFile::IsOwnPrivateFile(st)) {
        ::close(fd);
        return false;
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || text.size() + static_cast<std::size_t>(n) > maxNoteBytes)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    const std::size_t first = text.find('\n');
    if (first == std::string::npos || text.compare(0, first, url) != 0)
        return false;
    const std::size_t second = text.find('\n', first + 1);
    if (second == std::string::npos)
        return false;
    // Without a validator the server cannot confirm that the partial bytes
    // are of the file it serves now.
    if (second == first + 1)
        return false;
    if (validator)
        *validator = text.substr(first + 1, second - first - 1);
    return true;
}

bool CResumeNote::Write(const std::string &url, const std::string &validator) const
{
    if (url.find('\n') != std::string::npos || validator.find('\n') != std::string::npos)
        return false;
    CTargetFile file;
    if (file.Create(m_path) != 0)
        return false;
    const std::string text = url + "\n" + validator + "\n";
    file.Write(text.data(), text.size());
    if (file.Close() != 0) {
        Remove();
        return false;
    }
    return true;
}

void CResumeNote::Remove() const
{
    ::unlink(m_path.c_str());
}
