#include "anglemath/checked.h"

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

// The operand's value when a double holds it exactly.
bool exactDouble(const VARIANT& v, double& d) {
    switch (v.vt) {
    case VT_R8: d = v.dblVal; return true;
    case VT_R4: d = v.fltVal; return true;
    case VT_I1: d = v.cVal; return true;
    case VT_UI1: d = v.bVal; return true;
    case VT_I2: d = v.iVal; return true;
    case VT_UI2: d = v.uiVal; return true;
    case VT_I4: case VT_INT: d = v.lVal; return true;
    case VT_UI4: case VT_UINT: d = v.ulVal; return true;
    case VT_BOOL: d = v.boolVal; return true;  // as the runtime reads it: VARIANT_TRUE is -1
    default: return false;
    }
}

using RuntimeOp = HRESULT(STDAPICALLTYPE*)(VARIANT*, VARIANT*, VARIANT*);

// The runtime's operation, whose types and errors are the result; a double result of two
// exactly held operands then gets the once-rounded IEEE value of the same operation.
HRESULT arithmetic(RuntimeOp runtime, double (*ieee)(double, double), VARIANT* left, VARIANT* right,
                   VARIANT* result) {
    const HRESULT hr = runtime(left, right, result);
    double a = 0.0, b = 0.0;
    if (SUCCEEDED(hr) && result->vt == VT_R8 && exactDouble(*left, a) && exactDouble(*right, b))
        result->dblVal = ieee(a, b);
    return hr;
}

} // namespace

HRESULT varAdd(VARIANT* left, VARIANT* right, VARIANT* result) {
    return arithmetic(VarAdd, [](double a, double b) { return a + b; }, left, right, result);
}
HRESULT varSub(VARIANT* left, VARIANT* right, VARIANT* result) {
    return arithmetic(VarSub, [](double a, double b) { return a - b; }, left, right, result);
}
HRESULT varMul(VARIANT* left, VARIANT* right, VARIANT* result) {
    return arithmetic(VarMul, [](double a, double b) { return a * b; }, left, right, result);
}
// The runtime has refused a zero divisor before the quotient is taken.
HRESULT varDiv(VARIANT* left, VARIANT* right, VARIANT* result) {
    return arithmetic(VarDiv, [](double a, double b) { return a / b; }, left, right, result);
}

} // namespace anglemath
