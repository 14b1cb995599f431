// Components for regsvr32.exe to fail on, built from this one file:
//   COMPONENT_NO_ENTRY   exports neither entry point
//   COMPONENT_FAILS      DllRegisterServer and DllUnregisterServer fail
//                        with 0x80070005 (access denied)
#include <cstdint>

#if defined(COMPONENT_FAILS)
extern "C" __attribute__((visibility("default"))) std::int32_t DllRegisterServer()
{
    return static_cast<std::int32_t>(0x80070005u);
}
extern "C" __attribute__((visibility("default"))) std::int32_t DllUnregisterServer()
{
    return static_cast<std::int32_t>(0x80070005u);
}
#else
extern "C" __attribute__((visibility("default"))) int SomethingElse()
{
    return 0;
}
#endif
