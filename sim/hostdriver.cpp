// Plays the imaging host's part against the simulated observatory: creates
// Brastow.PlugIn by its ProgID, reads Name, and calls DoModal with a document, while
// the simulated user fills in the setup form, clicks the star after each exposure and
// reads and closes the messages. Prints what a user would see, what was written to the
// camera, and the simulated truth for the values the form accepted.
//
//   hostdriver [--angle DEG] [--rate-x PX] [--rate-y PX] [--y-sense 1|-1]
//              [--backlash-x U] [--backlash-y U] [--camera-dec DEG] [--click-error PX]
//              [--measure-error PX] [--seed N] [--x-time T] [--y-time T] [--percent P]
//              [--exposure S] [--dec DEG] [--backlash|--no-backlash] [--cancel]
//              [--exposure-ms MS] [--timeout S] [--visible]
//   hostdriver --decimal-separator   prints the user's decimal separator
// The form's fields are typed as given (as a user of this locale types them: "2,5" in
// German); a field not given keeps the text the form shows. The sky's options are read
// with "." as the decimal point.
// With --visible the host's windows are shown and a person plays the user: fill in
// the setup form, click the star in the "Autoguider Image" window after each exposure,
// close the messages. Without it, a run that does not end within --timeout seconds
// (default 120) is stopped, and a refused entry ends the run, each with a message.
#include <windows.h>
#include <oleauto.h>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "server/comhelp.h"
#include "sim/simapi.h"
#include "sim/uirobot.h"
#include "server/dispids.h"
#include "plugin/panel_ids.h"

namespace {

void print(const wchar_t* format, ...) {
    wchar_t buf[2048];
    va_list args;
    va_start(args, format);
    _vsnwprintf(buf, 2047, format, args);
    va_end(args);
    buf[2047] = 0;
    char out[4096];
    WideCharToMultiByte(CP_UTF8, 0, buf, -1, out, sizeof(out), nullptr, nullptr);
    fputs(out, stdout);
    fflush(stdout);
}

std::wstring text(const VARIANT& v) {
    com::Var t;
    if (FAILED(VariantCopy(t.get(), const_cast<VARIANT*>(&v))) ||
        FAILED(VariantChangeTypeEx(t.get(), t.get(), LOCALE_USER_DEFAULT, 0, VT_BSTR)))
        return L"?";
    const wchar_t* type = v.vt == VT_R4 ? L"single" : v.vt == VT_R8 ? L"double" : L"other";
    return std::wstring(t.get()->bstrVal) + L" (" + type + L")";
}

// A number the form accepted, read back in the user's locale as the form read it.
double accepted(const std::wstring& s, VARTYPE type) {
    com::Var v = com::Var::str(s.c_str());
    if (FAILED(v.changeTo(type)) || FAILED(v.changeTo(VT_R8))) return 0.0;
    return v.get()->dblVal;
}

// The host's main window, which owns the plug-in's windows: the instructions, and a
// status line that tells the person what the observatory is doing.
HWND g_status = nullptr;
const wchar_t* const kInstructions[] = {
    L"MaxIm DL (simulated) with the Brastow plug-in",
    L"1. Fill in the Guide star setup form and press OK.",
    L"2. After each of the five exposures, click the guide star (the brightest) in the Autoguider Image window.",
    L"   A red ring marks your click, a green cross the star as measured. Escape abandons the run.",
    L"3. Read and close the results."};

LRESULT CALLBACK mainWindowProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(w, &ps);
        SetBkMode(dc, TRANSPARENT);
        for (int i = 0; i < static_cast<int>(ARRAYSIZE(kInstructions)); ++i)
            TextOutW(dc, 12, 10 + 20 * i, kInstructions[i], lstrlenW(kInstructions[i]));
        EndPaint(w, &ps);
        return 0;
    }
    return DefWindowProcW(w, msg, wp, lp);
}

