// The calibration solution: camera angle, guide speeds and backlash from the five
// sample points, in the single and double precision each value is defined in.
#include "plugin/run.h"
#include "anglemath/crtmath.h"
#include "anglemath/errorreport.h"
#include "server/errors.h"
#include "server/modal.h"
#include "brastow.h"

#include <cmath>

namespace {

using anglemath::FpStatus;
using com::Var;

// One step of the solution's own arithmetic, followed by the floating-point check.
template <class T, class F>
HRESULT compute(T& out, F f) {
    FpStatus::clear();
    out = f();
    return FpStatus::check(static_cast<double>(out));
}

// A division of the solution's own arithmetic: a zero divisor is a division by zero
// whatever the dividend (0 / 0 too, which the processor reports as invalid).
template <class T>
HRESULT quotient(T& out, T dividend, T divisor) {
    if (divisor == 0) return errors::raiseRuntimeFailure(DISP_E_DIVBYZERO);
    return compute(out, [&] { return dividend / divisor; });
}

// A step of variant arithmetic on the math members' results.
template <class F>
HRESULT varStep(Var& out, F f) {
    FpStatus::clear();
    HRESULT hr = f(out.put());
    if (FAILED(hr)) return errors::raiseRuntimeFailure(hr);
    double probe = out.vt() == VT_R8 ? out.get()->dblVal : 0.0;
    return FpStatus::check(probe);
}

HRESULT appendNumber(com::Bstr& text, const Var& value) {
    Var t(value);
    HRESULT hr = t.changeTo(VT_BSTR);
    if (FAILED(hr)) return errors::raiseRuntimeFailure(hr);
    text.append(t.get()->bstrVal, SysStringLen(t.get()->bstrVal));
    return S_OK;
}

} // namespace

