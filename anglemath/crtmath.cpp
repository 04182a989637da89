// Binds the functions of anglemath/crtmath.h. This file must not include <cmath> or
// <math.h>: on mingw-w64 it declares the C runtime DLL's own functions.
#include "anglemath/crtmath.h"

#include <emmintrin.h>

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
} // namespace crt
#else
#include <cmath>
namespace crt {
double sin(double x) { return std::sin(x); }
double cos(double x) { return std::cos(x); }
double atan(double x) { return std::atan(x); }
} // namespace crt
#endif

namespace crt {
// The sqrtsd instruction itself, whatever the compiler: clang keeps errno semantics for
// __builtin_sqrt and std::sqrt and calls mingw-w64's library function, which on x86_64
// takes the x87 fsqrt and rounds twice (sqrt of the largest double comes out one unit
// too large).
double sqrt(double x) {
    const __m128d v = _mm_set_sd(x);
    return _mm_cvtsd_f64(_mm_sqrt_sd(v, v));
}
} // namespace crt
