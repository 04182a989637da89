#include "anglemath/errorreport.h"
#include "server/comhelp.h"
#include "server/errors.h"
#include "server/modal.h"

namespace anglemath {

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

HRESULT reportAndRaise(HRESULT hr, const wchar_t* prefix, std::initializer_list<ReportArg> args) {
    // Take the failure's values first: showing a message may run other code.
    com::Error e = com::takeError(hr, errors::kSource);
    com::Bstr text(prefix);
    for (const ReportArg& a : args) {
        if (a.label) text.append(a.label);
        text.append(argumentText(*a.value));
    }
    // A quit request while the message is open changes nothing here: the member still
    // fails with its own error, and a run that called it ends with that.
    modal::showMessage(text.c_str());
    // The members number no source lines, so the line-number message never shows.
    return com::raise(e);
}

} // namespace anglemath
