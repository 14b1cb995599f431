#include "CVideoRenderer.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

CVideoRenderer::CVideoRenderer(GstElement *sink) : CFilter(sink)
{
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = [](GstAppSink *appsink, gpointer self) {
        return CVideoRenderer::OnNewSample(GST_ELEMENT(appsink), self);
    };
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
}

HRESULT CVideoRenderer::Create(std::shared_ptr<CVideoRenderer> &renderer)
{
    renderer.reset();
    GstElement *sink = gst_element_factory_make("appsink", nullptr);
    if (!sink)
        return REGDB_E_CLASSNOTREG;
    platform::GstCapsPtr caps(gst_caps_from_string("video/x-raw, format=(string)BGR"));
    g_object_set(sink, "caps", caps.get(), "sync", FALSE, "async", FALSE, "max-buffers", 1, "drop", TRUE,
                 nullptr);
    renderer.reset(new CVideoRenderer(sink));
    return S_OK;
}

GstFlowReturn CVideoRenderer::OnNewSample(GstElement *sink, gpointer self)
{
    auto *renderer = static_cast<CVideoRenderer *>(self);
    platform::GstSamplePtr sample(gst_app_sink_pull_sample(GST_APP_SINK(sink)));
    if (!sample)
        return GST_FLOW_OK;
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, gst_sample_get_caps(sample.get())))
        return GST_FLOW_OK;
    platform::BufferMap map(gst_sample_get_buffer(sample.get()), GST_MAP_READ);
    if (!map.ok())
        return GST_FLOW_OK;
    std::lock_guard<std::mutex> lock(renderer->m_mutex);
    if (renderer->m_owner)
        renderer->m_owner->PresentFrame(map.data(), GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info),
                                        GST_VIDEO_INFO_PLANE_STRIDE(&info, 0));
    return GST_FLOW_OK;
}

HRESULT CVideoRenderer::put_Owner(IPreviewTarget *owner)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_owner = owner;
    return S_OK;
}

IPreviewTarget *CVideoRenderer::get_Owner() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_owner;
}

HRESULT CVideoRenderer::put_WindowStyle(long style)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_style = style;
    return S_OK;
}

long CVideoRenderer::get_WindowStyle() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_style;
}

HRESULT CVideoRenderer::SetWindowPosition(long left, long top, long width, long height)
{
    if (width < 0 || height < 0)
        return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_position = PreviewRect{static_cast<int>(left), static_cast<int>(top), static_cast<int>(left + width),
                             static_cast<int>(top + height)};
    return S_OK;
}

PreviewRect CVideoRenderer::WindowPosition() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_position;
}
