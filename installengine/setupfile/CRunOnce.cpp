#include "CRunOnce.h"

#include "CLogFile.h"

#include "platform/Process.h"
#include "platform/Registry.h"
#include "platform/ShellFolders.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace installengine {
namespace {

// One argument of a desktop entry's Exec key: quoted, with the characters
// the quoting reserves escaped, then escaped again as a desktop-entry string
// value ("\\" for "\"), and "%" doubled since Exec expands field codes.
std::string ExecArgument(std::string_view arg)
{
    std::string quoted = "\"";
    for (char c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    std::string out;
    for (char c : quoted) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '%')
            out += "%%";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

bool WriteFileAtomically(const std::filesystem::path &path, const std::string &data)
{
    const std::filesystem::path temp = path.string() + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
    const bool closed = ::close(fd) == 0;
    if (written && closed && ::rename(temp.c_str(), path.c_str()) == 0)
        return true;
    ::unlink(temp.c_str());
    return false;
}

} // namespace

HRESULT CRunOnce::Write(std::string_view name, std::string_view command)
{
    platform::RegistryKey key;
    HRESULT hr = platform::RegistryKey::Create(platform::RegRoot::HKLM, kKey, key);
    if (SUCCEEDED(hr))
        hr = key.WriteString(name, command);
    if (FAILED(hr)) {
        VLOG("RunOnce", "Could not write the RunOnce value (hr=0x%08x).\n", static_cast<unsigned>(hr));
        return hr;
    }
    if (!WriteAutostartEntry())
        VLOG("RunOnce", "Could not write the autostart entry %s.\n", AutostartEntryPath().c_str());
    return S_OK;
}

bool CRunOnce::Holds(std::string_view command)
{
    platform::RegistryKey key;
    if (FAILED(platform::RegistryKey::Open(platform::RegRoot::HKLM, kKey, key)))
        return false;
    for (const platform::RegistryValue &value : key.EnumValues())
        if (!value.isDword && value.text == command)
            return true;
    return false;
}

int CRunOnce::RunPending()
{
    platform::RegistryKey key;
    int started = 0;
    if (SUCCEEDED(platform::RegistryKey::Open(platform::RegRoot::HKLM, kKey, key))) {
        for (const platform::RegistryValue &value : key.EnumValues()) {
            // Whoever deletes the value runs it; a second runner finds it gone.
            if (key.DeleteValue(value.name) != S_OK)
                continue;
            if (value.isDword || value.text.empty())
                continue;
            const int status = platform::RunCommandText(value.text, "", true);
            ++started;
            if (status < 0)
                VLOG("RunOnce", "Could not start \"%s\".\n", value.text.c_str());
            else
                VLOG("RunOnce", "\"%s\" ended with %d.\n", value.text.c_str(), status);
        }
        if (!key.EnumValues().empty())
            return started;
    }
    RemoveAutostartEntry();
    return started;
}

std::string CRunOnce::AutostartEntryPath()
{
    return platform::GetSpecialFolderPath(platform::ShellFolder::Startup) + "/" + kEntryName;
}

std::string CRunOnce::AutostartEntryText()
{
    std::string program = platform::FindProgram("runonce.exe");
    if (program.empty())
        program = "runonce.exe";
    std::string exec;
    std::string env;
    for (const char *name : {"VELMOR_REGISTRY_DIR", "VELMOR_WINDOWS_DIR"})
        if (const char *value = std::getenv(name); value && *value)
            env += " " + ExecArgument(std::string(name) + "=" + value);
    exec = env.empty() ? ExecArgument(program) : "env" + env + " " + ExecArgument(program);
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=RunOnce\n"
           "Comment=Finishes an installation that needed a restart\n"
           "Exec=" +
           exec +
           "\n"
           "NoDisplay=true\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool CRunOnce::WriteAutostartEntry()
{
    const std::filesystem::path path = AutostartEntryPath();
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    return WriteFileAtomically(path, AutostartEntryText());
}

void CRunOnce::RemoveAutostartEntry()
{
    std::error_code ec;
    std::filesystem::remove(AutostartEntryPath(), ec);
}

} // namespace installengine
