#pragma once
// The capture graph builder (ICaptureGraphBuilder2): bound to one graph, it
// finds the control interfaces of a capture source.
#include "CCaptureFilter.h"
#include "CGraph.h"
#include "CTVTuner.h"

class CCaptureGraphBuilder {
public:
    HRESULT SetFiltergraph(const std::shared_ptr<CGraph> &graph);
    const std::shared_ptr<CGraph> &Graph() const { return m_graph; }

    // FindInterface(&PIN_CATEGORY_CAPTURE, &type, source, IID_IAMStreamConfig)
    // (the same object answers IID_IAMBufferNegotiation): the format control of
    // the source's capture pin when that pin produces `type`.
    HRESULT FindStreamConfig(MajorType type, const std::shared_ptr<CCaptureFilter> &source,
                             std::shared_ptr<CStreamConfig> &config) const;

    // FindInterface(&LOOK_UPSTREAM_ONLY, NULL, source, IID_IAMTVTuner).
    HRESULT FindTVTuner(const std::shared_ptr<CCaptureFilter> &source, std::shared_ptr<CTVTuner> &tuner) const;

    // FindInterface(..., IID_IAMVfwCaptureDialogs): Video for Windows driver
    // dialogs do not exist here; the look-up always answers E_NOINTERFACE.
    HRESULT FindVfwCaptureDialogs(const std::shared_ptr<CCaptureFilter> &source) const;

private:
    std::shared_ptr<CGraph> m_graph;
};
