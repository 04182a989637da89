// The calibration panel's window class and the identifiers of its controls, shared
// with the tests and the host driver, which read the panel as a person sees it.
#pragma once

#define BRASTOW_PANEL_CLASS L"BrastowCalibrationPanel"
#define BRASTOW_PANEL_CAPTION L"Brastow calibration"

enum {
    IDC_PANEL_STEP = 101,  // what is happening, what to do now
    IDC_PANEL_HINT = 102,  // the line under it
    IDC_PANEL_CHECK = 103, // the check of the solution, under the picture
    IDC_PANEL_STOP = 104,  // the Stop button
};

// The colours of the picture's X and Y moves and of the progress marks of measured
// positions (the tests find them in the panel's drawing).
#define BRASTOW_PANEL_X_COLOUR RGB(214, 48, 32)
#define BRASTOW_PANEL_Y_COLOUR RGB(24, 96, 208)
#define BRASTOW_PANEL_DONE_COLOUR RGB(40, 150, 60)
