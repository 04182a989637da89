// The simulated user's hands for dialogs: a thread timer, which every modal loop on
// the thread dispatches, finds this thread's dialogs and message boxes, reads them,
// fills them in and closes them.
#pragma once

#include <windows.h>
#include <functional>
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

// The setup form's fields, as a user types them.
struct SetupEntry {
    std::wstring xTime = L"20", yTime = L"20", backlashPercent = L"90", exposure = L"2.0", declination = L"0";
    bool backlash = false;
    enum class Close { Ok, Cancel, Escape, CloseBox, Enter } close = Close::Ok;
};
// Types `entry` into the setup form `dlg` and closes it as `entry.close` says.
void fillSetupForm(HWND dlg, const SetupEntry& entry);

} // namespace simuser
