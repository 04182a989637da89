#include "plugin/rundriver.h"
#include "plugin/run.h"
#include "plugin/panel.h"
#include "setup/sample.h"
#include "server/errors.h"
#include "server/modal.h"

namespace {

// One calibration at a time in the process. While a run waits it lets the host's
// windows work, so the user can start the plug-in again from the host's menu, and a
// host may run plug-ins in several apartments: a second run would move the same mount
// in the middle of the first one's passes and spoil both.
volatile LONG g_calibrating = 0;

class CalibrationGuard {
public:
    CalibrationGuard() : held_(InterlockedCompareExchange(&g_calibrating, 1, 0) == 0) {}
    ~CalibrationGuard() { if (held_) InterlockedExchange(&g_calibrating, 0); }
    CalibrationGuard(const CalibrationGuard&) = delete;
    CalibrationGuard& operator=(const CalibrationGuard&) = delete;
    bool held() const { return held_; }
private:
    bool held_;
};

} // namespace

HRESULT runCalibration(_PlugIn* self, Document* doc) {
    CalibrationGuard guard;
    if (!guard.held()) return errors::raise(errors::kCalibrationRunning, L"A calibration is already running");

    // The host's document is held for the call and used for nothing else.
    com::Ptr<Document> heldDocument(doc);
    HRESULT hr;
    host::Object app;
    if (FAILED(hr = host::Object::create(L"MaxIm.Application", app))) return hr;

    SetupOutcome form;
    if (FAILED(hr = SetupForm::instance().show(form))) return hr;
    if (!form.DataValid()) return S_OK;  // cancelled: nothing created, nothing shown

    // The run's settings: the form's, the declination settled below.
    Settings s = form.settings();
    // What the run does, shown from here until it returns by any path.
    Panel panel(s);

    host::Object camera;
    if (FAILED(hr = host::Object::create(L"MaxIm.CCDCamera", camera))) return hr;
    if (FAILED(hr = camera.put(L"LinkEnabled", com::Var::boolean(true)))) return hr;
    bool linked = false;
    if (FAILED(hr = camera.getBool(L"LinkEnabled", linked))) return hr;
    if (!linked) {
        panel.ending();
        return modal::showMessage(L"Failed to start camera.");
    }
    if (FAILED(hr = camera.put(L"DisableAutoShutdown", com::Var::boolean(true)))) return hr;

    // The camera's declination replaces the entered one when it is positive. It is read
    // twice on purpose, as the host contract has it: the first reading (a double) only
    // decides, the second (a single) is the value, so a host whose reading changes in
    // between gives the second. Hosts may count the reads: keep both.
    double reading = 0.0;
    if (FAILED(hr = camera.getR8(L"GuiderDeclination", reading))) return hr;
    if (reading > 0.0) {
        if (FAILED(hr = camera.getR4(L"GuiderDeclination", s.declination))) return hr;
    }
    if (s.declination > 80.0f) s.declination = 80.0f;  // no lower limit

    // The camera stays linked and auto shutdown stays disabled; both host objects are
    // released on the way out.
    SamplePoints points;
    hr = sampleGuideStar(app, camera, s, points, panel);
    // S_FALSE: the run ended early and silently (no guide image, Escape, Stop).
    if (hr != S_OK) return SUCCEEDED(hr) ? S_OK : hr;
    return applySolution(self, camera, s, points, panel);
}
