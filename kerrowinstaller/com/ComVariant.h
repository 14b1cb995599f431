#pragma once
// VARIANT, as far as the control's properties need it: empty, a 16-bit
// number, a 32-bit number or a BSTR. Property bags hand values over in it
// and the dispatch side of the control takes and returns it.
#include "ComBstr.h"

enum VARTYPE : unsigned short {
    VT_EMPTY = 0,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_BSTR = 8,
};

struct VARIANT {
    VARTYPE vt;
    union {
        SHORT iVal;
        LONG lVal;
        BSTR bstrVal;
    };
};

void VariantInit(VARIANT *v);
// Frees a BSTR it holds and makes it empty.
HRESULT VariantClear(VARIANT *v);
// `dest` (cleared first) gets `src` converted to `vt`, as VariantChangeType
// converts: numbers between the integer types with a range check
// (DISP_E_OVERFLOW), a text to a number when it is a decimal number with
// optional blanks around it and an optional sign (DISP_E_TYPEMISMATCH
// otherwise), a number to its decimal text. An empty variant converts to 0
// or the empty text. `dest` may be `src`.
HRESULT VariantChangeType(VARIANT *dest, const VARIANT *src, VARTYPE vt);

// Owns one VARIANT and clears it.
class CComVariant : public VARIANT {
public:
    CComVariant() { VariantInit(this); }
    explicit CComVariant(std::string_view utf8)
    {
        vt = VT_BSTR;
        bstrVal = Utf8ToBstr(utf8);
    }
    explicit CComVariant(LONG value)
    {
        vt = VT_I4;
        lVal = value;
    }
    explicit CComVariant(SHORT value)
    {
        vt = VT_I2;
        iVal = value;
    }
    ~CComVariant() { VariantClear(this); }
    CComVariant(const CComVariant &) = delete;
    CComVariant &operator=(const CComVariant &) = delete;
};
