// A skin control of file version 4.2.9.9: what the updater refuses when an
// older ActSkn43.ocx was installed over the product's.
extern "C" int DllRegisterServer()
{
    return 0;
}
