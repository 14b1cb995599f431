#include "TestDevices.h"

#include "platform/GstHolders.h"
#include "platform/GstInit.h"

#include <mutex>

namespace testdevices {
namespace {

std::mutex g_mutex;
std::vector<FakeDevice> g_devices;

constexpr const char *kProviderName = "velmortestdeviceprovider";

// ---- the device --------------------------------------------------------------

struct VelmorFakeDevice {
    GstDevice parent;
    FakeDevice *config;
};
struct VelmorFakeDeviceClass {
    GstDeviceClass parent_class;
};

G_DEFINE_TYPE(VelmorFakeDevice, velmor_fake_device, GST_TYPE_DEVICE)

void velmor_fake_device_init(VelmorFakeDevice *self)
{
    self->config = nullptr;
}

void velmor_fake_device_finalize(GObject *object)
{
    delete reinterpret_cast<VelmorFakeDevice *>(object)->config;
    G_OBJECT_CLASS(velmor_fake_device_parent_class)->finalize(object);
}

// The caps the element really produces: the listed ones without the
// "top-down" marker, or the fixed ones of a device without format control.
GstCaps *ProducedCaps(const FakeDevice &d)
{
    if (d.caps.empty()) {
        if (!d.producedCaps.empty())
            return gst_caps_from_string(d.producedCaps.c_str());
        return gst_caps_from_string(d.kind == FakeDevice::Kind::Camera
                                        ? "video/x-raw,format=I420,width=176,height=144"
                                        : "audio/x-raw,format=S16LE,rate=44100,channels=1,layout=interleaved");
    }
    GstCaps *caps = gst_caps_from_string(d.caps.c_str());
    if (!caps)
        return gst_caps_new_any();
    caps = gst_caps_make_writable(caps);
    for (guint i = 0; i < gst_caps_get_size(caps); ++i)
        gst_structure_remove_field(gst_caps_get_structure(caps, i), "top-down");
    return caps;
}

GstElement *velmor_fake_device_create_element(GstDevice *device, const gchar *name)
{
    const FakeDevice &d = *reinterpret_cast<VelmorFakeDevice *>(device)->config;
    if (!d.bindable)
        return nullptr;
    const bool camera = d.kind == FakeDevice::Kind::Camera;
    GstElement *bin = gst_bin_new(name);
    GstElement *source = gst_element_factory_make(camera ? "videotestsrc" : "audiotestsrc", nullptr);
    g_object_set(source, "is-live", TRUE, nullptr);
    if (!camera && d.samplesPerBuffer > 0)
        g_object_set(source, "samplesperbuffer", d.samplesPerBuffer, nullptr);
    if (!d.pattern.empty())
        gst_util_set_object_arg(G_OBJECT(source), camera ? "pattern" : "wave", d.pattern.c_str());
    GstElement *caps = gst_element_factory_make("capsfilter", nullptr);
    platform::GstCapsPtr produced(ProducedCaps(d));
    g_object_set(caps, "caps", produced.get(), nullptr);
    gst_bin_add_many(GST_BIN(bin), source, caps, nullptr);
    GstElement *last = source;
    if (d.controls) {
        GstElement *control = gst_element_factory_make(camera ? "videobalance" : "volume", nullptr);
        gst_bin_add(GST_BIN(bin), control);
        gst_element_link(last, control);
        last = control;
    }
    gst_element_link(last, caps);
    platform::GstPtr<GstPad> target(gst_element_get_static_pad(caps, "src"));
    gst_element_add_pad(bin, gst_ghost_pad_new("src", target.get()));
    return bin;
}

void velmor_fake_device_class_init(VelmorFakeDeviceClass *klass)
{
    G_OBJECT_CLASS(klass)->finalize = velmor_fake_device_finalize;
    GST_DEVICE_CLASS(klass)->create_element = velmor_fake_device_create_element;
}

GstDevice *MakeDevice(const FakeDevice &d)
{
    const bool camera = d.kind == FakeDevice::Kind::Camera;
    platform::GstCapsPtr caps(d.caps.empty() ? gst_caps_new_any() : gst_caps_from_string(d.caps.c_str()));
    if (!caps)
        caps.reset(gst_caps_new_any());
    platform::GstStructurePtr props(gst_structure_new("velmor-test-device", "device.api", G_TYPE_STRING,
                                                      "test", nullptr));
    if (d.tuner) {
        // V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_TUNER | V4L2_CAP_STREAMING
        const guint bits = 0x00000001u | 0x00010000u | 0x04000000u;
        gst_structure_set(props.get(), "v4l2.device.capabilities", G_TYPE_UINT, bits,
                          "v4l2.device.device_caps", G_TYPE_UINT, bits, nullptr);
    }
    gpointer object = g_object_new(velmor_fake_device_get_type(), "display-name", d.name.c_str(), "caps",
                                   caps.get(), "device-class", camera ? "Video/Source" : "Audio/Source",
                                   "properties", props.get(), nullptr);
    auto *device = reinterpret_cast<VelmorFakeDevice *>(object);
    device->config = new FakeDevice(d);
    return GST_DEVICE(gst_object_ref_sink(object));
}

// ---- the provider ------------------------------------------------------------

struct VelmorFakeProvider {
    GstDeviceProvider parent;
};
struct VelmorFakeProviderClass {
    GstDeviceProviderClass parent_class;
};

G_DEFINE_TYPE(VelmorFakeProvider, velmor_fake_provider, GST_TYPE_DEVICE_PROVIDER)

GList *velmor_fake_provider_probe(GstDeviceProvider *)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    GList *devices = nullptr;
    for (const FakeDevice &d : g_devices)
        devices = g_list_append(devices, MakeDevice(d));
    return devices;
}

void velmor_fake_provider_init(VelmorFakeProvider *self)
{
    // Tests see only their own devices: every other provider is hidden.
    GList *factories = gst_device_provider_factory_list_get_device_providers(GST_RANK_NONE);
    for (GList *at = factories; at; at = at->next) {
        const gchar *name = GST_OBJECT_NAME(at->data);
        if (g_strcmp0(name, kProviderName) != 0)
            gst_device_provider_hide_provider(GST_DEVICE_PROVIDER(self), name);
    }
    gst_plugin_feature_list_free(factories);
}

void velmor_fake_provider_class_init(VelmorFakeProviderClass *klass)
{
    GstDeviceProviderClass *provider = GST_DEVICE_PROVIDER_CLASS(klass);
    provider->probe = velmor_fake_provider_probe;
    gst_device_provider_class_set_static_metadata(provider, "Velmor test devices", "Source/Video/Audio",
                                                  "Fake cameras and microphones for tests", "Velmor");
}

gboolean PluginInit(GstPlugin *plugin)
{
    return gst_device_provider_register(plugin, kProviderName, GST_RANK_PRIMARY + 100,
                                        velmor_fake_provider_get_type());
}

void RegisterOnce()
{
    static const bool registered = [] {
        platform::EnsureGstInit();
        return gst_plugin_register_static(GST_VERSION_MAJOR, GST_VERSION_MINOR, "velmortestdevices",
                                          "Fake capture devices for tests", PluginInit, "1.0", "LGPL",
                                          "velmor", "velmor", "https://localhost/") != FALSE;
    }();
    (void)registered;
}

} // namespace

FakeDevice Camera(std::string name, std::string caps)
{
    FakeDevice d;
    d.kind = FakeDevice::Kind::Camera;
    d.name = std::move(name);
    d.caps = std::move(caps);
    return d;
}

FakeDevice Microphone(std::string name, std::string caps)
{
    FakeDevice d;
    d.kind = FakeDevice::Kind::Microphone;
    d.name = std::move(name);
    d.caps = std::move(caps);
    return d;
}

void SetFakeDevices(std::vector<FakeDevice> devices)
{
    RegisterOnce();
    std::lock_guard<std::mutex> lock(g_mutex);
    g_devices = std::move(devices);
}

void ClearFakeDevices()
{
    SetFakeDevices({});
}

} // namespace testdevices
