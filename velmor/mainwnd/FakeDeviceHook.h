#pragma once
// For tests and demonstrations on machines without cameras or microphones:
// VELMOR_FAKE_DEVICES lists devices to stand in for the real ones, e.g.
//   "camera:Test Camera:video/x-raw,format=BGR,width=320,height=240;microphone:Test Mic"
// (kind, name, optional caps; entries separated by ';'). Unset: nothing
// changes and the real devices are used.
void InstallFakeDevicesFromEnvironment();

class CDeviceList;
// With fake devices, VELMOR_FAKE_SELECT names the video device the host
// starts with instead of the first entry ("스크린 캡쳐"), as if picked in the
// list before the graph is built. Does nothing otherwise.
void SelectFakeVideoDevice(CDeviceList &videoList);
