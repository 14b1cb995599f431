#include "FakeDeviceHook.h"

#include "CDeviceList.h"
#include "CLogFile.h"
#include "TestDevices.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Split(const std::string &text, char separator, std::size_t maxParts)
{
    std::vector<std::string> parts;
    std::size_t at = 0;
    while (parts.size() + 1 < maxParts) {
        const std::size_t next = text.find(separator, at);
        if (next == std::string::npos)
            break;
        parts.push_back(text.substr(at, next - at));
        at = next + 1;
    }
    parts.push_back(text.substr(at));
    return parts;
}

} // namespace

void InstallFakeDevicesFromEnvironment()
{
    const char *spec = std::getenv("VELMOR_FAKE_DEVICES");
    if (spec == nullptr)
        return;
    std::vector<testdevices::FakeDevice> devices;
    for (const std::string &entry : Split(spec, ';', 64)) {
        if (entry.empty())
            continue;
        const std::vector<std::string> f = Split(entry, ':', 3);
        const std::string caps = f.size() > 2 ? f[2] : std::string();
        if (f.size() >= 2 && f[0] == "camera")
            devices.push_back(testdevices::Camera(f[1], caps.empty() ? "video/x-raw,format=BGR,width=320,height=240" : caps));
        else if (f.size() >= 2 && f[0] == "microphone")
            devices.push_back(testdevices::Microphone(f[1], caps.empty() ? "audio/x-raw,format=S16LE,rate=32000,channels=2" : caps));
    }
    testdevices::SetFakeDevices(devices);
    VLOG("Velmor", "시험용 장치 %d개로 실행합니다 (VELMOR_FAKE_DEVICES).\n", static_cast<int>(devices.size()));
}

void SelectFakeVideoDevice(CDeviceList &videoList)
{
    const char *wanted = std::getenv("VELMOR_FAKE_SELECT");
    if (wanted == nullptr || std::getenv("VELMOR_FAKE_DEVICES") == nullptr)
        return;
    for (int i = 0; i < videoList.GetCount(); ++i) {
        std::string text;
        if (videoList.GetLBText(i, text) != CB_ERR && text == wanted)
            videoList.SetCurSel(i);
    }
}
