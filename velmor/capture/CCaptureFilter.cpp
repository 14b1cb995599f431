#include "CCaptureFilter.h"

#include "CLogFile.h"

#include <cstdlib>
#include <cstring>

namespace {

// V4L2_CAP_TUNER of the V4L2 capability flags.
constexpr guint kV4l2CapTuner = 0x00010000u;

bool ReadCapabilityBits(const GstStructure *props, const char *field, guint *bits)
{
    if (gst_structure_get_uint(props, field, bits))
        return true;
    gint asInt = 0;
    if (gst_structure_get_int(props, field, &asInt)) {
        *bits = static_cast<guint>(asInt);
        return true;
    }
    return false;
}

bool DeviceHasTuner(GstDevice *device)
{
    platform::GstStructurePtr props(gst_device_get_properties(device));
    if (!props)
        return false;
    guint bits = 0;
    if (ReadCapabilityBits(props.get(), "v4l2.device.device_caps", &bits) && (bits & kV4l2CapTuner))
        return true;
    return ReadCapabilityBits(props.get(), "v4l2.device.capabilities", &bits) && (bits & kV4l2CapTuner);
}

// Caps that describe formats: neither missing, nor ANY, nor empty.
bool DescribesFormats(const GstCaps *caps)
{
    return caps && !gst_caps_is_any(caps) && !gst_caps_is_empty(caps);
}

} // namespace

CCaptureFilter::CCaptureFilter(GstElement *bin, GstElement *captureFormat, GstCaps *formatCaps)
    : CFilter(bin), m_captureFormat(captureFormat), m_formatCaps(formatCaps)
{
    if (DescribesFormats(m_formatCaps.get()))
        m_streamConfig.emplace(m_captureFormat, m_formatCaps.get());
}

std::shared_ptr<CCaptureFilter> CCaptureFilter::Wrap(GstElement *source, GstCaps *formatCaps)
{
    platform::GstCapsPtr caps(formatCaps);
    GstElement *bin = gst_bin_new(nullptr);
    GstElement *captureFormat = gst_element_factory_make("capsfilter", "capture-format");
    if (!captureFormat) {
        gst_object_unref(gst_object_ref_sink(source));
        gst_object_unref(gst_object_ref_sink(bin));
        return nullptr;
    }
    gst_bin_add_many(GST_BIN(bin), source, captureFormat, nullptr);
    if (!gst_element_link(source, captureFormat)) {
        gst_object_unref(gst_object_ref_sink(bin));
        return nullptr;
    }
    platform::GstPtr<GstPad> target(gst_element_get_static_pad(captureFormat, "src"));
    gst_element_add_pad(bin, gst_ghost_pad_new("capture", target.get()));
    return std::shared_ptr<CCaptureFilter>(new CCaptureFilter(bin, captureFormat, caps.release()));
}

std::shared_ptr<CCaptureFilter> CCaptureFilter::FromDevice(GstDevice *device)
{
    if (!device)
        return nullptr;
    GstElement *source = gst_device_create_element(device, nullptr);
    if (!source)
        return nullptr;
    std::shared_ptr<CCaptureFilter> filter = Wrap(source, gst_device_get_caps(device));
    if (!filter)
        return nullptr;
    filter->m_tuner = DeviceHasTuner(device);
    platform::GCharPtr name(gst_device_get_display_name(device));
    filter->m_displayName = name ? name.get() : "";
    return filter;
}

