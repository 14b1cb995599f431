#pragma once
// The exports of KerrowInstaller.dll, the in-process server entry points,
// as the host looks them up (platform::CModule::Function) and the library
// defines them. They are C entry points: nothing is thrown out of them.
#include "ComTypes.h"

extern "C" {
using DllCanUnloadNowFn = HRESULT (*)();
using DllGetClassObjectFn = HRESULT (*)(REFCLSID rclsid, REFIID riid, void **ppv);
using DllRegisterServerFn = HRESULT (*)();
using DllUnregisterServerFn = HRESULT (*)();
}

inline constexpr char kDllCanUnloadNow[] = "DllCanUnloadNow";
inline constexpr char kDllGetClassObject[] = "DllGetClassObject";
inline constexpr char kDllRegisterServer[] = "DllRegisterServer";
inline constexpr char kDllUnregisterServer[] = "DllUnregisterServer";
