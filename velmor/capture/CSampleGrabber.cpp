#include "CSampleGrabber.h"

#include "CLogFile.h"

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
    std::lock_guard<std::mutex> lock(m_scalerMutex);
    m_scaler = Scaler{};
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

HRESULT CSampleGrabber::SetCallbackFrameSize(int width, int height)
{
    if (width < 0 || height < 0 || (width == 0) != (height == 0) || width > 4096 || height > 4096)
        return E_INVALIDARG;
    m_frameWidth.store(width);
    m_frameHeight.store(height);
    return S_OK;
}

// Builds the scaler for the caps on the grabber's output: the whole input
// picture, at its display shape, centred in a width x height frame of
// square pixels with black borders.
bool CSampleGrabber::PrepareScaler(int width, int height)
{
    platform::GstCapsPtr caps(gst_pad_get_current_caps(m_probePad.get()));
    if (!caps)
        return false;
    if (m_scaler.caps && gst_caps_is_equal(m_scaler.caps.get(), caps.get()) &&
        GST_VIDEO_INFO_WIDTH(&m_scaler.out) == width && GST_VIDEO_INFO_HEIGHT(&m_scaler.out) == height)
        return m_scaler.passThrough || m_scaler.converter;
    m_scaler = Scaler{};
    m_scaler.caps = std::move(caps);
    GstVideoInfo in;
    if (!gst_video_info_from_caps(&in, m_scaler.caps.get()) || GST_VIDEO_INFO_WIDTH(&in) <= 0 ||
        GST_VIDEO_INFO_HEIGHT(&in) <= 0)
        return false;
    m_scaler.in = in;
    gst_video_info_set_format(&m_scaler.out, GST_VIDEO_INFO_FORMAT(&in), static_cast<guint>(width),
                              static_cast<guint>(height));
    // The converter scales only: rate and interlacing stay the input's.
    GST_VIDEO_INFO_FPS_N(&m_scaler.out) = GST_VIDEO_INFO_FPS_N(&in);
    GST_VIDEO_INFO_FPS_D(&m_scaler.out) = GST_VIDEO_INFO_FPS_D(&in);
    GST_VIDEO_INFO_INTERLACE_MODE(&m_scaler.out) = GST_VIDEO_INFO_INTERLACE_MODE(&in);
    const int parN = GST_VIDEO_INFO_PAR_N(&in) > 0 ? GST_VIDEO_INFO_PAR_N(&in) : 1;
    const int parD = GST_VIDEO_INFO_PAR_D(&in) > 0 ? GST_VIDEO_INFO_PAR_D(&in) : 1;
    if (GST_VIDEO_INFO_WIDTH(&in) == width && GST_VIDEO_INFO_HEIGHT(&in) == height && parN == parD &&
        GST_VIDEO_INFO_SIZE(&in) == GST_VIDEO_INFO_SIZE(&m_scaler.out)) {
        m_scaler.passThrough = true;
        return true;
    }
    // Display width : height of the input, compared with the frame's.
    const double inShape = static_cast<double>(GST_VIDEO_INFO_WIDTH(&in)) * parN /
                           (static_cast<double>(GST_VIDEO_INFO_HEIGHT(&in)) * parD);
    const double outShape = static_cast<double>(width) / height;
    int destWidth = width, destHeight = height;
    if (inShape > outShape)
        destHeight = std::clamp(static_cast<int>(width / inShape + 0.5) & ~1, 2, height);
    else
        destWidth = std::clamp(static_cast<int>(height * inShape + 0.5) & ~1, 2, width);
    GstStructure *options = gst_structure_new(
        "GstVideoConverter", GST_VIDEO_CONVERTER_OPT_DEST_X, G_TYPE_INT, (width - destWidth) / 2,
        GST_VIDEO_CONVERTER_OPT_DEST_Y, G_TYPE_INT, (height - destHeight) / 2,
        GST_VIDEO_CONVERTER_OPT_DEST_WIDTH, G_TYPE_INT, destWidth, GST_VIDEO_CONVERTER_OPT_DEST_HEIGHT,
        G_TYPE_INT, destHeight, GST_VIDEO_CONVERTER_OPT_FILL_BORDER, G_TYPE_BOOLEAN, TRUE,
        GST_VIDEO_CONVERTER_OPT_BORDER_ARGB, G_TYPE_UINT, 0xFF000000u, nullptr);
    // Takes the options.
    m_scaler.converter.reset(gst_video_converter_new(&m_scaler.in, &m_scaler.out, options));
    m_scaler.output.reset(gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&m_scaler.out), nullptr));
    if (!m_scaler.converter || !m_scaler.output) {
        m_scaler.converter.reset();
        return false;
    }
    VLOG("Video", "Frames of %dx%d are scaled to %dx%d (picture %dx%d at %d,%d).\n",
         GST_VIDEO_INFO_WIDTH(&in), GST_VIDEO_INFO_HEIGHT(&in), width, height, destWidth, destHeight,
         (width - destWidth) / 2, (height - destHeight) / 2);
    return true;
}

