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

} // namespace anglemath
