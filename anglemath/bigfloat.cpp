#include "anglemath/bigfloat.h"

#include <cstring>

namespace bigfloat {
namespace {

// The 32 bits at positions pos .. pos+31 of the integer w[len-1] ... w[0]; bits outside
// the integer (pos may be negative) read as 0.
uint32_t bitsAt(const uint32_t* w, int len, int pos) {
    const int word = pos >= 0 ? pos / 32 : -((31 - pos) / 32);
    const int shift = pos - 32 * word;
    const uint32_t lo = word >= 0 && word < len ? w[word] : 0;
    if (shift == 0) return lo;
    const uint32_t hi = word + 1 >= 0 && word + 1 < len ? w[word + 1] : 0;
    return (lo >> shift) | (hi << (32 - shift));
}

void setZero(Big& r, int n) {
    r.n = n;
    r.e = 0;
    r.neg = false;
    for (int i = 0; i < n; ++i) r.m[i] = 0;
}

// r = (-1)^neg * buf * 2^lowExp, truncated to n words. buf is an integer of len words.
void normalize(Big& r, const uint32_t* buf, int len, int lowExp, bool neg, int n) {
    int top = len - 1;
    while (top >= 0 && buf[top] == 0) --top;
    if (top < 0) {
        setZero(r, n);
        return;
    }
    const int up = 32 - bitLength(buf[top]);  // shift left by this many bits
    r.n = n;
    r.e = lowExp + 32 * top + 32 - up;
    r.neg = neg;
    // Result word n-1 is buf[top] shifted up, filled from buf[top-1]; and so on down.
    for (int i = n - 1, w = top; i >= 0; --i, --w) {
        const uint32_t hi = w >= 0 ? buf[w] : 0u;
        const uint32_t lo = w >= 1 ? buf[w - 1] : 0u;
        r.m[i] = up ? (hi << up) | (lo >> (32 - up)) : hi;
    }
}

// out[i] = the 32 bits at offset + 32 i of the integer w of len words (0 outside it).
void shiftedWords(const uint32_t* w, int len, int offset, uint32_t* out, int outLen) {
    const int word = offset >= 0 ? offset / 32 : -((31 - offset) / 32);
    const int shift = offset - 32 * word;
    for (int i = 0; i < outLen; ++i) {
        const int j = word + i;
        const uint32_t lo = j >= 0 && j < len ? w[j] : 0u;
        const uint32_t hi = j + 1 >= 0 && j + 1 < len ? w[j + 1] : 0u;
        out[i] = shift ? (lo >> shift) | (hi << (32 - shift)) : lo;
    }
}

// Order of |a| and |b|: -1, 0, 1.
int compareMagnitudes(const Big& a, const Big& b) {
    if (a.isZero() || b.isZero()) return a.isZero() ? (b.isZero() ? 0 : -1) : 1;
    if (a.e != b.e) return a.e > b.e ? 1 : -1;
    for (int i = a.n - 1; i >= 0; --i)
        if (a.m[i] != b.m[i]) return a.m[i] > b.m[i] ? 1 : -1;
    return 0;
}

// r = a + (-1)^bNeg |b| with a's own sign. The smaller operand is aligned in a buffer two
// words wider than the precision, so that bits are lost only where it lies more than 64
// bits below the larger one; the result is then exact but for its final truncation when
// it fits, and off by less than u (1 + 2^-60) otherwise.
void addSigned(Big& r, const Big& a, const Big& b, bool bNeg) {
    const int n = a.n;
    if (b.isZero()) {
        if (&r != &a) r = a;
        return;
    }
    if (a.isZero()) {
        if (&r != &b) r = b;
        r.neg = bNeg;
        return;
    }
    const bool aBigger = compareMagnitudes(a, b) >= 0;
    const Big& big = aBigger ? a : b;
    const Big& small = aBigger ? b : a;
    const bool bigNeg = aBigger ? a.neg : bNeg;
    const bool smallNeg = aBigger ? bNeg : a.neg;
    const int len = n + 3;
    uint32_t x[kMaxWords + 3], y[kMaxWords + 3];
    x[0] = x[1] = 0;
    for (int i = 0; i < n; ++i) x[i + 2] = big.m[i];
    x[n + 2] = 0;
    const int d = big.e - small.e;
    shiftedWords(small.m, n, d - 64, y, len);
    if (bigNeg == smallNeg) {
        uint64_t carry = 0;
        for (int i = 0; i < len; ++i) {
            const uint64_t s = static_cast<uint64_t>(x[i]) + y[i] + carry;
            x[i] = static_cast<uint32_t>(s);
            carry = s >> 32;
        }
    } else {
        uint32_t borrow = 0;
        for (int i = 0; i < len; ++i) {
            const uint64_t s = static_cast<uint64_t>(x[i]) - y[i] - borrow;
            x[i] = static_cast<uint32_t>(s);
            borrow = static_cast<uint32_t>(s >> 63);
        }
    }
    normalize(r, x, len, big.e - 32 * n - 64, bigNeg, n);
}

} // namespace

void fromInteger(Big& r, uint64_t v, int s, int n) {
    const uint32_t w[2] = {static_cast<uint32_t>(v), static_cast<uint32_t>(v >> 32)};
    normalize(r, w, 2, s, false, n);
}

void fromDouble(Big& r, double x, int n) {
    uint64_t bits;
    memcpy(&bits, &x, sizeof(bits));
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    uint64_t mantissa = bits & ((uint64_t(1) << 52) - 1);
    int exponent = -1074;
    if (biased != 0) {
        mantissa |= uint64_t(1) << 52;
        exponent = biased - 1075;
    }
    fromInteger(r, mantissa, exponent, n);
    r.neg = (bits >> 63) != 0 && !r.isZero();
}

void fromWords(Big& r, const uint32_t* msbFirst, int count, int e, int n) {
    uint32_t w[kMaxWords + 8];
    for (int i = 0; i < count; ++i) w[i] = msbFirst[count - 1 - i];
    normalize(r, w, count, e - 32 * count, false, n);
}

void fromIntegerWords(Big& r, const uint32_t* w, int len, int s, int n) { normalize(r, w, len, s, false, n); }

void mul(Big& r, const Big& a, const Big& b) {
    const int n = a.n;
    if (a.isZero() || b.isZero()) {
        setZero(r, n);
        return;
    }
    uint32_t p[2 * kMaxWords];
    for (int k = 0; k < 2 * n; ++k) p[k] = 0;
    for (int i = 0; i < n; ++i) {
        uint64_t carry = 0;
        const uint64_t ai = a.m[i];
        for (int j = 0; j < n; ++j) {
            const uint64_t t = ai * b.m[j] + p[i + j] + carry;
            p[i + j] = static_cast<uint32_t>(t);
            carry = t >> 32;
        }
        p[i + n] = static_cast<uint32_t>(carry);
    }
    normalize(r, p, 2 * n, a.e + b.e - 64 * n, a.neg != b.neg, n);
}

void add(Big& r, const Big& a, const Big& b) { addSigned(r, a, b, b.neg); }
void sub(Big& r, const Big& a, const Big& b) { addSigned(r, a, b, !b.neg); }

void mulSmall(Big& r, const Big& a, uint32_t k) {
    const int n = a.n;
    uint32_t p[kMaxWords + 1];
    uint64_t carry = 0;
    for (int i = 0; i < n; ++i) {
        const uint64_t t = static_cast<uint64_t>(a.m[i]) * k + carry;
        p[i] = static_cast<uint32_t>(t);
        carry = t >> 32;
    }
    p[n] = static_cast<uint32_t>(carry);
    normalize(r, p, n + 1, a.e - 32 * n, a.neg, n);
}

void divSmall(Big& r, const Big& a, uint32_t k) {
    // M * 2^32 / k, one word more than the precision: the quotient keeps at least 32n
    // significant bits whatever k is.
    const int n = a.n;
    uint32_t q[kMaxWords + 1];
    uint64_t rest = 0;
    for (int i = n; i >= 0; --i) {
        const uint64_t cur = (rest << 32) | (i > 0 ? a.m[i - 1] : 0u);
        q[i] = static_cast<uint32_t>(cur / k);
        rest = cur % k;
    }
    normalize(r, q, n + 1, a.e - 32 * n - 32, a.neg, n);
}

void reciprocal(Big& r, const Big& a) {
    // First approximation from the top word d of a, 2^31 <= d < 2^32:
    // 1/a ~ 2^(32 - e) / d = floor((2^63 - 1) / d) * 2^(-31 - e), within 2^-30.
    // Each step x + x (1 - a x) squares the relative error and adds less than 2.1 units,
    // so that after the last step it is below 2^-(32n + 4) + 2.1u < 4u.
    const int n = a.n;
    const uint64_t q0 = (~uint64_t(0) >> 1) / a.m[n - 1];
    Big x, one, ax, e, xe;
    fromInteger(x, q0, -31 - a.e, n);
    x.neg = a.neg;
    fromInteger(one, 1, 0, n);
    for (int bits = 30; bits < 32 * n + 4; bits *= 2) {
        mul(ax, a, x);
        sub(e, one, ax);
        mul(xe, x, e);
        add(x, x, xe);
    }
    r = x;
}

uint32_t floorScaled(const Big& a, int s) {
    if (a.isZero()) return 0;
    return bitsAt(a.m, a.n, 32 * a.n - a.e - s);
}

namespace {
// The double of 53 bits `mantissa` (2^52 <= mantissa <= 2^53) times 2^(e - 53), when it
// is normal.
bool makeDouble(uint64_t mantissa, int e, bool neg, double* out) {
    if (mantissa >> 53) {
        mantissa >>= 1;
        ++e;
    }
    const int biased = e + 1022;
    if (biased < 1 || biased > 2046) return false;
    const uint64_t bits = (static_cast<uint64_t>(neg) << 63) | (static_cast<uint64_t>(biased) << 52) |
                          (mantissa & ((uint64_t(1) << 52) - 1));
    memcpy(out, &bits, sizeof(bits));
    return true;
}

uint64_t top53(const Big& y) {
    const int total = 32 * y.n;
    return (static_cast<uint64_t>(bitsAt(y.m, y.n, total - 32)) << 21) | (bitsAt(y.m, y.n, total - 53) & 0x1FFFFFu);
}
} // namespace

bool roundToDouble(const Big& y, int errBits, double* out) {
    if (y.isZero() || errBits < 56) return false;
    // With M the integer of y's words: the true value lies within E = 2^k units of M's
    // last bit. Bits total-1 .. total-53 are the double's, total-54 is the rounding bit.
    // The rounding is open only when M's tail after the rounding bit lies within E of
    // the rounding boundary, and then its bits k+1 .. total-55 all equal the opposite of
    // the rounding bit (a run of zeros after a 1, or of ones after a 0).
    const int total = 32 * y.n;
    const int k = total - errBits;
    const int roundPos = total - 54;
    const uint32_t roundBit = bitsAt(y.m, y.n, roundPos) & 1u;
    const uint32_t run = roundBit ? 0u : ~0u;
    bool open = true;
    for (int pos = k + 1 < 0 ? 0 : k + 1; pos < roundPos && open; pos += 32) {
        const int count = roundPos - pos < 32 ? roundPos - pos : 32;
        const uint32_t mask = count == 32 ? ~0u : (1u << count) - 1;
        if ((bitsAt(y.m, y.n, pos) ^ run) & mask) open = false;
    }
    if (open) return false;
    return makeDouble(top53(y) + roundBit, y.e, y.neg, out);
}

double nearestDouble(const Big& y) {
    double out;
    if (y.isZero()) {
        const uint64_t bits = static_cast<uint64_t>(y.neg) << 63;
        memcpy(&out, &bits, sizeof(bits));
        return out;
    }
    const uint32_t roundBit = bitsAt(y.m, y.n, 32 * y.n - 54) & 1u;
    if (!makeDouble(top53(y) + roundBit, y.e, y.neg, &out)) memset(&out, 0, sizeof(out));
    return out;
}

} // namespace bigfloat