GstBuffer *CSampleGrabber::ScaledForCallback(GstBuffer *buffer)
{
    const int width = m_frameWidth.load();
    const int height = m_frameHeight.load();
    if (width <= 0 || height <= 0)
        return buffer;
    if (!PrepareScaler(width, height))
        return nullptr;
    if (m_scaler.passThrough)
        return buffer;
    GstVideoFrame in, out;
    if (!gst_video_frame_map(&in, &m_scaler.in, buffer, GST_MAP_READ))
        return nullptr;
    if (!gst_video_frame_map(&out, &m_scaler.out, m_scaler.output.get(), GST_MAP_WRITE)) {
        gst_video_frame_unmap(&in);
        return nullptr;
    }
    gst_video_converter_frame(m_scaler.converter.get(), &in, &out);
    gst_video_frame_unmap(&out);
    gst_video_frame_unmap(&in);
    return m_scaler.output.get();
}

void CSampleGrabber::DeliverSourceFrame(SourceFrameSink sink, GstBuffer *buffer)
{
    platform::GstCapsPtr caps(gst_pad_get_current_caps(m_probePad.get()));
    if (!caps)
        return;
    if (!m_sourceCaps || !gst_caps_is_equal(m_sourceCaps.get(), caps.get())) {
        m_sourceInfoValid = gst_video_info_from_caps(&m_sourceInfo, caps.get()) &&
                            GST_VIDEO_INFO_FORMAT(&m_sourceInfo) == GST_VIDEO_FORMAT_BGR;
        m_sourceCaps = std::move(caps);
    }
    if (!m_sourceInfoValid)
        return;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &m_sourceInfo, buffer, GST_MAP_READ))
        return;
    SourceFrame f;
    f.data = static_cast<const unsigned char *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    f.width = GST_VIDEO_FRAME_WIDTH(&frame);
    f.height = GST_VIDEO_FRAME_HEIGHT(&frame);
    f.stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
    f.fpsNumerator = GST_VIDEO_INFO_FPS_N(&m_sourceInfo);
    f.fpsDenominator = GST_VIDEO_INFO_FPS_D(&m_sourceInfo) > 0 ? GST_VIDEO_INFO_FPS_D(&m_sourceInfo) : 1;
    sink(f);
    gst_video_frame_unmap(&frame);
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
    if (SourceFrameSink sink = m_sourceSink.load())
        DeliverSourceFrame(sink, buffer);
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    std::unique_lock<std::mutex> scalerLock(m_scalerMutex, std::defer_lock);
    if (m_frameWidth.load() > 0)
        scalerLock.lock(); // the scaled frame lives in the scaler until the callback returns
    buffer = ScaledForCallback(buffer);
    if (!buffer)
        return;
    platform::BufferMap map(buffer, GST_MAP_READ);
    if (!map.ok())
        return;
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
