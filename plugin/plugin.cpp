#include "plugin/plugin.h"
#include "plugin/rundriver.h"
#include "anglemath/anglemath.h"
#include "anglemath/errorreport.h"
#include "server/comhelp.h"
#include "server/errors.h"
#include "server/runtime.h"

#include <new>

namespace {

// Members with a result take an out pointer; a missing one is the caller's fault.
template <class Fn>
HRESULT numeric(VARIANT* arg1, VARIANT* arg2, VARIANT* result, bool twoArgs, Fn fn) {
    if (!result || !arg1 || (twoArgs && !arg2)) return errors::raiseRuntimeFailure(E_POINTER);
    VariantInit(result);
    return fn();
}

// The declared argument counts of the interface's members, read once from its type
// information.
struct Signature {
    MEMBERID id;
    INVOKEKIND kind;
    UINT arguments;  // not counting the result
};
Signature g_signatures[16];
UINT g_signatureCount = 0;
INIT_ONCE g_signaturesOnce = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK readSignatures(PINIT_ONCE, PVOID context, PVOID*) {
    auto* ti = static_cast<ITypeInfo*>(context);
    TYPEATTR* attr = nullptr;
    if (FAILED(ti->GetTypeAttr(&attr))) return FALSE;
    const WORD funcs = attr->cFuncs;
    ti->ReleaseTypeAttr(attr);
    for (WORD i = 0; i < funcs && g_signatureCount < ARRAYSIZE(g_signatures); ++i) {
        FUNCDESC* fd = nullptr;
        if (FAILED(ti->GetFuncDesc(i, &fd))) return FALSE;
        UINT declared = 0;
        for (SHORT p = 0; p < fd->cParams; ++p)
            if (!(fd->lprgelemdescParam[p].paramdesc.wParamFlags & PARAMFLAG_FRETVAL)) ++declared;
        g_signatures[g_signatureCount++] = {fd->memid, fd->invkind, declared};
        ti->ReleaseFuncDesc(fd);
    }
    return TRUE;
}

// The member's declared argument count against the call's. Unknown members and
// invocation kinds are left to the runtime, which refuses them.
HRESULT checkArgumentCount(ITypeInfo* ti, DISPID id, WORD flags, const DISPPARAMS& params) {
    if (!InitOnceExecuteOnce(&g_signaturesOnce, readSignatures, ti, nullptr)) return E_UNEXPECTED;
    for (UINT i = 0; i < g_signatureCount; ++i) {
        const Signature& s = g_signatures[i];
        if (s.id != id || !(s.kind & flags)) continue;
        if (params.cArgs > s.arguments) return DISP_E_BADPARAMCOUNT;
        if (params.cArgs < s.arguments) return DISP_E_PARAMNOTOPTIONAL;
        return S_OK;
    }
    return S_OK;
}

const DISPID kDoModalId = 0x60030008;

} // namespace

// DoModal's document argument is converted here with the runtime's own conversion:
// Wine's type-library dispatch keeps a reference to an interface argument that it
// had to convert (from IUnknown or through a reference) and never gives it back.
HRESULT PlugIn::invokeDoModal(const DISPPARAMS& params, EXCEPINFO* excep, UINT* argErr) {
    if (params.cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    com::Var doc;
    HRESULT hr = com::Var::deref(params.rgvarg[0], doc);
    if (SUCCEEDED(hr) && doc.vt() == VT_ERROR && doc.get()->scode == DISP_E_PARAMNOTFOUND) return DISP_E_PARAMNOTOPTIONAL;
    if (SUCCEEDED(hr) && doc.vt() != VT_DISPATCH) hr = doc.changeTo(VT_DISPATCH);
    if (FAILED(hr)) {
        if (argErr) *argErr = 0;
        return DISP_E_TYPEMISMATCH;
    }
    hr = DoModal(reinterpret_cast<Document*>(doc.get()->pdispVal));
    if (SUCCEEDED(hr)) return hr;
    // A failed member reaches a late-bound caller as an exception, as the runtime does it.
    com::Error e = com::takeError(hr, errors::kSource);
    if (!excep) return hr;
    ZeroMemory(excep, sizeof(*excep));
    excep->scode = e.number;
    excep->bstrSource = e.source.detach();
    excep->bstrDescription = e.description.detach();
    excep->bstrHelpFile = e.helpFile.detach();
    excep->dwHelpContext = e.helpContext;
    return DISP_E_EXCEPTION;
}

void* PlugIn::operator new(size_t size, const std::nothrow_t&) noexcept { return HeapAlloc(GetProcessHeap(), 0, size); }
void PlugIn::operator delete(void* p) noexcept { if (p) HeapFree(GetProcessHeap(), 0, p); }

PlugIn::PlugIn() { runtime::objectCreated(); }
PlugIn::~PlugIn() { runtime::objectDestroyed(); }

HRESULT PlugIn::create(REFIID iid, void** out) {
    PlugIn* p = new (std::nothrow) PlugIn();
    if (!p) return E_OUTOFMEMORY;
    HRESULT hr = p->QueryInterface(iid, out);
    p->Release();
    return hr;
}

STDMETHODIMP PlugIn::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID__PlugIn) {
        *out = static_cast<_PlugIn*>(this);
    } else if (iid == IID_ISupportErrorInfo) {
        *out = static_cast<ISupportErrorInfo*>(this);
    } else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) PlugIn::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

