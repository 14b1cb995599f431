#pragma once
// The COM-shaped layer between the web launcher control and its host: the
// scalar types, GUIDs and result codes of the in-process server interface.
// There is no COM runtime here; the control and KerrowHost.exe agree on
// these shapes because both are built from these headers. See README.md.
#include "platform/Win32Types.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

using ULONG = std::uint32_t;
using LONG = std::int32_t;
using SHORT = std::int16_t;
using UINT = unsigned int;
using WORD = std::uint16_t;
using DISPID = LONG;

// A globally unique identifier, laid out as Windows lays it out.
struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID &;
using REFCLSID = const CLSID &;

bool IsEqualGUID(const GUID &a, const GUID &b);
inline bool operator==(const GUID &a, const GUID &b)
{
    return IsEqualGUID(a, b);
}

// "{E8E20D57-3D5B-4A2D-B710-252900B66685}" (upper-case hexadecimal, braces).
std::string GuidToString(const GUID &guid);
// The same form back, braces optional, letters in either case.
std::optional<GUID> GuidFromString(std::string_view text);

// Result codes of the in-process server interface beyond Win32Types.h.
inline constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);
inline constexpr HRESULT SELFREG_E_CLASS = static_cast<HRESULT>(0x80040201u);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003u);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006u);
inline constexpr HRESULT DISP_E_OVERFLOW = static_cast<HRESULT>(0x8002000Au);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000Eu);
