// Sign, sine, cosine, direction angle and inverse cosine in degrees, computed with the
// automation runtime's own variant arithmetic so that the number type of each step
// (16-bit integer, single, double) follows the variant rules.
#include "anglemath/anglemath.h"
#include "anglemath/crtmath.h"
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

// One variant operation with the floating-point status checked afterwards.
template <class Op>
HRESULT step(Op op, Var& out) {
    FpStatus::clear();
    HRESULT hr = op(out.put());
    if (FAILED(hr)) return errors::raiseRuntimeFailure(hr);
    double probe = 0.0;
    if (out.vt() == VT_R8) probe = out.get()->dblVal;
    else if (out.vt() == VT_R4) probe = out.get()->fltVal;
    return FpStatus::check(probe);
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

// Comparison of two variants with the runtime's rules, as a comparison in code reads
// it: text compared with a number is read as a number, and a single compared with a
// double is compared at its exact value (Wine's VarCmp rounds the double to single).
// A comparison with Null has no answer: Brastow treats it as the type mismatch it is
// rather than guessing a branch.
HRESULT compare(const Var& left, const Var& right, HRESULT* order) {
    Var a(left), b(right);
    for (Var* side : {&a, &b}) {
        Var* other = side == &a ? &b : &a;
        HRESULT hr = S_OK;
        if (side->vt() == VT_BSTR && isNumber(other->vt())) hr = side->changeTo(VT_R8);
        else if (side->vt() == VT_R4 && other->vt() == VT_R8) hr = side->changeTo(VT_R8);
        if (FAILED(hr)) return errors::raiseRuntimeFailure(hr);
    }
    HRESULT r = VarCmp(a.get(), b.get(), LOCALE_USER_DEFAULT, 0);
    if (FAILED(r)) return errors::raiseRuntimeFailure(r);
    if (r == static_cast<HRESULT>(VARCMP_NULL)) return errors::raiseRuntimeFailure(DISP_E_TYPEMISMATCH);
    *order = r;
    return S_OK;
}

// Absolute value with the runtime's rules. Text is read as a double first, which is
// what the runtime's Abs does to text (Wine's VarAbs returns a wrong value for it).
HRESULT absolute(const Var& x, Var& out) {
    Var in(x);
    if (in.vt() == VT_BSTR) {
        HRESULT hr = in.changeTo(VT_R8);
        if (FAILED(hr)) return errors::raiseRuntimeFailure(hr);
    }
    return step([&](VARIANT* o) { return VarAbs(in.get(), o); }, out);
}

// -x * x + 1 by variant arithmetic: the discriminant of the inverse cosine.
HRESULT discriminant(const Var& x, Var& d) {
    Var neg, prod;
    Var one = Var::i2(1);
    HRESULT hr;
    if (FAILED(hr = step([&](VARIANT* o) { return VarNeg(const_cast<VARIANT*>(x.get()), o); }, neg))) return hr;
    if (FAILED(hr = step([&](VARIANT* o) { return VarMul(neg.get(), const_cast<VARIANT*>(x.get()), o); }, prod))) return hr;
    return step([&](VARIANT* o) { return VarAdd(prod.get(), one.get(), o); }, d);
}

// The body shared by ArcCosDeg and ArcSinDeg.
HRESULT inverseCosine(const VARIANT& arg, VARIANT* result) {
    Var x, d;
    HRESULT hr, order = 0;
    if (FAILED(hr = read(arg, x))) return hr;
    if (FAILED(hr = discriminant(x, d))) return hr;
    if (FAILED(hr = compare(d, Var::i2(0), &order))) return hr;
    if (order != static_cast<HRESULT>(VARCMP_GT)) {
        // No inverse cosine outside the open domain: the fixed value 180.
        Var r = Var::i2(180);
        *result = r.detach();
        return S_OK;
    }
    FpStatus::clear();
    const double rightAngle = 2.0 * crt::atan(1.0);
    if (FAILED(hr = FpStatus::check(rightAngle))) return hr;

    Var d2, negX, quotient;
    double dd = 0.0, q = 0.0;
    if (FAILED(hr = discriminant(x, d2)) || FAILED(hr = toDouble(d2, &dd))) return hr;
    FpStatus::clear();
    const double s = crt::sqrt(dd);
    if (FAILED(hr = FpStatus::check(s))) return hr;
    Var sv = Var::r8(s);
    if (FAILED(hr = step([&](VARIANT* o) { return VarNeg(x.get(), o); }, negX))) return hr;
    if (FAILED(hr = step([&](VARIANT* o) { return VarDiv(negX.get(), sv.get(), o); }, quotient))) return hr;
    if (FAILED(hr = toDouble(quotient, &q))) return hr;
    FpStatus::clear();
    const double radians = crt::atan(q) + rightAngle;
    if (FAILED(hr = FpStatus::check(radians))) return hr;
    FpStatus::clear();
    const double degrees = radians / kDegree;
    if (FAILED(hr = FpStatus::check(degrees))) return hr;
    Var r = Var::r8(degrees);
    *result = r.detach();
    return S_OK;
}

HRESULT calcAngleBody(const VARIANT& adjArg, const VARIANT& oppArg, VARIANT* result) {
    Var adj, opp;
    HRESULT hr, order = 0;
    if (FAILED(hr = read(adjArg, adj)) || FAILED(hr = read(oppArg, opp))) return hr;

    float angle;  // the working angle in radians, single precision
    Var absAdj;
    if (FAILED(hr = absolute(adj, absAdj))) return hr;
    if (FAILED(hr = compare(absAdj, Var::r8(kNearZero), &order))) return hr;
    if (order == static_cast<HRESULT>(VARCMP_LT)) {
        // Near zero: no division by adj, the right angle.
        FpStatus::clear();
        angle = static_cast<float>(kPi / 2.0);
        if (FAILED(hr = FpStatus::check(angle))) return hr;
    } else {
        Var quotient;
        double q = 0.0;
        if (FAILED(hr = step([&](VARIANT* o) { return VarDiv(opp.get(), adj.get(), o); }, quotient))) return hr;
        if (FAILED(hr = toDouble(quotient, &q))) return hr;
        FpStatus::clear();
        angle = static_cast<float>(std::fabs(crt::atan(q)));
        if (FAILED(hr = FpStatus::check(angle))) return hr;
    }
    if (FAILED(hr = compare(adj, Var::i2(0), &order))) return hr;
    if (order == static_cast<HRESULT>(VARCMP_LT)) {
        FpStatus::clear();
        angle = static_cast<float>(kPi - static_cast<double>(angle));
        if (FAILED(hr = FpStatus::check(angle))) return hr;
    }
    if (FAILED(hr = compare(opp, Var::i2(0), &order))) return hr;
    if (order == static_cast<HRESULT>(VARCMP_GT)) {
        FpStatus::clear();
        angle = -angle;
        if (FAILED(hr = FpStatus::check(angle))) return hr;
    }
    FpStatus::clear();
    const double degrees = static_cast<double>(angle) / kDegree;
    if (FAILED(hr = FpStatus::check(degrees))) return hr;
    Var r = Var::r8(degrees);
    *result = r.detach();
    return S_OK;
}

HRESULT oldCalcAngleBody(_PlugIn* self, const VARIANT& xArg, const VARIANT& yArg, VARIANT* result) {
    Var x, y, xx, yy, sum;
    HRESULT hr, order = 0;
    if (FAILED(hr = read(xArg, x)) || FAILED(hr = read(yArg, y))) return hr;
    if (FAILED(hr = step([&](VARIANT* o) { return VarMul(x.get(), x.get(), o); }, xx))) return hr;
    if (FAILED(hr = step([&](VARIANT* o) { return VarMul(y.get(), y.get(), o); }, yy))) return hr;
    if (FAILED(hr = step([&](VARIANT* o) { return VarAdd(xx.get(), yy.get(), o); }, sum))) return hr;
    double s = 0.0;
    if (FAILED(hr = toDouble(sum, &s))) return hr;
    FpStatus::clear();
    const double r = crt::sqrt(s);
    if (FAILED(hr = FpStatus::check(r))) return hr;

    Var angle;
    if (r > 0.0) {
        Var rv = Var::r8(r), cosine;
        if (FAILED(hr = step([&](VARIANT* o) { return VarDiv(y.get(), rv.get(), o); }, cosine))) return hr;
        // Through the object's own interface, like any client; its failure is ours.
        hr = self->ArcCosDeg(cosine.get(), angle.put());
        if (FAILED(hr)) return hr;
    } else {
        angle = Var::i2(0);
    }
    if (FAILED(hr = compare(x, Var::i2(0), &order))) return hr;
    if (order == static_cast<HRESULT>(VARCMP_LT)) {
        Var zero = Var::i2(0), negated;
        if (FAILED(hr = step([&](VARIANT* o) { return VarSub(zero.get(), angle.get(), o); }, negated))) return hr;
        angle = negated;
    }
    *result = angle.detach();
    return S_OK;
}

} // namespace