STDMETHODIMP_(ULONG) PlugIn::Release() {
    LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
}

STDMETHODIMP PlugIn::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

STDMETHODIMP PlugIn::GetTypeInfo(UINT index, LCID, ITypeInfo** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return runtime::typeInfo(IID__PlugIn, out);
}

STDMETHODIMP PlugIn::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    com::Ptr<ITypeInfo> ti;
    HRESULT hr = runtime::typeInfo(IID__PlugIn, ti.put());
    if (FAILED(hr)) return hr;
    return DispGetIDsOfNames(ti.get(), names, count, ids);
}

STDMETHODIMP PlugIn::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                            VARIANT* result, EXCEPINFO* excep, UINT* argErr) {
    if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (!params) return E_INVALIDARG;
    com::Ptr<ITypeInfo> ti;
    HRESULT hr = runtime::typeInfo(IID__PlugIn, ti.put());
    if (FAILED(hr)) return hr;
    // A wrong argument count is refused here: the runtime's own refusal of it can
    // keep a reference to an object argument.
    if (FAILED(hr = checkArgumentCount(ti.get(), id, flags, *params))) return hr;
    // Keep the object alive for the whole call, whatever the member does.
    com::Ptr<_PlugIn> self(this);
    if (id == kDoModalId && (flags & DISPATCH_METHOD)) return invokeDoModal(*params, excep, argErr);
    return DispInvoke(static_cast<_PlugIn*>(this), ti.get(), id, flags, params, result, excep, argErr);
}

STDMETHODIMP PlugIn::InterfaceSupportsErrorInfo(REFIID iid) {
    return iid == IID__PlugIn ? S_OK : S_FALSE;
}

STDMETHODIMP PlugIn::Sign(VARIANT* x, VARIANT* result) {
    return numeric(x, nullptr, result, false, [&] { return anglemath::Sign(*x, result); });
}
STDMETHODIMP PlugIn::ArcCosDeg(VARIANT* x, VARIANT* result) {
    return numeric(x, nullptr, result, false, [&] { return anglemath::ArcCosDeg(*x, result); });
}
STDMETHODIMP PlugIn::ArcSinDeg(VARIANT* x, VARIANT* result) {
    return numeric(x, nullptr, result, false, [&] { return anglemath::ArcSinDeg(*x, result); });
}
STDMETHODIMP PlugIn::SinDeg(VARIANT* degrees, VARIANT* result) {
    return numeric(degrees, nullptr, result, false, [&] { return anglemath::SinDeg(*degrees, result); });
}
STDMETHODIMP PlugIn::CosDeg(VARIANT* degrees, VARIANT* result) {
    return numeric(degrees, nullptr, result, false, [&] { return anglemath::CosDeg(*degrees, result); });
}
STDMETHODIMP PlugIn::OldCalcAngle(VARIANT* x, VARIANT* y, VARIANT* result) {
    com::Ptr<_PlugIn> self(this);
    return numeric(x, y, result, true, [&] { return anglemath::OldCalcAngle(self.get(), *x, *y, result); });
}
STDMETHODIMP PlugIn::CalcAngle(VARIANT* adj, VARIANT* opp, VARIANT* result) {
    return numeric(adj, opp, result, true, [&] { return anglemath::CalcAngle(*adj, *opp, result); });
}

STDMETHODIMP PlugIn::DoModal(Document* doc) {
    com::Ptr<_PlugIn> self(this);
    return runCalibration(self.get(), doc);
}

STDMETHODIMP PlugIn::get_Name(BSTR* result) {
    if (!result) return errors::raiseRuntimeFailure(E_POINTER);
    *result = SysAllocString(L"Brastow");
    return *result ? S_OK : errors::raiseRuntimeFailure(E_OUTOFMEMORY);
}