HWND createMainWindow() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = mainWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"BrastowSimHost";
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    RegisterClassW(&wc);
    HWND w = CreateWindowExW(0, L"BrastowSimHost", L"MaxIm DL (simulated)", WS_OVERLAPPEDWINDOW, 0, 0, 1024, 740,
                             nullptr, nullptr, wc.hInstance, nullptr);
    if (!w) return nullptr;
    // The status line, in a larger bold face, above the guide image.
    g_status = CreateWindowExW(0, L"Static", L"Waiting for the setup form", WS_CHILD | WS_VISIBLE | SS_LEFT, 12, 112,
                               980, 30, w, nullptr, wc.hInstance, nullptr);
    HFONT bold = CreateFontW(-20, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Tahoma");
    if (g_status && bold) SendMessageW(g_status, WM_SETFONT, reinterpret_cast<WPARAM>(bold), FALSE);
    ShowWindow(w, SW_SHOW);
    UpdateWindow(w);
    SetForegroundWindow(w);
    SetActiveWindow(w);
    return w;
}

void onStatus(const wchar_t* text) {
    if (g_status) SetWindowTextW(g_status, text);
    print(L"  %ls\n", text);
}

// What Brastow's calibration panel shows, printed as it changes (looked at on each
// call of the plug-in and each tick of the simulated user's timer). A panel that is
// ever the active or foreground window is reported: it must never take the user's
// clicks and keys away from the host. In visible mode the Stop button's place is
// printed once, for a person or a script with a real mouse.
struct PanelWatch {
    std::wstring step, check;
    bool activeReported = false, stopPrinted = false, visible = false;
} g_panel;

