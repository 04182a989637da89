// Control of the simulated host from tests and the host driver. The state lives in
// maximsim.dll, the same module COM loads for "MaxIm.Application" and
// "MaxIm.CCDCamera" in this process.
#pragma once

#include <windows.h>
#include <oleauto.h>

#ifdef MAXIMSIM_BUILD
#define SIM_API extern "C" __declspec(dllexport)
#else
#define SIM_API extern "C" __declspec(dllimport)
#endif

// The simulated truth of the observatory.
struct SimSky {
    double cameraAngle;   // degrees: direction 0 moves the star along (cos a, -sin a) in the image
    double rateX, rateY;  // image pixels per unit of move duration, directions 0 and 2
    double ySense;        // +1 or -1: the side of the X axis to which direction 2 moves
    double backlashX, backlashY;  // units of duration lost when an axis reverses
    double declination;   // what the camera reports, degrees
    double startX, startY;        // star position in the guide image, pixels
    double clickError;    // the simulated user's click error: uniform within +-this, pixels
    double measureError;  // error of the host's centroid: uniform within +-this, pixels
    unsigned seed;
};

// What a correct calibration writes for the current sky and settings.
struct SimExpected {
    double angle, xSpeed, ySpeed, xBacklash, yBacklash;
};

SIM_API void SimReset(void);
SIM_API void SimGetSky(SimSky* sky);
SIM_API void SimSetSky(const SimSky* sky);
SIM_API void SimExpect(double xCalibTime, double yCalibTime, double backlashFraction, double declination,
                       SimExpected* out);

// Documents open in pass `pass` (0-4; -1 for every pass), names separated by '|'.
SIM_API void SimSetDocuments(int pass, const wchar_t* names);
// The raw values the click pixel indicators (52, 53) report in `pass`.
SIM_API void SimScriptClick(int pass, const VARIANT* x, const VARIANT* y);
// The array measurement (70) returns in `pass` (copied).
SIM_API void SimScriptMeasurement(int pass, const VARIANT* result);
// Successive readings of "GuiderDeclination" (after them: the sky's declination).
SIM_API void SimScriptDeclination(const VARIANT* readings, int count);
SIM_API void SimSetLink(BOOL works);
// Exposure length: wall-clock milliseconds, or 0 for exposures that are finished
// when first asked.
SIM_API void SimSetExposureMs(int ms);
// The simulated user: clicks the star `pressDelayMs` after each exposure has finished
// and releases `holdMs` after the host has seen the button down. Off: only real
// mouse input (visible mode) or SimPress/SimRelease click.
SIM_API void SimSetUser(BOOL on, int pressDelayMs, int holdMs);
SIM_API void SimPress(int x, int y);
// On: when each image is ready, the click indicators still report an earlier click at
// pixel (1, 1) with the button up, until the user presses again.
SIM_API void SimSetStaleClicks(BOOL on);
// How often the click position (52, 53) was read while the button was down.
SIM_API int SimPositionReadsWhileDown(void);
// Visible mode: after each exposure the guide image is shown in an "Autoguider Image"
// window owned by `mainWindow`, and mouse clicks on it are the user's clicks.
SIM_API void SimSetVisible(BOOL visible, HWND mainWindow);
SIM_API void SimRelease(void);
// Progress as the person at the observatory is told it ("Exposing 2 of 5", "Click the
// guide star (2 of 5)", ...): each message is passed to `callback` (null: none).
SIM_API void SimOnStatus(void (*callback)(const wchar_t* text));
// Each call of the plug-in, as it is logged and before the host answers it (the text of
// SimCallText), is passed to `callback` (null: none): what the plug-in shows at that
// moment can be read there.
SIM_API void SimOnCall(void (*callback)(const wchar_t* call));
// From now on `member` (the names of SimFailOn, e.g. L"Document.57", L"Camera.GuiderRunning")
// answers `value` (copied) instead of what the observatory answers; it still runs, so the
// observatory's state goes on as usual.
SIM_API void SimScriptAnswer(const wchar_t* member, const VARIANT* value);
// Makes the `nth` call (1-based) of `member` (e.g. L"Camera.GuiderMove",
// L"Document.57", L"Create.MaxIm.CCDCamera") fail with this error.
SIM_API void SimFailOn(const wchar_t* member, int nth, HRESULT hr, const wchar_t* description);

// Every call the plug-in made, in order, as text: L"call Camera.GuiderMove(I2&=0, R4&=20)".
SIM_API int SimCallCount(void);
SIM_API BSTR SimCallText(int index);
SIM_API int SimLiveObjects(void);
// How often `member` was entered (the names of SimFailOn): L"Create.MaxIm.Application"
// counts the application objects made.
SIM_API int SimEntered(const wchar_t* member);
// The last value written through "GuiderAngle", "GuiderXSpeed" or "GuiderYSpeed".
SIM_API BOOL SimWritten(const wchar_t* member, VARIANT* value);
SIM_API void SimStar(double* x, double* y);
// Milliseconds from the last release of the button to the host's first reading of
// the click position after it (-1 when not read yet).
SIM_API double SimReleaseToReadMs(void);
// The exposure wait as the host saw it since the reset: per exposure '|', then 'R' for
// each reading of GuiderRunning while it ran and 'D' for the one that found it done;
// between two readings 'y' when the plug-in let the thread's messages through, '-'
// when it did not.
SIM_API BSTR SimExposureWaitLog(void);
// A document of the host, for the host's call of DoModal (AddRef'd).
SIM_API IDispatch* SimHostDocument(void);
