#pragma once
// A filter of a capture graph (IBaseFilter): one GStreamer element, its pads
// standing for the pins. The capture source, the grabber and the renderers
// derive from it; a plain CFilter is the Null Renderer.
#include "CaptureTypes.h"
#include "platform/GstHolders.h"

#include <memory>

class CVideoRenderer;

class CFilter : public std::enable_shared_from_this<CFilter> {
public:
    virtual ~CFilter();
    CFilter(const CFilter &) = delete;
    CFilter &operator=(const CFilter &) = delete;

    GstElement *Element() const { return m_element.get(); }

    // The n-th pin (from 0) of that direction, in the element's pad order.
    HRESULT GetPin(PinDirection direction, int n, platform::GstPtr<GstPad> &pin) const;

    // The video window of the filter, when it has one (the Video Renderer).
    virtual CVideoRenderer *QueryVideoWindow() { return nullptr; }

    // The Null Renderer: discards everything it receives, at once.
    //   fakesink sync=false
    static HRESULT CreateNullRenderer(std::shared_ptr<CFilter> &filter);

protected:
    // Takes ownership of a possibly floating element.
    explicit CFilter(GstElement *element);

    platform::GstPtr<GstElement> m_element;
};

// A GStreamer element of a factory that is not installed, as COM reports a
// class that is not registered.
inline constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
