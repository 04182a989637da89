/* A self-registering module whose registration always fails: the installer test builds
   a setup program around it to see that a failed installation leaves nothing behind. */
#include <windows.h>
#include <olectl.h>

STDAPI DllRegisterServer(void) { return SELFREG_E_CLASS; }
STDAPI DllUnregisterServer(void) { return S_OK; }
