#include "CFolderResolver.h"

#include "Macros.h"

#include <cstdlib>
#include <optional>

extern char **environ;

namespace installengine {
namespace {

const char *kShellFoldersKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// A variable as Windows finds it: by its exact name first, then without
// regard to letter case.
std::optional<std::string> Variable(std::string_view name)
{
    if (name.empty())
        return std::nullopt;
    const std::string exact(name);
    if (const char *value = std::getenv(exact.c_str()))
        return std::string(value);
    for (char **e = environ; e && *e; ++e) {
        const std::string_view entry(*e);
        const std::size_t eq = entry.find('=');
        if (eq != std::string_view::npos && SameText(entry.substr(0, eq), name))
            return std::string(entry.substr(eq + 1));
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> CFolderResolver::ExpandEnvironment(std::string_view text, std::size_t limit)
{
    std::string out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t open = text.find('%', at);
        if (open == std::string_view::npos) {
            out.append(text.substr(at));
            break;
        }
        out.append(text.substr(at, open - at));
        const std::size_t close = text.find('%', open + 1);
        if (close == std::string_view::npos) {
            out.append(text.substr(open));
            break;
        }
        if (const std::optional<std::string> value = Variable(text.substr(open + 1, close - open - 1))) {
            out += *value;
            at = close + 1;
        } else {
            // Not a variable: the first "%" stays and the second may open one.
            out.push_back('%');
            at = open + 1;
        }
    }
    if (out.size() + 1 > limit)
        return std::nullopt;
    return out;
}

bool CFolderResolver::FromShellFolder(platform::ShellFolder folder)
{
    m_path = platform::GetSpecialFolderPath(folder);
    return !m_path.empty();
}

bool CFolderResolver::FromCommonFolder(std::string_view valueName, platform::ShellFolder fallback)
{
    if (FromRegistry(platform::RegRoot::HKLM, kShellFoldersKey, valueName)) {
        if (std::optional<std::string> expanded = ExpandEnvironment(m_path, 260);
            expanded && !expanded->empty()) {
            m_path = std::move(*expanded);
            return true;
        }
    }
    return FromShellFolder(fallback);
}

bool CFolderResolver::FromRegistry(platform::RegRoot root, std::string_view subKey,
                                   std::string_view valueName)
{
    m_path.clear();
    platform::RegistryKey key;
    if (FAILED(platform::RegistryKey::Open(root, subKey, key)))
        return false;
    if (std::optional<std::string> value = key.ReadString(valueName))
        m_path = std::move(*value);
    return !m_path.empty();
}

} // namespace installengine
