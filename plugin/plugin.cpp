#include "plugin/plugin.h"
#include "plugin/rundriver.h"
#include "anglemath/anglemath.h"
#include "server/comhelp.h"
#include "server/errors.h"
#include "server/runtime.h"
#include "server/dispids.h"

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

// What a call's DISPPARAMS must be before anything reads them: the arrays their counts
// promise, no more names than arguments, and arguments that can be read. The runtime's
// dispatch follows all of them unchecked.
HRESULT checkParams(const DISPPARAMS* params, UINT* argErr) {
    if (!params) return E_INVALIDARG;
    if ((params->cArgs && !params->rgvarg) || (params->cNamedArgs && !params->rgdispidNamedArgs) ||
        params->cNamedArgs > params->cArgs)
        return E_INVALIDARG;
    for (UINT i = 0; i < params->cArgs; ++i) {
        if (!com::readable(params->rgvarg[i])) {
            if (argErr) *argErr = i;
            return E_POINTER;
        }
    }
    return S_OK;
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

// The declared signature of the member a call names, or null for an unknown member or
// invocation kind (left to the runtime, which refuses them).
const Signature* signatureOf(ITypeInfo* ti, DISPID id, WORD flags) {
    if (!InitOnceExecuteOnce(&g_signaturesOnce, readSignatures, ti, nullptr)) return nullptr;
    for (UINT i = 0; i < g_signatureCount; ++i)
        if (g_signatures[i].id == id && (g_signatures[i].kind & flags)) return &g_signatures[i];
    return nullptr;
}

// The call's argument count against the member's. Refused here: the runtime's own
// refusal of a wrong count can keep a reference to an object argument.
HRESULT checkArgumentCount(const Signature* s, const DISPPARAMS& params) {
    if (!s) return S_OK;
    if (params.cArgs > s->arguments) return DISP_E_BADPARAMCOUNT;
    if (params.cArgs < s->arguments) return DISP_E_PARAMNOTOPTIONAL;
    return S_OK;
}

// A method call's named arguments put in the places of their parameters (a parameter's
// identifier is its position, as GetIDsOfNames gives it): `slots` receives the
// arguments in the runtime's reversed order and `out` describes them. Wine's
// type-library dispatch keeps a reference to an object argument of a failing call whose
// arguments all came by name; given them in place, it takes none.
constexpr UINT kMaxArguments = 4;
HRESULT positional(const DISPPARAMS& in, VARIANT (&slots)[kMaxArguments], DISPPARAMS& out, UINT* argErr) {
    out = in;
    if (in.cNamedArgs == 0) return S_OK;
    if (in.cArgs > kMaxArguments) return DISP_E_BADPARAMCOUNT;
    const UINT n = in.cArgs, byPosition = n - in.cNamedArgs;
    bool filled[kMaxArguments] = {};
    for (UINT k = 0; k < byPosition; ++k) {  // rgvarg[n - 1] is the first argument
        slots[n - 1 - k] = in.rgvarg[n - 1 - k];
        filled[k] = true;
    }
    for (UINT i = 0; i < in.cNamedArgs; ++i) {
        const DISPID param = in.rgdispidNamedArgs[i];
        if (param < 0 || static_cast<UINT>(param) >= n || filled[param]) {
            if (argErr) *argErr = i;
            return DISP_E_PARAMNOTFOUND;
        }
        slots[n - 1 - static_cast<UINT>(param)] = in.rgvarg[i];
        filled[param] = true;
    }
    out.rgvarg = slots;
    out.rgdispidNamedArgs = nullptr;
    out.cNamedArgs = 0;
    return S_OK;
}

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
    if (!excep) return hr;
    ZeroMemory(excep, sizeof(*excep));
    excep->scode = e.number;
    excep->bstrSource = e.source.detach();
    excep->bstrDescription = e.description.detach();
    excep->bstrHelpFile = e.helpFile.detach();
    excep->dwHelpContext = e.helpContext;
    return DISP_E_EXCEPTION;
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
    HRESULT hr = checkParams(params, argErr);
    if (FAILED(hr)) return hr;
    com::Ptr<ITypeInfo> ti;
    if (FAILED(hr = runtime::typeInfo(IID__PlugIn, ti.put()))) return hr;
    const Signature* signature = signatureOf(ti.get(), id, flags);
    if (FAILED(hr = checkArgumentCount(signature, *params))) return hr;
    DISPPARAMS call = *params;
    VARIANT slots[kMaxArguments];
    if (signature && signature->kind == INVOKE_FUNC && FAILED(hr = positional(*params, slots, call, argErr))) return hr;
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
