#include "plugin/host/host.h"
#include "server/errors.h"

#include <cmath>

namespace host {
namespace {

using errors::kSource;
using com::kMaxArguments;

bool isNaN(const VARIANT& v) {
    switch (v.vt) {
    case VT_R4: return std::isnan(v.fltVal);
    case VT_R8: case VT_DATE: return std::isnan(v.dblVal);
    default: return false;
    }
}

// Every host read converts here, with the runtime's conversions and their errors. One
// answer differs between runtimes: Windows' refuses a NaN as a 16-bit integer
// (overflow), Wine's converts it to a number, and a NaN click indicator would read as
// a click. A NaN read as a 16-bit integer is an overflow here, whatever the runtime under
// us; infinities already are, and a NaN read as a single or a double goes on to the
// run's own floating-point checks.
HRESULT convert(const com::Var& v, VARTYPE type, com::Var& out) {
    HRESULT hr = com::Var::deref(*v.get(), out);
    if (SUCCEEDED(hr)) hr = type == VT_I2 && isNaN(*out.get()) ? DISP_E_OVERFLOW : out.changeTo(type);
    return FAILED(hr) ? errors::raiseRuntimeFailure(hr) : S_OK;
}

} // namespace

HRESULT Object::create(const wchar_t* progId, Object& out) {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(progId, &clsid);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IDispatch, out.d_.putVoid());
    if (FAILED(hr)) {
        com::Error e = com::takeError(hr, kSource);
        if (e.number == REGDB_E_CLASSNOTREG || e.number == CO_E_CLASSSTRING || e.number == REGDB_E_READREGDB ||
            e.number == CO_E_SERVER_EXEC_FAILURE) {
            e.number = com::kCantCreate;
            e.source = com::Bstr(kSource);
        }
        com::Bstr text(com::describe(com::kCantCreate));
        text.append(L": ");
        text.append(progId);
        e.description = text;
        return com::raise(e);
    }
    return S_OK;
}

HRESULT Object::as(REFIID iid, Object& out) const {
    com::Ptr<IDispatch> p;
    HRESULT hr = d_ ? d_->QueryInterface(iid, p.putVoid()) : E_POINTER;
    if (FAILED(hr) || !p) {
        return errors::raise(d_ ? com::kNoInterface : com::kObjectNotSet);
    }
    out = Object(std::move(p));
    return S_OK;
}

HRESULT Object::invoke(Member m, WORD flags, VARIANT* args, UINT count, bool put, com::Var* out) const {
    if (!d_) return errors::raise(com::kObjectNotSet);
    DISPID id = m.id;
    HRESULT hr;
    if (m.name) {
        LPOLESTR name = const_cast<LPOLESTR>(m.name);
        hr = d_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(hr)) return errors::raise(hr, com::describe(DISP_E_UNKNOWNNAME));
    }
    // Arguments go right to left.
    VARIANT reversed[kMaxArguments];
    if (count > kMaxArguments) return errors::raise(E_INVALIDARG);
    for (UINT i = 0; i < count; ++i) reversed[i] = args[count - 1 - i];
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS dp = {count ? reversed : nullptr, put ? &named : nullptr, count, put ? 1u : 0u};
    EXCEPINFO ex = {};
    UINT argErr = 0;
    com::Var result;
    hr = d_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &dp, result.put(), &ex, &argErr);
    if (hr == DISP_E_EXCEPTION) return com::raise(com::fromExcepInfo(ex, kSource));
    if (FAILED(hr)) return errors::raise(hr);
    if (out) *out = std::move(result);
    return S_OK;
}

HRESULT Object::get(Member m, com::Var& out) const {
    return invoke(m, DISPATCH_PROPERTYGET, nullptr, 0, false, &out);
}

namespace {
// The arguments as the plain array Invoke takes: the caller's values, not copies, so
// they stay owned (and alive) in `args` for the call.
UINT toArray(std::initializer_list<com::Var> args, VARIANT (&out)[kMaxArguments]) {
    UINT n = 0;
    for (const com::Var& a : args) {
        if (n == kMaxArguments) return kMaxArguments + 1;
        out[n++] = *a.get();
    }
    return n;
}
} // namespace

HRESULT Object::get(Member m, std::initializer_list<com::Var> args, com::Var& out) const {
    VARIANT a[kMaxArguments];
    UINT n = toArray(args, a);
    if (n > kMaxArguments) return errors::raise(E_INVALIDARG);
    return invoke(m, DISPATCH_PROPERTYGET | DISPATCH_METHOD, a, n, false, &out);
}

HRESULT Object::put(Member m, const com::Var& value) const {
    VARIANT v = *value.get();
    return invoke(m, DISPATCH_PROPERTYPUT, &v, 1, true, nullptr);
}

HRESULT Object::call(Member m, std::initializer_list<com::Var> args, com::Var* out) const {
    VARIANT a[kMaxArguments];
    UINT n = toArray(args, a);
    if (n > kMaxArguments) return errors::raise(E_INVALIDARG);
    WORD flags = out ? DISPATCH_METHOD | DISPATCH_PROPERTYGET : DISPATCH_METHOD;
    return invoke(m, flags, a, n, false, out);
}

namespace {
// A read followed by its conversion.
template <class T>
HRESULT getAs(const Object& o, Member m, std::initializer_list<com::Var> args, HRESULT (*to)(const com::Var&, T&),
              T& out) {
    com::Var v;
    HRESULT hr = args.size() ? o.get(m, args, v) : o.get(m, v);
    if (FAILED(hr)) return hr;
    return to(v, out);
}
} // namespace

