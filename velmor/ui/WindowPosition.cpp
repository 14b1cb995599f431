#include "WindowPosition.h"

#include "platform/Registry.h"

#include <QWidget>

void StoreWindowPosition(const QWidget &window, const char *subKey)
{
    platform::RegistryKey key;
    if (FAILED(platform::RegistryKey::Create(platform::RegRoot::HKCU, subKey, key)))
        return;
    DWORD values[4];
    if (window.isMinimized()) {
        for (DWORD &v : values)
            v = 0xFFFFFFFFu;
    } else {
        const QRect r = window.frameGeometry();
        values[0] = static_cast<DWORD>(r.left());
        values[1] = static_cast<DWORD>(r.top());
        values[2] = static_cast<DWORD>(r.left() + r.width());
        values[3] = static_cast<DWORD>(r.top() + r.height());
    }
    key.WriteDword("Left", values[0]);
    key.WriteDword("Top", values[1]);
    key.WriteDword("Right", values[2]);
    key.WriteDword("Bottom", values[3]);
}