void watchPanel(const wchar_t* when) {
    HWND panel = simuser::findPanel();
    if (!panel) return;
    simuser::PanelTexts t = simuser::readPanel(panel);
    if (t.step != g_panel.step) print(L"  Brastow: %ls\n", (g_panel.step = t.step).c_str());
    if (!t.check.empty() && t.check != g_panel.check) {
        g_panel.check = t.check;
        std::wstring lines = t.check;
        for (size_t at = 0; (at = lines.find(L'\n', at)) != std::wstring::npos; at += 2) lines.replace(at, 1, L"\n  ");
        print(L"  Brastow: %ls\n", lines.c_str());
    }
    if (!g_panel.activeReported && (GetForegroundWindow() == panel || GetActiveWindow() == panel)) {
        g_panel.activeReported = true;
        print(L"The Brastow panel was the active window at %ls\n", when);
    }
    if (g_panel.visible && !g_panel.stopPrinted && t.stopShown) {
        RECT r;
        GetWindowRect(GetDlgItem(panel, IDC_PANEL_STOP), &r);
        print(L"Brastow panel: Stop button at %ld %ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
        g_panel.stopPrinted = true;
    }
}
std::function<void(const wchar_t*)> g_onCall;
// Any activation of the panel, even one handed back at once.
LRESULT CALLBACK activationHook(int code, WPARAM wp, LPARAM lp) {
    if (code == HCBT_ACTIVATE && wp && reinterpret_cast<HWND>(wp) == simuser::findPanel() && !g_panel.activeReported) {
        g_panel.activeReported = true;
        print(L"The Brastow panel was the active window at an activation\n");
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}
void onCall(const wchar_t* call) {
    if (g_onCall) g_onCall(call);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    com::Apartment apartment;
    SimReset();
    SimSky sky;
    SimGetSky(&sky);
    sky.cameraAngle = 23.5;
    sky.rateX = 1.7;
    sky.rateY = 1.3;
    sky.backlashX = 2.0;
    sky.backlashY = 1.0;
    sky.clickError = 2.0;
    sky.measureError = 0.05;
    sky.seed = 7;
    simuser::SetupEntry entry;
    entry.backlash = true;
    int exposureMs = 0, timeoutSeconds = 120;
    bool visible = false;
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        const wchar_t* next = i + 1 < argc ? argv[i + 1] : L"0";
        auto number = [&] { ++i; return _wtof(next); };
        auto typed = [&] { ++i; return std::wstring(next); };
        if (a == L"--angle") sky.cameraAngle = number();
        else if (a == L"--rate-x") sky.rateX = number();
        else if (a == L"--rate-y") sky.rateY = number();
        else if (a == L"--y-sense") sky.ySense = number();
        else if (a == L"--backlash-x") sky.backlashX = number();
        else if (a == L"--backlash-y") sky.backlashY = number();
        else if (a == L"--camera-dec") sky.declination = number();
        else if (a == L"--click-error") sky.clickError = number();
        else if (a == L"--measure-error") sky.measureError = number();
        else if (a == L"--seed") sky.seed = static_cast<unsigned>(number());
        else if (a == L"--x-time") entry.xTime = typed();
        else if (a == L"--y-time") entry.yTime = typed();
        else if (a == L"--percent") entry.backlashPercent = typed();
        else if (a == L"--exposure") entry.exposure = typed();
        else if (a == L"--dec") entry.declination = typed();
        else if (a == L"--backlash") entry.backlash = true;
        else if (a == L"--no-backlash") entry.backlash = false;
        else if (a == L"--cancel") entry.close = simuser::SetupEntry::Close::Cancel;
        else if (a == L"--exposure-ms") exposureMs = static_cast<int>(number());
        else if (a == L"--timeout") timeoutSeconds = static_cast<int>(number());
        else if (a == L"--visible") visible = true;
        else if (a == L"--decimal-separator") { print(L"%lc\n", simuser::decimalSeparator()); return 0; }
        else { print(L"unknown option %ls\n", a.c_str()); return 2; }
    }
    SimSetSky(&sky);
    HWND mainWindow = visible ? createMainWindow() : nullptr;
    SimSetExposureMs(visible && exposureMs == 0 ? 800 : exposureMs);
    SimSetUser(visible ? FALSE : TRUE, 40, 20);
    SimSetVisible(visible, mainWindow);
    SimOnStatus(onStatus);
    SimOnCall(onCall);
    g_panel.visible = visible;
    HHOOK activations = SetWindowsHookExW(WH_CBT, activationHook, nullptr, GetCurrentThreadId());

    print(L"Brastow host driver: a simulated MaxIm DL with a simulated observatory and user\n");
    CLSID clsid;
    com::Ptr<IDispatch> plugIn;
    HRESULT hr = CLSIDFromProgID(L"Brastow.PlugIn", &clsid);
    if (SUCCEEDED(hr)) hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, plugIn.putVoid());
    if (FAILED(hr)) { print(L"Brastow.PlugIn cannot be created (0x%08lX): is it registered?\n", hr); return 1; }

    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    com::Var name;
    hr = plugIn->Invoke(DISPID_PlugIn_Name, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, name.put(), nullptr, nullptr);
    print(L"Plug-in name: %ls\n", SUCCEEDED(hr) && name.vt() == VT_BSTR ? name.get()->bstrVal : L"?");

    // What OK was pressed with, each time: the last accepted texts are the run's values.
    simuser::SetupTexts entered;
    bool okPressed = false;
    simuser::OkWatcher watcher([&](HWND dlg, const simuser::SetupTexts& t) {
        entered = t;
        okPressed = true;
        print(L"Setup form \"%ls\", OK with: X time %ls, Y time %ls, backlash %ls %%, exposure %ls s, declination %ls, "
              L"backlash calc %ls\n",
              simuser::textOf(dlg).c_str(), t.xTime.c_str(), t.yTime.c_str(), t.backlashPercent.c_str(),
              t.exposure.c_str(), t.declination.c_str(), t.backlash ? L"on" : L"off");
    });

    simuser::UiRobot robot;
    robot.closeBoxes = !visible;
    HWND form = nullptr;
    if (!visible) robot.onDialog = [&](HWND dlg) {
        form = dlg;
        simuser::fillSetupForm(dlg, entry);
        return true;
    };
    size_t shown = 0;
    bool gaveUp = false;
    const DWORD start = GetTickCount();
    // The messages the simulated user saw, printed before what the panel shows next.
    auto messages = [&] {
        for (; shown < robot.boxes.size(); ++shown) {
            print(L"Message: %ls\n", robot.boxes[shown].text.c_str());
            // The simulated user types only what it was given: when the form refuses
            // it, typing it again cannot help.
            if (!visible && form && IsWindow(form) && robot.boxes[shown].text == L"Please enter a number") {
                print(L"The setup form refused the entry: type numbers as this locale writes them "
                      L"(decimal separator \"%lc\", no digit grouping). The simulated user cancels the form.\n",
                      simuser::decimalSeparator());
                PostMessageW(GetDlgItem(form, IDCANCEL), BM_CLICK, 0, 0);
                gaveUp = true;
            }
        }
        if (!visible && !gaveUp && GetTickCount() - start > static_cast<DWORD>(timeoutSeconds) * 1000) {
            print(L"The run did not end within %d s: the simulated user gives up and the host closes.\n", timeoutSeconds);
            gaveUp = true;
            PostQuitMessage(1);
        }
    };
    robot.onTick = [&] {
        messages();
        watchPanel(L"a tick of the simulated user");
    };
    g_onCall = [&](const wchar_t* call) {
        messages();
        watchPanel(call);
    };

    com::Ptr<IDispatch> document(SimHostDocument(), false);
    com::Var docArg = com::Var::object(document.get());
    DISPPARAMS args = {docArg.get(), nullptr, 1, 0};
    EXCEPINFO ex = {};
    hr = plugIn->Invoke(DISPID_PlugIn_DoModal, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &args, nullptr, &ex, nullptr);
    robot.onTick();
    if (hr == DISP_E_EXCEPTION) {
        com::Error e = com::fromExcepInfo(ex, L"");
        print(L"DoModal failed: 0x%08lX %ls: %ls\n", e.number, e.source.c_str(), e.description.c_str());
    } else {
        print(L"DoModal returned 0x%08lX after %lu ms\n", hr, GetTickCount() - start);
    }
    MSG quit;
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);

    print(L"Written to the camera:\n");
    for (const wchar_t* m : {L"GuiderAngle", L"GuiderXSpeed", L"GuiderYSpeed"}) {
        com::Var v;
        if (SimWritten(m, v.put())) print(L"  %-13ls = %ls\n", m, text(*v.get()).c_str());
        else print(L"  %-13ls   (not written)\n", m);
    }
    if (okPressed) {
        // The truth for the values the form accepted (the camera's declination when positive).
        const double entryDec = accepted(entered.declination, VT_R4);
        SimExpected truth;
        SimExpect(accepted(entered.xTime, VT_I2), accepted(entered.yTime, VT_I2),
                  accepted(entered.backlashPercent, VT_R8) / 100.0, sky.declination > 0 ? sky.declination : entryDec,
                  &truth);
        print(L"Simulated truth: angle %.4f, X speed %.4f, Y speed %.4f, X backlash %.4f, Y backlash %.4f\n",
              truth.angle, truth.xSpeed, truth.ySpeed, truth.xBacklash, truth.yBacklash);
    }
    print(L"  (camera angle %.2f deg, rates %.3f / %.3f px per unit, backlash %.2f / %.2f units, "
          L"click error +-%.1f px, centroid error +-%.2f px)\n",
          sky.cameraAngle, sky.rateX, sky.rateY, sky.backlashX, sky.backlashY, sky.clickError, sky.measureError);
    SimOnStatus(nullptr);
    SimOnCall(nullptr);
    g_onCall = nullptr;
    if (activations) UnhookWindowsHookEx(activations);
    plugIn.reset();
    docArg.clear();
    document.reset();
    print(L"Host objects still alive: %d\n", SimLiveObjects());
    if (mainWindow) DestroyWindow(mainWindow);
    return FAILED(hr) || gaveUp || g_panel.activeReported ? 1 : 0;
}
