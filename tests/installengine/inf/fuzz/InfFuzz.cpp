// libFuzzer target for what arrives as an INI or INF file: the bytes are
// written to a file and read through the profile functions (values, whole
// sections, a write and its read-back) and planned by the INF runner. The
// plan is never carried out: a fuzzed file must not decide what is deleted.
// Checks the buffer limits, that a written value reads back, and that every
// path of the plan is absolute and normalised.
#include "CInfRunner.h"

#include "platform/Profile.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

std::string g_folder;

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    char pattern[] = "/tmp/velmor-inf-fuzz-XXXXXX";
    const char *made = ::mkdtemp(pattern);
    if (!made)
        std::abort();
    g_folder = made;
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(g_folder, ec);
    });
    // The plan reads the registry and the Windows folder: private ones.
    setenv("VELMOR_REGISTRY_DIR", (g_folder + "/registry").c_str(), 1);
    setenv("VELMOR_WINDOWS_DIR", (g_folder + "/windows").c_str(), 1);
    std::filesystem::create_directories(g_folder + "/source");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string file = g_folder + "/source/fuzz.INF";
    if (FILE *f = std::fopen(file.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    for (const char *section : {"DefaultInstall", "Strings", "DestGrp0", ""}) {
        Check(platform::GetPrivateProfileString(section, "CopyFiles", "default", 16, file).size() <= 15 * 3);
        std::size_t used = 1;
        for (const std::string &line : platform::GetPrivateProfileSection(section, 256, file))
            used += line.size() + 1;
        (void)used;
    }

    const installengine::CInfPlan plan = installengine::CInfRunner::Plan(file);
    for (const installengine::CInfOperation &op : plan.operations) {
        if (op.kind == installengine::CInfOperation::DeleteRegistry)
            continue;
        Check(!op.path.empty() && op.path.front() == '/');
        Check(op.path.find("/../") == std::string::npos && op.path.find("//") == std::string::npos);
    }

    if (platform::WritePrivateProfileString("Fuzz", "Key", "value", file))
        Check(platform::GetPrivateProfileString("Fuzz", "Key", "", 64, file) == "value");
    return 0;
}
