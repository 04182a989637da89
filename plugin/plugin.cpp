#include "plugin/plugin.h"
#include "plugin/rundriver.h"
#include "anglemath/anglemath.h"
#include "server/comhelp.h"
#include "server/errors.h"
#include "server/runtime.h"
#include "server/dispids.h"
#include "server/dispatch.h"

#include <new>

namespace {

// Members with a result take an out pointer; a missing one, or an argument whose
// reference leads nowhere, is the caller's fault.
template <class Fn>
HRESULT numeric(VARIANT* arg1, VARIANT* arg2, VARIANT* result, bool twoArgs, Fn fn) {
    // The result is empty on every failure, this one too.
    if (result) VariantInit(result);
    if (!result || !arg1 || (twoArgs && !arg2) || !com::readable(*arg1) || (twoArgs && !com::readable(*arg2)))
        return errors::raiseRuntimeFailure(E_POINTER);
    return fn();
}

// The declared argument counts of _PlugIn's members.
dispatch::Signatures g_signatures;

} // namespace

// DoModal's document argument is converted here with the runtime's own conversion:
// Wine's type-library dispatch keeps a reference to an interface argument that it
// had to convert (from IUnknown or through a reference) and never gives it back.
HRESULT PlugIn::invokeDoModal(const DISPPARAMS& params, EXCEPINFO* excep, UINT* argErr) {
    // Named arguments are in their places by now (Doc:=doc too).
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
    return com::toExcepInfo(e, excep);
}

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
    if (!names || !ids || count == 0) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i)
        if (!names[i]) return E_INVALIDARG;
    com::Ptr<ITypeInfo> ti;
    HRESULT hr = runtime::typeInfo(IID__PlugIn, ti.put());
    if (FAILED(hr)) return hr;
    return DispGetIDsOfNames(ti.get(), names, count, ids);
}

STDMETHODIMP PlugIn::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                            VARIANT* result, EXCEPINFO* excep, UINT* argErr) {
    if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    HRESULT hr = dispatch::checkParams(params, argErr);
    if (FAILED(hr)) return hr;
    com::Ptr<ITypeInfo> ti;
    if (FAILED(hr = runtime::typeInfo(IID__PlugIn, ti.put()))) return hr;
    const dispatch::Signature* signature = g_signatures.find(ti.get(), id, flags);
    if (FAILED(hr = dispatch::checkArgumentCount(signature, *params))) return hr;
    DISPPARAMS call = *params;
    VARIANT slots[com::kMaxArguments];
    if (signature && signature->kind == INVOKE_FUNC && FAILED(hr = dispatch::positional(*params, slots, call, argErr)))
        return hr;
    // Keep the object alive for the whole call, whatever the member does.
    com::Ptr<_PlugIn> self(this);
    if (id == DISPID_PlugIn_DoModal && (flags & DISPATCH_METHOD)) return invokeDoModal(call, excep, argErr);
    return DispInvoke(static_cast<_PlugIn*>(this), ti.get(), id, flags, &call, result, excep, argErr);
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
