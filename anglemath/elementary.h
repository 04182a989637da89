// Sine, cosine and arctangent of a double, correctly rounded, and the square root: the
// elementary functions of every numeric member and of the calibration's solution.
//
// Brastow computes them itself rather than taking them from a C runtime: the C runtimes
// differ (Wine's 32-bit msvcrt.dll computes them with the x87 unit, its 64-bit one with
// SSE2, Microsoft's has its own accuracy, mingw-w64's static sin and cos use fsin and
// fcos with a 66-bit pi), and so would the last digits of a calibration from one
// edition, compiler or Windows to the next. These are computed in integer arithmetic
// (anglemath/bigfloat.h), so every build gives the same bits.
//
// Each result is the double nearest to the exact value (ties cannot occur), for every
// finite argument: arguments of every size are reduced by pi/2 exactly. The result is
// first computed in pairs of doubles with a proven error bound of 2^-63; where that leaves
// the rounding open (one argument in 700 of the tests' random set), in integer arithmetic
// to 96 bits with a bound of 2^-86 (open for about one argument in 10^9), then to 256 bits
// (2^-240) and 1024 bits (2^-1008). Known hard-to-round cases of these functions need
// less than 130 bits.
//
// Infinities and NaN: sin and cos of an infinity are NaN with the invalid-operation
// flag raised; of a NaN, NaN. atan of an infinity is the double nearest to +-pi/2.
// Otherwise the functions raise no floating-point flag.
#pragma once

#include "anglemath/bigfloat.h"

namespace elementary {

double sin(double x);
double cos(double x);
double atan(double x);
// The processor's IEEE square root (correctly rounded by definition).
double sqrt(double x);

namespace detail {

enum class Function { Sin, Cos, Atan };

// The precisions tried one after the other, in 32-bit words.
constexpr int kPrecisions[] = {3, 8, 32};

// For the tests. The approximation of f(x) at n words, for an x that the general method
// takes (finite; |x| >= 2^-26 for sin, 2^-27 for cos and atan), with the returned bound:
// it is within a relative error of 2^-bound of the exact value.
int approximate(Function f, double x, int n, bigfloat::Big& y);

// The double-double path's error bound: 2^-kFastBits relative.
constexpr int kFastBits = 63;

// The double-double approximation hi + lo of f(x), within a relative error of 2^-kFastBits,
// where that path takes x (the same arguments as approximate, but atan's below 2^53 and
// those whose reduction keeps 80 bits).
bool fastPair(Function f, double x, double* hi, double* lo);

// The double-double path's rounding test: for hi = RN(hi + lo) within 2^-kFastBits of a
// value, whether hi is that value's nearest double.
bool decidedPair(double hi, double lo, double* out);

// f(x), and in *words what decided it: 0 a special case, 1 the double-double path,
// else the words of the precision.
double evaluate(Function f, double x, int* words);

// The value of the tables of the first precision: sin(k/128) and cos(k/128) (k = 0..101)
// and atan(k/128) (k = 0..128), and as the other precisions compute them (from series
// in k). For the tests.
void tableValue(Function f, unsigned k, bigfloat::Big& y);
void seriesValue(Function f, unsigned k, int n, bigfloat::Big& y);

} // namespace detail
} // namespace elementary
