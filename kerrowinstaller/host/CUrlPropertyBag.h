#pragma once
// The property bag KerrowHost.exe hands the control: the URL's parameters
// that carry property-bag names, as the PARAM tags of a page's OBJECT
// element would be. Values are texts (VT_BSTR); the control converts them
// to its properties' types. Lives on the host's stack for one Load.
#include "CKerrowUrl.h"

#include "ComInterfaces.h"

class CUrlPropertyBag final : public IPropertyBag {
public:
    explicit CUrlPropertyBag(const CKerrowUrl &url) : m_url(url) {}
    ~CUrlPropertyBag() = default;
    CUrlPropertyBag(const CUrlPropertyBag &) = delete;
    CUrlPropertyBag &operator=(const CUrlPropertyBag &) = delete;

    HRESULT QueryInterface(REFIID riid, void **ppv) noexcept override;
    // The bag belongs to its creator: references are counted, never freed.
    ULONG AddRef() noexcept override { return ++m_refs; }
    ULONG Release() noexcept override { return --m_refs; }

    HRESULT Read(const OLECHAR *name, VARIANT *value, IErrorLog *log) noexcept override;
    HRESULT Write(const OLECHAR *name, VARIANT *value) noexcept override;

    // The names the control asked for, in its order (what Load read).
    const std::vector<std::string> &Asked() const { return m_asked; }

private:
    const CKerrowUrl &m_url;
    ULONG m_refs = 1;
    std::vector<std::string> m_asked;
};
