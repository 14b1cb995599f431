#include "CDesktopEntry.h"

#include "CLogFile.h"

#include "platform/Process.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace installengine {

void CDesktopEntry::Set(std::string key, std::string value)
{
    m_keys.emplace_back(std::move(key), std::move(value));
}

std::string CDesktopEntry::Text() const
{
    std::string text = "[Desktop Entry]\n";
    for (const auto &[key, value] : m_keys)
        text += key + "=" + EscapeValue(value) + "\n";
    return text;
}

bool CDesktopEntry::Save(const std::string &path) const
{
    static std::atomic<unsigned> counter{0};
    const std::string temp =
        path + ".velmor-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0755);
    if (fd < 0) {
        VLOG("Install", "Could not create %s (%s).\n", temp.c_str(), std::strerror(errno));
        return false;
    }
    const std::string text = Text();
    bool ok = true;
    for (std::size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += static_cast<std::size_t>(n);
    }
    ok = ::fchmod(fd, 0755) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temp.c_str(), path.c_str()) == 0)
        return true;
    VLOG("Install", "Could not write %s (%s).\n", path.c_str(), std::strerror(errno));
    ::unlink(temp.c_str());
    return false;
}

std::string CDesktopEntry::EscapeValue(std::string_view value)
{
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\0':
            break;
        case ' ':
            out += i == 0 ? "\\s" : " ";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string CDesktopEntry::QuoteExecArgument(std::string_view argument)
{
    // The characters that make the format ask for quotes.
    static constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string percent;
    for (const char c : argument) {
        if (c == '%')
            percent += "%%";
        else if (c != '\0')
            percent += c;
    }
    if (!percent.empty() && percent.find_first_of(kReserved) == std::string::npos)
        return percent;
    std::string out = "\"";
    for (const char c : percent) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string CDesktopEntry::ExecLine(std::string_view program, std::string_view arguments)
{
    std::string line = QuoteExecArgument(program);
    for (const std::string &word : platform::SplitCommandLine(std::string(arguments)))
        line += " " + QuoteExecArgument(word);
    return line;
}

} // namespace installengine
