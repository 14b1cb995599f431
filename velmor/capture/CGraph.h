#pragma once
// A filter graph (IGraphBuilder with IMediaControl): one pipeline holding the
// filters added to it. Its bus is read by a sync handler on whichever thread
// posts (no GLib main loop is needed): errors and warnings are logged under
// the graph's module name and remembered, everything else is dropped.
#include "CFilter.h"

#include <atomic>
#include <string>
#include <vector>

class CGraph {
public:
    explicit CGraph(const char *logModule);
    ~CGraph();
    CGraph(const CGraph &) = delete;
    CGraph &operator=(const CGraph &) = delete;

    // Adds a filter under a name; the graph keeps it until it is destroyed.
    HRESULT AddFilter(const std::shared_ptr<CFilter> &filter, const char *name);
    bool Contains(const CFilter *filter) const;

    // Intelligent connect: links an output pin to an input pin directly when
    // their formats meet, else through converters (decoder, colour-space and
    // size for video; format and rate for audio) added to the graph.
    HRESULT Connect(GstPad *output, GstPad *input);

    // IMediaControl.
    HRESULT Run();
    HRESULT Pause();
    HRESULT Stop();

    // IVideoWindow: the first filter that has a video window; null if none.
    CVideoRenderer *QueryVideoWindow() const;

    // Errors the bus reported since the graph was made.
    int ErrorCount() const { return m_errors.load(); }
    GstElement *Pipeline() const { return m_pipeline.get(); }

private:
    static GstBusSyncReply OnBusMessage(GstBus *bus, GstMessage *message, gpointer self);
    HRESULT ChangeState(GstState state);
    HRESULT LinkThroughConverters(GstPad *output, GstPad *input, const GstCaps *outCaps,
                                  const GstCaps *inCaps);

    const char *m_module;
    std::atomic<int> m_errors{0};
    // Filters first: the pipeline is destroyed (set to NULL) before them.
    std::vector<std::shared_ptr<CFilter>> m_filters;
    platform::PipelineHolder m_pipeline;
};
