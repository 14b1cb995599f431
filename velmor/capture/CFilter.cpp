#include "CFilter.h"

CFilter::CFilter(GstElement *element) : m_element(platform::AdoptFloating(element)) {}

CFilter::~CFilter() = default;

HRESULT CFilter::GetPin(PinDirection direction, int n, platform::GstPtr<GstPad> &pin) const
{
    pin.reset();
    if (!m_element || n < 0)
        return E_FAIL;
    GstElement *element = m_element.get();
    GST_OBJECT_LOCK(element);
    GList *pads = direction == PinDirection::Output ? element->srcpads : element->sinkpads;
    GList *at = g_list_nth(pads, static_cast<guint>(n));
    if (at)
        pin.reset(GST_PAD(gst_object_ref(at->data)));
    GST_OBJECT_UNLOCK(element);
    return pin ? S_OK : E_FAIL;
}

namespace {

class CNullRenderer : public CFilter {
public:
    explicit CNullRenderer(GstElement *element) : CFilter(element) {}
};

} // namespace

HRESULT CFilter::CreateNullRenderer(std::shared_ptr<CFilter> &filter)
{
    filter.reset();
    GstElement *sink = gst_element_factory_make("fakesink", nullptr);
    if (!sink)
        return REGDB_E_CLASSNOTREG;
    g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
    filter = std::make_shared<CNullRenderer>(sink);
    return S_OK;
}
