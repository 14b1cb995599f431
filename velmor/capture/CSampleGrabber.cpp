#include "CSampleGrabber.h"

#include <algorithm>

CSampleGrabber::CSampleGrabber(GstElement *bin, GstElement *accept, GstElement *grab)
    : CFilter(bin), m_accept(accept), m_grab(grab)
{
    m_probePad.reset(gst_element_get_static_pad(m_grab, "src"));
    m_probeId = gst_pad_add_probe(m_probePad.get(),
                                  static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                               GST_PAD_PROBE_TYPE_BUFFER_LIST),
                                  &CSampleGrabber::OnBuffer, this, nullptr);
}

CSampleGrabber::~CSampleGrabber()
{
    // The graph is in the NULL state by now (it owns this filter until then),
    // so no streaming thread is inside the probe.
    if (m_probeId)
        gst_pad_remove_probe(m_probePad.get(), m_probeId);
}

HRESULT CSampleGrabber::Create(std::shared_ptr<CSampleGrabber> &grabber)
{
    grabber.reset();
    GstElement *accept = gst_element_factory_make("capsfilter", "accept");
    GstElement *grab = gst_element_factory_make("identity", "grab");
    if (!accept || !grab) {
        if (accept)
            gst_object_unref(gst_object_ref_sink(accept));
        if (grab)
            gst_object_unref(gst_object_ref_sink(grab));
        return REGDB_E_CLASSNOTREG;
    }
    g_object_set(grab, "silent", TRUE, nullptr);
    GstElement *bin = gst_bin_new(nullptr);
    gst_bin_add_many(GST_BIN(bin), accept, grab, nullptr);
    gst_element_link(accept, grab);
    platform::GstPtr<GstPad> in(gst_element_get_static_pad(accept, "sink"));
    platform::GstPtr<GstPad> out(gst_element_get_static_pad(grab, "src"));
    gst_element_add_pad(bin, gst_ghost_pad_new("sink", in.get()));
    gst_element_add_pad(bin, gst_ghost_pad_new("src", out.get()));
    grabber.reset(new CSampleGrabber(bin, accept, grab));
    return S_OK;
}

HRESULT CSampleGrabber::SetMediaType(const CMediaType &mt)
{
    platform::GstCapsPtr caps = mt.ToCaps();
    if (!caps)
        return VFW_E_INVALIDMEDIATYPE;
    g_object_set(m_accept, "caps", caps.get(), nullptr);
    const bool rgb24 = mt.majortype == MajorType::Video && mt.subtype == "BGR";
    if (rgb24 && !m_flip) {
        GstElement *flip = gst_element_factory_make("videoflip", nullptr);
        if (!flip)
            return REGDB_E_CLASSNOTREG;
        gst_util_set_object_arg(G_OBJECT(flip), "method", "vertical-flip");
        gst_element_unlink(m_accept, m_grab);
        gst_bin_add(GST_BIN(m_element.get()), flip);
        gst_element_link_many(m_accept, flip, m_grab, nullptr);
        m_flip = flip;
    }
    return S_OK;
}

HRESULT CSampleGrabber::SetBufferSamples(bool keep)
{
    m_bufferSamples.store(keep);
    if (!keep) {
        std::lock_guard<std::mutex> lock(m_lastMutex);
        m_last.reset();
    }
    return S_OK;
}

HRESULT CSampleGrabber::SetCallback(CSampleGrabberCallback *callback, int which)
{
    if (which != 0 && which != 1)
        return E_INVALIDARG;
    m_which.store(which);
    m_callback.store(callback);
    return S_OK;
}

HRESULT CSampleGrabber::GetConnectedMediaType(CMediaType &mt) const
{
    platform::GstPtr<GstPad> in;
    if (FAILED(GetPin(PinDirection::Input, 0, in)))
        return E_FAIL;
    platform::GstCapsPtr caps(gst_pad_get_current_caps(in.get()));
    if (!caps) {
        if (!gst_pad_is_linked(in.get()))
            return VFW_E_NOT_CONNECTED;
        GstCaps *accepted = nullptr;
        g_object_get(m_accept, "caps", &accepted, nullptr);
        platform::GstCapsPtr filter(accepted);
        caps.reset(gst_pad_peer_query_caps(in.get(), filter.get()));
        if (!caps || gst_caps_is_empty(caps.get()))
            return VFW_E_NOT_CONNECTED;
        caps.reset(gst_caps_fixate(caps.release()));
    }
    std::optional<CMediaType> type = CMediaType::FromStructure(gst_caps_get_structure(caps.get(), 0));
    if (!type)
        return E_FAIL;
    mt = *type;
    return S_OK;
}

void CSampleGrabber::SetBufferCeiling(long bytes, long blockAlign, long bytesPerSecond)
{
    m_bytesPerSecond.store(bytesPerSecond > 0 ? bytesPerSecond : 0);
    m_blockAlign.store(blockAlign > 0 ? blockAlign : 1);
    m_ceilingBytes.store(bytes > 0 ? bytes : 0);
}

GstPadProbeReturn CSampleGrabber::OnBuffer(GstPad *, GstPadProbeInfo *info, gpointer self)
{
    auto *grabber = static_cast<CSampleGrabber *>(self);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) {
        grabber->Deliver(GST_PAD_PROBE_INFO_BUFFER(info));
    } else if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER_LIST) {
        GstBufferList *list = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
        for (guint i = 0; i < gst_buffer_list_length(list); ++i)
            grabber->Deliver(gst_buffer_list_get(list, i));
    }
    return GST_PAD_PROBE_OK;
}

void CSampleGrabber::Deliver(GstBuffer *buffer)
{
    if (!buffer)
        return;
    if (m_bufferSamples.load()) {
        std::lock_guard<std::mutex> lock(m_lastMutex);
        m_last.reset(gst_buffer_ref(buffer));
    }
    CSampleGrabberCallback *callback = m_callback.load();
    if (!callback)
        return;
    platform::BufferMap map(buffer, GST_MAP_READ);
    if (!map.ok())
        return;
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    const double time = GST_CLOCK_TIME_IS_VALID(pts) ? static_cast<double>(pts) / GST_SECOND : 0.0;
    const long size = static_cast<long>(map.size());
    if (m_which.load() == 0) {
        CMediaSample sample(map.data(), size);
        callback->SampleCB(time, &sample);
        return;
    }
    long ceiling = m_ceilingBytes.load();
    const long align = m_blockAlign.load();
    if (ceiling > 0)
        ceiling -= ceiling % align;
    if (ceiling <= 0 || size <= ceiling) {
        callback->BufferCB(time, map.data(), size);
        return;
    }
    const long rate = m_bytesPerSecond.load();
    for (long at = 0; at < size; at += ceiling) {
        const double offset = rate > 0 ? static_cast<double>(at) / static_cast<double>(rate) : 0.0;
        callback->BufferCB(time + offset, map.data() + at, std::min(ceiling, size - at));
    }
}
