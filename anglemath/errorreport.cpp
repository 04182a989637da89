#include "anglemath/errorreport.h"
#include "server/comhelp.h"
#include "server/errors.h"
#include "server/modal.h"

#include <cmath>
#include <float.h>

namespace anglemath {

// The C runtime's status word covers both the x87 unit (which the automation
// runtime's arithmetic may use) and SSE (which Brastow's own arithmetic uses).
void FpStatus::clear() { _clearfp(); }

HRESULT FpStatus::check(double value) {
    // The status bits have the values of the exception masks (_SW_x == _EM_x).
    const unsigned int flags = _clearfp();
    if (flags & _EM_ZERODIVIDE) return errors::raiseRuntimeFailure(DISP_E_DIVBYZERO);
    if (flags & _EM_OVERFLOW) return errors::raiseRuntimeFailure(DISP_E_OVERFLOW);
    if ((flags & _EM_INVALID) || std::isnan(value)) return errors::raiseRuntimeFailure(E_INVALIDARG);
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
    com::Error e = com::takeError(hr, errors::kSource);
    com::Bstr text(prefix);
    for (int i = 0; i < count; ++i) {
        if (args[i].label) text.append(args[i].label);
        text.append(argumentText(*args[i].value));
    }
    // A quit request while the message is open changes nothing here: the member still
    // fails with its own error, and a run that called it ends with that.
    modal::showMessage(text.c_str());
    // The members number no source lines, so the line-number message never shows.
    return com::raise(e);
}

} // namespace anglemath
