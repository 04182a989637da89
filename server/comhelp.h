// Small RAII layer over COM: interface pointers, BSTR, VARIANT and error information.
// Plain Win32/COM; builds with mingw-w64 and MSVC.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <utility>

namespace com {

// Owning interface pointer.
template <class T>
class Ptr {
public:
    Ptr() = default;
    Ptr(std::nullptr_t) {}
    explicit Ptr(T* p, bool addRef = true) : p_(p) { if (p_ && addRef) p_->AddRef(); }
    Ptr(const Ptr& o) : p_(o.p_) { if (p_) p_->AddRef(); }
    Ptr(Ptr&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    ~Ptr() { reset(); }
    Ptr& operator=(Ptr o) noexcept { std::swap(p_, o.p_); return *this; }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // Releases what is held and gives the address for an out parameter.
    T** put() { reset(); return &p_; }
    void** putVoid() { return reinterpret_cast<void**>(put()); }
    void reset() { if (p_) { T* p = p_; p_ = nullptr; p->Release(); } }
    T* detach() { T* p = p_; p_ = nullptr; return p; }

    // `out` is emptied first on every path, so a failed query never leaves an earlier
    // pointer there to be taken for its result.
    template <class U>
    HRESULT query(REFIID iid, Ptr<U>& out) const {
        void** slot = out.putVoid();
        if (!p_) return E_POINTER;
        return p_->QueryInterface(iid, slot);
    }

private:
    T* p_ = nullptr;
};

// Owning BSTR.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const wchar_t* s) : s_(s ? SysAllocString(s) : nullptr) {}
    Bstr(const Bstr& o) : s_(o.s_ ? SysAllocStringLen(o.s_, SysStringLen(o.s_)) : nullptr) {}
    Bstr(Bstr&& o) noexcept : s_(o.s_) { o.s_ = nullptr; }
    ~Bstr() { SysFreeString(s_); }
    Bstr& operator=(Bstr o) noexcept { std::swap(s_, o.s_); return *this; }
    static Bstr attach(BSTR s) { Bstr b; b.s_ = s; return b; }

    BSTR get() const { return s_; }
    const wchar_t* c_str() const { return s_ ? s_ : L""; }
    UINT length() const { return SysStringLen(s_); }
    BSTR* put() { SysFreeString(s_); s_ = nullptr; return &s_; }
    BSTR detach() { BSTR s = s_; s_ = nullptr; return s; }
    // Appends; false when out of memory.
    bool append(const wchar_t* t, UINT n);
    bool append(const wchar_t* t) { return append(t, t ? static_cast<UINT>(lstrlenW(t)) : 0); }
    bool append(const Bstr& b) { return append(b.s_, b.length()); }

private:
    BSTR s_ = nullptr;
};

inline bool Bstr::append(const wchar_t* t, UINT n) {
    UINT old = length();
    BSTR s = SysAllocStringLen(nullptr, old + n);
    if (!s) return false;
    if (old) CopyMemory(s, s_, old * sizeof(wchar_t));
    if (n) CopyMemory(s + old, t, n * sizeof(wchar_t));
    SysFreeString(s_);
    s_ = s;
    return true;
}

// Owning VARIANT.
class Var {
public:
    Var() { VariantInit(&v_); }
    Var(const Var& o) { VariantInit(&v_); copyFrom(o.v_); }
    Var(Var&& o) noexcept { v_ = o.v_; VariantInit(&o.v_); }
    ~Var() { VariantClear(&v_); }
    Var& operator=(Var o) noexcept { std::swap(v_, o.v_); return *this; }

    static Var i2(SHORT x) { Var r; r.v_.vt = VT_I2; r.v_.iVal = x; return r; }
    static Var i4(LONG x) { Var r; r.v_.vt = VT_I4; r.v_.lVal = x; return r; }
    static Var r4(float x) { Var r; r.v_.vt = VT_R4; r.v_.fltVal = x; return r; }
    static Var r8(double x) { Var r; r.v_.vt = VT_R8; r.v_.dblVal = x; return r; }
    static Var boolean(bool x) { Var r; r.v_.vt = VT_BOOL; r.v_.boolVal = x ? VARIANT_TRUE : VARIANT_FALSE; return r; }
    static Var str(const wchar_t* s) {
        Var r; r.v_.bstrVal = SysAllocString(s); if (r.v_.bstrVal) r.v_.vt = VT_BSTR; return r;
    }
    static Var object(IDispatch* d) { Var r; r.v_.vt = VT_DISPATCH; r.v_.pdispVal = d; if (d) d->AddRef(); return r; }
    // A copy with every level of VT_BYREF resolved (what a member reads of its argument).
    static HRESULT deref(const VARIANT& from, Var& to) {
        to.clear();
        return VariantCopyInd(&to.v_, const_cast<VARIANT*>(&from));
    }

