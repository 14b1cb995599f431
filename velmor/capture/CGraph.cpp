#include "CGraph.h"

#include "CLogFile.h"
#include "CVideoRenderer.h"

#include <cstring>

CGraph::CGraph(const char *logModule) : m_module(logModule), m_pipeline(gst_pipeline_new(nullptr))
{
    platform::GstPtr<GstBus> bus(gst_element_get_bus(m_pipeline.get()));
    gst_bus_set_sync_handler(bus.get(), &CGraph::OnBusMessage, this, nullptr);
}

CGraph::~CGraph()
{
    gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);
    platform::GstPtr<GstBus> bus(gst_element_get_bus(m_pipeline.get()));
    gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
}

GstBusSyncReply CGraph::OnBusMessage(GstBus *, GstMessage *message, gpointer self)
{
    auto *graph = static_cast<CGraph *>(self);
    const GstMessageType type = GST_MESSAGE_TYPE(message);
    if (type == GST_MESSAGE_ERROR || type == GST_MESSAGE_WARNING) {
        GError *raw = nullptr;
        gchar *debug = nullptr;
        if (type == GST_MESSAGE_ERROR)
            gst_message_parse_error(message, &raw, &debug);
        else
            gst_message_parse_warning(message, &raw, &debug);
        platform::GErrorPtr error(raw);
        platform::GCharPtr details(debug);
        platform::GCharPtr source(gst_object_get_path_string(GST_MESSAGE_SRC(message)));
        if (type == GST_MESSAGE_ERROR)
            graph->m_errors.fetch_add(1);
        VLOG(graph->m_module, "Graph %s from %s: %s\n", type == GST_MESSAGE_ERROR ? "error" : "warning",
             source ? source.get() : "?", error ? error->message : "?");
    }
    // A sync handler that drops a message owns it; each message holds a
    // reference to its source, so one not freed keeps the whole graph alive.
    gst_message_unref(message);
    return GST_BUS_DROP;
}

HRESULT CGraph::AddFilter(const std::shared_ptr<CFilter> &filter, const char *name)
{
    if (!filter || !filter->Element())
        return E_POINTER;
    GstElement *element = filter->Element();
    if (GST_OBJECT_PARENT(element))
        return VFW_E_WRONG_STATE;
    if (name)
        gst_object_set_name(GST_OBJECT(element), name);
    if (!gst_bin_add(m_pipeline.bin(), element))
        return E_FAIL;
    m_filters.push_back(filter);
    return S_OK;
}

bool CGraph::Contains(const CFilter *filter) const
{
    for (const auto &f : m_filters)
        if (f.get() == filter)
            return true;
    return false;
}

namespace {

bool InPipeline(GstPad *pad, GstElement *pipeline)
{
    platform::GstPtr<GstElement> parent(gst_pad_get_parent_element(pad));
    return parent && GST_OBJECT_PARENT(parent.get()) == GST_OBJECT(pipeline);
}

bool HasStructureNamed(const GstCaps *caps, const char *prefix)
{
    if (gst_caps_is_any(caps))
        return true;
    for (guint i = 0; i < gst_caps_get_size(caps); ++i)
        if (g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, i)), prefix))
            return true;
    return false;
}

} // namespace

HRESULT CGraph::Connect(GstPad *output, GstPad *input)
{
    if (!output || !input)
        return E_POINTER;
    if (GST_PAD_DIRECTION(output) != GST_PAD_SRC || GST_PAD_DIRECTION(input) != GST_PAD_SINK)
        return VFW_E_CANNOT_CONNECT;
    if (!InPipeline(output, m_pipeline.get()) || !InPipeline(input, m_pipeline.get()))
        return VFW_E_NOT_IN_GRAPH;
    if (gst_pad_is_linked(output) || gst_pad_is_linked(input))
        return VFW_E_ALREADY_CONNECTED;
    platform::GstCapsPtr outCaps(gst_pad_query_caps(output, nullptr));
    platform::GstCapsPtr inCaps(gst_pad_query_caps(input, nullptr));
    if (!outCaps || !inCaps || gst_caps_is_empty(outCaps.get()) || gst_caps_is_empty(inCaps.get()))
        return VFW_E_CANNOT_CONNECT;
    if (gst_caps_can_intersect(outCaps.get(), inCaps.get()))
        return gst_pad_link(output, input) == GST_PAD_LINK_OK ? S_OK : VFW_E_CANNOT_CONNECT;
    return LinkThroughConverters(output, input, outCaps.get(), inCaps.get());
}

