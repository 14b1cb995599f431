#include "CWMProfile.h"

HRESULT CWMProfile::GetStream(DWORD index, CWMStreamConfig &config) const
{
    if (index >= m_streams.size())
        return E_INVALIDARG;
    config = m_streams[index];
    return S_OK;
}

HRESULT CWMProfile::ReconfigStream(const CWMStreamConfig &config)
{
    for (CWMStreamConfig &s : m_streams) {
        if (s.streamNumber == config.streamNumber) {
            if (s.type != config.type)
                return E_INVALIDARG;
            s = config;
            return S_OK;
        }
    }
    return E_INVALIDARG;
}

HRESULT CWMProfile::AddStream(const CWMStreamConfig &config)
{
    if (config.type == WMMediaType::Unknown || config.streamNumber < 1 || config.streamNumber > 127)
        return E_INVALIDARG;
    for (const CWMStreamConfig &s : m_streams)
        if (s.streamNumber == config.streamNumber)
            return E_INVALIDARG;
    m_streams.push_back(config);
    return S_OK;
}
