#include "server/runtime.h"
#include "server/comhelp.h"
#include "server/handles.h"

#include <new>

namespace runtime {
namespace {

HINSTANCE g_instance = nullptr;
volatile LONG g_objects = 0;
volatile LONG g_locks = 0;
ITypeLib* g_typeLib = nullptr;  // cached for the life of the module
IID g_cachedIid = {};             // the last interface asked for, and its type information
ITypeInfo* g_cachedInfo = nullptr;
CRITICAL_SECTION g_lock;

HRESULT modulePath(wchar_t* path, DWORD size) {
    DWORD n = GetModuleFileNameW(g_instance, path, size);
    if (n == 0) return HRESULT_FROM_WIN32(GetLastError());
    if (n >= size) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    return S_OK;
}

HRESULT ownTypeLib(ITypeLib** out) {
    *out = nullptr;
    win::Lock lock(g_lock);
    HRESULT hr = S_OK;
    if (!g_typeLib) {
        wchar_t path[MAX_PATH];
        hr = modulePath(path, MAX_PATH);
        if (SUCCEEDED(hr)) hr = LoadTypeLibEx(path, REGKIND_NONE, &g_typeLib);
    }
    if (SUCCEEDED(hr)) { *out = g_typeLib; g_typeLib->AddRef(); }
    return hr;
}

// The class object of one class: made for each request and counted by its references.
// It does not keep the module loaded (DllCanUnloadNow counts objects and locks only);
// clients that keep it keep the module with LockServer.
class ClassFactory final : public IClassFactory, public HeapObject {
public:
    explicit ClassFactory(const ClassInfo& c) : class_(c) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return class_.create(iid, out);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) InterlockedIncrement(&g_locks); else InterlockedDecrement(&g_locks);
        return S_OK;
    }
private:
    const ClassInfo& class_;
    volatile LONG refs_ = 1;
};

// Registry helpers over HKEY_CLASSES_ROOT.
HRESULT setValue(const wchar_t* key, const wchar_t* name, const wchar_t* value) {
    win::RegKey h;
    LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, h.put(), nullptr);
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
    rc = RegSetValueExW(h.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                        static_cast<DWORD>((lstrlenW(value) + 1) * sizeof(wchar_t)));
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
}

HRESULT deleteTree(const wchar_t* key) {
    LONG rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, key);
    if (rc == ERROR_SUCCESS) rc = RegDeleteKeyW(HKEY_CLASSES_ROOT, key);
    if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_SUCCESS) return S_OK;
    return HRESULT_FROM_WIN32(rc);
}

void guidText(const GUID& g, wchar_t (&buf)[40]) { StringFromGUID2(g, buf, 40); }

struct Keys {
    wchar_t clsid[80], progId[128];
};

Keys keysFor(const ModuleInfo& m, const ClassInfo& c) {
    Keys k;
    wchar_t g[40];
    guidText(*c.clsid, g);
    wsprintfW(k.clsid, L"CLSID\\%s", g);
    wsprintfW(k.progId, L"%s.%s", m.libraryName, c.name);
    return k;
}

} // namespace

HINSTANCE instance() { return g_instance; }
void objectCreated() { InterlockedIncrement(&g_objects); }
void objectDestroyed() { InterlockedDecrement(&g_objects); }

BOOL moduleEntry(const ModuleInfo&, HINSTANCE inst, DWORD reason, void* reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        g_instance = inst;
        InitializeCriticalSection(&g_lock);
        DisableThreadLibraryCalls(inst);
        break;
    case DLL_PROCESS_DETACH:
        // At process exit (reserved != null) other modules may already be gone.
        if (!reserved) {
            if (g_cachedInfo) { g_cachedInfo->Release(); g_cachedInfo = nullptr; }
            if (g_typeLib) { g_typeLib->Release(); g_typeLib = nullptr; }
        }
        DeleteCriticalSection(&g_lock);
        break;
    default:
        break;
    }
    return TRUE;
}

HRESULT canUnloadNow() {
    return (g_objects == 0 && g_locks == 0) ? S_OK : S_FALSE;
}

