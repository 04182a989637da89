#include "plugin/run.h"
#include "plugin/panel.h"
#include "server/modal.h"
#include "maxim.h"
#include "server/dispids.h"

#include <cstring>

namespace {

// What a yield to the thread's message processing ended with.
enum class Yield {
    Continue,  // go on waiting
    Abandon,   // the user pressed Escape or Stop: abandon the run quietly
    Quit,      // the host's thread is told to quit: abandon the run
};

// Lets the thread's windows process what is pending. Stops at a quit request (put
// back for the host's own loop), at Escape pressed in any window of the thread, which
// is taken: the host's window never sees the key that stopped the run, and at the
// panel's Stop.
Yield processMessages(const Panel& panel) {
    MSG msg;
    while (!panel.stopRequested() && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return Yield::Quit;
        }
        if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) {
            // Its key-up too, when it is already waiting.
            MSG up;
            if (PeekMessageW(&up, msg.hwnd, WM_KEYUP, WM_KEYUP, PM_NOREMOVE) && up.wParam == VK_ESCAPE)
                PeekMessageW(&up, msg.hwnd, WM_KEYUP, WM_KEYUP, PM_REMOVE);
            return Yield::Abandon;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return panel.stopRequested() ? Yield::Abandon : Yield::Continue;
}

// Waits for the user's click without holding a processor: sleeps until a message
// arrives for the thread or a frame's time passes, then lets the messages through.
constexpr DWORD kClickPollMs = 15;
Yield waitForInput(const Panel& panel) {
    DWORD r = MsgWaitForMultipleObjectsEx(0, nullptr, kClickPollMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    // After a timeout nothing is pending: no need to look.
    return r == WAIT_TIMEOUT ? Yield::Continue : processMessages(panel);
}

// The result of a wait that did not go on: S_FALSE (the run ends silently) for
// Escape and Stop, the host-closing error for a quit.
HRESULT stopped(Yield y) { return y == Yield::Abandon ? S_FALSE : modal::hostClosing(); }

// The wait for the exposure to finish: a reading every tenth of a second (an exposure
// lasts seconds), the host's windows kept working in between. S_FALSE on Escape or
// Stop, also a Stop pressed before the wait (during a host call that let the panel's
// messages through).
HRESULT waitForExposure(const host::Object& camera, const Panel& panel) {
    if (panel.stopRequested()) return S_FALSE;
    HRESULT hr;
    for (;;) {
        bool running = false;
        if (FAILED(hr = camera.getBool(L"GuiderRunning", running))) return hr;
        if (!running) return S_OK;
        Sleep(100);
        Yield y = processMessages(panel);
        if (y != Yield::Continue) return stopped(y);
    }
}

bool sameText(const com::Bstr& a, const wchar_t* b) {
    const UINT n = static_cast<UINT>(lstrlenW(b));
    return a.length() == n && (n == 0 || memcmp(a.get(), b, n * sizeof(wchar_t)) == 0);
}

// The first document, by index, whose display name is exactly "Autoguider Image".
HRESULT findGuideImage(const host::Object& app, host::Object& guide, bool& found) {
    found = false;
    HRESULT hr;
    host::Object docsAny, docs;
    if (FAILED(hr = app.getObject(L"Documents", docsAny))) return hr;
    if (FAILED(hr = docsAny.as(DIID_Documents, docs))) return hr;
    SHORT count = 0;
    if (FAILED(hr = docs.getI2(DISPID_Documents_Count, count))) return hr;
    for (int k = 1; k <= count; ++k) {
        host::Object doc;
        com::Bstr name;
        if (FAILED(hr = docs.getObject(DISPID_Documents_Item, {com::Var::i2(static_cast<SHORT>(k))}, doc))) return hr;
        if (FAILED(hr = doc.getText(L"DisplayName", name))) return hr;
        if (sameText(name, L"Autoguider Image")) {
            found = true;
            return doc.as(DIID_Document, guide);
        }
    }
    return S_OK;
}

// The two-phase wait for the user's click on the guide image. S_FALSE when the user
// pressed Escape or Stop.
HRESULT waitForClick(const host::Object& guide, const Panel& panel) {
    if (panel.stopRequested()) return S_FALSE;
    HRESULT hr;
    for (;;) {  // a new click with the button still down
        SHORT click = 0;
        bool up = true;
        if (FAILED(hr = guide.getI2(DISPID_Document_MouseNewClick, click))) return hr;
        if (FAILED(hr = guide.getBool(DISPID_Document_MouseUp, up))) return hr;
        if (click != 0 && !up) break;
        Yield y = waitForInput(panel);
        if (y != Yield::Continue) return stopped(y);
    }
    for (;;) {  // the button released
        bool up = false;
        if (FAILED(hr = guide.getBool(DISPID_Document_MouseUp, up))) return hr;
        if (up) break;
        Yield y = waitForInput(panel);
        if (y != Yield::Continue) return stopped(y);
    }
    return S_OK;
}

// The clicked pixel, refined by the host's measurement of the star there.
HRESULT measure(const host::Object& guide, float& x, float& y) {
    HRESULT hr;
    SHORT px = 0, py = 0;
    if (FAILED(hr = guide.getI2(DISPID_Document_MouseX, px))) return hr;
    if (FAILED(hr = guide.getI2(DISPID_Document_MouseY, py))) return hr;
    // The pixel is kept as a single, like the refined position that replaces it, and
    // goes to the measurement as a 16-bit integer again: every 16-bit integer is exact
    // in a single, so the round trip passes the host's own reading unchanged.
    x = px;
    y = py;
    com::Var result, element;
    const com::Var ax = com::Var::i2(static_cast<SHORT>(x)), ay = com::Var::i2(static_cast<SHORT>(y));
    if (FAILED(hr = guide.call(DISPID_Document_CalcInformation, {ax, ay}, &result))) return hr;
    // Elements 6 and 7 of the measurement: the star's centroid.
    if (FAILED(hr = host::arrayElement(result, 6, element))) return hr;
    if (FAILED(hr = host::toR4(element, x))) return hr;
    if (FAILED(hr = host::arrayElement(result, 7, element))) return hr;
    return host::toR4(element, y);
}

} // namespace

HRESULT sampleGuideStar(const host::Object& app, const host::Object& camera, const Settings& s,
                        SamplePoints& points, Panel& panel) {
    HRESULT hr;
    for (SHORT i = 0; i <= 4; ++i) {
        panel.exposing(i);
        if (FAILED(hr = camera.call(L"GuiderExpose", {com::Var::r4(s.calibExpTime)}))) return hr;
        if ((hr = waitForExposure(camera, panel)) != S_OK) return hr;

        host::Object guide;
        bool found = false;
        if (FAILED(hr = findGuideImage(app, guide, found))) return hr;
        if (!found) return S_FALSE;

        panel.waitingForClick(i);
        if ((hr = waitForClick(guide, panel)) != S_OK) return hr;
        if (FAILED(hr = measure(guide, points.x[i], points.y[i]))) return hr;
        panel.measured(i, points.x[i], points.y[i]);

        if (i < 4) {
            panel.moving(i);
            // Directions 0 to 3 (+X, -X, +Y, -Y), passed by reference as the host's
            // method declares them; its result is read as a Boolean and not used.
            SHORT direction = i;
            float duration = i < 2 ? s.xCalibTime : s.yCalibTime;
            com::Var moved;
            bool ignored = false;
            if (FAILED(hr = camera.call(L"GuiderMove", {host::byRef(&direction), host::byRef(&duration)}, &moved))) return hr;
            if (FAILED(hr = host::toBool(moved, ignored))) return hr;
        }
    }
    return S_OK;
}
