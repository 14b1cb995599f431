#pragma once
// The handful of Win32 result types and helpers the program's code is written
// against. Failures travel as HRESULT-like values, tested by sign.
#include <cstdint>

using HRESULT = std::int32_t;
using DWORD = std::uint32_t;
using BOOL = int;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);

inline constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
inline constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// An errno value as an HRESULT of the Win32 facility, like HRESULT_FROM_WIN32.
inline constexpr HRESULT HRESULT_FROM_ERRNO(int err)
{
    return err <= 0 ? static_cast<HRESULT>(err)
                    : static_cast<HRESULT>((static_cast<std::uint32_t>(err) & 0xFFFFu) | 0x80070000u);
}
