// The simulated observatory's state, inside maximsim.dll.
#pragma once

#include <windows.h>
#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "server/comhelp.h"
#include "sim/simapi.h"
#include "sim/guidewindow.h"

namespace sim {

using com::Var;

enum class ClickState { Idle, Pressed, Released };

struct Failure {
    int nth;
    HRESULT hr;
    std::wstring description;
};

class Observatory {
public:
    static Observatory& get();
    void reset();
    void setSky(const SimSky& s);
    void setDocuments(int pass, const std::vector<std::wstring>& names);
    std::vector<std::wstring> documentNames() const;

    void expose();
    bool running();
    void move(int direction, double duration);

    void userPress();
    void press(const Var& x, const Var& y);
    void release();
    void buttonSeenDown();
    Var measurement(double x, double y);
    SimExpected expect(double xTime, double yTime, double fraction, double declination) const;

    // Counts the call; S_OK, or DISP_E_EXCEPTION with `ex` filled when it is to fail.
    HRESULT enter(const std::wstring& member, EXCEPINFO* ex);

    SimSky sky;
    std::mt19937 rng;
    double starX = 0, starY = 0;    // where the star is now
    double imageX = 0, imageY = 0;  // where it was in the last finished exposure
    std::vector<std::vector<std::wstring>> documents;
    bool documentsForAll = true;
    std::map<size_t, std::pair<Var, Var>> scriptedClicks;
    std::map<size_t, Var> scriptedMeasurements;
    std::vector<Var> declinationReadings;
    bool linkWorks = true, linked = false;
    int exposureMs = 0;
    bool userOn = true;
    int pressDelayMs = 1, holdMs = 1;
    std::map<std::wstring, Failure> failures;
    std::map<std::wstring, Var> answers;  // SimScriptAnswer
    std::map<std::wstring, int> callCounts;
    std::vector<std::wstring> calls;
    std::map<std::wstring, Var> written;
    int pass = -1;
    bool exposing = false;
    DWORD exposureStart = 0;
    int lastDirX = 0, lastDirY = 0;
    ClickState click = ClickState::Idle;
    Var clickX, clickY;
    UINT_PTR pressTimer = 0, releaseTimer = 0;
    LONG liveObjects = 0;
    LARGE_INTEGER releasedAt = {}, readAt = {};
    // A press is reported at least once by the button indicator, however quickly the
    // button comes up again (a real click delivers down and up together).
    bool pressLatched = false;
    // A click left from before each new image (the indicator set, the button up), as a
    // host may report until the user presses again (SimSetStaleClicks).
    bool staleClicks = false;
    int positionReadsWhileDown = 0;  // reads of the click position (52, 53) with the button down
    // Visible mode: the guide image window, owned by the host's main window.
    bool visible = false;
    HWND mainWindow = nullptr;
    bool guideImageClosed = false;
    GuideWindow guideWindow;
    // Where the person is told what is going on (SimOnStatus).
    void (*onStatus)(const wchar_t*) = nullptr;
    void (*onCall)(const wchar_t*) = nullptr;  // each call as it is logged
    void status(const wchar_t* format, ...);
    // The button indicator (51) as the host reports it.
    bool buttonUpReading();
    // The exposure wait as the host sees it (SimExposureWaitLog): 'R' a reading of
    // GuiderRunning while the exposure runs, 'D' the one that finds it done, and
    // between two readings 'y' when the thread's messages were let through (the marker
    // posted at the earlier reading was taken from the queue) or '-' when not; '|'
    // starts each exposure.
    std::wstring exposureWaitLog;
    bool markerPosted = false;
    void logExposureReading(bool running);
    bool readSinceRelease = true;

private:
    Observatory();
    double noise(double amplitude);
    void exposureFinished();
};

} // namespace sim
