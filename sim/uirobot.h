// The simulated user's hands for dialogs: a thread timer, which every modal loop on
// the thread dispatches, finds this thread's dialogs and message boxes, reads them,
// fills them in and closes them.
#pragma once

#include <windows.h>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace simuser {

// One window the robot saw: a message box or another dialog of this thread.
struct SeenBox {
    std::wstring caption, text;
    bool hasIcon = false;
    int buttons = 0;       // visible push buttons
    bool hasCancel = false;
};

// Watches this thread's dialogs from a thread timer, which every modal loop on the
// thread dispatches: message boxes are recorded and closed with OK; other dialogs go
// to `onDialog` (return true once handled, or false to look again on the next tick).
class UiRobot {
public:
    UiRobot();
    ~UiRobot();
    std::vector<SeenBox> boxes;
    std::function<bool(HWND)> onDialog;
    // False: message boxes are only read, and left for a person to close.
    bool closeBoxes = true;
    std::function<void()> onTick;
    std::vector<std::wstring> texts() const;
    // Stops looking (the timer is killed); safe from inside a callback.
    void stop();
private:
    static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD);
    void scan();
    UINT_PTR timer_ = 0;
    std::vector<HWND> done_;
};

// Prevents message boxes from being created at all on this thread (for sweeps);
// counts how many were asked for.
class MessageBoxBlocker {
public:
    MessageBoxBlocker();
    ~MessageBoxBlocker();
    static int blocked();
private:
    HHOOK hook_ = nullptr;
};

std::wstring textOf(HWND w);

// The user's decimal separator and digit-grouping separator (first characters).
wchar_t decimalSeparator();
wchar_t groupSeparator();
// A number written with "." as its decimal point ("2.5"), as a user of this locale
// types it ("2,5" in German and French).
std::wstring local(const wchar_t* number);

// The setup form's fields, as a user types them. A field left unset keeps the text the
// form shows (its initial text).
struct SetupEntry {
    std::optional<std::wstring> xTime, yTime, backlashPercent, exposure, declination;
    bool backlash = false;
    enum class Close { Ok, Cancel, Escape, CloseBox, Enter } close = Close::Ok;
};
// Types `entry` into the setup form `dlg` and closes it as `entry.close` says.
void fillSetupForm(HWND dlg, const SetupEntry& entry);

// The texts of the setup form's fields and its check box.
struct SetupTexts {
    std::wstring xTime, yTime, backlashPercent, exposure, declination;
    bool backlash = false;
};
SetupTexts readSetupForm(HWND dlg);

// Calls `onOk` with the setup form and its texts whenever OK is pressed on it on this
// thread (click, Enter or Alt+O), just before the form reads its fields: what the
// form converts is exactly what `onOk` sees. One watcher at a time.
class OkWatcher {
public:
    explicit OkWatcher(std::function<void(HWND, const SetupTexts&)> onOk);
    ~OkWatcher();
    OkWatcher(const OkWatcher&) = delete;
    OkWatcher& operator=(const OkWatcher&) = delete;
private:
    static LRESULT CALLBACK hook(int code, WPARAM wp, LPARAM lp);
    HHOOK hook_ = nullptr;
    std::function<void(HWND, const SetupTexts&)> onOk_;
};

// Brastow's calibration panel on this thread (null: none), and what it shows.
HWND findPanel();
struct PanelTexts {
    std::wstring step, hint, check;
    bool stopShown = false;
};
PanelTexts readPanel(HWND panel);

} // namespace simuser
