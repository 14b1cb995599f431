#include "CCaptureGraphBuilder.h"

HRESULT CCaptureGraphBuilder::SetFiltergraph(const std::shared_ptr<CGraph> &graph)
{
    if (!graph)
        return E_POINTER;
    if (m_graph)
        return E_UNEXPECTED;
    m_graph = graph;
    return S_OK;
}

HRESULT CCaptureGraphBuilder::FindStreamConfig(MajorType type, const std::shared_ptr<CCaptureFilter> &source,
                                               std::shared_ptr<CStreamConfig> &config) const
{
    config.reset();
    if (!source)
        return E_POINTER;
    if (!source->ProducesMajorType(type))
        return E_NOINTERFACE;
    config = source->StreamConfig();
    return config ? S_OK : E_NOINTERFACE;
}

HRESULT CCaptureGraphBuilder::FindTVTuner(const std::shared_ptr<CCaptureFilter> &source,
                                          std::shared_ptr<CTVTuner> &tuner) const
{
    tuner.reset();
    if (!source)
        return E_POINTER;
    if (!source->HasTuner())
        return E_NOINTERFACE;
    tuner = std::make_shared<CTVTuner>(source);
    return S_OK;
}

HRESULT CCaptureGraphBuilder::FindVfwCaptureDialogs(const std::shared_ptr<CCaptureFilter> &source) const
{
    return source ? E_NOINTERFACE : E_POINTER;
}
