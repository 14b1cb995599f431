#pragma once
// The local file a download goes to, in the temporary folder. Writes are
// collected in a 64 KiB buffer so that the downloader's 1024-byte pieces do
// not each cost a system call; everything written is in the file once
// Flush() or Close() returns, also after a failure or a cancel, so a partial
// file holds every byte that arrived.
//
// An existing entry of the target's name is replaced by a new file, never
// opened through a symbolic link, so a link planted there cannot make the
// download write anywhere else. A partial file is only gone on from when it
// is this user's own and nobody else may write it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class CSha256;
struct stat;

class CTargetFile {
public:
    static constexpr std::size_t bufferBytes = 64 * 1024;

    CTargetFile() = default;
    ~CTargetFile();
    CTargetFile(const CTargetFile &) = delete;
    CTargetFile &operator=(const CTargetFile &) = delete;

    // Creates `path` anew, replacing what has that name. 0 or an errno value.
    int Create(const std::string &path);
    // Opens the existing regular file `path` to go on writing at `offset`
    // (anything beyond it is cut off). The bytes before `offset` go into
    // `digest` when one is given. 0 or an errno value: EPERM when the file
    // is not IsOwnPrivateFile (someone else could have written its bytes).
    int OpenToResume(const std::string &path, std::int64_t offset, CSha256 *digest);

    // Whether a file (of fstat) belongs to this user and group and others
    // may not write it.
    static bool IsOwnPrivateFile(const struct stat &st);

    bool IsOpen() const { return m_fd >= 0; }
    // Bytes flushed to the file from now on also go into `digest`.
    void SetDigest(CSha256 *digest) { m_digest = digest; }

    // 0 or an errno value (the first failure sticks).
    int Write(const char *data, std::size_t bytes);
    int Flush();
    // Flushes and closes; 0 or the errno of the first failure.
    int Close();

private:
    int m_fd = -1;
    int m_error = 0;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_used = 0;
    CSha256 *m_digest = nullptr;
};
