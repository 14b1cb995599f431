#pragma once
// A capture source filter: a camera, a microphone or the screen. Its element
// is a bin of the source and the caps filter that stands for the format set on
// its capture pin:
//   <device element> ! capsfilter name=capture-format   (ghost pad "capture")
#include "CFilter.h"
#include "CStreamConfig.h"

#include <optional>
#include <string>
#include <vector>

class CCaptureFilter : public CFilter {
public:
    // Binds a device: null when the device cannot make its element.
    static std::shared_ptr<CCaptureFilter> FromDevice(GstDevice *device);

    // The screen source: ximagesrc on the X display when one answers,
    // otherwise a synthetic desktop (a moving picture with the time of day).
    //   ximagesrc ! videoconvert ! videoscale ! capsfilter name=capture-format
    //   videotestsrc is-live=true pattern=ball ! clockoverlay ! videoconvert ! videoscale ! capsfilter ...
    static HRESULT CreateScreenSource(std::shared_ptr<CCaptureFilter> &filter, const char *logModule);

    // The media types the capture pin offers, in the source's order: one per
    // fixed caps structure. Empty when the source describes no formats.
    std::vector<CMediaType> EnumMediaTypes() const;

    // The pin's format control; null when the source describes no formats.
    std::shared_ptr<CStreamConfig> StreamConfig();

    // Whether the capture pin produces that major type (Interleaved: a muxed
    // audio-video stream such as DV).
    bool ProducesMajorType(MajorType type) const;

    bool HasTuner() const { return m_tuner; }
    const std::string &DisplayName() const { return m_displayName; }

private:
    CCaptureFilter(GstElement *bin, GstElement *captureFormat, GstCaps *formatCaps);

    static std::shared_ptr<CCaptureFilter> Wrap(GstElement *source, GstCaps *formatCaps);

    GstElement *m_captureFormat; // owned by the bin
    platform::GstCapsPtr m_formatCaps;
    std::optional<CStreamConfig> m_streamConfig;
    bool m_tuner = false;
    std::string m_displayName;
};
