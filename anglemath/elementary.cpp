// Correctly rounded sine, cosine and arctangent (see elementary.h).
//
// Method, at a precision of n words (u = 2^(1-32n) is the relative error of one
// operation of bigfloat):
// - Reduction: |x| = q pi/2 + r with |r| <= pi/4, from the product of x's 53-bit integer
//   mantissa with the bits of 2/pi that matter (Payne and Hanek's method), in integer
//   arithmetic, with enough bits that the fraction keeps 32n + 64 significant bits
//   whatever the cancellation.
// - sin r and cos r: r = c + t with c = k/128 the nearest such fraction, |t| <= 1/256;
//   sin(c + t) = sin c cos t + cos c sin t, cos(c + t) = cos c cos t - sin c sin t, with
//   sin t and cos t from their Taylor series.
// - atan y (y = |x|): y <= 1: c = k/128 nearest to y, atan y = atan c + atan t with
//   t = (y - c) / (1 + y c); y > 1: atan y = pi/2 - atan(1/y), with c nearest to 1/y
//   and t = (1 - c y) / (y + c); atan t from its Taylor series, |t| <= 1/256.
// - The first precision (3 words) takes sin c, cos c, atan c and the series coefficients
//   from tables (elementary_tables.inc, rounded to 3 words); the others compute them from
//   series in the integer k, exactly as rational steps.
// - The result is rounded to the nearest double when its error bound decides it
//   (bigfloat::roundToDouble); otherwise the next precision is tried.
//
// Error bounds (relative, of the value before rounding):
// - Reduction: the bits of 2/pi left out contribute less than 2^(54 - B) relative to the
//   fraction of B significant bits; cutting it to n words, pi/2 to n words and the
//   product: 3u.
// - sin/cos, first precision: t exact (a - c fits in n words); t^2, each Horner step and
//   the final product u each; the coefficients and table values u/2 each. As t^2 <=
//   2^-16, each Horner value carries its own rounding plus 2^-16 of the inner one's: the
//   polynomials are within 1.1u, sin t within 2.2u, cos t within 1.1u, the two products
//   within 3.7u and 2.6u. The sum or difference magnifies them at most 3 times (its
//   terms have the same sign, or the difference is at least a third of their sum: sin c
//   >= 2 |cos c sin t| for k >= 1) and adds u: 12.1u; the reduction's error passes on at
//   most unchanged (r cot r and r tan r are at most 1 for |r| <= pi/4): 16u in all,
//   claimed 2^(8-32n): 32n - 8 bits (u = 2^(1-32n), bigfloat.h).
// - atan, first precision: 1/(1 + y c) within 4u (bigfloat::reciprocal), t within 5.2u,
//   atan t within 7.3u, the sum with atan c (magnified at most 3 times) 23u, and pi/2
//   minus it (magnified at most 3 times) 71u; claimed 2^(10-32n): 32n - 10 bits.
// - The other precisions: the rational series add one rounding per term (up to about
//   1100 terms for atan c at 32 words), claimed 2^(16-32n): 32n - 16 bits.
// Tests check these bounds against the 32-word results for every argument they use.
#include "anglemath/elementary.h"

#include <cstring>
#include <emmintrin.h>

