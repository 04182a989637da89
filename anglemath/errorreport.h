// The error report procedure of the four trapping numeric members (CalcAngle,
// ArcCosDeg, ArcSinDeg, OldCalcAngle): a failure is shown in a message naming the
// member's arguments, then raised again unchanged.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <initializer_list>

namespace anglemath {

struct ReportArg {
    const wchar_t* label;  // text put before the argument, e.g. L", opp="
    const VARIANT* value;
};

// Shows "<prefix><arg1><label2><arg2>..." and re-raises the failure that the current
// error information describes, with its number, source, description, help file and
// help context unchanged. Returns the failure's number.
HRESULT reportAndRaise(HRESULT hr, const wchar_t* prefix, std::initializer_list<ReportArg> args);

// Runs `body`; when it fails, reports the failure with `prefix` and `args`.
template <class Body>
HRESULT trapped(Body body, const wchar_t* prefix, std::initializer_list<ReportArg> args) {
    HRESULT hr = body();
    return FAILED(hr) ? reportAndRaise(hr, prefix, args) : hr;
}

} // namespace anglemath
