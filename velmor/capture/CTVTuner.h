#pragma once
// The TV tuner of a capture device (IAMTVTuner): present when the device
// reports a tuner (a V4L2 device with the tuner capability). Its property
// pages are those of the device it tunes.
#include <memory>

class CCaptureFilter;

class CTVTuner {
public:
    explicit CTVTuner(std::shared_ptr<CCaptureFilter> filter) : m_filter(std::move(filter)) {}
    const std::shared_ptr<CCaptureFilter> &Filter() const { return m_filter; }

private:
    std::shared_ptr<CCaptureFilter> m_filter;
};
