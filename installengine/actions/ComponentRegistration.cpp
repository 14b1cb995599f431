#include "ComponentRegistration.h"

#include "ScriptPath.h"

#include "CLogFile.h"

#include "platform/Module.h"
#include "platform/Process.h"
#include "platform/Win32Types.h"

#include <strings.h>

namespace installengine {
namespace {

using RegisterEntry = HRESULT (*)();

std::string Extension(const std::string &fileName)
{
    const std::size_t dot = fileName.rfind('.');
    return dot == std::string::npos ? std::string() : fileName.substr(dot + 1);
}

bool Is(const std::string &extension, const char *wanted)
{
    return ::strcasecmp(extension.c_str(), wanted) == 0;
}

bool CallDllRegisterServer(const std::string &path)
{
    platform::CModule module;
    if (!module.Load(path)) {
        VLOG("Install", "Could not load %s: %s\n", path.c_str(), module.LastError().c_str());
        return false;
    }
    const auto entry = module.Function<RegisterEntry>("DllRegisterServer");
    if (!entry) {
        VLOG("Install", "%s has no DllRegisterServer.\n", path.c_str());
        return false;
    }
    const HRESULT hr = entry();
    if (FAILED(hr)) {
        VLOG("Install", "DllRegisterServer of %s failed (hr=0x%08x).\n", path.c_str(),
             static_cast<unsigned>(hr));
        return false;
    }
    return true;
}

// The path as one double-quoted word of a command-line text.
std::string QuotedWord(const std::string &path)
{
    std::string out = "\"";
    for (const char c : path) {
        if (c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

bool RunRegsvr32(const std::string &path, const std::string &folder)
{
    const std::string program = platform::FindProgram("regsvr32.exe");
    if (program.empty()) {
        VLOG("Install", "regsvr32.exe is not there to register %s.\n", path.c_str());
        return false;
    }
    const int status = platform::RunAndWait(program, "/s " + QuotedWord(path), folder);
    if (status != 0)
        VLOG("Install", "regsvr32.exe could not register %s (status %d).\n", path.c_str(), status);
    return status == 0;
}

} // namespace

bool RegisterComponent(const std::string &folder, const std::string &fileName)
{
    const std::string dir = NativePath(folder);
    const std::string path = JoinPath(dir, fileName);
    const std::string extension = Extension(fileName);
    if (Is(extension, "exe")) {
        if (platform::ShellExecuteOpen(path, "/RegServer", dir, platform::ShowState::Hidden))
            return true;
        VLOG("Install", "Could not start %s /RegServer.\n", path.c_str());
        return false;
    }
    if (Is(extension, "dll") || Is(extension, "ocx") || Is(extension, "ax") || Is(extension, "so"))
        return CallDllRegisterServer(path) || RunRegsvr32(path, dir);
    VLOG("Install", "%s is no component that can be registered.\n", path.c_str());
    return false;
}

} // namespace installengine
