#pragma once
// Graph routines shared by the video and the audio capture objects.
#include "CCaptureFilter.h"
#include "CGraph.h"

#include <cstdint>

inline constexpr std::uint16_t kDeviceNotFound = 0xFFFF;
// Longest device name accepted, in CP949 bytes.
inline constexpr std::size_t kMaxDeviceNameBytes = 260;

// Finds the device of `category` whose friendly name equals `name` (UTF-8;
// compared byte for byte, case-sensitively, in CP949) and binds it. Walks the
// devices in enumeration order and takes the first of that name that binds.
// S_OK with the filter and the device's position; E_FAIL with index 0xFFFF
// when none binds, the name is longer than 260 bytes or there is no
// enumerator; S_FALSE when name is null.
HRESULT FindCaptureDevice(DeviceCategory category, const char *name, std::shared_ptr<CCaptureFilter> &filter,
                          std::uint16_t &index);

// Connects the free output pins of `upstream` to the free input pins of
// `downstream` with at most `tries` connection calls; S_OK when a call
// connected, else E_FAIL.
HRESULT ConnectFilters(CGraph &graph, const CFilter &upstream, const CFilter &downstream, int tries = 3);

// The n-th pin of a direction; E_FAIL for a null filter or when there is none.
HRESULT GetPin(const CFilter *filter, PinDirection direction, int n, platform::GstPtr<GstPad> *pin);