HRESULT Sign(const VARIANT& arg, VARIANT* result) {
    Var x;
    HRESULT hr, order = 0;
    if (FAILED(hr = read(arg, x))) return hr;
    if (FAILED(hr = compare(x, Var::i2(0), &order))) return hr;
    SHORT sign = 1;
    if (order != static_cast<HRESULT>(VARCMP_EQ)) {
        double d = 0.0;
        if (FAILED(hr = toDouble(x, &d))) return hr;
        if (std::isnan(d)) return errors::raiseRuntimeFailure(E_INVALIDARG);
        sign = d < 0.0 ? -1 : 1;
    }
    Var r = Var::i2(sign);
    *result = r.detach();
    return S_OK;
}

namespace {
HRESULT trig(const VARIANT& arg, VARIANT* result, double (*fn)(double)) {
    Var x, radians;
    Var factor = Var::r8(kDegree);
    HRESULT hr;
    double rad = 0.0;
    if (FAILED(hr = read(arg, x))) return hr;
    if (FAILED(hr = step([&](VARIANT* o) { return VarMul(x.get(), factor.get(), o); }, radians))) return hr;
    if (FAILED(hr = toDouble(radians, &rad))) return hr;
    FpStatus::clear();
    const double value = fn(rad);
    if (FAILED(hr = FpStatus::check(value))) return hr;
    Var r = Var::r8(value);
    *result = r.detach();
    return S_OK;
}
double sine(double x) { return crt::sin(x); }
double cosine(double x) { return crt::cos(x); }
} // namespace

