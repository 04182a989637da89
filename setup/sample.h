// The setup form "Guide star setup": a modal dialog that collects and converts the
// six setup values of a calibration run. One instance per module, kept for its life.
#pragma once

#include <windows.h>

class SetupForm {
public:
    // The module's single instance, created on first use.
    static SetupForm& instance();

    // Shows the form modally and returns once it has closed. Every showing starts
    // with the data-valid flag false: only an OK accepted in this showing sets it.
    // Fails (error raised) only when the window cannot be shown.
    HRESULT show();

    bool DataValid() const { return dataValid_; }
    SHORT GetXCalibTime() const { return xCalibTime_; }
    SHORT GetYCalibTime() const { return yCalibTime_; }
    bool GetCorrectBacklash() const { return correctBacklash_; }
    float GetBacklashCorrection() const { return backlashCorrection_; }
    float GetCalibExpTime() const { return calibExpTime_; }
    float GetDeclination() const { return declination_; }

private:
    SetupForm() = default;
    static SetupForm instance_;
    static INT_PTR CALLBACK dialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp);
    void layout(HWND dlg);
    void accept(HWND dlg);

    SHORT xCalibTime_ = 0, yCalibTime_ = 0;
    bool correctBacklash_ = false;
    float backlashCorrection_ = 0.0f, calibExpTime_ = 0.0f, declination_ = 0.0f;
    bool dataValid_ = false;
};
