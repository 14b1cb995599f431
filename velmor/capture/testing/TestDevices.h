#pragma once
// In-process test devices for the capture graphs: a GstDeviceProvider,
// registered as a static plugin, whose "cameras" and "microphones" are really
// videotestsrc / audiotestsrc with chosen names and formats. Once installed it
// hides every other device provider, so a test sees exactly its devices
// through the same device monitor the program uses.
//
//   testdevices::SetFakeDevices({testdevices::Camera("Cam A", "video/x-raw,format=BGR,width=320,height=240")});
//   CVideo video; video.InitVideoDevice("Cam A");
#include <string>
#include <vector>

namespace testdevices {

struct FakeDevice {
    enum class Kind { Camera, Microphone };
    Kind kind = Kind::Camera;
    std::string name; // display name, UTF-8
    // The formats the device lists, as caps; each structure may carry
    // "top-down"=true for RGB rows listed top-down. Empty: the device
    // describes no formats (it has no format control) and produces
    // `producedCaps` whatever it is asked.
    std::string caps;
    std::string producedCaps;
    // videotestsrc pattern / audiotestsrc wave.
    std::string pattern;
    int samplesPerBuffer = 0; // microphones: samples in one buffer (0: the default)
    bool bindable = true;  // false: the device cannot make its element
    bool controls = false; // user-adjustable controls (colour balance or volume)
    bool tuner = false;    // reports a V4L2 tuner
};

FakeDevice Camera(std::string name, std::string caps);
FakeDevice Microphone(std::string name, std::string caps);

// Replaces the fake devices; devices made afterwards use the new list.
// Registers the provider on the first call (after initialising GStreamer).
void SetFakeDevices(std::vector<FakeDevice> devices);
void ClearFakeDevices();

} // namespace testdevices
