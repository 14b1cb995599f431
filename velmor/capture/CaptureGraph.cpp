#include "CaptureGraph.h"

#include "CDeviceEnumerator.h"

#include "platform/CodePage.h"

#include <cstring>

HRESULT FindCaptureDevice(DeviceCategory category, const char *name, std::shared_ptr<CCaptureFilter> &filter,
                          std::uint16_t &index)
{
    filter.reset();
    index = kDeviceNotFound;
    if (!name)
        return S_FALSE;
    const std::string wanted = platform::Utf8ToAnsi(name);
    if (wanted.size() > kMaxDeviceNameBytes)
        return E_FAIL;

    std::vector<std::shared_ptr<CDeviceMoniker>> monikers;
    const HRESULT hr = CDeviceEnumerator::CreateClassEnumerator(category, monikers);
    if (FAILED(hr) || monikers.empty())
        return E_FAIL;
    std::uint16_t count = 0;
    for (const auto &moniker : monikers) {
        char friendly[CDeviceMoniker::kNameBytes];
        if (SUCCEEDED(moniker->ReadFriendlyName(friendly)) && wanted == friendly) {
            std::shared_ptr<CCaptureFilter> bound;
            if (SUCCEEDED(moniker->BindToObject(bound)) && bound) {
                filter = std::move(bound);
                index = count;
                return S_OK;
            }
        }
        ++count;
    }
    return E_FAIL;
}

namespace {

std::vector<platform::GstPtr<GstPad>> PinsOf(const CFilter &filter, PinDirection direction)
{
    std::vector<platform::GstPtr<GstPad>> pins;
    for (int n = 0;; ++n) {
        platform::GstPtr<GstPad> pin;
        if (FAILED(filter.GetPin(direction, n, pin)))
            break;
        pins.push_back(std::move(pin));
    }
    return pins;
}

} // namespace

HRESULT ConnectFilters(CGraph &graph, const CFilter &upstream, const CFilter &downstream, int tries)
{
    bool connected = false;
    int calls = 0;
    HRESULT last = S_OK;
    for (const auto &output : PinsOf(upstream, PinDirection::Output)) {
        if (gst_pad_is_linked(output.get()))
            continue;
        for (const auto &input : PinsOf(downstream, PinDirection::Input)) {
            if (gst_pad_is_linked(input.get()))
                continue;
            if (calls < tries) {
                last = graph.Connect(output.get(), input.get());
                ++calls;
            }
            // Classify the latest result for each free pair, as before.
            if (last == S_OK)
                connected = true;
            else if (last == VFW_S_PARTIAL_RENDER || last == E_ABORT || last == E_POINTER ||
                     last == VFW_E_CANNOT_CONNECT || last == VFW_E_NOT_IN_GRAPH)
                connected = false;
        }
    }
    return connected ? S_OK : E_FAIL;
}

HRESULT GetPin(const CFilter *filter, PinDirection direction, int n, platform::GstPtr<GstPad> *pin)
{
    if (!filter || !pin)
        return E_FAIL;
    return filter->GetPin(direction, n, *pin);
}
