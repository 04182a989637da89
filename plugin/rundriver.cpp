#include "plugin/rundriver.h"
#include "plugin/run.h"
#include "setup/sample.h"
#include "server/msgbox.h"

HRESULT runCalibration(_PlugIn* self, Document* doc) {
    // The host's document is held for the call and used for nothing else.
    com::Ptr<Document> heldDocument(doc);
    HRESULT hr;
    host::Object app;
    if (FAILED(hr = host::Object::create(L"MaxIm.Application", app))) return hr;

    SetupForm& form = SetupForm::instance();
    if (FAILED(hr = form.show())) return hr;
    if (!form.DataValid()) return S_OK;  // cancelled: nothing created, nothing shown

    RunSettings s;
    s.xCalibTime = form.GetXCalibTime();
    s.yCalibTime = form.GetYCalibTime();
    s.correctBacklash = form.GetCorrectBacklash();
    s.backlashFraction = form.GetBacklashCorrection();
    s.calibExpTime = form.GetCalibExpTime();
    s.declination = form.GetDeclination();

    host::Object camera;
    if (FAILED(hr = host::Object::create(L"MaxIm.CCDCamera", camera))) return hr;
    if (FAILED(hr = camera.put(L"LinkEnabled", com::Var::boolean(true)))) return hr;
    com::Var v;
    bool linked = false;
    if (FAILED(hr = camera.get(L"LinkEnabled", v)) || FAILED(hr = host::toBool(v, linked))) return hr;
    if (!linked) {
        showMessage(L"Failed to start camera.");
        return S_OK;
    }
    if (FAILED(hr = camera.put(L"DisableAutoShutdown", com::Var::boolean(true)))) return hr;

    // The camera's declination replaces the entered one when it is positive.
    double reading = 0.0;
    if (FAILED(hr = camera.get(L"GuiderDeclination", v)) || FAILED(hr = host::toR8(v, reading))) return hr;
    if (reading > 0.0) {
        if (FAILED(hr = camera.get(L"GuiderDeclination", v)) || FAILED(hr = host::toR4(v, s.declination))) return hr;
    }
    if (s.declination > 80.0f) s.declination = 80.0f;  // no lower limit

    SamplePoints points;
    hr = sampleGuideStar(app, camera, s, points);
    if (hr != S_OK) return SUCCEEDED(hr) ? S_OK : hr;
    return applySolution(self, camera, s, points);
    // The camera stays linked and auto shutdown stays disabled; both host objects
    // are released on the way out.
}
