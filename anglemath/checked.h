// Every numeric step of the members and of the solution is checked: the floating-point
// status is cleared before it and read after it, so an overflow, a division by zero or
// an invalid operation (and a NaN result) is raised as the matching automation error
// at the step that caused it. One helper for Brastow's own arithmetic on native
// numbers, one for the automation runtime's variant arithmetic.
#pragma once

#include "server/comhelp.h"
#include "server/errors.h"

namespace anglemath {

// The floating-point status of the current step: clear() before it, check() after it.
struct FpStatus {
    static void clear();
    static HRESULT check(double value = 0.0);
};

// out = f(), checked.
template <class T, class F>
HRESULT checked(T& out, F f) {
    FpStatus::clear();
    out = f();
    return FpStatus::check(static_cast<double>(out));
}

// f(VARIANT* result): one operation of the runtime (VarMul, VarDiv, ...) into `out`,
// checked; a failure of the operation itself is raised under the number clients know.
template <class F>
HRESULT checkedVar(com::Var& out, F f) {
    FpStatus::clear();
    HRESULT hr = f(out.put());
    if (FAILED(hr)) return errors::raiseRuntimeFailure(hr);
    double probe = 0.0;
    if (out.vt() == VT_R8) probe = out.get()->dblVal;
    else if (out.vt() == VT_R4) probe = out.get()->fltVal;
    return FpStatus::check(probe);
}

// The runtime's variant arithmetic (VarAdd, VarSub, VarMul, VarDiv: its result types,
// conversions and errors) with one bridge: when the result is a double and both operands
// are numbers that a double holds exactly (doubles, singles, integers of up to 32 bits,
// Booleans), its value is the correctly rounded IEEE result of the same operation. The
// 32-bit runtime computes doubles on the x87 unit in the precision of the calling thread's
// control word: a host that runs in 64-bit precision (a mingw-w64 program's start-up sets
// it) gets the product or quotient rounded twice, and a subnormal result may be rounded
// twice in any precision; the 64-bit runtime's SSE2 arithmetic is the IEEE result. Hosts,
// editions and builds must see the same numbers.
HRESULT varAdd(VARIANT* left, VARIANT* right, VARIANT* result);
HRESULT varSub(VARIANT* left, VARIANT* right, VARIANT* result);
HRESULT varMul(VARIANT* left, VARIANT* right, VARIANT* result);
HRESULT varDiv(VARIANT* left, VARIANT* right, VARIANT* result);

} // namespace anglemath
