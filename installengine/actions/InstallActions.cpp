#include "InstallActions.h"

#include "CDesktopEntry.h"
#include "CInstallPlaces.h"
#include "ScriptPath.h"

#include "CLogFile.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace installengine {
namespace {

bool IsDirectory(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string &path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string FolderOf(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const char *data, std::size_t bytes)
{
    while (bytes > 0) {
        const ssize_t n = ::write(fd, data, bytes);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        bytes -= static_cast<std::size_t>(n);
    }
    return true;
}

// The copy of MoveIntoPlace across file systems.
bool CopyThenRename(const std::string &source, const std::string &target)
{
    static std::atomic<unsigned> counter{0};
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    struct stat st {};
    ::fstat(in, &st);
    const std::string temp = FolderOf(target) + "/.velmor-" + std::to_string(::getpid()) + "-" +
                             std::to_string(++counter) + ".tmp";
    const int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = true;
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        if (!WriteAll(out, buffer.data(), static_cast<std::size_t>(n))) {
            ok = false;
            break;
        }
    }
    ::close(in);
    ok = ::fchmod(out, st.st_mode & 07777) == 0 && ok;
    ok = ::fsync(out) == 0 && ok;
    ok = ::close(out) == 0 && ok;
    if (ok && ::rename(temp.c_str(), target.c_str()) == 0) {
        ::unlink(source.c_str());
        return true;
    }
    const int error = errno;
    ::unlink(temp.c_str());
    errno = error;
    return false;
}

} // namespace

bool CreateInstallFolder(const std::string &folder, CSetupFile &setup)
{
    const std::string path = NormalPath(folder);
    if (path.empty() || path.front() != '/')
        return false;
    std::vector<std::string> created;
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string level = slash == std::string::npos ? path : path.substr(0, slash);
        if (!IsDirectory(level)) {
            if (::mkdir(level.c_str(), 0755) == 0)
                created.push_back(level);
            else if (errno != EEXIST || !IsDirectory(level)) {
                VLOG("Install", "Could not create the folder %s (%s).\n", level.c_str(),
                     std::strerror(errno));
                return false;
            }
        }
        if (slash == std::string::npos)
            break;
    }
    if (created.empty())
        setup.RegisterDestination(path, true);
    for (const std::string &level : created)
        setup.RegisterDestination(level, false);
    return true;
}

bool IsFileInUse(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return false;
    }
    return errno == ETXTBSY || errno == EBUSY;
}

bool MoveIntoPlace(const std::string &source, const std::string &target)
{
    if (::rename(source.c_str(), target.c_str()) == 0)
        return true;
    if (errno == EXDEV && CopyThenRename(source, target))
        return true;
    VLOG("Install", "Could not move %s to %s (%s).\n", source.c_str(), target.c_str(), std::strerror(errno));
    return false;
}

void MakeRunnableIfProgram(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return;
    char head[4] = {};
    ssize_t n;
    do {
        n = ::read(fd, head, sizeof head);
    } while (n < 0 && errno == EINTR);
    struct stat st {};
    const bool program = n >= 2 && ((n == 4 && std::memcmp(head,
                                                           "\x7f"
                                                           "ELF",
                                                           4) == 0) ||
                                    std::memcmp(head, "#!", 2) == 0);
    if (program && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const mode_t mode = st.st_mode & 07777;
        const mode_t runnable = mode | ((mode & 0444) >> 2);
        if (runnable != mode && ::fchmod(fd, runnable) != 0)
            VLOG("Install", "Could not make %s runnable (%s).\n", path.c_str(), std::strerror(errno));
    }
    ::close(fd);
}

DWORD ParseDwordValue(std::string_view value)
{
    const bool hex = value.size() >= 3 && value.substr(0, 2) == "0x";
    const std::string text(value);
    // sscanf's "%x" and "%d": leading blanks and digits; nothing read is 0.
    return hex ? static_cast<DWORD>(std::strtoul(text.c_str(), nullptr, 16))
               : static_cast<DWORD>(std::strtol(text.c_str(), nullptr, 10));
}

ShortcutResult InstallShortcut(const CShortcutItem &item, CSetupFile &setup)
{
    if (!CreateInstallFolder(item.destDir, setup))
        return ShortcutResult::Failed;
    const bool program = ::strcasecmp(item.type.c_str(), CShortcutItem::kLinkFile) == 0;
    const bool page = ::strcasecmp(item.type.c_str(), CShortcutItem::kLinkInternet) == 0;
    if (!program && !page)
        return ShortcutResult::Ignored;
    if (!CInstallPlaces::IsPlainName(item.name)) {
        VLOG("Install", "\"%s\" is no name for a shortcut.\n", item.name.c_str());
        return ShortcutResult::Failed;
    }
    const std::string fileName = item.name + ".desktop";
    const std::string path = JoinPath(item.destDir, fileName);
    if (Exists(path))
        return ShortcutResult::Existed;

    CDesktopEntry entry;
    entry.Set("Type", program ? "Application" : "Link");
    entry.Set("Name", item.name);
    if (program) {
        entry.Set("Exec", CDesktopEntry::ExecLine(NativePath(item.linkFile), item.argument));
        if (!item.workDir.empty())
            entry.Set("Path", NativePath(item.workDir));
    } else {
        entry.Set("URL", item.linkUrl);
    }
    if (!item.iconFile.empty())
        entry.Set("Icon", NativePath(item.iconFile));
    if (!item.description.empty())
        entry.Set("Comment", item.description);
    if (!entry.Save(path))
        return ShortcutResult::Failed;
    if (!setup.HasInventoryEntry(path))
        setup.RecordFile(item.destDir, fileName, false, RECORD_INSTALLED, SetupTarget::UninstallFile);
    return ShortcutResult::Created;
}

} // namespace installengine
