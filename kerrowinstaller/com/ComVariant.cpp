#include "ComVariant.h"

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <string>

void VariantInit(VARIANT *v)
{
    v->vt = VT_EMPTY;
    v->lVal = 0;
}

HRESULT VariantClear(VARIANT *v)
{
    if (v == nullptr)
        return E_INVALIDARG;
    if (v->vt == VT_BSTR)
        SysFreeString(v->bstrVal);
    VariantInit(v);
    return S_OK;
}

namespace {

// A decimal number with optional blanks around it and an optional sign.
HRESULT ParseNumber(const std::string &text, long long &out)
{
    std::size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
        ++at;
    std::size_t end = text.size();
    while (end > at && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        --end;
    std::size_t digits = at;
    if (digits < end && (text[digits] == '+' || text[digits] == '-'))
        ++digits;
    if (digits == end)
        return DISP_E_TYPEMISMATCH;
    for (std::size_t i = digits; i < end; ++i)
        if (text[i] < '0' || text[i] > '9')
            return DISP_E_TYPEMISMATCH;
    // More digits than any 32-bit number has: out of range, not a mismatch.
    if (end - digits > 18)
        return DISP_E_OVERFLOW;
    errno = 0;
    out = std::strtoll(text.substr(at, end - at).c_str(), nullptr, 10);
    return errno == ERANGE ? DISP_E_OVERFLOW : S_OK;
}

} // namespace

HRESULT VariantChangeType(VARIANT *dest, const VARIANT *src, VARTYPE vt)
{
    if (dest == nullptr || src == nullptr)
        return E_INVALIDARG;
    long long number = 0;
    std::string text;
    switch (src->vt) {
    case VT_EMPTY:
        break;
    case VT_I2:
        number = src->iVal;
        text = std::to_string(src->iVal);
        break;
    case VT_I4:
        number = src->lVal;
        text = std::to_string(src->lVal);
        break;
    case VT_BSTR:
        text = BstrToUtf8(src->bstrVal);
        if (vt != VT_BSTR)
            if (const HRESULT hr = ParseNumber(text, number); FAILED(hr))
                return hr;
        break;
    default:
        return DISP_E_TYPEMISMATCH;
    }
    VARIANT result;
    VariantInit(&result);
    switch (vt) {
    case VT_I2:
        if (number < std::numeric_limits<SHORT>::min() || number > std::numeric_limits<SHORT>::max())
            return DISP_E_OVERFLOW;
        result.vt = VT_I2;
        result.iVal = static_cast<SHORT>(number);
        break;
    case VT_I4:
        if (number < std::numeric_limits<LONG>::min() || number > std::numeric_limits<LONG>::max())
            return DISP_E_OVERFLOW;
        result.vt = VT_I4;
        result.lVal = static_cast<LONG>(number);
        break;
    case VT_BSTR:
        result.vt = VT_BSTR;
        result.bstrVal = Utf8ToBstr(text);
        if (result.bstrVal == nullptr)
            return E_OUTOFMEMORY;
        break;
    default:
        return DISP_E_TYPEMISMATCH;
    }
    VariantClear(dest);
    *dest = result;
    return S_OK;
}