HRESULT SinDeg(const VARIANT& degrees, VARIANT* result) { return trig(degrees, result, sine); }
HRESULT CosDeg(const VARIANT& degrees, VARIANT* result) { return trig(degrees, result, cosine); }

HRESULT CalcAngle(const VARIANT& adj, const VARIANT& opp, VARIANT* result) {
    HRESULT hr = calcAngleBody(adj, opp, result);
    if (FAILED(hr)) {
        const ReportArg args[] = {{nullptr, &adj}, {L", opp=", &opp}};
        return reportAndRaise(hr, L"Error in CalcAngle, adj=", args, 2);
    }
    return hr;
}

HRESULT ArcCosDeg(const VARIANT& x, VARIANT* result) {
    HRESULT hr = inverseCosine(x, result);
    if (FAILED(hr)) {
        const ReportArg args[] = {{nullptr, &x}};
        return reportAndRaise(hr, L"Error in ArcCosDeg, x=", args, 1);
    }
    return hr;
}

HRESULT ArcSinDeg(const VARIANT& x, VARIANT* result) {
    HRESULT hr = inverseCosine(x, result);
    if (FAILED(hr)) {
        const ReportArg args[] = {{nullptr, &x}};
        return reportAndRaise(hr, L"Error in ArcSinDeg, x=", args, 1);
    }
    return hr;
}

HRESULT OldCalcAngle(_PlugIn* self, const VARIANT& x, const VARIANT& y, VARIANT* result) {
    HRESULT hr = oldCalcAngleBody(self, x, y, result);
    if (FAILED(hr)) {
        const ReportArg args[] = {{nullptr, &x}, {L", y=", &y}};
        return reportAndRaise(hr, L"Error in CalcAngle, x=", args, 2);
    }
    return hr;
}

} // namespace anglemath
