// The module's small automation runtime: class object, object and lock counts,
// registration from a description, and the module's type information.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <new>

namespace runtime {

using CreateFn = HRESULT (*)(REFIID iid, void** out);

struct ClassInfo {
    const CLSID* clsid;
    const wchar_t* name;       // class name, e.g. L"PlugIn"
    CreateFn create;
};

struct ModuleInfo {
    const wchar_t* libraryName;   // e.g. L"Brastow"; ProgID = libraryName.className
    const GUID* libid;
    WORD majorVersion, minorVersion;
    LCID lcid;
    const wchar_t* threadingModel;
    const ClassInfo* classes;
    int classCount;
};

// Module entry routine: records the module handle; releases cached state on unload.
BOOL moduleEntry(const ModuleInfo& info, HINSTANCE instance, DWORD reason, void* reserved);
HRESULT canUnloadNow();
HRESULT getClassObject(const ModuleInfo& info, REFCLSID clsid, REFIID iid, void** out);
HRESULT registerServer(const ModuleInfo& info);
HRESULT unregisterServer(const ModuleInfo& info);

// Live objects served by the module; each object counts itself in and out.
void objectCreated();
void objectDestroyed();

// Objects of the module live on the process heap, which keeps the C++ runtime's
// exception support (a throwing operator new) out of the module.
struct HeapObject {
    static void* operator new(size_t size, const std::nothrow_t&) noexcept { return HeapAlloc(GetProcessHeap(), 0, size); }
    static void operator delete(void* p) noexcept { if (p) HeapFree(GetProcessHeap(), 0, p); }
};

HINSTANCE instance();
// Type information of an interface of the module's own type library (the vtable half
// of a dual interface). Loaded once and kept until unload. AddRef'd for the caller.
HRESULT typeInfo(REFIID iid, ITypeInfo** out);

} // namespace runtime
