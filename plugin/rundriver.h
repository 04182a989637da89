#pragma once
#include <windows.h>
#include "brastow.h"

// One calibration run, from the setup form to the values written to the camera.
// `self` is the plug-in's own interface, through which the run calls the numeric
// members. Failures are raised as automation errors and returned unchanged.
HRESULT runCalibration(_PlugIn* self, Document* doc);