HRESULT CGraph::LinkThroughConverters(GstPad *output, GstPad *input, const GstCaps *outCaps,
                                      const GstCaps *inCaps)
{
    std::vector<const char *> chain;
    if (HasStructureNamed(outCaps, "video/x-raw"))
        chain = {"videoconvert", "videoscale"};
    else if (HasStructureNamed(outCaps, "image/jpeg"))
        chain = {"jpegdec", "videoconvert", "videoscale"};
    else if (HasStructureNamed(outCaps, "audio/x-raw"))
        chain = {"audioconvert", "audioresample"};
    else
        return VFW_E_CANNOT_CONNECT;

    std::vector<GstElement *> added;
    auto undo = [&]() {
        for (GstElement *e : added) {
            gst_element_set_state(e, GST_STATE_NULL);
            gst_bin_remove(m_pipeline.bin(), e);
        }
        return VFW_E_CANNOT_CONNECT;
    };
    for (const char *factory : chain) {
        GstElement *e = gst_element_factory_make(factory, nullptr);
        if (!e)
            return undo();
        gst_bin_add(m_pipeline.bin(), e);
        added.push_back(e);
        if (added.size() > 1 && !gst_element_link(added[added.size() - 2], e))
            return undo();
    }
    platform::GstPtr<GstPad> first(gst_element_get_static_pad(added.front(), "sink"));
    platform::GstPtr<GstPad> last(gst_element_get_static_pad(added.back(), "src"));
    if (gst_pad_link(output, first.get()) != GST_PAD_LINK_OK) {
        return undo();
    }
    platform::GstCapsPtr converted(gst_pad_query_caps(last.get(), nullptr));
    if (!converted || !gst_caps_can_intersect(converted.get(), inCaps) ||
        gst_pad_link(last.get(), input) != GST_PAD_LINK_OK) {
        gst_pad_unlink(output, first.get());
        return undo();
    }
    // Converters follow the graph's state from now on.
    for (GstElement *e : added)
        gst_element_sync_state_with_parent(e);
    return S_OK;
}

HRESULT CGraph::ChangeState(GstState state)
{
    const GstStateChangeReturn ret = gst_element_set_state(m_pipeline.get(), state);
    if (ret == GST_STATE_CHANGE_FAILURE)
        return E_FAIL;
    if (ret == GST_STATE_CHANGE_ASYNC) {
        const GstStateChangeReturn done =
            gst_element_get_state(m_pipeline.get(), nullptr, nullptr, 5 * GST_SECOND);
        if (done == GST_STATE_CHANGE_FAILURE)
            return E_FAIL;
        if (done == GST_STATE_CHANGE_ASYNC)
            return S_FALSE; // still on its way, as Run reports a transition in progress
    }
    return S_OK;
}

HRESULT CGraph::Run()
{
    return ChangeState(GST_STATE_PLAYING);
}

HRESULT CGraph::Pause()
{
    return ChangeState(GST_STATE_PAUSED);
}

HRESULT CGraph::Stop()
{
    // READY stops every streaming thread (they are joined on the way down)
    // and keeps the devices open, like a stopped filter graph.
    return ChangeState(GST_STATE_READY);
}

CVideoRenderer *CGraph::QueryVideoWindow() const
{
    for (const auto &f : m_filters)
        if (CVideoRenderer *window = f->QueryVideoWindow())
            return window;
    return nullptr;
}
