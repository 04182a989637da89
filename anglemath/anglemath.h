// The public numeric members of PlugIn. Arguments are the caller's variants (read, never
// changed); results are written to `result`. On failure the error is raised (thread
// error information set) and its number returned.
#pragma once

#include <windows.h>
#include <oleauto.h>

struct _PlugIn;

namespace anglemath {

// Stored exactly as written: the double nearest each decimal, not nearest pi/180 or pi.
constexpr double kDegree = 0.0174532925199433;
constexpr double kPi = 3.14159265358979;
constexpr double kNearZero = 0.0001;

HRESULT Sign(const VARIANT& x, VARIANT* result);
HRESULT SinDeg(const VARIANT& degrees, VARIANT* result);
HRESULT CosDeg(const VARIANT& degrees, VARIANT* result);
HRESULT CalcAngle(const VARIANT& adj, const VARIANT& opp, VARIANT* result);
HRESULT ArcCosDeg(const VARIANT& x, VARIANT* result);
HRESULT ArcSinDeg(const VARIANT& x, VARIANT* result);
// Calls ArcCosDeg through `self`, the object's own interface.
HRESULT OldCalcAngle(_PlugIn* self, const VARIANT& x, const VARIANT& y, VARIANT* result);

} // namespace anglemath
