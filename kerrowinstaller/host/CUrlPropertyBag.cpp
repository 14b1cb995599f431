#include "CUrlPropertyBag.h"

#include "KerrowGuids.h"

HRESULT CUrlPropertyBag::QueryInterface(REFIID riid, void **ppv) noexcept
{
    if (ppv == nullptr)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPropertyBag) {
        *ppv = static_cast<IPropertyBag *>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT CUrlPropertyBag::Read(const OLECHAR *name, VARIANT *value, IErrorLog *) noexcept
{
    if (name == nullptr || value == nullptr)
        return E_POINTER;
    try {
        std::string text;
        for (const OLECHAR *c = name; *c != 0 && text.size() < 64; ++c)
            text.push_back(*c < 0x80 ? static_cast<char>(*c) : '?');
        m_asked.push_back(text);
        const CKerrowUrl::Parameter *parameter = m_url.Find(text);
        if (parameter == nullptr || !parameter->persisted)
            return E_INVALIDARG;
        VariantClear(value);
        value->vt = VT_BSTR;
        value->bstrVal = Utf8ToBstr(parameter->value);
        return value->bstrVal != nullptr ? S_OK : E_OUTOFMEMORY;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CUrlPropertyBag::Write(const OLECHAR *, VARIANT *) noexcept
{
    return E_NOTIMPL;
}
