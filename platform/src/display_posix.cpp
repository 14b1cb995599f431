#include "platform/Display.h"

#include <cstdlib>
#include <cstring>

namespace platform {

bool HasDisplay()
{
    const char *x11 = std::getenv("DISPLAY");
    const char *wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

bool ChooseHeadlessPlatform()
{
    const char *qpa = std::getenv("QT_QPA_PLATFORM");
    if (qpa != nullptr && *qpa != '\0')
        return std::strcmp(qpa, "offscreen") == 0 || std::strcmp(qpa, "minimal") == 0;
    if (HasDisplay())
        return false;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return true;
}

} // namespace platform