namespace elementary {
namespace {

using bigfloat::Big;
using bigfloat::bitLength;
using detail::Function;

struct Word3 {
    int e;
    uint32_t w[3];
};
#include "anglemath/elementary_tables.inc"

constexpr int kFirst = 3;  // words of the first precision, the one with tables
constexpr int kTableWords = 72;

// The bits of a result at n words that the bounds above leave: 32n minus these, each
// bound being below 2^(these - 32n): the reduction's 3u = 6 * 2^-32n, sine and cosine at
// the first precision 16u = 2^(5-32n), the arctangent there 71u, the other precisions'
// series 2^(16-32n) (u = 2^(1-32n)).
constexpr int kReductionLostBits = 3;
constexpr int kSinCosFirstLostBits = 8;
constexpr int kAtanFirstLostBits = 10;
constexpr int kSeriesLostBits = 16;
int keptBits(int n, int firstLostBits) { return 32 * n - (n == kFirst ? firstLostBits : kSeriesLostBits); }

uint64_t bitsOf(double x) {
    uint64_t b;
    memcpy(&b, &x, sizeof(b));
    return b;
}
double fromBits(uint64_t b) {
    double x;
    memcpy(&x, &b, sizeof(x));
    return x;
}
int biasedExponent(uint64_t b) { return static_cast<int>((b >> 52) & 0x7FF); }
constexpr uint64_t kSignBit = uint64_t(1) << 63;
constexpr uint64_t kQuarterPi = 0x3FE921FB54442D18;  // the double below pi/4
constexpr uint64_t kOne = 0x3FF0000000000000;

// 2^-a + 2^-b <= 2^-both(a, b).
int both(int a, int b) { return (a < b ? a : b) - 1; }

// sin x or cos x from the reduced argument, x = +-(r + q pi/2): which of sin |r| and
// cos |r| it is, and its sign. sin(r + q pi/2): sin r, cos r, -sin r, -cos r;
// cos(r + q pi/2): cos r, -sin r, -cos r, sin r. sin r = sign(r) sin |r|;
// sin(-x) = -sin x, cos(-x) = cos x.
struct Quadrant {
    bool wantSin, negative;
};
Quadrant quadrant(bool cosine, unsigned q, bool rNegative, bool xNegative) {
    Quadrant rule;
    rule.wantSin = cosine ? (q % 2 == 1) : (q % 2 == 0);
    rule.negative = cosine ? (q == 1 || q == 2) : (q >= 2);
    if (rule.wantSin && rNegative) rule.negative = !rule.negative;
    if (!cosine && xNegative) rule.negative = !rule.negative;
    return rule;
}

// A table value of the first precision (stored normalized, or zero).
void load(Big& r, const Word3& w) {
    r.n = kFirst;
    r.e = w.e;
    r.neg = false;
    for (int i = 0; i < kFirst; ++i) r.m[i] = w.w[kFirst - 1 - i];
}
// hi + lo of a table pair, to the first precision (within u: hi and lo are exact,
// their sum is truncated to 3 words).
void loadPair(Big& r, double hi, double lo) {
    Big a, b;
    bigfloat::fromDouble(a, hi, kFirst);
    bigfloat::fromDouble(b, lo, kFirst);
    bigfloat::add(r, a, b);
}
// pi/2 cut to n words (the table's top bit is set).
void piOverTwo(Big& r, int n) {
    r.n = n;
    r.e = kPiOverTwoExponent;
    r.neg = false;
    for (int i = 0; i < n; ++i) r.m[i] = kPiOverTwo[n - 1 - i];
}

// A lower bound of log2(m!).
int log2Factorial(int m) {
    int s = 0;
    for (int i = 2; i <= m; ++i) s += bitLength(static_cast<uint32_t>(i)) - 1;
    return s;
}

// ---- argument reduction ---------------------------------------------------------------

struct Reduced {
    Big r;              // |x| - q pi/2, |r| <= pi/4 (and a hair beyond, from the bound)
    unsigned quadrant;  // q mod 4
    int errBits;        // r within a relative error of 2^-errBits
};

void reduce(uint64_t absBits, int n, Reduced& out) {
    if (absBits < kQuarterPi) {
        bigfloat::fromDouble(out.r, fromBits(absBits), n);
        out.quadrant = 0;
        out.errBits = 32 * n + 64;  // exact
        return;
    }
    // |x| = m 2^k with m an integer of 53 bits; 2/pi = sum of W[j] 2^(-32 (j + 1)). Word j
    // adds m W[j] 2^(k - 32j - 32) to x 2/pi: a multiple of 4 for j < j0, which the
    // quadrant does not need.
    const uint64_t m = (absBits & ((uint64_t(1) << 52) - 1)) | (uint64_t(1) << 52);
    const int k = biasedExponent(absBits) - 1075;
    const int j0 = k < 34 ? 0 : (k - 34) / 32 + 1;
    const uint32_t m0 = static_cast<uint32_t>(m), m1 = static_cast<uint32_t>(m >> 32);
    int count = n + 3;  // words of 2/pi taken
    uint32_t s[kTableWords + 4], f[kTableWords + 4];
    int fractionBits, length, words;
    bool up;
    for (;;) {
        if (j0 + count > kTableWords) count = kTableWords - j0;
        // s = m times the words j0 .. j0 + count - 1 (as an integer, least significant first).
        uint64_t carry = 0;
        for (int i = 0; i < count; ++i) {
            const uint64_t t = static_cast<uint64_t>(kTwoOverPi[j0 + count - 1 - i]) * m0 + carry;
            s[i] = static_cast<uint32_t>(t);
            carry = t >> 32;
        }
        s[count] = static_cast<uint32_t>(carry);
        s[count + 1] = 0;
        carry = 0;
        for (int i = 0; i < count; ++i) {
            const uint64_t t = static_cast<uint64_t>(kTwoOverPi[j0 + count - 1 - i]) * m1 + s[i + 1] + carry;
            s[i + 1] = static_cast<uint32_t>(t);
            carry = t >> 32;
        }
        s[count + 1] = static_cast<uint32_t>(carry);
        s[count + 2] = s[count + 3] = 0;  // the integer part may lie above the product
        // x 2/pi = s 2^-fractionBits, plus less than 2^(53 - fractionBits) from the words
        // left out.
        fractionBits = 32 * (j0 + count) - k;
        const unsigned integer = (s[fractionBits / 32] >> (fractionBits % 32)) |
                                 (fractionBits % 32 ? s[fractionBits / 32 + 1] << (32 - fractionBits % 32) : 0u);
        words = (fractionBits + 31) / 32;
        for (int i = 0; i < words; ++i) f[i] = s[i];
        if (fractionBits % 32) f[words - 1] &= (1u << (fractionBits % 32)) - 1;
        // The fraction is taken in [-1/2, 1/2): from 1/2 on, the next quadrant.
        up = (f[(fractionBits - 1) / 32] >> ((fractionBits - 1) % 32)) & 1u;
        out.quadrant = (integer + (up ? 1u : 0u)) & 3u;
        if (up) {  // 2^fractionBits - f
            uint32_t borrow = 0;
            for (int i = 0; i < words; ++i) {
                const uint64_t d = 0 - static_cast<uint64_t>(f[i]) - borrow;
                f[i] = static_cast<uint32_t>(d);
                borrow = static_cast<uint32_t>(d >> 63);
            }
            if (fractionBits % 32) f[words - 1] &= (1u << (fractionBits % 32)) - 1;
        }
        int top = words - 1;
        while (top >= 0 && f[top] == 0) --top;
        length = top < 0 ? 0 : 32 * top + bitLength(f[top]);
        if (length >= 32 * n + 64 || j0 + count >= kTableWords) break;
        count += (32 * n + 64 - length + 31) / 32 + 1;  // the fraction cancelled: more bits
    }
    Big fraction, half;
    bigfloat::fromIntegerWords(fraction, f, words, -fractionBits, n);
    piOverTwo(half, n);
    bigfloat::mul(out.r, fraction, half);
    out.r.neg = up && !out.r.isZero();
    out.errBits = length == 0 ? 0 : both(length - 54, 32 * n - kReductionLostBits);
}

// ---- sine and cosine of |r| <= pi/4 ------------------------------------------------------

// sin c, cos c for c = k/128 from the series sum (-1)^j c^(2j+1)/(2j+1)! and
// sum (-1)^j c^(2j)/(2j)!, each term the one before times k^2 / (128^2 (2j+2)(2j+3))
// (or (2j+1)(2j+2)): alternating with falling terms, so the first term left out bounds
// the rest.
void sinCosOfFraction(unsigned k, int n, Big* sine, Big* cosine) {
    for (int which = 0; which < 2; ++which) {
        Big* out = which == 0 ? sine : cosine;
        if (!out) continue;
        Big term, sum;
        bigfloat::fromInteger(term, which == 0 ? k : 1u, which == 0 ? -7 : 0, n);
        sum = term;
        for (uint32_t j = 0; j < 1000; ++j) {  // about 90 terms at 32 words
            bigfloat::mulSmall(term, term, k * k);
            const uint32_t a = 2 * j + 1 + (which == 0 ? 1 : 0);
            bigfloat::divSmall(term, term, a * (a + 1));
            term.e -= 14;
            if (term.e < sum.e - (32 * n + 8)) break;
            if (j % 2 == 0) bigfloat::sub(sum, sum, term);
            else bigfloat::add(sum, sum, term);
        }
        *out = sum;
    }
}

// The number of terms after the first so that the first left out of a series in t^2
// whose j-th term is at most |t|^(2j) / (2j)! lies below 2^-(32n + 4).
// |t| <= 1/256 needs at most 5 terms at 3 words and 40 at 32; the caps only keep a
// corrupt argument from running away (the table holds kSeriesTerms coefficients).
constexpr int kSeriesTerms = 8;
int seriesTerms(const Big& t, int n) {
    const int tBits = -t.e;  // |t| < 2^-tBits
    const int cap = n == kFirst ? kSeriesTerms - 1 : 200;
    int j = 0;
    while (j < cap && tBits * (2 * j + 2) + log2Factorial(2 * j + 2) < 32 * n + 4) ++j;
    return j;
}

// sin t and cos t for |t| <= 1/256 (either may be null).
void sinCosSeries(const Big& t, int n, Big* sine, Big* cosine) {
    if (t.isZero()) {
        if (sine) *sine = t;
        if (cosine) bigfloat::fromInteger(*cosine, 1, 0, n);
        return;
    }
    Big t2, one, p, q;
    bigfloat::mul(t2, t, t);
    bigfloat::fromInteger(one, 1, 0, n);
    const int terms = seriesTerms(t, n);
    for (int which = 0; which < 2; ++which) {
        Big* out = which == 0 ? sine : cosine;
        if (!out) continue;
        if (n == kFirst) {
            // c0 - t^2 (c1 - t^2 (c2 - ...)) with the tabled 1/(2j+1)! or 1/(2j)!.
            const Word3* c = which == 0 ? kSinSeries : kCosSeries;
            load(p, c[terms]);
            for (int j = terms - 1; j >= 0; --j) {
                bigfloat::mul(q, t2, p);
                load(p, c[j]);
                bigfloat::sub(p, p, q);
            }
        } else {
            // 1 - t^2/((2j)(2j+1)) (1 - ...) for the sine, (2j-1)(2j) for the cosine.
            p = one;
            for (int j = terms; j >= 1; --j) {
                bigfloat::mul(q, t2, p);
                const uint32_t a = static_cast<uint32_t>(2 * j - 1 + (which == 0 ? 1 : 0));
                bigfloat::divSmall(q, q, a * (a + 1));
                bigfloat::sub(p, one, q);
            }
        }
        if (which == 0) bigfloat::mul(*out, t, p);
        else *out = p;
    }
}

// sin a (wantSin) or cos a for 0 <= a <= pi/4.
void sinOrCos(const Big& a, int n, bool wantSin, Big& out) {
    const unsigned k = (bigfloat::floorScaled(a, 8) + 1) >> 1;  // nearest k/128
    Big c, t;
    bigfloat::fromInteger(c, k, -7, n);
    bigfloat::sub(t, a, c);  // exact
    if (k == 0) {
        sinCosSeries(t, n, wantSin ? &out : nullptr, wantSin ? nullptr : &out);
        return;
    }
    Big st, ct, sc, cc, x, y;
    sinCosSeries(t, n, &st, &ct);
    if (n == kFirst) {
        loadPair(sc, kSinCosK[k][0], kSinCosK[k][1]);
        loadPair(cc, kSinCosK[k][2], kSinCosK[k][3]);
    } else {
        sinCosOfFraction(k, n, &sc, &cc);
    }
    if (wantSin) {
        bigfloat::mul(x, sc, ct);
        bigfloat::mul(y, cc, st);
        bigfloat::add(out, x, y);
    } else {
        bigfloat::mul(x, cc, ct);
        bigfloat::mul(y, sc, st);
        bigfloat::sub(out, x, y);
    }
}

int approximateSinCos(bool cosine, uint64_t bits, int n, Big& y) {
    Reduced red;
    reduce(bits & ~kSignBit, n, red);
    const bool rNegative = red.r.neg;
    Big a = red.r;
    a.neg = false;
    const Quadrant rule = quadrant(cosine, red.quadrant, rNegative, (bits & kSignBit) != 0);
    sinOrCos(a, n, rule.wantSin, y);
    y.neg = rule.negative && !y.isZero();
    return both(keptBits(n, kSinCosFirstLostBits), red.errBits);
}

// ---- arctangent ------------------------------------------------------------------------

// atan(k/128) by Euler's series: sum of a_j with a_0 = x/(1 + x^2) and a_(j+1) = a_j
// (2j+2)/(2j+3) x^2/(1 + x^2), x = k/128: positive terms falling at least by half each.
void atanOfFraction(unsigned k, int n, Big& out) {
    const uint32_t den = 16384 + k * k;
    Big term, sum;
    bigfloat::fromInteger(term, 128u * k, 0, n);
    bigfloat::divSmall(term, term, den);
    sum = term;
    for (uint32_t j = 0; j < 4000; ++j) {  // about 1100 terms at 32 words
        bigfloat::mulSmall(term, term, (2 * j + 2) * k * k);
        bigfloat::divSmall(term, term, (2 * j + 3) * den);
        if (term.e < sum.e - (32 * n + 8)) break;
        bigfloat::add(sum, sum, term);
    }
    out = sum;
}

// atan t for |t| <= 1/256: t (c0 - t^2 (c1 - t^2 (...))) with c_j = 1/(2j+1).
void atanSeries(const Big& t, int n, Big& out) {
    if (t.isZero()) {
        out = t;
        return;
    }
    const int tBits = -t.e;
    int terms = 0;  // the first term left out, t^(2j+2)/(2j+3), below 2^-(32n + 4)
    const int cap = n == kFirst ? kSeriesTerms - 1 : 400;
    while (terms < cap && tBits * (2 * terms + 2) + bitLength(static_cast<uint32_t>(2 * terms + 3)) - 1 < 32 * n + 4)
        ++terms;
    Big t2, p, q, c;
    bigfloat::mul(t2, t, t);
    auto coefficient = [&](int j, Big& r) {
        if (n == kFirst) {
            load(r, kAtanSeries[j]);
        } else {
            bigfloat::fromInteger(r, 1, 0, n);
            if (j > 0) bigfloat::divSmall(r, r, static_cast<uint32_t>(2 * j + 1));
        }
    };
    coefficient(terms, p);
    for (int j = terms - 1; j >= 0; --j) {
        bigfloat::mul(q, t2, p);
        coefficient(j, c);
        bigfloat::sub(p, c, q);
    }
    bigfloat::mul(out, t, p);
}

int approximateAtan(uint64_t bits, int n, Big& y) {
    const uint64_t absBits = bits & ~kSignBit;
    const bool large = absBits > kOne;
    Big v, c, num, den, inv, t;
    bigfloat::fromDouble(v, fromBits(absBits), n);
    unsigned k;
    if (!large) {
        k = (bigfloat::floorScaled(v, 8) + 1) >> 1;  // nearest k/128 to y
    } else if (biasedExponent(absBits) >= 1023 + 8) {
        k = 0;  // 1/y <= 1/256
    } else {
        // y = m 2^e with 2^52 <= m < 2^53, -52 <= e <= -45: floor(256/y) = floor(2^(8-e) / m).
        const uint64_t m = (absBits & ((uint64_t(1) << 52) - 1)) | (uint64_t(1) << 52);
        const int e = biasedExponent(absBits) - 1075;
        k = static_cast<unsigned>(((uint64_t(1) << (8 - e)) / m + 1) >> 1);  // nearest k/128 to 1/y
    }
    bigfloat::fromInteger(c, k, -7, n);
    if (k == 0) {
        if (large) bigfloat::reciprocal(t, v);
        else t = v;
    } else {
        Big one, cv;
        bigfloat::fromInteger(one, 1, 0, n);
        bigfloat::mul(cv, c, v);  // exact: 53 times 8 bits
        if (large) {
            bigfloat::sub(num, one, cv);  // 1 - c y, exact
            bigfloat::add(den, v, c);     // y + c, exact
        } else {
            bigfloat::sub(num, v, c);     // y - c, exact
            bigfloat::add(den, one, cv);  // 1 + y c, exact
        }
        bigfloat::reciprocal(inv, den);
        bigfloat::mul(t, num, inv);
    }
    Big at, sum;
    atanSeries(t, n, at);
    if (k == 0) {
        sum = at;
    } else {
        Big ac;
        if (n == kFirst) loadPair(ac, kAtanK[k][0], kAtanK[k][1]);
        else atanOfFraction(k, n, ac);
        bigfloat::add(sum, ac, at);
    }
    if (large) {
        Big half;
        piOverTwo(half, n);
        bigfloat::sub(y, half, sum);
    } else {
        y = sum;
    }
    y.neg = (bits & kSignBit) != 0;
    return keptBits(n, kAtanFirstLostBits);
}

// ---- the double-double path --------------------------------------------------------------
//
// The same method in pairs of doubles hi + lo (about 106 bits), with plain IEEE double
// arithmetic in the default rounding (no fused multiply-add: the build forbids
// contraction), for the common case; where its error bound does not decide the
// rounding, the multi-word path takes over. Bound: 2^-63 relative, of which the analysis
// below uses less than 2^-64.
//
// sin/cos: r = a (the reduced argument, 96 bits, within 2^-80) = c + t, th = hi(a) - c
// exact, tl = lo(a); sin t = th + ds, cos t = 1 + dc with the terms left out below
// 2^-79 (|t| <= 2^-8: t^9/9!, t^8/8!), the few roundings of ds and dc below 2^-67 |th|
// and 2^-68. sin(c + t) = sh + ch th (exact product and sum) + the small terms sl,
// sh dc, ch ds, cl th, rounded, within 2^-66 sh; the result is at least sh/2. cos likewise
// within 2^-66, the result at least 0.7.
// atan: t = n/d in pairs (within 2^-104); atan t = th + da with t^11/11 left out (2^-83)
// and da within 2^-68 |th|; adding atan c (at least twice the result's distance from it)
// and subtracting from pi/2 (the result at least pi/4) keep it within 2^-66.
constexpr double powerOfHalf(int k) { return k == 0 ? 1.0 : 0.5 * powerOfHalf(k - 1); }
constexpr double kFastBound = powerOfHalf(detail::kFastBits);
constexpr uint64_t kMantissa = (uint64_t(1) << 52) - 1;

struct Pair {
    double hi, lo;
};
Pair twoSum(double a, double b) {
    const double s = a + b;
    const double bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}
Pair fastTwoSum(double a, double b) {  // |a| >= |b|
    const double s = a + b;
    return {s, b - (s - a)};
}
void split(double a, double& hi, double& lo) {  // Veltkamp: hi of 26 bits, lo the rest
    const double c = 134217729.0 * a;
    hi = c - (c - a);
    lo = a - hi;
}
Pair twoProduct(double a, double b) {  // Dekker: a b = hi + lo exactly
    const double p = a * b;
    double ah, al, bh, bl;
    split(a, ah, al);
    split(b, bh, bl);
    return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}
Pair divide(const Pair& n, const Pair& d) {  // (n.hi + n.lo) / (d.hi + d.lo)
    const double q = n.hi / d.hi;
    const Pair p = twoProduct(q, d.hi);
    return {q, (((n.hi - p.hi) - p.lo) + n.lo - q * d.lo) / d.hi};
}
double absolute(double x) { return fromBits(bitsOf(x) & ~kSignBit); }
Pair negated(const Pair& p) { return {-p.hi, -p.lo}; }

// The exact value of v 2^s for v < 2^53 (a normal double).
double exactDouble(uint64_t v, int s, bool neg) {
    if (v == 0) return fromBits(neg ? kSignBit : 0);
    const uint32_t high = static_cast<uint32_t>(v >> 32);
    const int length = (high ? 32 + bitLength(high) : bitLength(static_cast<uint32_t>(v))) - 1;  // 2^length <= v
    const uint64_t mantissa = v << (52 - length);
    return fromBits((neg ? kSignBit : 0) | (static_cast<uint64_t>(length + s + 1023) << 52) | (mantissa & kMantissa));
}
// The 96 bits of a first-precision number as hi + lo, exactly.
Pair pairOf(const Big& r) {
    if (r.isZero()) return {0.0, 0.0};
    const uint64_t top = (static_cast<uint64_t>(r.m[2]) << 21) | (r.m[1] >> 11);
    const uint64_t rest = (static_cast<uint64_t>(r.m[1] & 0x7FFu) << 32) | r.m[0];
    return {exactDouble(top, r.e - 53, r.neg), exactDouble(rest, r.e - 96, r.neg)};
}

// hi, when hi + lo approximates a value within kFastBound and that decides the rounding:
// |lo| plus the error stays below half the gap from hi to its neighbour on lo's side.
bool decided(const Pair& v, double* out) {
    const uint64_t hb = bitsOf(v.hi);
    const int e = biasedExponent(hb);
    if (e < 55 || e > 2046) return false;
    double half = fromBits(static_cast<uint64_t>(e - 53) << 52);  // half a unit of hi's last place
    if ((hb & kMantissa) == 0 && v.lo != 0.0 && ((hb ^ bitsOf(v.lo)) & kSignBit))
        half = fromBits(static_cast<uint64_t>(e - 54) << 52);  // below a power of two the gap halves
    if (absolute(v.lo) + kFastBound * absolute(v.hi) < half) {
        *out = v.hi;
        return true;
    }
    return false;
}

// sin a (wantSin) or cos a for 0 <= a <= pi/4.
Pair fastSinOrCos(const Pair& a, bool wantSin) {
    // k/128 nearest to a: from floor(256 a), exact, so that |a - k/128| <= 1/256 and the
    // difference is a double (at most 2^53 units of a's last place, a >= 2^-9 or k = 0).
    const int k = (static_cast<int>(a.hi * 256.0) + 1) >> 1;
    const double th = a.hi - k * 0x1p-7;  // exact
    const double tl = a.lo;
    const double t2 = th * th;
    const double ds = tl * (1.0 - 0.5 * t2) + th * t2 * (-1.0 / 6 + t2 * (1.0 / 120 - t2 * (1.0 / 5040)));
    const double dc = -th * tl + t2 * (-0.5 + t2 * (1.0 / 24 - t2 * (1.0 / 720)));
    if (k == 0) return wantSin ? fastTwoSum(th, ds) : fastTwoSum(1.0, dc);
    const double sh = kSinCosK[k][0], sl = kSinCosK[k][1], ch = kSinCosK[k][2], cl = kSinCosK[k][3];
    if (wantSin) {  // (sh + sl)(1 + dc) + (ch + cl)(th + ds)
        const Pair p = twoProduct(ch, th);
        const Pair s = twoSum(sh, p.hi);
        const double small = sl + (sh * dc + (ch * ds + cl * th));
        return fastTwoSum(s.hi, s.lo + (p.lo + small));
    }
    // (ch + cl)(1 + dc) - (sh + sl)(th + ds)
    const Pair p = twoProduct(sh, th);
    const Pair s = twoSum(ch, -p.hi);
    const double small = cl + (ch * dc - (sh * ds + sl * th));
    return fastTwoSum(s.hi, s.lo + (small - p.lo));
}

bool fastSinCos(bool cosine, uint64_t bits, Pair& v) {
    const uint64_t absBits = bits & ~kSignBit;
    Pair r{fromBits(absBits), 0.0};
    unsigned q = 0;
    if (absBits >= kQuarterPi) {
        Reduced red;
        reduce(absBits, kFirst, red);
        if (red.errBits < 80) return false;
        q = red.quadrant;
        r = pairOf(red.r);
    }
    const bool rNegative = (bitsOf(r.hi) & kSignBit) != 0;
    if (rNegative) r = negated(r);
    const Quadrant rule = quadrant(cosine, q, rNegative, (bits & kSignBit) != 0);
    v = fastSinOrCos(r, rule.wantSin);
    if (rule.negative) v = negated(v);
    return true;
}

constexpr uint64_t kTwo53 = 0x4340000000000000;  // 2^53

bool fastAtan(uint64_t bits, Pair& v) {
    const uint64_t absBits = bits & ~kSignBit;
    if (absBits >= kTwo53) return false;
    const double y = fromBits(absBits);
    Pair t{y, 0.0};
    int k = 0;
    const bool large = absBits > kOne;
    if (!large) {
        k = (static_cast<int>(y * 256.0) + 1) >> 1;  // as for the sine: y - k/128 exact
        if (k > 0) {
            const double c = k * 0x1p-7;
            const Pair p = twoProduct(y, c);
            Pair d = fastTwoSum(1.0, p.hi);
            d.lo += p.lo;
            t = divide({y - c, 0.0}, d);  // (y - c) / (1 + y c), y - c exact
        }
    } else if (absBits >= 0x4070000000000000) {  // y >= 256: t = 1/y
        const double th = 1.0 / y;
        const Pair p = twoProduct(th, y);
        t = {th, ((1.0 - p.hi) - p.lo) / y};
    } else {
        k = (static_cast<int>(256.0 / y) + 1) >> 1;
        const double c = k * 0x1p-7;
        const Pair p = twoProduct(c, y);
        Pair n = twoSum(1.0, -p.hi);
        n.lo -= p.lo;
        t = divide(n, twoSum(y, c));  // (1 - c y) / (y + c)
    }
    const double th = t.hi, t2 = th * th;
    const double da = t.lo * (1.0 - t2) + th * t2 * (-1.0 / 3 + t2 * (1.0 / 5 - t2 * (1.0 / 7 - t2 * (1.0 / 9))));
    Pair s;
    if (k == 0) {
        s = fastTwoSum(th, da);
    } else {
        const Pair s0 = twoSum(kAtanK[k][0], th);
        s = fastTwoSum(s0.hi, s0.lo + (kAtanK[k][1] + da));
    }
    if (large) {
        const Pair r0 = twoSum(kPiOverTwoHi, -s.hi);
        s = fastTwoSum(r0.hi, r0.lo + (kPiOverTwoLo - s.lo));
    }
    v = (bits & kSignBit) ? negated(s) : s;
    return true;
}

bool fastApproximation(Function f, uint64_t bits, Pair& v) {
    return f == Function::Atan ? fastAtan(bits, v) : fastSinCos(f == Function::Cos, bits, v);
}

int approximate(Function f, uint64_t bits, int n, Big& y) {
    return f == Function::Atan ? approximateAtan(bits, n, y) : approximateSinCos(f == Function::Cos, bits, n, y);
}

} // namespace

namespace detail {

int approximate(Function f, double x, int n, Big& y) { return elementary::approximate(f, bitsOf(x), n, y); }

bool decidedPair(double hi, double lo, double* out) { return decided({hi, lo}, out); }

bool fastPair(Function f, double x, double* hi, double* lo) {
    Pair v;
    if (!fastApproximation(f, bitsOf(x), v)) return false;
    *hi = v.hi;
    *lo = v.lo;
    return true;
}

double evaluate(Function f, double x, int* words) {
    if (words) *words = 0;
    const uint64_t bits = bitsOf(x);
    const int e = biasedExponent(bits);
    if (e == 0x7FF) {
        if (f != Function::Atan || (bits & ((uint64_t(1) << 52) - 1))) return x - x;  // NaN; invalid for an infinity
        Big half;
        piOverTwo(half, kFirst);
        half.neg = (bits & kSignBit) != 0;
        return bigfloat::nearestDouble(half);  // pi/2 is far from a rounding boundary
    }
    // Tiny arguments: sin x = x (1 - x^2/6 ...) and atan x = x (1 - x^2/3 ...) differ from
    // x by less than 2^-54 relative, cos x = 1 - x^2/2 from 1 by less than 2^-55: each
    // rounds to x, or to 1.
    if (f == Function::Sin && e < 1023 - 26) return x;
    if (f == Function::Atan && e < 1023 - 27) return x;
    if (f == Function::Cos && e < 1023 - 27) return fromBits(kOne);
    // atan y for y >= 2^53 is pi/2 - 1/y + ..., within 2^-53 + 6.2e-17 < 1.8e-16 of the double
    // nearest to pi/2, whose neighbours are 2.2e-16 away: that double.
    if (f == Function::Atan && (bits & ~kSignBit) >= kTwo53) {
        if (words) *words = 1;
        return (bits & kSignBit) ? -kPiOverTwoHi : kPiOverTwoHi;
    }
    Pair v;
    double fast;
    if (fastApproximation(f, bits, v) && decided(v, &fast)) {
        if (words) *words = 1;
        return fast;
    }
    Big y;
    double out = 0.0;
    for (int n : kPrecisions) {
        const int bound = elementary::approximate(f, bits, n, y);
        if (bigfloat::roundToDouble(y, bound, &out)) {
            if (words) *words = n;
            return out;
        }
    }
    if (words) *words = -1;
    return bigfloat::nearestDouble(y);
}

void tableValue(Function f, unsigned k, Big& y) {
    if (f == Function::Atan) loadPair(y, kAtanK[k][0], kAtanK[k][1]);
    else if (f == Function::Sin) loadPair(y, kSinCosK[k][0], kSinCosK[k][1]);
    else loadPair(y, kSinCosK[k][2], kSinCosK[k][3]);
}

void seriesValue(Function f, unsigned k, int n, Big& y) {
    if (f == Function::Atan) {
        if (k == 0) bigfloat::fromInteger(y, 0, 0, n);
        else atanOfFraction(k, n, y);
    } else if (k == 0) {
        bigfloat::fromInteger(y, f == Function::Cos ? 1 : 0, 0, n);
    } else {
        sinCosOfFraction(k, n, f == Function::Sin ? &y : nullptr, f == Function::Cos ? &y : nullptr);
    }
}

} // namespace detail

double sin(double x) { return detail::evaluate(detail::Function::Sin, x, nullptr); }
double cos(double x) { return detail::evaluate(detail::Function::Cos, x, nullptr); }
double atan(double x) { return detail::evaluate(detail::Function::Atan, x, nullptr); }

// The sqrtsd instruction itself, whatever the compiler: clang keeps errno semantics for
// __builtin_sqrt and std::sqrt and calls mingw-w64's library function, which on x86_64
// takes the x87 fsqrt and rounds twice (sqrt of the largest double comes out one unit
// too large).
double sqrt(double x) {
    const __m128d v = _mm_set_sd(x);
    return _mm_cvtsd_f64(_mm_sqrt_sd(v, v));
}

} // namespace elementary
