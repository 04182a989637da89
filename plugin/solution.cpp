// The calibration solution: camera angle, guide speeds and backlash from the five
// sample points, in the single and double precision each value is defined in. The
// stages run in the order of their definition, so a failure surfaces at the first
// step that meets it: differences, angle, lengths, backlash with the speeds before
// their signs, signs, speeds, the report, the writes.
#include "plugin/run.h"
#include "plugin/panel.h"
#include "anglemath/checked.h"
#include "anglemath/elementary.h"
#include "server/errors.h"
#include "server/modal.h"
#include "brastow.h"

#include <cmath>
#include <initializer_list>
#include <utility>

namespace {

using anglemath::checked;
using anglemath::checkedVar;
using anglemath::varMul;
using com::Var;

// A division of the solution's own arithmetic: a zero divisor is a division by zero
// whatever the dividend (0 / 0 too, which the processor reports as invalid).
template <class T>
HRESULT quotient(T& out, T dividend, T divisor) {
    if (divisor == 0) return errors::raiseRuntimeFailure(DISP_E_DIVBYZERO);
    return checked(out, [&] { return dividend / divisor; });
}

// The moves between the five points: 1 and 3 (directions 0 and 2) outgoing, 2 and 4
// their returns. Singles.
struct Moves {
    float dx1, dx2, dy1, dy2, dx3, dx4, dy3, dy4;
};

// The length of each move: squares and their sums in single precision, the root in
// double; d1 and d2 keep the double root, d3 and d4 are stored as singles.
struct Lengths {
    double d1, d2;
    float d3, d4;
};

// What the run shows and writes, each in its precision.
struct Solution {
    float angle;
    double xSpeed;
    float ySpeed;
    double xBacklash;
    float yBacklash;
};

// The speeds before their signs: the outgoing move's length per unit of calibration time.
struct Bases {
    double x = 0.0;
    float y = 0.0f;
};

HRESULT differences(const SamplePoints& p, Moves& m) {
    const float* X = p.x;
    const float* Y = p.y;
    struct Step {
        float* out;
        const float* from;
        int i;
    };
    const Step steps[] = {{&m.dx1, X, 0}, {&m.dx2, X, 1}, {&m.dy1, Y, 0}, {&m.dy2, Y, 1},
                          {&m.dx3, X, 2}, {&m.dx4, X, 3}, {&m.dy3, Y, 2}, {&m.dy4, Y, 3}};
    for (const Step& s : steps) {
        HRESULT hr = checked(*s.out, [&] { return s.from[s.i + 1] - s.from[s.i]; });
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

// The camera angle from the move in direction 0, through the object's own interface.
HRESULT cameraAngle(_PlugIn* self, const Moves& m, float& angle) {
    Var adj = Var::r4(m.dx1), opp = Var::r4(m.dy1), result;
    HRESULT hr = self->CalcAngle(adj.get(), opp.get(), result.put());
    if (FAILED(hr)) return hr;
    return host::toR4(result, angle);
}

// The single-precision sum of squares (the product and sum of two singles stay single).
float squares(float dx, float dy) { return dx * dx + dy * dy; }

HRESULT lengths(const Moves& m, Lengths& l) {
    HRESULT hr;
    if (FAILED(hr = checked(l.d1, [&] { return elementary::sqrt(static_cast<double>(squares(m.dx1, m.dy1))); }))) return hr;
    if (FAILED(hr = checked(l.d2, [&] { return elementary::sqrt(static_cast<double>(squares(m.dx2, m.dy2))); }))) return hr;
    if (FAILED(hr = checked(l.d3, [&] { return static_cast<float>(elementary::sqrt(static_cast<double>(squares(m.dx3, m.dy3)))); })))
        return hr;
    return checked(l.d4, [&] { return static_cast<float>(elementary::sqrt(static_cast<double>(squares(m.dx4, m.dy4)))); });
}

// The speed before its sign of one axis: the outgoing move's length per unit of its
// calibration time (only the outgoing moves, 1 and 3, give the speeds). A calibration
// time of 0 ends the run here with a division by zero, before any message or write.
template <class T, class Time>
HRESULT speedBase(T& base, T length, Time time) {
    return quotient(base, length, static_cast<T>(time));
}

// Backlash (shown only when asked for, always computed): the length lost on the return
// move, times the fraction, in units of calibration time; each axis's speed base comes
// between its lost length and its backlash, so that of two failures on an axis the
// first in that order is the one reported. A zero-length outgoing move ends the run
// here with a division by zero, before any message or write.
HRESULT backlash(const Lengths& l, const Settings& s, Bases& bases, Solution& out) {
    const float frac = s.backlashCorrection;
    double xLost;
    float yLost;
    HRESULT hr;
    if (FAILED(hr = checked(xLost, [&] { return std::fabs(static_cast<double>(frac) * (l.d1 - l.d2)); }))) return hr;
    if (FAILED(hr = speedBase(bases.x, l.d1, s.xCalibTime))) return hr;
    if (FAILED(hr = quotient(out.xBacklash, xLost, bases.x))) return hr;
    if (FAILED(hr = checked(yLost, [&] { return std::fabs((l.d3 - l.d4) * frac); }))) return hr;
    if (FAILED(hr = speedBase(bases.y, l.d3, s.yCalibTime))) return hr;
    return quotient(out.yBacklash, yLost, bases.y);
}

// Minus Sign(d * trig(angle)), with trig CosDeg or SinDeg of the object's own interface.
HRESULT axisSign(_PlugIn* self, HRESULT (STDMETHODCALLTYPE _PlugIn::*trig)(VARIANT*, VARIANT*), float angle, float d,
                 Var& sign) {
    Var angleArg = Var::r4(angle), dVar = Var::r4(d), t, product, s;
    HRESULT hr;
    if (FAILED(hr = (self->*trig)(angleArg.get(), t.put()))) return hr;
    if (FAILED(hr = checkedVar(product, [&](VARIANT* o) { return varMul(dVar.get(), t.get(), o); }))) return hr;
    if (FAILED(hr = self->Sign(product.get(), s.put()))) return hr;
    return checkedVar(sign, [&](VARIANT* o) { return VarNeg(s.get(), o); });
}

// X speed: signed, scaled by the cosine of the declination (a double). Y speed: a
// single, not scaled.
HRESULT speeds(_PlugIn* self, const Moves& m, const Bases& bases, const Settings& s, Solution& out) {
    Var xSign, ySignVar;
    HRESULT hr;
    if (FAILED(hr = axisSign(self, &_PlugIn::CosDeg, out.angle, m.dx1, xSign))) return hr;
    if (FAILED(hr = axisSign(self, &_PlugIn::SinDeg, out.angle, m.dx3, ySignVar))) return hr;
    float ySign = 0.0f;
    if (FAILED(hr = host::toR4(ySignVar, ySign))) return hr;  // held as a single

    Var base = Var::r8(bases.x), signedBase, decArg = Var::r4(s.declination), cosDec, xSpeed;
    if (FAILED(hr = checkedVar(signedBase, [&](VARIANT* o) { return varMul(xSign.get(), base.get(), o); }))) return hr;
    if (FAILED(hr = self->CosDeg(decArg.get(), cosDec.put()))) return hr;
    if (FAILED(hr = checkedVar(xSpeed, [&](VARIANT* o) { return varMul(signedBase.get(), cosDec.get(), o); }))) return hr;
    if (FAILED(hr = host::toR8(xSpeed, out.xSpeed))) return hr;
    return checked(out.ySpeed, [&] { return bases.y * ySign; });
}

// Appends the value in the runtime's general number-to-text form.
HRESULT appendNumber(com::Bstr& text, const Var& value) {
    Var t(value);
    HRESULT hr = t.changeTo(VT_BSTR);
    if (FAILED(hr)) return errors::raiseRuntimeFailure(hr);
    text.append(t.get()->bstrVal, SysStringLen(t.get()->bstrVal));
    return S_OK;
}

// "<label1><value1><label2><value2>...", shown in a message.
HRESULT showValues(std::initializer_list<std::pair<const wchar_t*, Var>> items) {
    com::Bstr text;
    for (const auto& item : items) {
        text.append(item.first);
        HRESULT hr = appendNumber(text, item.second);
        if (FAILED(hr)) return hr;
    }
    return modal::showMessage(text.c_str());
}

// Written in this order once the message is closed; a failed write leaves the ones
// before it in effect.
HRESULT write(const host::Object& camera, const Solution& r) {
    HRESULT hr;
    if (FAILED(hr = camera.call(L"GuiderAngle", {Var::r4(r.angle)}))) return hr;
    if (FAILED(hr = camera.call(L"GuiderXSpeed", {Var::r8(r.xSpeed)}))) return hr;
    return camera.call(L"GuiderYSpeed", {Var::r4(r.ySpeed)});
}

} // namespace

HRESULT applySolution(_PlugIn* self, const host::Object& camera, const Settings& s, const SamplePoints& p,
                      Panel& panel) {
    panel.solving();
    Moves m;
    Lengths l;
    Bases bases;
    Solution r;
    HRESULT hr;
    if (FAILED(hr = differences(p, m))) return hr;
    if (FAILED(hr = cameraAngle(self, m, r.angle))) return hr;
    if (FAILED(hr = lengths(m, l))) return hr;
    if (FAILED(hr = backlash(l, s, bases, r))) return hr;
    if (FAILED(hr = speeds(self, m, bases, s, r))) return hr;
    panel.solved();
    // A host that is closing while the message is open: nothing written.
    if (FAILED(hr = showValues({{L"CameraAngle=", Var::r4(r.angle)}, {L" xSpeed=", Var::r8(r.xSpeed)},
                                {L" ySpeed=", Var::r4(r.ySpeed)}})))
        return hr;
    if (FAILED(hr = write(camera, r))) return hr;
    if (!s.correctBacklash) return S_OK;
    panel.written();
    return showValues({{L"Calculated settings are: XBacklash=", Var::r8(r.xBacklash)}, {L" YBacklash=", Var::r4(r.yBacklash)}});
}
