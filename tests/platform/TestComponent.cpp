// A component as regsvr32.exe and the install engine load it: a shared
// library that exports DllRegisterServer. Built twice with different answers
// to show that two components' symbols stay apart.
extern "C" __attribute__((visibility("default"))) int DllRegisterServer()
{
    return TEST_COMPONENT_ANSWER;
}
