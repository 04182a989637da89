// brastow.dll: the module's entry points. Each hands its call, with the module's
// registration data, to the matching routine of the automation runtime.
#include "server/runtime.h"
#include "plugin/plugin.h"
#include "brastow.h"

namespace {

const runtime::ClassInfo kClasses[] = {
    {&CLSID_PlugIn, L"PlugIn", &PlugIn::create},
};

const runtime::ModuleInfo kModule = {
    L"Brastow", &LIBID_Brastow, 1, 0, 0, L"Apartment", kClasses, ARRAYSIZE(kClasses),
};

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    return runtime::moduleEntry(kModule, instance, reason, reserved);
}

STDAPI DllCanUnloadNow() { return runtime::canUnloadNow(); }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
    return runtime::getClassObject(kModule, clsid, iid, out);
}

STDAPI DllRegisterServer() { return runtime::registerServer(kModule); }

STDAPI DllUnregisterServer() { return runtime::unregisterServer(kModule); }