HRESULT getClassObject(const ModuleInfo& info, REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    for (int i = 0; i < info.classCount; ++i) {
        if (clsid == *info.classes[i].clsid) {
            ClassFactory* factory = new (std::nothrow) ClassFactory(info.classes[i]);
            if (!factory) return E_OUTOFMEMORY;
            HRESULT hr = factory->QueryInterface(iid, out);
            factory->Release();
            return hr;
        }
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

namespace {
HRESULT loadTypeInfo(REFIID iid, ITypeInfo** out);
} // namespace

HRESULT typeInfo(REFIID iid, ITypeInfo** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    win::Lock lock(g_lock);
    if (!g_cachedInfo || g_cachedIid != iid) {
        ITypeInfo* ti = nullptr;
        HRESULT hr = loadTypeInfo(iid, &ti);
        if (FAILED(hr)) return hr;
        if (g_cachedInfo) g_cachedInfo->Release();
        g_cachedInfo = ti;
        g_cachedIid = iid;
    }
    *out = g_cachedInfo;
    g_cachedInfo->AddRef();
    return S_OK;
}

namespace {
HRESULT loadTypeInfo(REFIID iid, ITypeInfo** out) {
    com::Ptr<ITypeLib> lib;
    HRESULT hr = ownTypeLib(lib.put());
    if (FAILED(hr)) return hr;
    com::Ptr<ITypeInfo> ti;
    hr = lib->GetTypeInfoOfGuid(iid, ti.put());
    if (FAILED(hr)) return hr;
    // For a dual interface, dispatch goes through the vtable half.
    TYPEATTR* attr = nullptr;
    hr = ti->GetTypeAttr(&attr);
    if (FAILED(hr)) return hr;
    bool dual = attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL);
    ti->ReleaseTypeAttr(attr);
    if (dual) {
        HREFTYPE ref = 0;
        com::Ptr<ITypeInfo> vt;
        hr = ti->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref);
        if (SUCCEEDED(hr)) hr = ti->GetRefTypeInfo(ref, vt.put());
        if (FAILED(hr)) return hr;
        ti = vt;
    }
    *out = ti.detach();
    return S_OK;
}
} // namespace

HRESULT registerServer(const ModuleInfo& m) {
    wchar_t path[MAX_PATH];
    HRESULT hr = modulePath(path, MAX_PATH);
    if (FAILED(hr)) return hr;
    com::Ptr<ITypeLib> lib;
    hr = ownTypeLib(lib.put());
    if (FAILED(hr)) return hr;
    wchar_t helpDir[1] = L"";
    hr = RegisterTypeLib(lib.get(), path, helpDir);
    if (FAILED(hr)) return hr;

    wchar_t libid[40], version[16];
    guidText(*m.libid, libid);
    wsprintfW(version, L"%u.%u", m.majorVersion, m.minorVersion);
    for (int i = 0; i < m.classCount; ++i) {
        const ClassInfo& c = m.classes[i];
        const Keys k = keysFor(m, c);
        wchar_t clsid[40];
        guidText(*c.clsid, clsid);
        // Every value a class registers: key (and subkey), value name (null: the
        // default value), value.
        struct Value {
            const wchar_t *key, *subkey, *name, *value;
        };
        const Value values[] = {
            {k.clsid, L"", nullptr, k.progId},
            {k.clsid, L"\\InprocServer32", nullptr, path},
            {k.clsid, L"\\InprocServer32", L"ThreadingModel", m.threadingModel},
            {k.clsid, L"\\ProgID", nullptr, k.progId},
            {k.clsid, L"\\TypeLib", nullptr, libid},
            {k.clsid, L"\\Version", nullptr, version},
            {k.progId, L"", nullptr, k.progId},
            {k.progId, L"\\CLSID", nullptr, clsid},
        };
        for (const Value& v : values) {
            wchar_t key[160];
            wsprintfW(key, L"%s%s", v.key, v.subkey);
            if (FAILED(hr = setValue(key, v.name, v.value))) return hr;
        }
    }
    return S_OK;
}

HRESULT unregisterServer(const ModuleInfo& m) {
    HRESULT result = S_OK;
    for (int i = 0; i < m.classCount; ++i) {
        Keys k = keysFor(m, m.classes[i]);
        HRESULT hr = deleteTree(k.progId);
        if (FAILED(hr)) result = hr;
        hr = deleteTree(k.clsid);
        if (FAILED(hr)) result = hr;
    }
    // Removes the library's key and the interfaces it registered; a library that is
    // not registered (any more) is left alone.
    com::Bstr registeredPath;
    if (SUCCEEDED(QueryPathOfRegTypeLib(*m.libid, m.majorVersion, m.minorVersion, m.lcid, registeredPath.put()))) {
        // The library is registered under the platform it was built for (win32, win64).
#ifdef _WIN64
        const SYSKIND platform = SYS_WIN64;
#else
        const SYSKIND platform = SYS_WIN32;
#endif
        HRESULT hr = UnRegisterTypeLib(*m.libid, m.majorVersion, m.minorVersion, m.lcid, platform);
        if (FAILED(hr)) result = hr;
    }
    return result;
}

} // namespace runtime
