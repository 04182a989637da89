// Binds the functions of anglemath/crtmath.h. This file must not include <cmath> or
// <math.h>: on mingw-w64 it declares the C runtime DLL's own functions.
#include "anglemath/crtmath.h"

#if defined(__MINGW32__)
// Through the DLL's import entries (__imp_sin, ...), never the static library's
// definitions of the same names.
extern "C" {
__declspec(dllimport) double __cdecl sin(double);
__declspec(dllimport) double __cdecl cos(double);
__declspec(dllimport) double __cdecl atan(double);
}
namespace crt {
double sin(double x) { return ::sin(x); }
double cos(double x) { return ::cos(x); }
double atan(double x) { return ::atan(x); }
double sqrt(double x) { return __builtin_sqrt(x); }  // sqrtsd, with SSE2 arithmetic
} // namespace crt
#else
#include <cmath>
namespace crt {
double sin(double x) { return std::sin(x); }
double cos(double x) { return std::cos(x); }
double atan(double x) { return std::atan(x); }
double sqrt(double x) { return std::sqrt(x); }
} // namespace crt
#endif
