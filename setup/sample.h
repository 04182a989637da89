// The setup form "Guide star setup": a modal dialog that collects and converts the
// six setup values of a calibration run. One instance per module, kept for its life.
#pragma once

#include <windows.h>

// The six setup values, as the form converts them and the run reads them.
struct Settings {
    SHORT xCalibTime = 0, yCalibTime = 0;  // durations of the X and Y moves
    bool correctBacklash = false;          // show the backlash
    float backlashCorrection = 0.0f;       // the entered percentage / 100
    float calibExpTime = 0.0f;             // seconds
    float declination = 0.0f;              // degrees
};

// What one showing of the form produced: the data-valid flag and the six values. It
// belongs to the run that showed the form, so that two showings (a run entered again
// from a window message, or runs in two apartments) never read each other's outcome.
class SetupOutcome {
public:
    bool DataValid() const { return dataValid_; }
    const Settings& settings() const { return settings_; }
    SHORT GetXCalibTime() const { return settings_.xCalibTime; }
    SHORT GetYCalibTime() const { return settings_.yCalibTime; }
    bool GetCorrectBacklash() const { return settings_.correctBacklash; }
    float GetBacklashCorrection() const { return settings_.backlashCorrection; }
    float GetCalibExpTime() const { return settings_.calibExpTime; }
    float GetDeclination() const { return settings_.declination; }

private:
    friend class SetupForm;
    Settings settings_;
    bool dataValid_ = false;
};

class SetupForm {
public:
    // The module's single instance, created on first use.
    static SetupForm& instance();

    // Shows the form modally and returns once it has closed. The showing starts by
    // clearing `outcome`'s data-valid flag: only an OK accepted in this showing sets it.
    // An accepted OK stores the six values in `outcome` one by one (a refused OK keeps
    // those stored before the faulty field). Fails (error raised) when the window cannot
    // be shown, and with E_ABORT when the thread is told to quit while the form is open.
    HRESULT show(SetupOutcome& outcome);

private:
    SetupForm() = default;
    static SetupForm instance_;
    static INT_PTR CALLBACK dialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp);
    static void layout(HWND dlg);
    static void accept(HWND dlg, SetupOutcome& outcome);
};
