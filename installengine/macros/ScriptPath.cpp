#include "ScriptPath.h"

#include <filesystem>

namespace installengine {

std::string RemoveTrailingSeparator(std::string_view path)
{
    if (!path.empty() && (path.back() == '\\' || path.back() == '/'))
        path.remove_suffix(1);
    return std::string(path);
}

std::string NativePath(std::string_view scriptPath)
{
    std::string out(scriptPath);
    for (char &c : out)
        if (c == '\\')
            c = '/';
    return out;
}

std::string JoinPath(std::string_view folder, std::string_view name)
{
    std::string out = RemoveTrailingSeparator(NativePath(folder));
    std::string tail = NativePath(name);
    while (!tail.empty() && tail.front() == '/')
        tail.erase(0, 1);
    out += '/';
    out += tail;
    return out;
}

std::string NormalPath(std::string_view scriptPath)
{
    if (scriptPath.empty())
        return {};
    std::string out = std::filesystem::path(NativePath(scriptPath)).lexically_normal().string();
    if (out.size() > 1 && out.back() == '/')
        out.pop_back();
    return out;
}

bool IsInsideFolder(std::string_view path, std::string_view folder, bool orEqual)
{
    const std::string p = NormalPath(path);
    const std::string f = NormalPath(folder);
    if (p.empty() || f.empty() || p.front() != '/' || f.front() != '/')
        return false;
    if (p == f)
        return orEqual;
    if (f == "/")
        return true;
    return p.size() > f.size() && p.compare(0, f.size(), f) == 0 && p[f.size()] == '/';
}

} // namespace installengine
