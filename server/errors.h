// Brastow's own automation errors: raised as this thread's error information with the
// source "Brastow" and the numbers script and Basic clients know (13 type mismatch, 6
// overflow, 11 division by zero, 5 invalid procedure call or argument, ...).
#pragma once

#include "server/comhelp.h"

namespace errors {

inline constexpr wchar_t kSource[] = L"Brastow";

// Raises `number` with the source "Brastow" and `description` (the standard text of the
// number when null). Returns the number.
HRESULT raise(HRESULT number, const wchar_t* description = nullptr);

// Raises a failure of the automation runtime's conversions or arithmetic
// (DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW, ...) under the number clients know for it.
// Returns that number.
HRESULT raiseRuntimeFailure(HRESULT hr);

// Refusal of a second calibration while one is in progress in the process
// (vbObjectError + 513, the first number a component gives its own errors).
constexpr HRESULT kCalibrationRunning = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0201);

} // namespace errors
