#pragma once
// RAII holders for the GStreamer handles the capture graphs, the writer and
// the player keep. Header only: a target that includes it links GStreamer
// itself (PkgConfig::GST).
//
//   GstPtr<GstElement> e = platform::AdoptFloating(gst_element_factory_make("fakesink", nullptr));
//   GstCapsPtr caps(gst_caps_from_string("video/x-raw"));
//   PipelineHolder pipe(gst_pipeline_new("graph"));   // set to NULL before unref
//
// Floating references (new elements, pads, devices) must be sunk before a
// holder owns them: AdoptFloating does that. Objects returned "transfer full"
// by GStreamer (gst_element_get_static_pad, gst_bin_get_by_name,
// gst_element_get_bus, gst_pad_query_caps ...) go straight into a holder.
#include <gst/gst.h>

#include <memory>
#include <utility>

namespace platform {

struct GstObjectUnref {
    void operator()(gpointer object) const noexcept
    {
        if (object)
            gst_object_unref(object);
    }
};
struct GstCapsUnref {
    void operator()(GstCaps *caps) const noexcept
    {
        if (caps)
            gst_caps_unref(caps);
    }
};
struct GstBufferUnref {
    void operator()(GstBuffer *buffer) const noexcept
    {
        if (buffer)
            gst_buffer_unref(buffer);
    }
};
struct GstSampleUnref {
    void operator()(GstSample *sample) const noexcept
    {
        if (sample)
            gst_sample_unref(sample);
    }
};
struct GstMessageUnref {
    void operator()(GstMessage *message) const noexcept
    {
        if (message)
            gst_message_unref(message);
    }
};
struct GstStructureFree {
    void operator()(GstStructure *s) const noexcept
    {
        if (s)
            gst_structure_free(s);
    }
};
struct GErrorFree {
    void operator()(GError *e) const noexcept
    {
        if (e)
            g_error_free(e);
    }
};
struct GFree {
    void operator()(gpointer p) const noexcept { g_free(p); }
};
struct GObjectUnref {
    void operator()(gpointer object) const noexcept
    {
        if (object)
            g_object_unref(object);
    }
};

// Any GstObject (elements, bins, pads, buses, devices, device monitors, clocks).
template <typename T>
using GstPtr = std::unique_ptr<T, GstObjectUnref>;

using GstCapsPtr = std::unique_ptr<GstCaps, GstCapsUnref>;
using GstBufferPtr = std::unique_ptr<GstBuffer, GstBufferUnref>;
using GstSamplePtr = std::unique_ptr<GstSample, GstSampleUnref>;
using GstMessagePtr = std::unique_ptr<GstMessage, GstMessageUnref>;
using GstStructurePtr = std::unique_ptr<GstStructure, GstStructureFree>;
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;
using GCharPtr = std::unique_ptr<gchar, GFree>;
// A plain GObject that is no GstObject (GIO's sockets, clients, cancellables).
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

// Takes ownership of a possibly floating object (a new element, pad or
// device): sinks the floating reference, or adds one if it was not floating.
template <typename T>
GstPtr<T> AdoptFloating(T *object)
{
    if (object)
        gst_object_ref_sink(object);
    return GstPtr<T>(object);
}

// A new strong reference to an object someone else holds.
template <typename T>
GstPtr<T> NewRef(T *object)
{
    if (object)
        gst_object_ref(object);
    return GstPtr<T>(object);
}

// A pipeline (or any top-level element) that is brought to the NULL state
// before its last reference goes, so its streaming threads are joined first.
class PipelineHolder {
public:
    PipelineHolder() = default;
    // Takes a new (floating) pipeline, e.g. gst_pipeline_new("graph").
    explicit PipelineHolder(GstElement *pipeline) { reset(pipeline); }
    ~PipelineHolder() { reset(); }
    PipelineHolder(PipelineHolder &&other) noexcept : m_element(std::exchange(other.m_element, nullptr)) {}
    PipelineHolder &operator=(PipelineHolder &&other) noexcept
    {
        if (this != &other) {
            reset();
            m_element = std::exchange(other.m_element, nullptr);
        }
        return *this;
    }
    PipelineHolder(const PipelineHolder &) = delete;
    PipelineHolder &operator=(const PipelineHolder &) = delete;

    void reset(GstElement *pipeline = nullptr)
    {
        if (m_element) {
            gst_element_set_state(m_element, GST_STATE_NULL);
            gst_object_unref(m_element);
        }
        m_element = pipeline;
        if (m_element)
            gst_object_ref_sink(m_element);
    }
    GstElement *get() const { return m_element; }
    GstBin *bin() const { return GST_BIN(m_element); }
    explicit operator bool() const { return m_element != nullptr; }

private:
    GstElement *m_element = nullptr;
};

// A mapped buffer, unmapped when it goes out of scope.
class BufferMap {
public:
    BufferMap(GstBuffer *buffer, GstMapFlags flags) : m_buffer(buffer)
    {
        m_mapped = buffer && gst_buffer_map(buffer, &m_info, flags);
    }
    ~BufferMap()
    {
        if (m_mapped)
            gst_buffer_unmap(m_buffer, &m_info);
    }
    BufferMap(const BufferMap &) = delete;
    BufferMap &operator=(const BufferMap &) = delete;

    bool ok() const { return m_mapped; }
    const guint8 *data() const { return m_info.data; }
    guint8 *data() { return m_info.data; }
    gsize size() const { return m_info.size; }

private:
    GstBuffer *m_buffer;
    GstMapInfo m_info{};
    bool m_mapped = false;
};

} // namespace platform
