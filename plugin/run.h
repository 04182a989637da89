// What one calibration run holds between its stages.
#pragma once

#include <windows.h>
#include "plugin/host/host.h"
#include "setup/sample.h"

struct SamplePoints {
    float x[5] = {};
    float y[5] = {};
};

class Panel;

// Runs the five passes of expose, wait, find the guide image, wait for the user's
// click, measure and move, telling the panel each step. S_OK with the points filled;
// S_FALSE when the run is to end silently: the guide image document is missing after an
// exposure, or the user pressed Escape or the panel's Stop (honoured at the next wait).
// A failure raised (E_ABORT when the host's thread is told to quit during a wait).
HRESULT sampleGuideStar(const host::Object& app, const host::Object& camera, const Settings& s,
                        SamplePoints& points, Panel& panel);

struct _PlugIn;
// Turns the points into the camera angle, speeds and backlash; shows them and writes
// angle and speeds to the camera.
HRESULT applySolution(_PlugIn* self, const host::Object& camera, const Settings& s, const SamplePoints& p,
                      Panel& panel);
