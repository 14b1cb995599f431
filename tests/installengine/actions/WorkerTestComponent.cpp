// Components that do not register, for the install worker's tests:
// COMPONENT_FAILS exports a DllRegisterServer that fails, COMPONENT_NO_ENTRY
// exports none. (EngineTestComponent.ocx is the one that works.)
#include "platform/Win32Types.h"

#if defined(COMPONENT_FAILS)
extern "C" __attribute__((visibility("default"))) HRESULT DllRegisterServer()
{
    return E_FAIL;
}
#else
extern "C" __attribute__((visibility("default"))) int WorkerComponentWithoutEntry()
{
    return 1;
}
#endif
