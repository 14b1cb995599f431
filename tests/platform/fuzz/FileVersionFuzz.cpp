// libFuzzer target for the file-version reader: any bytes, taken as a PE or
// ELF file, give a version or none and never read outside the input.
#include "platform/FileVersion.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    if (std::optional<platform::FileVersion> version = platform::ReadFileVersionFromBytes(bytes))
        (void)platform::FormatFileVersion(*version);
    return 0;
}