HRESULT Object::getI2(Member m, SHORT& out) const { return getAs(*this, m, {}, toI2, out); }
HRESULT Object::getBool(Member m, bool& out) const { return getAs(*this, m, {}, toBool, out); }
HRESULT Object::getR4(Member m, float& out) const { return getAs(*this, m, {}, toR4, out); }
HRESULT Object::getR8(Member m, double& out) const { return getAs(*this, m, {}, toR8, out); }
HRESULT Object::getText(Member m, com::Bstr& out) const { return getAs(*this, m, {}, toText, out); }
HRESULT Object::getObject(Member m, Object& out) const { return getAs(*this, m, {}, toObject, out); }
HRESULT Object::getObject(Member m, std::initializer_list<com::Var> args, Object& out) const {
    return getAs(*this, m, args, toObject, out);
}

namespace {
// The value converted to `type`, read from its field of the variant.
template <class T, class F>
HRESULT convertTo(const com::Var& v, VARTYPE type, F VARIANT::*field, T& out) {
    com::Var c;
    HRESULT hr = convert(v, type, c);
    if (SUCCEEDED(hr)) out = static_cast<T>(c.get()->*field);
    return hr;
}
} // namespace

HRESULT toI2(const com::Var& v, SHORT& out) { return convertTo(v, VT_I2, &VARIANT::iVal, out); }
HRESULT toR4(const com::Var& v, float& out) { return convertTo(v, VT_R4, &VARIANT::fltVal, out); }
HRESULT toR8(const com::Var& v, double& out) { return convertTo(v, VT_R8, &VARIANT::dblVal, out); }
HRESULT toBool(const com::Var& v, bool& out) {
    VARIANT_BOOL b = VARIANT_FALSE;
    HRESULT hr = convertTo(v, VT_BOOL, &VARIANT::boolVal, b);
    out = b != VARIANT_FALSE;
    return hr;
}

HRESULT toText(const com::Var& v, com::Bstr& out) {
    com::Var c;
    HRESULT hr = convert(v, VT_BSTR, c);
    if (SUCCEEDED(hr)) out = com::Bstr::attach(c.detach().bstrVal);
    return hr;
}

HRESULT toObject(const com::Var& v, Object& out) {
    com::Var c;
    HRESULT hr = convert(v, VT_DISPATCH, c);
    if (FAILED(hr)) return hr;
    if (!c.get()->pdispVal)
        return errors::raise(com::kObjectNotSet);
    out = Object(com::Ptr<IDispatch>(c.get()->pdispVal));
    return S_OK;
}

namespace {
// The size of one element of each type a measurement may hold, as the runtime stores
// it; 0 for a type the contract does not take.
ULONG elementSize(VARTYPE t) {
    switch (t) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: return 4;
    case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE: return 8;
    case VT_BSTR: return sizeof(BSTR);
    case VT_DECIMAL: return sizeof(DECIMAL);
    case VT_VARIANT: return sizeof(VARIANT);
    default: return 0;
    }
}
} // namespace

HRESULT arrayElement(const com::Var& array, LONG index, com::Var& out) {
    com::Var a;
    HRESULT hr = com::Var::deref(*array.get(), a);
    if (FAILED(hr)) return errors::raiseRuntimeFailure(hr);
    if (!(a.vt() & VT_ARRAY) || !a.get()->parray) return errors::raiseRuntimeFailure(DISP_E_TYPEMISMATCH);
    SAFEARRAY* sa = a.get()->parray;
    // An array of more dimensions has no element 6 of its own: indexed with one
    // subscript, as the contract reads it, it is out of range, as for a Basic client.
    if (SafeArrayGetDim(sa) != 1) return errors::raise(com::kSubscript);
    // The element is copied by the array's own description, never by the variant's tag:
    // a tag that disagrees with the array's element type, an array without one or one of
    // another element size is refused before anything is copied.
    VARTYPE element = VT_EMPTY;
    const VARTYPE tagged = static_cast<VARTYPE>(a.vt() & VT_TYPEMASK);
    if (FAILED(SafeArrayGetVartype(sa, &element)) || element != tagged ||
        elementSize(element) == 0 || SafeArrayGetElemsize(sa) != elementSize(element) ||
        ((element == VT_VARIANT) != ((sa->fFeatures & FADF_VARIANT) != 0)) ||
        ((element == VT_BSTR) != ((sa->fFeatures & FADF_BSTR) != 0)))
        return errors::raiseRuntimeFailure(DISP_E_TYPEMISMATCH);
    LONG lo = 0, hi = -1;
    if (FAILED(SafeArrayGetLBound(sa, 1, &lo)) || FAILED(SafeArrayGetUBound(sa, 1, &hi)) || index < lo || index > hi)
        return errors::raise(com::kSubscript);
    VARIANT& o = *out.put();
    if (element == VT_VARIANT) {
        hr = SafeArrayGetElement(sa, &index, &o);
    } else {
        // Storage of the element's own type: the variant's value field, which holds
        // every scalar type (and a DECIMAL over the whole variant, tag included).
        void* storage = element == VT_DECIMAL ? static_cast<void*>(&o.decVal) : static_cast<void*>(&o.llVal);
        hr = SafeArrayGetElement(sa, &index, storage);
        if (SUCCEEDED(hr)) o.vt = element;
    }
    return FAILED(hr) ? errors::raiseRuntimeFailure(hr) : S_OK;
}

com::Var byRef(SHORT* value) {
    com::Var v;
    v.ref().vt = VT_BYREF | VT_I2;
    v.ref().piVal = value;
    return v;
}

com::Var byRef(float* value) {
    com::Var v;
    v.ref().vt = VT_BYREF | VT_R4;
    v.ref().pfltVal = value;
    return v;
}

} // namespace host
