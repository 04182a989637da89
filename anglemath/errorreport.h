// The error report procedure of the trapping numeric members, and the floating-point
// status checks every numeric step is followed by.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace anglemath {

// Floating-point status of the current step: clear() before it, check() after it.
// check() fails with the matching arithmetic error on overflow, division by zero
// or invalid operation, and on a NaN result.
struct FpStatus {
    static void clear();
    static HRESULT check(double value = 0.0);
};

struct ReportArg {
    const wchar_t* label;  // text put before the argument, e.g. L", opp="
    const VARIANT* value;
};

// Shows "<prefix><arg1><label2><arg2>..." and re-raises the failure that the current
// error information describes, with its number, source, description, help file and
// help context unchanged. Returns the failure's number.
HRESULT reportAndRaise(HRESULT hr, const wchar_t* prefix, const ReportArg* args, int count);

} // namespace anglemath
