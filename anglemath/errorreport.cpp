#include "anglemath/errorreport.h"
#include "server/comhelp.h"
#include "server/msgbox.h"

#include <cfenv>
#include <cmath>

namespace anglemath {

const wchar_t kSource[] = L"Brastow";

HRESULT fail(HRESULT hr) { return com::raise(com::automationError(hr), kSource); }

void FpStatus::clear() { std::feclearexcept(FE_ALL_EXCEPT); }

HRESULT FpStatus::check(double value) {
    int flags = std::fetestexcept(FE_OVERFLOW | FE_DIVBYZERO | FE_INVALID);
    std::feclearexcept(FE_ALL_EXCEPT);
    if (flags & FE_DIVBYZERO) return fail(DISP_E_DIVBYZERO);
    if (flags & FE_OVERFLOW) return fail(DISP_E_OVERFLOW);
    if ((flags & FE_INVALID) || std::isnan(value)) return fail(E_INVALIDARG);
    return S_OK;
}

namespace {

// The default text form of an argument's value: numbers as the runtime writes them,
// text unchanged, Empty and Null as nothing.
com::Bstr argumentText(const VARIANT& arg) {
    com::Var v;
    if (FAILED(com::Var::deref(arg, v))) return com::Bstr(L"?");
    if (v.vt() == VT_EMPTY || v.vt() == VT_NULL) return com::Bstr(L"");
    if (v.vt() & VT_ARRAY) return com::Bstr(L"(array)");
    if (FAILED(VariantChangeTypeEx(v.get(), v.get(), LOCALE_USER_DEFAULT, VARIANT_ALPHABOOL, VT_BSTR)))
        return com::Bstr(L"(not text)");
    return com::Bstr::attach(v.detach().bstrVal);
}

} // namespace

HRESULT reportAndRaise(HRESULT hr, const wchar_t* prefix, const ReportArg* args, int count) {
    // Take the failure's values first: showing a message may run other code.
    com::Error e = com::takeError(hr, nullptr, kSource);
    com::Bstr text(prefix);
    for (int i = 0; i < count; ++i) {
        if (args[i].label) text.append(args[i].label);
        text.append(argumentText(*args[i].value));
    }
    showMessage(text.c_str());
    // The members number no source lines, so the line-number message never shows.
    return com::raise(e);
}

} // namespace anglemath
