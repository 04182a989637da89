// The simulated observatory behind the host objects: a guide star on the guide
// camera's image, a mount that moves it, a camera with guider settings, the host's
// documents and click indicators, and a simulated user who clicks the star.
#include "sim/observatory.h"

#include <cmath>
#include <cstdarg>
#include <cwchar>

namespace sim {

namespace {
Observatory* g_obs = nullptr;
const double kPi = 3.14159265358979323846;

void CALLBACK onPressTimer(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    Observatory& o = Observatory::get();
    if (o.pressTimer == id) { o.pressTimer = 0; o.userPress(); }
}
void CALLBACK onReleaseTimer(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    Observatory& o = Observatory::get();
    if (o.releaseTimer == id) { o.releaseTimer = 0; o.release(); }
}
} // namespace

Observatory& Observatory::get() {
    if (!g_obs) g_obs = new Observatory();
    return *g_obs;
}

Observatory::Observatory() { reset(); }

namespace {
// The thread message the exposure wait's log posts at each reading.
constexpr UINT kWaitMarker = WM_APP + 0x3B0;
// Takes the marker if it is still queued: true when it was.
bool takeMarker() {
    MSG m;
    return PeekMessageW(&m, reinterpret_cast<HWND>(-1), kWaitMarker, kWaitMarker, PM_REMOVE) != FALSE;
}
} // namespace

void Observatory::reset() {
    if (pressTimer) KillTimer(nullptr, pressTimer);
    if (releaseTimer) KillTimer(nullptr, releaseTimer);
    pressTimer = releaseTimer = 0;
    sky = SimSky{30.0, 2.0, 2.0, 1.0, 0.0, 0.0, 0.0, 320.0, 240.0, 0.0, 0.0, 1u};
    rng.seed(sky.seed);
    starX = sky.startX;
    starY = sky.startY;
    imageX = starX;
    imageY = starY;
    documents.assign(1, std::vector<std::wstring>{L"Autoguider Image"});
    documentsForAll = true;
    scriptedClicks.clear();
    scriptedMeasurements.clear();
    declinationReadings.clear();
    linkWorks = true;
    linked = false;
    exposureMs = 0;
    userOn = true;
    pressDelayMs = 1;
    holdMs = 1;
    failures.clear();
    answers.clear();
    callCounts.clear();
    calls.clear();
    written.clear();
    pass = -1;
    exposing = false;
    lastDirX = 0;
    lastDirY = 0;
    click = ClickState::Idle;
    clickX = Var::i2(0);
    clickY = Var::i2(0);
    pressLatched = false;
    staleClicks = false;
    positionReadsWhileDown = 0;
    guideImageClosed = false;
    exposureWaitLog.clear();
    takeMarker();
    markerPosted = false;
}

void Observatory::status(const wchar_t* format, ...) {
    if (!onStatus) return;
    wchar_t text[256];
    va_list args;
    va_start(args, format);
    _vsnwprintf(text, ARRAYSIZE(text) - 1, format, args);
    va_end(args);
    text[ARRAYSIZE(text) - 1] = 0;
    onStatus(text);
}

void Observatory::setSky(const SimSky& s) {
    sky = s;
    rng.seed(sky.seed);
    starX = imageX = sky.startX;
    starY = imageY = sky.startY;
}

double Observatory::noise(double amplitude) {
    if (amplitude <= 0.0) return 0.0;
    std::uniform_real_distribution<double> d(-amplitude, amplitude);
    return d(rng);
}

std::vector<std::wstring> Observatory::documentNames() const {
    if (documents.empty()) return {};
    std::vector<std::wstring> names;
    if (documentsForAll || pass < 0) names = documents[0];
    else {
        size_t p = static_cast<size_t>(pass);
        names = p < documents.size() ? documents[p] : documents.back();
    }
    if (guideImageClosed)
        names.erase(std::remove(names.begin(), names.end(), std::wstring(L"Autoguider Image")), names.end());
    return names;
}

void Observatory::setDocuments(int forPass, const std::vector<std::wstring>& names) {
    if (forPass < 0) {
        documents.assign(1, names);
        documentsForAll = true;
        return;
    }
    if (documentsForAll) {
        std::vector<std::wstring> all = documents.empty() ? std::vector<std::wstring>{} : documents[0];
        documents.assign(5, all);
        documentsForAll = false;
    }
    if (static_cast<size_t>(forPass) >= documents.size()) documents.resize(static_cast<size_t>(forPass) + 1, names);
    documents[static_cast<size_t>(forPass)] = names;
}

// ---- the camera ---------------------------------------------------------------------

void Observatory::expose() {
    ++pass;
    exposureWaitLog += L'|';
    takeMarker();
    markerPosted = false;
    exposing = true;
    exposureStart = GetTickCount();
    click = ClickState::Idle;
    pressLatched = false;
    if (pressTimer) { KillTimer(nullptr, pressTimer); pressTimer = 0; }
    if (releaseTimer) { KillTimer(nullptr, releaseTimer); releaseTimer = 0; }
    status(L"Exposing %d of 5", pass + 1);
}

bool Observatory::running() {
    if (!exposing) return false;
    if (exposureMs > 0 && GetTickCount() - exposureStart < static_cast<DWORD>(exposureMs)) {
        logExposureReading(true);
        return true;
    }
    logExposureReading(false);
    exposureFinished();
    return false;
}

void Observatory::logExposureReading(bool stillRunning) {
    if (markerPosted) exposureWaitLog += takeMarker() ? L'-' : L'y';
    markerPosted = false;
    exposureWaitLog += stillRunning ? L'R' : L'D';
    if (stillRunning) markerPosted = PostThreadMessageW(GetCurrentThreadId(), kWaitMarker, 0, 0) != FALSE;
}

void Observatory::exposureFinished() {
    exposing = false;
    imageX = starX;
    imageY = starY;
    if (visible && !guideImageClosed) guideWindow.show(mainWindow, imageX, imageY, pass);
    if (staleClicks) {  // the indicators still show an old click at pixel (1, 1)
        click = ClickState::Released;
        clickX = Var::i2(1);
        clickY = Var::i2(1);
    }
    status(L"Click the guide star (%d of 5)", pass + 1);
    if (userOn) pressTimer = SetTimer(nullptr, 0, static_cast<UINT>(pressDelayMs > 0 ? pressDelayMs : 1), onPressTimer);
}

void Observatory::move(int direction, double duration) {
    // Backlash: a reversal on an axis loses its first part of the move.
    double effective = duration;
    int axisSign = (direction == 0 || direction == 2) ? 1 : -1;
    int& last = direction < 2 ? lastDirX : lastDirY;
    double backlash = direction < 2 ? sky.backlashX : sky.backlashY;
    if (last != 0 && last != axisSign) effective = std::max(0.0, duration - backlash);
    last = axisSign;
    const double a = sky.cameraAngle * kPi / 180.0;
    double ux, uy, length;
    if (direction < 2) {
        ux = std::cos(a);
        uy = -std::sin(a);
        length = sky.rateX * effective;
    } else {
        ux = sky.ySense * std::sin(a);
        uy = sky.ySense * std::cos(a);
        length = sky.rateY * effective;
    }
    starX += axisSign * length * ux;
    starY += axisSign * length * uy;
}

// ---- the user's click -----------------------------------------------------------------

void Observatory::userPress() {
    size_t p = static_cast<size_t>(pass < 0 ? 0 : pass);
    auto it = scriptedClicks.find(p);
    if (it != scriptedClicks.end()) {
        press(it->second.first, it->second.second);
        return;
    }
    press(Var::i2(static_cast<SHORT>(std::lround(imageX + noise(sky.clickError)))),
          Var::i2(static_cast<SHORT>(std::lround(imageY + noise(sky.clickError)))));
}

void Observatory::press(const Var& x, const Var& y) {
    if (exposing) return;  // no image to click yet
    clickX = x;
    clickY = y;
    click = ClickState::Pressed;
    pressLatched = true;
    Var px(x), py(y);
    if (SUCCEEDED(px.changeTo(VT_R8)) && SUCCEEDED(py.changeTo(VT_R8)))
        guideWindow.markClick(px.get()->dblVal, py.get()->dblVal);
}

bool Observatory::buttonUpReading() {
    if (pressLatched) {
        pressLatched = false;
        buttonSeenDown();
        return false;
    }
    if (click == ClickState::Pressed) buttonSeenDown();
    return click != ClickState::Pressed;
}

void Observatory::release() {
    if (click == ClickState::Pressed) {
        QueryPerformanceCounter(&releasedAt);
        readSinceRelease = false;
        click = ClickState::Released;
    }
}

void Observatory::buttonSeenDown() {
    if (userOn && click == ClickState::Pressed && !releaseTimer)
        releaseTimer = SetTimer(nullptr, 0, static_cast<UINT>(holdMs > 0 ? holdMs : 1), onReleaseTimer);
}

Var Observatory::measurement(double x, double y) {
    size_t p = static_cast<size_t>(pass < 0 ? 0 : pass);
    auto it = scriptedMeasurements.find(p);
    if (it != scriptedMeasurements.end()) return it->second;
    // The centroid of the star when the click is on it; else the clicked pixel.
    double mx = x, my = y;
    if (std::hypot(imageX - x, imageY - y) <= 8.0) {
        mx = imageX + noise(sky.measureError);
        my = imageY + noise(sky.measureError);
    }
    SAFEARRAY* sa = SafeArrayCreateVector(VT_VARIANT, 0, 11);
    if (!sa) return Var();
    const double values[11] = {1000.0, 40000.0, 120.0, 12.0, 2.5, 3.1, mx, my, 0.0, 0.0, 25.0};
    for (LONG i = 0; i < 11; ++i) {
        Var v = Var::r8(values[i]);
        SafeArrayPutElement(sa, &i, v.get());
    }
    guideWindow.markMeasured(mx, my);
    if (pass < 4) status(L"Star measured at (%.2f, %.2f) (%d of 5)", mx, my, pass + 1);
    else status(L"Star measured at (%.2f, %.2f) (5 of 5): all positions taken, read the results", mx, my);
    Var r;
    r.ref().vt = VT_ARRAY | VT_VARIANT;
    r.ref().parray = sa;
    return r;
}

SimExpected Observatory::expect(double xTime, double yTime, double fraction, double declination) const {
    SimExpected e{};
    const double a = sky.cameraAngle * kPi / 180.0;
    double dec = declination > 80.0 ? 80.0 : declination;
    e.angle = sky.cameraAngle;
    e.xSpeed = -sky.rateX * std::cos(dec * kPi / 180.0);
    const double dx3 = sky.ySense * std::sin(a);
    e.ySpeed = -(dx3 * std::sin(a) < 0.0 ? -1.0 : 1.0) * sky.rateY;
    e.xBacklash = std::fabs(fraction) * std::min(sky.backlashX, xTime);
    e.yBacklash = std::fabs(fraction) * std::min(sky.backlashY, yTime);
    return e;
}

// ---- calls, failures and the log -------------------------------------------------------

HRESULT Observatory::enter(const std::wstring& member, EXCEPINFO* ex) {
    int n = ++callCounts[member];
    auto it = failures.find(member);
    if (it == failures.end() || it->second.nth != n) return S_OK;
    if (ex) {
        ZeroMemory(ex, sizeof(*ex));
        ex->scode = it->second.hr;
        ex->bstrSource = SysAllocString(L"MaxIm DL (simulated)");
        ex->bstrDescription = SysAllocString(it->second.description.c_str());
        ex->bstrHelpFile = SysAllocString(L"MaxIm DL.chm");
        ex->dwHelpContext = 4711;
    }
    return DISP_E_EXCEPTION;
}

} // namespace sim
