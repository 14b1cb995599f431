#pragma once
// BSTR: the string type of the control's interface, UTF-16 code units with
// their byte length stored in the four bytes before the first one and a
// terminating zero, as SysAllocString makes it. Both sides of the interface
// allocate and free through the C library's heap, which the control and its
// host share, so a BSTR made by one may be freed by the other.
//
// Inside, the control keeps UTF-8 (the project's text inside programs);
// these helpers convert at the interface.
#include "ComTypes.h"

#include <string>
#include <string_view>

using OLECHAR = char16_t;
using BSTR = OLECHAR *;

// A new BSTR holding `length` code units of `text` (null text: zeros); null
// when memory runs out.
BSTR SysAllocStringLen(const OLECHAR *text, UINT length);
// A new BSTR of a zero-terminated text; null for a null text.
BSTR SysAllocString(const OLECHAR *text);
void SysFreeString(BSTR text);
// Code units, not counting the terminating zero; 0 for null.
UINT SysStringLen(BSTR text);

// UTF-8 <-> BSTR. A null BSTR is the empty text. Unpaired surrogates become
// U+FFFD in UTF-8; bytes that are not UTF-8 become U+FFFD in the BSTR.
std::string BstrToUtf8(BSTR text);
BSTR Utf8ToBstr(std::string_view text);

// Owns one BSTR and frees it (CComBSTR without the rest).
class CComBSTR {
public:
    CComBSTR() = default;
    explicit CComBSTR(std::string_view utf8) : m_str(Utf8ToBstr(utf8)) {}
    ~CComBSTR() { SysFreeString(m_str); }
    CComBSTR(const CComBSTR &) = delete;
    CComBSTR &operator=(const CComBSTR &) = delete;

    BSTR Get() const { return m_str; }
    // For an out-parameter: frees what it holds and hands out its slot.
    BSTR *Out()
    {
        SysFreeString(m_str);
        m_str = nullptr;
        return &m_str;
    }
    std::string Utf8() const { return BstrToUtf8(m_str); }

private:
    BSTR m_str = nullptr;
};
