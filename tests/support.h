// Shared helpers of the tests that drive the real binaries under Wine.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <functional>
#include <string>
#include <vector>

#include "server/comhelp.h"
#include "brastow.h"

namespace testing_support {

// Path of a file in the build folder (the tests' working directory).
std::wstring buildPath(const wchar_t* name);

com::Ptr<IDispatch> createPlugIn();

// A late-bound call. `args` are in the order a client writes them.
struct CallResult {
    HRESULT hr = E_FAIL;
    com::Var value;
    com::Error error;   // filled from EXCEPINFO when hr is DISP_E_EXCEPTION
    UINT argErr = 0;
};
CallResult invoke(IDispatch* d, DISPID id, WORD flags, std::vector<com::Var> args);
CallResult call(IDispatch* d, const wchar_t* name, std::vector<com::Var> args);
DISPID dispid(IDispatch* d, const wchar_t* name);

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
    std::function<void()> onTick;
    std::vector<std::wstring> texts() const;
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

} // namespace testing_support
