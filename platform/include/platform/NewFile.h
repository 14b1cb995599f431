#pragma once
// Files the programs make anew where another user might have left a name
// before them: whatever has the name (a file, a link) is removed first, and
// the new file is created with O_EXCL and O_NOFOLLOW, so nothing is written
// through a link and nothing someone else made is reused.
#include <sys/types.h>

#include <string>
#include <string_view>

namespace platform {

// A write-only, close-on-exec descriptor of `path` made anew with `mode`
// (less the umask), or -1 with errno set. The caller closes it.
int CreateNewFile(const std::string &path, mode_t mode = 0600);

// Writes all of `bytes` to `fd`, going on after interruptions and short
// writes: 0, or the errno value of the failure (EIO when nothing was taken).
int WriteAll(int fd, std::string_view bytes);

// `bytes` as the new file `path` (CreateNewFile). False with errno set when
// the file cannot be made or written whole.
bool WriteNewFile(const std::string &path, std::string_view bytes, mode_t mode = 0600);

} // namespace platform
