#pragma once
// Whether the desktop offers a display, and the choice of Qt's platform for
// programs started without one (a CI machine, a service, a test).
namespace platform {

// DISPLAY or WAYLAND_DISPLAY is set and not empty.
bool HasDisplay();

// Without a display and without a platform named in QT_QPA_PLATFORM, names
// Qt's offscreen platform there. True when the program runs headless: on
// the offscreen or minimal platform, whether named by us or by the caller.
// Call it before the QApplication is made.
bool ChooseHeadlessPlatform();

} // namespace platform