    VARIANT* get() { return &v_; }
    const VARIANT* get() const { return &v_; }
    VARIANT& ref() { return v_; }
    VARTYPE vt() const { return v_.vt; }
    VARIANT* put() { clear(); return &v_; }
    void clear() { VariantClear(&v_); }
    VARIANT detach() { VARIANT r = v_; VariantInit(&v_); return r; }
    // Converts in place to the given type with the automation runtime's rules.
    HRESULT changeTo(VARTYPE t, LCID lcid = LOCALE_USER_DEFAULT) {
        return VariantChangeTypeEx(&v_, &v_, lcid, 0, t);
    }

private:
    void copyFrom(const VARIANT& o) {
        if (FAILED(VariantCopy(&v_, const_cast<VARIANT*>(&o)))) VariantInit(&v_);
    }
    VARIANT v_;
};

// True when a variant can be read without following a pointer that leads nowhere: every
// reference (VT_BYREF) points somewhere, references to variants end within a few levels
// (one that leads back to itself never ends), and a record has its record information.
// The runtime's copies and conversions follow these pointers unchecked.
inline bool readable(const VARIANT& v, int depth = 0) {
    const VARTYPE type = static_cast<VARTYPE>(v.vt & VT_TYPEMASK);
    if (v.vt & VT_BYREF) {
        if (!v.byref) return false;
        if (type == VT_VARIANT && !(v.vt & VT_ARRAY)) return depth < 3 && readable(*v.pvarVal, depth + 1);
    }
    if (type == VT_RECORD && !(v.vt & VT_ARRAY)) return v.pRecInfo != nullptr;
    return true;
}

// The most arguments a call of Brastow's passes or one of its members takes: the
// members and the host contract take at most two.
constexpr UINT kMaxArguments = 4;

// The five values of an automation error.
struct Error {
    HRESULT number = S_OK;
    Bstr source, description, helpFile;
    DWORD helpContext = 0;
};

// Publishes the error as this thread's error information and returns its number.
inline HRESULT raise(const Error& e) {
    Ptr<ICreateErrorInfo> cei;
    if (SUCCEEDED(CreateErrorInfo(cei.put()))) {
        cei->SetGUID(GUID_NULL);
        cei->SetSource(e.source.get());
        cei->SetDescription(e.description.get());
        cei->SetHelpFile(e.helpFile.get());
        cei->SetHelpContext(e.helpContext);
        Ptr<IErrorInfo> ei;
        if (SUCCEEDED(cei.query(IID_IErrorInfo, ei))) SetErrorInfo(0, ei.get());
    }
    return e.number;
}

// Automation errors in the numbering script and Basic clients show as their error
// numbers (facility control): 13 type mismatch, 6 overflow, ...
constexpr HRESULT errorNumber(int n) { return static_cast<HRESULT>(0x800A0000u | static_cast<unsigned>(n)); }
constexpr HRESULT kTypeMismatch = errorNumber(13);
constexpr HRESULT kOverflow = errorNumber(6);
constexpr HRESULT kDivisionByZero = errorNumber(11);
constexpr HRESULT kInvalidArgument = errorNumber(5);
constexpr HRESULT kOutOfMemory = errorNumber(7);
constexpr HRESULT kSubscript = errorNumber(9);
constexpr HRESULT kObjectNotSet = errorNumber(91);
constexpr HRESULT kCantCreate = errorNumber(429);
constexpr HRESULT kNoInterface = errorNumber(430);

// Every automation error Brastow raises or describes, in one table: the number a client
// sees, the runtime's result that is raised under that number (S_OK: none), and the
// text the user reads. A result of the platform's that Brastow passes on unchanged is
// its own number.
struct KnownError {
    HRESULT number;
    HRESULT runtime;
    const wchar_t* text;
};
inline constexpr KnownError kKnownErrors[] = {
    {kTypeMismatch, DISP_E_TYPEMISMATCH, L"Type mismatch"},
    {kOverflow, DISP_E_OVERFLOW, L"Overflow"},
    {kDivisionByZero, DISP_E_DIVBYZERO, L"Division by zero"},
    {kInvalidArgument, E_INVALIDARG, L"Invalid procedure call or argument"},
    {kOutOfMemory, E_OUTOFMEMORY, L"Out of memory"},
    {kSubscript, S_OK, L"Subscript out of range"},
    {kObjectNotSet, S_OK, L"Object variable or With block variable not set"},
    {kCantCreate, S_OK, L"ActiveX component can't create object"},
    {kNoInterface, S_OK, L"Class doesn't support Automation or does not support expected interface"},
    {DISP_E_BADVARTYPE, S_OK, L"Variable uses an Automation type not supported"},
    {DISP_E_PARAMNOTOPTIONAL, S_OK, L"Argument not optional"},
    {DISP_E_MEMBERNOTFOUND, S_OK, L"Object doesn't support this property or method"},
    {DISP_E_UNKNOWNNAME, S_OK, L"Object doesn't support this property or method"},
    {DISP_E_BADPARAMCOUNT, S_OK, L"Wrong number of arguments or invalid property assignment"},
    {DISP_E_ARRAYISLOCKED, S_OK, L"This array is fixed or temporarily locked"},
    {E_NOINTERFACE, S_OK, L"Object doesn't support this action"},
    {E_POINTER, S_OK, L"Object variable not set"},
    {REGDB_E_CLASSNOTREG, S_OK, L"ActiveX component can't create object"},
};

// The automation error a failure of the runtime's conversions and arithmetic is
// raised as; other results pass unchanged.
inline HRESULT automationError(HRESULT hr) {
    for (const KnownError& e : kKnownErrors)
        if (e.runtime == hr && hr != S_OK) return e.number;
    return hr;
}

// Text the user reads for an error of the table, by its number or its runtime result.
inline const wchar_t* describe(HRESULT hr) {
    for (const KnownError& e : kKnownErrors)
        if (e.number == hr || (e.runtime == hr && hr != S_OK)) return e.text;
    return nullptr;
}

// Raises a failure of the runtime or of arithmetic as an automation error with the
// given source and a standard description.
inline HRESULT raise(HRESULT hr, const wchar_t* source, const wchar_t* description = nullptr) {
    Error e;
    e.number = hr;
    e.source = Bstr(source);
    if (description) {
        e.description = Bstr(description);
    } else if (const wchar_t* d = describe(hr)) {
        e.description = Bstr(d);
    } else {
        wchar_t buf[64];
        wsprintfW(buf, L"Automation error 0x%08lX", static_cast<unsigned long>(hr));
        e.description = Bstr(buf);
    }
    return raise(e);
}

// Reads the error information a failed call left for this thread. When there is
// none, describes the bare result.
inline Error takeError(HRESULT hr, const wchar_t* fallbackSource) {
    Error e;
    e.number = hr;
    Ptr<IErrorInfo> ei;
    if (GetErrorInfo(0, ei.put()) == S_OK && ei) {
        ei->GetSource(e.source.put());
        ei->GetDescription(e.description.put());
        ei->GetHelpFile(e.helpFile.put());
        ei->GetHelpContext(&e.helpContext);
        return e;
    }
    e.source = Bstr(fallbackSource);
    if (const wchar_t* d = describe(hr)) e.description = Bstr(d);
    return e;
}

// Turns the EXCEPINFO of a failed IDispatch::Invoke into an error; frees its strings.
inline Error fromExcepInfo(EXCEPINFO& x, const wchar_t* fallbackSource) {
    if (x.pfnDeferredFillIn) { x.pfnDeferredFillIn(&x); x.pfnDeferredFillIn = nullptr; }
    Error e;
    e.number = x.scode ? x.scode : (x.wCode ? MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, x.wCode) : DISP_E_EXCEPTION);
    e.source = Bstr::attach(x.bstrSource);
    e.description = Bstr::attach(x.bstrDescription);
    e.helpFile = Bstr::attach(x.bstrHelpFile);
    e.helpContext = x.dwHelpContext;
    x.bstrSource = x.bstrDescription = x.bstrHelpFile = nullptr;
    if (!e.source.get()) e.source = Bstr(fallbackSource);
    if (!e.description.get())
        if (const wchar_t* d = describe(e.number)) e.description = Bstr(d);
    return e;
}

// Hands the error to a late-bound caller's EXCEPINFO (when it gave one), as the runtime
// does for a failed member, and returns DISP_E_EXCEPTION; without one, the error's number.
inline HRESULT toExcepInfo(Error& e, EXCEPINFO* x) {
    if (!x) return e.number;
    ZeroMemory(x, sizeof(*x));
    x->scode = e.number;
    x->bstrSource = e.source.detach();
    x->bstrDescription = e.description.detach();
    x->bstrHelpFile = e.helpFile.detach();
    x->dwHelpContext = e.helpContext;
    return DISP_E_EXCEPTION;
}

// COM library initialisation for the life of a scope (programs and tests).
class Apartment {
public:
    explicit Apartment(DWORD model = COINIT_APARTMENTTHREADED) : hr_(CoInitializeEx(nullptr, model)) {}
    ~Apartment() { if (SUCCEEDED(hr_)) CoUninitialize(); }
    HRESULT result() const { return hr_; }
private:
    HRESULT hr_;
};

} // namespace com
