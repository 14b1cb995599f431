#pragma once
// A window's rectangle under a HKEY_CURRENT_USER key: the four REG_DWORD
// values "Left", "Top", "Right", "Bottom" in screen coordinates, all −1 when
// the window was minimised. Both program windows keep their place this way.
class QWidget;

void StoreWindowPosition(const QWidget &window, const char *subKey);
