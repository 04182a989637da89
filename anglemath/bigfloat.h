// Binary floating-point numbers of a chosen precision, in integer arithmetic only: the
// working numbers of Brastow's sine, cosine and arctangent. Integer arithmetic is exact
// and the same on every processor and compiler, so every build computes the same bits,
// and nothing here touches the floating-point unit or its status flags.
//
// A number of n words is (-1)^neg * M * 2^(e - 32n), where M = m[n-1] ... m[0] is an
// integer of n 32-bit words (m[0] least significant) with its top bit set: the value
// lies in [2^(e-1), 2^e). Zero has M = 0.
//
// Every operation returns the exact result truncated to n words (towards zero): its
// relative error is below u = 2^(1-32n), "one unit" in the error bounds of the callers.
// Where the exact result fits in n words it is exact.
#pragma once

#include <cstdint>

namespace bigfloat {

// Number of significant bits of v (0 for 0).
inline int bitLength(uint32_t v) {
    int b = 0;
    if (v >= 1u << 16) { b += 16; v >>= 16; }
    if (v >= 1u << 8) { b += 8; v >>= 8; }
    if (v >= 1u << 4) { b += 4; v >>= 4; }
    if (v >= 1u << 2) { b += 2; v >>= 2; }
    if (v >= 1u << 1) { b += 1; v >>= 1; }
    return b + static_cast<int>(v);
}

constexpr int kMaxWords = 32;

struct Big {
    uint32_t m[kMaxWords];
    int n;    // words in use, 2 to kMaxWords
    int e;    // the value lies in [2^(e-1), 2^e)
    bool neg;
    bool isZero() const { return m[n - 1] == 0; }

    Big() = default;
    // Copies take the words in use only.
    Big(const Big& o) { *this = o; }
    Big& operator=(const Big& o) {
        n = o.n;
        e = o.e;
        neg = o.neg;
        for (int i = 0; i < n; ++i) m[i] = o.m[i];
        return *this;
    }
};

// The value v * 2^s of an unsigned integer.
void fromInteger(Big& r, uint64_t v, int s, int n);
// A finite double, exactly.
void fromDouble(Big& r, double x, int n);
// 0.W x 2^e from a table of at most kMaxWords + 8 words, most significant first, cut to
// n words (truncated).
void fromWords(Big& r, const uint32_t* msbFirst, int count, int e, int n);
// w * 2^s for the integer w of len words, least significant first (truncated).
void fromIntegerWords(Big& r, const uint32_t* w, int len, int s, int n);

void mul(Big& r, const Big& a, const Big& b);
void add(Big& r, const Big& a, const Big& b);
void sub(Big& r, const Big& a, const Big& b);
void mulSmall(Big& r, const Big& a, uint32_t k);
void divSmall(Big& r, const Big& a, uint32_t k);  // k > 0
// 1/a by Newton's iteration: relative error below 4u (a must not be zero).
void reciprocal(Big& r, const Big& a);
inline void negate(Big& r) { r.neg = !r.neg; }

// floor(|a| * 2^s) for a result below 2^32.
uint32_t floorScaled(const Big& a, int s);

// The double nearest to the number y approximates, when y is within a relative error of
// 2^-errBits of it and that is enough to decide: true and *out set. False when the
// interval around y holds a rounding boundary (or the result is not a normal double).
bool roundToDouble(const Big& y, int errBits, double* out);

// The double nearest to y itself (no error allowance), for a normal result.
double nearestDouble(const Big& y);

} // namespace bigfloat