HRESULT applySolution(_PlugIn* self, const host::Object& camera, const RunSettings& s, const SamplePoints& p) {
    HRESULT hr;
    const float* X = p.x;
    const float* Y = p.y;
    float dx1, dx2, dy1, dy2, dx3, dx4, dy3, dy4;
    if (FAILED(hr = compute(dx1, [&] { return X[1] - X[0]; })) || FAILED(hr = compute(dx2, [&] { return X[2] - X[1]; })) ||
        FAILED(hr = compute(dy1, [&] { return Y[1] - Y[0]; })) || FAILED(hr = compute(dy2, [&] { return Y[2] - Y[1]; })) ||
        FAILED(hr = compute(dx3, [&] { return X[3] - X[2]; })) || FAILED(hr = compute(dx4, [&] { return X[4] - X[3]; })) ||
        FAILED(hr = compute(dy3, [&] { return Y[3] - Y[2]; })) || FAILED(hr = compute(dy4, [&] { return Y[4] - Y[3]; })))
        return hr;

    // The camera angle from the move in direction 0, through the object's own interface.
    Var adj = Var::r4(dx1), opp = Var::r4(dy1), angleVar;
    if (FAILED(hr = self->CalcAngle(adj.get(), opp.get(), angleVar.put()))) return hr;
    float angle = 0.0f;
    if (FAILED(hr = host::toR4(angleVar, angle))) return hr;

    // Move lengths: squares and sums in single precision, the root in double.
    double d1, d2;
    float d3, d4;
    if (FAILED(hr = compute(d1, [&] { return crt::sqrt(static_cast<double>(dx1 * dx1 + dy1 * dy1)); })) ||
        FAILED(hr = compute(d2, [&] { return crt::sqrt(static_cast<double>(dx2 * dx2 + dy2 * dy2)); })) ||
        FAILED(hr = compute(d3, [&] { return static_cast<float>(crt::sqrt(static_cast<double>(dx3 * dx3 + dy3 * dy3))); })) ||
        FAILED(hr = compute(d4, [&] { return static_cast<float>(crt::sqrt(static_cast<double>(dx4 * dx4 + dy4 * dy4))); })))
        return hr;

    // Backlash (shown only when asked for, always computed): a zero-length move or a
    // calibration time of 0 ends the run here with a division by zero, before any
    // message or write. The inner quotients are the speeds before their signs.
    const float frac = s.backlashFraction;
    double xLost, xSpeedBase, xBacklash;
    float yLost, ySpeedBase, yBacklash;
    if (FAILED(hr = compute(xLost, [&] { return std::fabs(static_cast<double>(frac) * (d1 - d2)); })) ||
        FAILED(hr = quotient(xSpeedBase, d1, static_cast<double>(s.xCalibTime))) ||
        FAILED(hr = quotient(xBacklash, xLost, xSpeedBase)) ||
        FAILED(hr = compute(yLost, [&] { return std::fabs((d3 - d4) * frac); })) ||
        FAILED(hr = quotient(ySpeedBase, d3, s.yCalibTime)) ||
        FAILED(hr = quotient(yBacklash, yLost, ySpeedBase)))
        return hr;

    // Signs: minus Sign(dx1 * CosDeg(angle)) and minus Sign(dx3 * SinDeg(angle)).
    Var angleArg = Var::r4(angle), cosAngle, sinAngle, product, sign, xSign, ySignVar;
    Var dx1Var = Var::r4(dx1), dx3Var = Var::r4(dx3);
    if (FAILED(hr = self->CosDeg(angleArg.get(), cosAngle.put()))) return hr;
    if (FAILED(hr = varStep(product, [&](VARIANT* o) { return VarMul(dx1Var.get(), cosAngle.get(), o); }))) return hr;
    if (FAILED(hr = self->Sign(product.get(), sign.put()))) return hr;
    if (FAILED(hr = varStep(xSign, [&](VARIANT* o) { return VarNeg(sign.get(), o); }))) return hr;
    if (FAILED(hr = self->SinDeg(angleArg.get(), sinAngle.put()))) return hr;
    if (FAILED(hr = varStep(product, [&](VARIANT* o) { return VarMul(dx3Var.get(), sinAngle.get(), o); }))) return hr;
    if (FAILED(hr = self->Sign(product.get(), sign.put()))) return hr;
    if (FAILED(hr = varStep(ySignVar, [&](VARIANT* o) { return VarNeg(sign.get(), o); }))) return hr;
    float ySign = 0.0f;
    if (FAILED(hr = host::toR4(ySignVar, ySign))) return hr;

    // X speed: signed, scaled by the cosine of the declination (a double). Y speed: a single.
    Var base = Var::r8(xSpeedBase), signedBase, decArg = Var::r4(s.declination), cosDec, xSpeedVar;
    if (FAILED(hr = varStep(signedBase, [&](VARIANT* o) { return VarMul(xSign.get(), base.get(), o); }))) return hr;
    if (FAILED(hr = self->CosDeg(decArg.get(), cosDec.put()))) return hr;
    if (FAILED(hr = varStep(xSpeedVar, [&](VARIANT* o) { return VarMul(signedBase.get(), cosDec.get(), o); }))) return hr;
    double xSpeed = 0.0;
    if (FAILED(hr = host::toR8(xSpeedVar, xSpeed))) return hr;
    float ySpeed;
    if (FAILED(hr = compute(ySpeed, [&] { return ySpeedBase * ySign; }))) return hr;

    com::Bstr text(L"CameraAngle=");
    if (FAILED(hr = appendNumber(text, Var::r4(angle)))) return hr;
    text.append(L" xSpeed=");
    if (FAILED(hr = appendNumber(text, Var::r8(xSpeed)))) return hr;
    text.append(L" ySpeed=");
    if (FAILED(hr = appendNumber(text, Var::r4(ySpeed)))) return hr;
    if (FAILED(hr = modal::showMessage(text.c_str()))) return hr;  // the host is closing: nothing written

    // Written in this order once the message is closed; a failed write leaves the
    // ones before it in effect.
    if (FAILED(hr = camera.call(L"GuiderAngle", {*Var::r4(angle).get()}, nullptr))) return hr;
    if (FAILED(hr = camera.call(L"GuiderXSpeed", {*Var::r8(xSpeed).get()}, nullptr))) return hr;
    if (FAILED(hr = camera.call(L"GuiderYSpeed", {*Var::r4(ySpeed).get()}, nullptr))) return hr;

    if (s.correctBacklash) {
        com::Bstr b(L"Calculated settings are: XBacklash=");
        if (FAILED(hr = appendNumber(b, Var::r8(xBacklash)))) return hr;
        b.append(L" YBacklash=");
        if (FAILED(hr = appendNumber(b, Var::r4(yBacklash)))) return hr;
        return modal::showMessage(b.c_str());
    }
    return S_OK;
}
