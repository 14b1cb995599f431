#pragma once
// The Video Renderer: shows the grabber's bottom-up RGB24 frames in the
// preview target it is given (its IVideoWindow operations). Frames arrive on
// its own streaming thread.
//   appsink caps=video/x-raw,format=BGR sync=false max-buffers=1 drop=true
#include "CFilter.h"
#include "IPreviewTarget.h"

#include <mutex>

inline constexpr long WS_CHILD = 0x40000000L;

class CVideoRenderer : public CFilter {
public:
    static HRESULT Create(std::shared_ptr<CVideoRenderer> &renderer);

    CVideoRenderer *QueryVideoWindow() override { return this; }

    // IVideoWindow. After put_Owner(nullptr) returns, the old owner is never
    // called again.
    HRESULT put_Owner(IPreviewTarget *owner);
    IPreviewTarget *get_Owner() const;
    HRESULT put_WindowStyle(long style);
    long get_WindowStyle() const;
    HRESULT SetWindowPosition(long left, long top, long width, long height);
    PreviewRect WindowPosition() const;

private:
    explicit CVideoRenderer(GstElement *sink);
    static GstFlowReturn OnNewSample(GstElement *sink, gpointer self);

    mutable std::mutex m_mutex;
    IPreviewTarget *m_owner = nullptr;
    long m_style = 0;
    PreviewRect m_position{};
};