namespace {

GstElement *MakeChain(std::initializer_list<GstElement *> elements)
{
    GstElement *bin = gst_bin_new(nullptr);
    GstElement *previous = nullptr;
    for (GstElement *e : elements) {
        if (!e) {
            gst_object_unref(gst_object_ref_sink(bin));
            for (GstElement *rest : elements)
                if (rest && !GST_OBJECT_PARENT(rest))
                    gst_object_unref(gst_object_ref_sink(rest));
            return nullptr;
        }
    }
    for (GstElement *e : elements) {
        gst_bin_add(GST_BIN(bin), e);
        if (previous)
            gst_element_link(previous, e);
        previous = e;
    }
    platform::GstPtr<GstPad> target(gst_element_get_static_pad(previous, "src"));
    gst_element_add_pad(bin, gst_ghost_pad_new("src", target.get()));
    return bin;
}

bool XDisplayAnswers()
{
    const char *display = std::getenv("DISPLAY");
    if (!display || !*display)
        return false;
    platform::GstPtr<GstElement> probe = platform::AdoptFloating(gst_element_factory_make("ximagesrc", nullptr));
    if (!probe)
        return false;
    const bool ok = gst_element_set_state(probe.get(), GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
    gst_element_set_state(probe.get(), GST_STATE_NULL);
    return ok;
}

GstCaps *ScreenCaps(const char *text)
{
    return gst_caps_from_string(text);
}

} // namespace

HRESULT CCaptureFilter::CreateScreenSource(std::shared_ptr<CCaptureFilter> &filter, const char *logModule)
{
    filter.reset();
    GstElement *source = nullptr;
    if (XDisplayAnswers()) {
        GstElement *x = gst_element_factory_make("ximagesrc", nullptr);
        if (x)
            g_object_set(x, "use-damage", FALSE, nullptr);
        GstElement *rate = gst_element_factory_make("capsfilter", nullptr);
        if (rate) {
            platform::GstCapsPtr caps(ScreenCaps("video/x-raw, framerate=(fraction)15/1"));
            g_object_set(rate, "caps", caps.get(), nullptr);
        }
        source = MakeChain({x, rate, gst_element_factory_make("videoconvert", nullptr),
                            gst_element_factory_make("videoscale", nullptr)});
        if (source)
            VLOG(logModule, "Screen source: ximagesrc on display %s\n", std::getenv("DISPLAY"));
    }
    if (!source) {
        // No desktop to grab: a moving picture with the time of day stands in,
        // so the program works the same without a display.
        GstElement *test = gst_element_factory_make("videotestsrc", nullptr);
        if (test)
            gst_util_set_object_arg(G_OBJECT(test), "pattern", "smpte");
        if (test)
            g_object_set(test, "is-live", TRUE, "horizontal-speed", 2, nullptr);
        GstElement *size = gst_element_factory_make("capsfilter", nullptr);
        if (size) {
            platform::GstCapsPtr caps(
                ScreenCaps("video/x-raw, width=(int)640, height=(int)480, framerate=(fraction)15/1"));
            g_object_set(size, "caps", caps.get(), nullptr);
        }
        GstElement *clock = gst_element_factory_make("clockoverlay", nullptr);
        if (clock)
            g_object_set(clock, "time-format", "%H:%M:%S", "font-desc", "Sans 36", nullptr);
        source = MakeChain({test, size, clock, gst_element_factory_make("videoconvert", nullptr),
                            gst_element_factory_make("videoscale", nullptr)});
        if (source)
            VLOG(logModule, "Screen source: synthetic desktop with a clock (no X display)\n");
    }
    if (!source)
        return REGDB_E_CLASSNOTREG;
    // The screen is scaled to whatever size the capture pin is asked for.
    filter = Wrap(source, ScreenCaps("video/x-raw, format=(string){ BGR, BGRx, I420, YUY2 }, "
                                     "width=(int)[ 16, 4096 ], height=(int)[ 16, 4096 ]"));
    if (!filter)
        return E_FAIL;
    filter->m_displayName = "Screen";
    return S_OK;
}

std::vector<CMediaType> CCaptureFilter::EnumMediaTypes() const
{
    std::vector<CMediaType> types;
    if (!DescribesFormats(m_formatCaps.get()))
        return types;
    platform::GstCapsPtr all(gst_caps_normalize(gst_caps_copy(m_formatCaps.get())));
    for (guint i = 0; i < gst_caps_get_size(all.get()); ++i) {
        if (std::optional<CMediaType> mt = CMediaType::FromStructure(gst_caps_get_structure(all.get(), i)))
            types.push_back(*mt);
    }
    return types;
}

std::shared_ptr<CStreamConfig> CCaptureFilter::StreamConfig()
{
    if (!m_streamConfig)
        return nullptr;
    // Shares the filter's lifetime, like an interface of the same object.
    return std::shared_ptr<CStreamConfig>(shared_from_this(), &*m_streamConfig);
}

bool CCaptureFilter::ProducesMajorType(MajorType type) const
{
    if (!DescribesFormats(m_formatCaps.get()))
        return false;
    for (guint i = 0; i < gst_caps_get_size(m_formatCaps.get()); ++i) {
        const char *name = gst_structure_get_name(gst_caps_get_structure(m_formatCaps.get(), i));
        const bool video = g_str_has_prefix(name, "video/") || g_str_has_prefix(name, "image/");
        const bool audio = g_str_has_prefix(name, "audio/");
        const bool interleaved = std::strcmp(name, "video/x-dv") == 0;
        if ((type == MajorType::Video && video && !interleaved) || (type == MajorType::Audio && audio) ||
            (type == MajorType::Interleaved && interleaved))
            return true;
    }
    return false;
}
