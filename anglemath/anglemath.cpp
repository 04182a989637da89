// Sign, sine, cosine, direction angle and inverse cosine in degrees, computed with the
// automation runtime's own variant arithmetic so that the number type of each step
// (16-bit integer, single, double) follows the variant rules.
#include "anglemath/anglemath.h"
#include "anglemath/elementary.h"
#include "anglemath/checked.h"
#include "anglemath/errorreport.h"
#include "server/comhelp.h"
#include "server/errors.h"
#include "brastow.h"

#include <cmath>

namespace anglemath {
namespace {

using com::Var;

// The argument's value with any reference resolved; the caller's variant is untouched.
HRESULT read(const VARIANT& arg, Var& out) {
    HRESULT hr = Var::deref(arg, out);
    return FAILED(hr) ? errors::raiseRuntimeFailure(hr) : S_OK;
}

// A variant read as a double, as the runtime converts it.
HRESULT toDouble(const Var& v, double* out) {
    Var d(v);
    HRESULT hr = d.changeTo(VT_R8);
    if (FAILED(hr)) return errors::raiseRuntimeFailure(hr);
    *out = d.get()->dblVal;
    return S_OK;
}

bool isNumber(VARTYPE t) {
    switch (t) {
    case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8:
    case VT_INT: case VT_UINT: case VT_R4: case VT_R8: case VT_CY: case VT_DECIMAL: case VT_BOOL: case VT_DATE:
        return true;
    default:
        return false;
    }
}

// The order of two values.
enum class Order { Less, Equal, Greater };

// Comparison of two variants with the runtime's rules, as a comparison in code reads
// it: text compared with a number is read as a number, and a single compared with a
// double is compared at its exact value (Wine's VarCmp rounds the double to single).
// A comparison with Null has no answer: Brastow treats it as the type mismatch it is
// rather than guessing a branch.
HRESULT compare(const Var& left, const Var& right, Order& order) {
    Var a(left), b(right);
    for (Var* side : {&a, &b}) {
        Var* other = side == &a ? &b : &a;
        HRESULT hr = S_OK;
        if (side->vt() == VT_BSTR && isNumber(other->vt())) hr = side->changeTo(VT_R8);
        else if (side->vt() == VT_R4 && other->vt() == VT_R8) hr = side->changeTo(VT_R8);
        if (FAILED(hr)) return errors::raiseRuntimeFailure(hr);
    }
    const HRESULT r = VarCmp(a.get(), b.get(), LOCALE_USER_DEFAULT, 0);
    switch (r) {
    case VARCMP_LT: order = Order::Less; return S_OK;
    case VARCMP_EQ: order = Order::Equal; return S_OK;
    case VARCMP_GT: order = Order::Greater; return S_OK;
    case VARCMP_NULL: return errors::raiseRuntimeFailure(DISP_E_TYPEMISMATCH);
    default: return errors::raiseRuntimeFailure(FAILED(r) ? r : E_UNEXPECTED);
    }
}

// Absolute value with the runtime's rules. Text is read as a double first, which is
// what the runtime's Abs does to text (Wine's VarAbs returns a wrong value for it).
HRESULT absolute(const Var& x, Var& out) {
    Var in(x);
    if (in.vt() == VT_BSTR) {
        HRESULT hr = in.changeTo(VT_R8);
        if (FAILED(hr)) return errors::raiseRuntimeFailure(hr);
    }
    return checkedVar(out, [&](VARIANT* o) { return VarAbs(in.get(), o); });
}

// -x * x + 1 by variant arithmetic: the discriminant of the inverse cosine.
HRESULT discriminant(const Var& x, Var& d) {
    Var neg, prod;
    Var one = Var::i2(1);
    VARIANT* px = const_cast<VARIANT*>(x.get());
    HRESULT hr;
    if (FAILED(hr = checkedVar(neg, [&](VARIANT* o) { return VarNeg(px, o); }))) return hr;
    if (FAILED(hr = checkedVar(prod, [&](VARIANT* o) { return varMul(neg.get(), px, o); }))) return hr;
    return checkedVar(d, [&](VARIANT* o) { return varAdd(prod.get(), one.get(), o); });
}

HRESULT giveDouble(double value, VARIANT* result) {
    *result = Var::r8(value).detach();
    return S_OK;
}

// The body shared by ArcCosDeg and ArcSinDeg: both compute the inverse cosine. That is
// the published behaviour of ArcSinDeg (clients rely on its numbers), not a slip to
// correct here.
HRESULT inverseCosine(const VARIANT& arg, VARIANT* result) {
    Var x, d;
    HRESULT hr;
    Order order;
    if (FAILED(hr = read(arg, x))) return hr;
    if (FAILED(hr = discriminant(x, d))) return hr;
    if (FAILED(hr = compare(d, Var::i2(0), order))) return hr;
    if (order != Order::Greater) {
        // No inverse cosine outside the open domain: the fixed value 180.
        *result = Var::i2(180).detach();
        return S_OK;
    }
    double rightAngle, dd = 0.0, root, q = 0.0, radians, degrees;
    if (FAILED(hr = checked(rightAngle, [] { return 2.0 * elementary::atan(1.0); }))) return hr;
    // The discriminant again, as the definition computes it for the root.
    Var d2, negX, quotient;
    if (FAILED(hr = discriminant(x, d2))) return hr;
    if (FAILED(hr = toDouble(d2, &dd))) return hr;
    if (FAILED(hr = checked(root, [&] { return elementary::sqrt(dd); }))) return hr;
    Var rootVar = Var::r8(root);
    if (FAILED(hr = checkedVar(negX, [&](VARIANT* o) { return VarNeg(x.get(), o); }))) return hr;
    if (FAILED(hr = checkedVar(quotient, [&](VARIANT* o) { return varDiv(negX.get(), rootVar.get(), o); }))) return hr;
    if (FAILED(hr = toDouble(quotient, &q))) return hr;
    if (FAILED(hr = checked(radians, [&] { return elementary::atan(q) + rightAngle; }))) return hr;
    if (FAILED(hr = checked(degrees, [&] { return radians / kDegree; }))) return hr;
    return giveDouble(degrees, result);
}

HRESULT calcAngleBody(const VARIANT& adjArg, const VARIANT& oppArg, VARIANT* result) {
    Var adj, opp;
    HRESULT hr;
    Order order;
    if (FAILED(hr = read(adjArg, adj))) return hr;
    if (FAILED(hr = read(oppArg, opp))) return hr;

    float angle;  // the working angle in radians, single precision
    Var absAdj;
    if (FAILED(hr = absolute(adj, absAdj))) return hr;
    if (FAILED(hr = compare(absAdj, Var::r8(kNearZero), order))) return hr;
    if (order == Order::Less) {
        // Near zero: no division by adj, the right angle.
        if (FAILED(hr = checked(angle, [] { return static_cast<float>(kPi / 2.0); }))) return hr;
    } else {
        Var quotient;
        double q = 0.0;
        if (FAILED(hr = checkedVar(quotient, [&](VARIANT* o) { return varDiv(opp.get(), adj.get(), o); }))) return hr;
        if (FAILED(hr = toDouble(quotient, &q))) return hr;
        if (FAILED(hr = checked(angle, [&] { return static_cast<float>(std::fabs(elementary::atan(q))); }))) return hr;
    }
    if (FAILED(hr = compare(adj, Var::i2(0), order))) return hr;
    if (order == Order::Less) {
        if (FAILED(hr = checked(angle, [&] { return static_cast<float>(kPi - static_cast<double>(angle)); }))) return hr;
    }
    if (FAILED(hr = compare(opp, Var::i2(0), order))) return hr;
    if (order == Order::Greater) {
        if (FAILED(hr = checked(angle, [&] { return -angle; }))) return hr;
    }
    double degrees;
    if (FAILED(hr = checked(degrees, [&] { return static_cast<double>(angle) / kDegree; }))) return hr;
    return giveDouble(degrees, result);
}

HRESULT oldCalcAngleBody(_PlugIn* self, const VARIANT& xArg, const VARIANT& yArg, VARIANT* result) {
    Var x, y, xx, yy, sum;
    HRESULT hr;
    Order order;
    if (FAILED(hr = read(xArg, x))) return hr;
    if (FAILED(hr = read(yArg, y))) return hr;
    if (FAILED(hr = checkedVar(xx, [&](VARIANT* o) { return varMul(x.get(), x.get(), o); }))) return hr;
    if (FAILED(hr = checkedVar(yy, [&](VARIANT* o) { return varMul(y.get(), y.get(), o); }))) return hr;
    if (FAILED(hr = checkedVar(sum, [&](VARIANT* o) { return varAdd(xx.get(), yy.get(), o); }))) return hr;
    double s = 0.0, r;
    if (FAILED(hr = toDouble(sum, &s))) return hr;
    if (FAILED(hr = checked(r, [&] { return elementary::sqrt(s); }))) return hr;

    Var angle;
    if (r > 0.0) {
        Var rv = Var::r8(r), cosine;
        if (FAILED(hr = checkedVar(cosine, [&](VARIANT* o) { return varDiv(y.get(), rv.get(), o); }))) return hr;
        // Through the object's own interface, like any client; its failure is ours.
        if (FAILED(hr = self->ArcCosDeg(cosine.get(), angle.put()))) return hr;
    } else {
        angle = Var::i2(0);
    }
    if (FAILED(hr = compare(x, Var::i2(0), order))) return hr;
    if (order == Order::Less) {
        Var zero = Var::i2(0), negated;
        if (FAILED(hr = checkedVar(negated, [&](VARIANT* o) { return varSub(zero.get(), angle.get(), o); }))) return hr;
        angle = negated;
    }
    *result = angle.detach();
    return S_OK;
}

// Sine or cosine of degrees turned into radians by variant arithmetic.
HRESULT trig(const VARIANT& arg, VARIANT* result, double (*fn)(double)) {
    Var x, radians;
    Var factor = Var::r8(kDegree);
    HRESULT hr;
    double rad = 0.0, value;
    if (FAILED(hr = read(arg, x))) return hr;
    if (FAILED(hr = checkedVar(radians, [&](VARIANT* o) { return varMul(x.get(), factor.get(), o); }))) return hr;
    if (FAILED(hr = toDouble(radians, &rad))) return hr;
    if (FAILED(hr = checked(value, [&] { return fn(rad); }))) return hr;
    return giveDouble(value, result);
}
double sine(double x) { return elementary::sin(x); }
double cosine(double x) { return elementary::cos(x); }

} // namespace

HRESULT Sign(const VARIANT& arg, VARIANT* result) {
    Var x;
    HRESULT hr;
    Order order;
    if (FAILED(hr = read(arg, x))) return hr;
    if (FAILED(hr = compare(x, Var::i2(0), order))) return hr;
    SHORT sign = 1;
    if (order != Order::Equal) {
        double d = 0.0;
        if (FAILED(hr = toDouble(x, &d))) return hr;
        if (std::isnan(d)) return errors::raiseRuntimeFailure(E_INVALIDARG);
        sign = d < 0.0 ? -1 : 1;
    }
    *result = Var::i2(sign).detach();
    return S_OK;
}

HRESULT SinDeg(const VARIANT& degrees, VARIANT* result) { return trig(degrees, result, sine); }
HRESULT CosDeg(const VARIANT& degrees, VARIANT* result) { return trig(degrees, result, cosine); }

HRESULT CalcAngle(const VARIANT& adj, const VARIANT& opp, VARIANT* result) {
    return trapped([&] { return calcAngleBody(adj, opp, result); }, L"Error in CalcAngle, adj=",
                   {{nullptr, &adj}, {L", opp=", &opp}});
}

HRESULT ArcCosDeg(const VARIANT& x, VARIANT* result) {
    return trapped([&] { return inverseCosine(x, result); }, L"Error in ArcCosDeg, x=", {{nullptr, &x}});
}

HRESULT ArcSinDeg(const VARIANT& x, VARIANT* result) {
    return trapped([&] { return inverseCosine(x, result); }, L"Error in ArcSinDeg, x=", {{nullptr, &x}});
}

HRESULT OldCalcAngle(_PlugIn* self, const VARIANT& x, const VARIANT& y, VARIANT* result) {
    // The message names CalcAngle, not OldCalcAngle: OldCalcAngle is the earlier version
    // of CalcAngle and kept its report text. Users and scripts match on that text.
    return trapped([&] { return oldCalcAngleBody(self, x, y, result); }, L"Error in CalcAngle, x=",
                   {{nullptr, &x}, {L", y=", &y}});
}

} // namespace anglemath
