#include "plugin/panel.h"
#include "plugin/panel_ids.h"
#include "anglemath/elementary.h"
#include "server/comhelp.h"
#include "server/runtime.h"

#include <windowsx.h>

namespace {

// A number in the runtime's number-to-text form of the user's locale ("2,5" in German):
// a single in the general form, or a double with `decimals` decimals.
struct Number {
    explicit Number(float value) {
        com::Bstr b;
        set(VarBstrFromR4(value, LOCALE_USER_DEFAULT, 0, b.put()), b);
    }
    Number(double value, int decimals) {
        // Rounded first: the runtime formats the number's general text, which it cannot
        // read back when that is in exponent form (5E-06).
        com::Bstr b;
        com::Var v = com::Var::r8(value), rounded;
        HRESULT hr = VarRound(v.get(), decimals, rounded.put());
        if (SUCCEEDED(hr)) hr = VarFormatNumber(rounded.get(), decimals, -2, -2, -2, 0, b.put());
        set(hr, b);
    }
    void set(HRESULT hr, const com::Bstr& b) { lstrcpynW(text, SUCCEEDED(hr) ? b.c_str() : L"?", ARRAYSIZE(text)); }
    wchar_t text[48];
};

// How much of `whole` `part` is, in per cent; a return move a million times its outgoing
// one is shown as a million per cent (the runtime writes larger ones in exponent form).
double percent(double part, double whole) {
    const double p = 100.0 * part / whole;
    return p < 1e6 ? p : 1e6;
}

// A line of the panel, put together by wsprintfW.
struct Text {
    wchar_t text[512];
};

const wchar_t* const kMoves[] = {L"+X", L"-X", L"+Y", L"-Y"};
const wchar_t kWaitHint[] = L"Stop or Escape ends the run here: nothing more is moved or written to the camera.";

// Layout in units of a 96-dpi pixel, scaled to the display's resolution.
constexpr int kWidth = 320, kMargin = 10, kMarkSize = 14, kPictureHeight = 200;

// The runs of one module share the panel's class; one panel at a time (one calibration
// at a time in the process).
const wchar_t* className() { return BRASTOW_PANEL_CLASS; }
WNDPROC g_buttonProc = nullptr;  // the Stop button's own procedure, under ours

bool finite(double v) { return v == v && v - v == 0.0; }

// A short text centred on a point.
void label(HDC dc, int x, int y, const wchar_t* text) {
    RECT at = {x, y, x, y};
    DrawTextW(dc, text, -1, &at, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOCLIP | DT_NOPREFIX);
}

} // namespace

Panel::Panel(const Settings& settings) : settings_(settings) { create(); }

Panel::~Panel() {
    if (window_) DestroyWindow(window_);
    if (classRegistered_) UnregisterClassW(className(), runtime::instance());
}

void Panel::create() {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &Panel::windowProc;
    wc.hInstance = runtime::instance();
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = className();
    // A class left behind by an earlier load of the module at the same address would
    // hold that load's procedure: registered afresh.
    if (!RegisterClassExW(&wc)) {
        UnregisterClassW(className(), wc.hInstance);
        if (!RegisterClassExW(&wc)) return;
    }
    classRegistered_ = true;

    // Sizes for the display's resolution and the message font's line height.
    int line = 0;
    {
        win::WindowDC screen(nullptr);
        NONCLIENTMETRICSW metrics = {};
        metrics.cbSize = sizeof(metrics);
        if (!screen || !SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) return;
        dpi_ = GetDeviceCaps(screen.get(), LOGPIXELSY);
        font_ = win::Font(CreateFontIndirectW(&metrics.lfMessageFont));
        metrics.lfMessageFont.lfWeight = FW_BOLD;
        bold_ = win::Font(CreateFontIndirectW(&metrics.lfMessageFont));
        TEXTMETRICW tm;
        win::Selected s(screen.get(), font_.get());
        if (dpi_ <= 0 || !font_ || !bold_ || !GetTextMetricsW(screen.get(), &tm)) return;
        line = tm.tmHeight;
    }
    // The rows from top to bottom: the step, the hint, the progress marks, the picture,
    // the check, the Stop button.
    const int m = px(kMargin), width = px(kWidth), heights[] = {2 * line + 2, 2 * line, px(kMarkSize), px(kPictureHeight),
                                                                 3 * line, line + px(10)};
    const int gaps[] = {m, m / 2, m, m, m / 2, m / 2};
    RECT rows[6];
    int y = 0;
    for (int i = 0; i < 6; ++i) {
        y += gaps[i];
        rows[i] = {m, y, width - m, y + heights[i]};
        y += heights[i];
    }
    rows[5].left = rows[5].right - px(80);
    marks_ = rows[2];
    picture_ = rows[3];

    // Owned by the host's active window: above it, on its screen, gone with it. At the
    // top right of that screen's work area.
    HWND owner = GetActiveWindow();
    const DWORD style = WS_POPUP | WS_CAPTION, exStyle = WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW;
    RECT frame = {0, 0, width, y + m};
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    MONITORINFO mi = {};
    mi.cbSize = sizeof(mi);
    if (!GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTOPRIMARY), &mi)) return;
    const int w = frame.right - frame.left, h = frame.bottom - frame.top;
    const int x = mi.rcWork.right - w - m < mi.rcWork.left ? mi.rcWork.left : mi.rcWork.right - w - m;
    window_ = CreateWindowExW(exStyle, className(), BRASTOW_PANEL_CAPTION, style, x, mi.rcWork.top + m, w, h, owner,
                              nullptr, wc.hInstance, this);
    if (!window_) return;
    struct Child { int row, id; const wchar_t* cls; DWORD style; const wchar_t* text; };
    const Child children[] = {{0, IDC_PANEL_STEP, L"Static", SS_NOPREFIX, L"Connecting the guide camera"},
                              {1, IDC_PANEL_HINT, L"Static", SS_NOPREFIX, kWaitHint},
                              {4, IDC_PANEL_CHECK, L"Static", SS_NOPREFIX, L""},
                              {5, IDC_PANEL_STOP, L"Button", BS_PUSHBUTTON, L"Stop"}};
    HWND* handles[] = {&step_, &hint_, &check_, &stopButton_};
    for (int i = 0; i < 4; ++i) {
        const Child& c = children[i];
        const RECT& r = rows[c.row];
        HWND made = CreateWindowExW(0, c.cls, c.text, WS_CHILD | WS_VISIBLE | c.style, r.left, r.top, r.right - r.left,
                                    r.bottom - r.top, window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)),
                                    wc.hInstance, nullptr);
        if (!made) {
            DestroyWindow(window_);
            return;
        }
        SendMessageW(made, WM_SETFONT, reinterpret_cast<WPARAM>(i ? font_.get() : bold_.get()), FALSE);
        *handles[i] = made;
    }
    // The Stop button is pressed without taking the focus: a button's own procedure
    // sets the focus on a press, which would activate the panel.
    WNDPROC own = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(stopButton_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Panel::stopProc)));
    if (own != &Panel::stopProc) g_buttonProc = own;
    ShowWindow(window_, SW_SHOWNOACTIVATE);
    UpdateWindow(window_);
}

// New texts, painted at once: a host call that follows (a move) may keep the thread
// from processing messages for a while.
void Panel::show(const wchar_t* step, const wchar_t* hint) {
    if (!window_) return;
    if (step) SetWindowTextW(step_, step);
    if (hint) SetWindowTextW(hint_, hint);
    RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void Panel::exposing(int pass) {
    pass_ = pass;
    Text step;
    wsprintfW(step.text, L"Pass %d of 5: exposing for %s s", pass + 1, Number(settings_.calibExpTime).text);
    show(step.text, kWaitHint);
}

void Panel::waitingForClick(int pass) {
    Text step;
    wsprintfW(step.text, L"Pass %d of 5: click the guide star in Autoguider Image", pass + 1);
    show(step.text, L"Click the same star each time. Stop or Escape ends the run: nothing is written to the camera.");
}

void Panel::measured(int pass, float x, float y) {
    points_.x[pass] = x;
    points_.y[pass] = y;
    measuredCount_ = pass + 1;
    show(nullptr, nullptr);
}

void Panel::moving(int pass) {
    Text step;
    wsprintfW(step.text, L"Pass %d of 5: moving the mount %s (calibration time %s)", pass + 1, kMoves[pass],
              Number(pass < 2 ? settings_.xCalibTime : settings_.yCalibTime).text);
    show(step.text, L"The next exposure starts when the move is done.");
}

void Panel::solving() {
    pass_ = 5;
    ending();
    show(L"All five positions taken: working out the calibration", L"");
}

void Panel::solved() {
    showCheck();
    show(L"Calibration worked out: read the result message",
         L"Closing the message writes the angle and the speeds to the camera.");
}

void Panel::written() { show(L"The angle and the speeds are written to the camera", L"Read the backlash message and close it."); }

// From here on only Brastow's messages follow, and nothing on the panel is to be
// pressed: no Stop, and the panel disabled, so that the system never hands it the
// activation when a message closes (Wine gives it to the next window in line,
// WS_EX_NOACTIVATE or not).
void Panel::ending() {
    if (!window_) return;
    ShowWindow(stopButton_, SW_HIDE);
    EnableWindow(window_, FALSE);
}

// How square the +X and +Y moves are, and how much of each outgoing move its return
// covered. Display arithmetic only: nothing of it reaches the camera.
void Panel::showCheck() {
    if (!window_) return;
    const float* X = points_.x;
    const float* Y = points_.y;
    double m[4][2], d[4];
    for (int k = 0; k < 4; ++k) {
        m[k][0] = static_cast<double>(X[k + 1]) - X[k];
        m[k][1] = static_cast<double>(Y[k + 1]) - Y[k];
        d[k] = elementary::sqrt(m[k][0] * m[k][0] + m[k][1] * m[k][1]);
        if (!finite(d[k])) return;
    }
    if (d[0] <= 0.0 || d[2] <= 0.0) return;
    // The angle from square: its tangent is |cos| / |sin| of the angle between the moves.
    const double dot = m[0][0] * m[2][0] + m[0][1] * m[2][1];
    const double cross = m[0][0] * m[2][1] - m[0][1] * m[2][0];
    const double kDegreesPerRadian = 57.295779513082321;
    const double offSquare = cross == 0.0 ? 90.0 : elementary::atan((dot < 0 ? -dot : dot) / (cross < 0 ? -cross : cross)) * kDegreesPerRadian;
    Text text;
    int n = wsprintfW(text.text, L"Check: the +X and +Y moves are %s\x00B0 from square; the returns covered %s%% of +X and %s%% of +Y.",
                      Number(offSquare, 1).text, Number(percent(d[1], d[0]), 0).text, Number(percent(d[3], d[2]), 0).text);
    if (d[0] < 5.0 || d[2] < 5.0) n += wsprintfW(text.text + n, L"\nWarning: the star barely moved: the angle is uncertain.");
    if (offSquare > 10.0) wsprintfW(text.text + n, L"\nWarning: the moves are far from square: was the same star clicked each time?");
    SetWindowTextW(check_, text.text);
}

void Panel::paint(HDC dc) {
    // Five marks: measured positions filled, the pass in progress ringed.
    win::Brush done(CreateSolidBrush(BRASTOW_PANEL_DONE_COLOUR));
    win::Pen ring(CreatePen(PS_SOLID, px(2), GetSysColor(COLOR_HIGHLIGHT)));
    win::Pen edge(CreatePen(PS_SOLID, 1, GetSysColor(COLOR_GRAYTEXT)));
    const int size = marks_.bottom - marks_.top;
    for (int k = 0; k < 5; ++k) {
        const int left = marks_.left + k * (size + size / 2);
        win::Selected pen(dc, k == pass_ && k >= measuredCount_ ? ring.get() : edge.get());
        win::Selected brush(dc, k < measuredCount_ ? static_cast<HGDIOBJ>(done.get()) : GetSysColorBrush(COLOR_BTNFACE));
        Ellipse(dc, left, marks_.top, left + size, marks_.bottom);
    }
    paintPicture(dc, picture_);
}

// The five positions relative to the first, scaled to fit, y down as the image shows
// them, and the moves between them as arrows named +X, -X, +Y, -Y.
void Panel::paintPicture(HDC dc, const RECT& frame) {
    win::Selected font(dc, font_.get());
    SetBkMode(dc, TRANSPARENT);
    const COLORREF grey = GetSysColor(COLOR_GRAYTEXT);
    SetTextColor(dc, grey);
    {
        win::Selected pen(dc, GetStockObject(DC_PEN));
        win::Selected brush(dc, GetStockObject(WHITE_BRUSH));
        SetDCPenColor(dc, grey);
        Rectangle(dc, frame.left, frame.top, frame.right, frame.bottom);
        // The image's axes, in the corner: x to the right, y down.
        const int ox = frame.left + px(8), oy = frame.top + px(8), n = px(18);
        const POINT axes[] = {{ox + n, oy}, {ox, oy}, {ox, oy + n}};
        Polyline(dc, axes, 3);
        label(dc, ox + n + px(6), oy, L"x");
        label(dc, ox, oy + n + px(6), L"y");
    }

    const int count = measuredCount_;
    double rel[5][2], lo[2] = {0, 0}, hi[2] = {0, 0};
    for (int k = 0; k < count; ++k) {
        rel[k][0] = static_cast<double>(points_.x[k]) - points_.x[0];
        rel[k][1] = static_cast<double>(points_.y[k]) - points_.y[0];
        for (double& v : rel[k]) {
            if (!finite(v)) return;  // a position the solution will refuse
            const int a = &v == &rel[k][1];
            if (v < lo[a]) lo[a] = v;
            if (v > hi[a]) hi[a] = v;
        }
    }
    // Scaled to fit, with room for the labels; a single position in the middle.
    const int pad = px(30);
    const double size[2] = {static_cast<double>(frame.right - frame.left - 2 * pad),
                            static_cast<double>(frame.bottom - frame.top - 2 * pad)};
    double scale = 0.0;
    for (int a = 0; a < 2; ++a) {
        const double fit = size[a] / (hi[a] - lo[a]);
        if (hi[a] > lo[a] && (scale == 0.0 || fit < scale)) scale = fit;
    }
    POINT at[5];
    for (int k = 0; k < count; ++k) {
        at[k].x = static_cast<int>(frame.left + pad + size[0] / 2 + (rel[k][0] - (lo[0] + hi[0]) / 2) * scale + 0.5);
        at[k].y = static_cast<int>(frame.top + pad + size[1] / 2 + (rel[k][1] - (lo[1] + hi[1]) / 2) * scale + 0.5);
    }
    for (int k = 0; k + 1 < count; ++k) {
        const int dx = at[k + 1].x - at[k].x, dy = at[k + 1].y - at[k].y;
        const int length = static_cast<int>(elementary::sqrt(static_cast<double>(dx * dx + dy * dy)));
        if (length < 2) continue;
        // The direction in 1/256 of a pixel; each arrow a little to its own right, so
        // that a move and its return both show.
        const int ux = dx * 256 / length, uy = dy * 256 / length, side = px(3), back = px(8), offset = px(12);
        const POINT tail = {at[k].x - uy * side / 256, at[k].y + ux * side / 256};
        const POINT tip = {at[k + 1].x - uy * side / 256, at[k + 1].y + ux * side / 256};
        // The head: two strokes back from the tip at about 25 degrees (cos 232/256, sin 108/256).
        const POINT head[] = {{tip.x - (232 * ux - 108 * uy) * back / 65536, tip.y - (108 * ux + 232 * uy) * back / 65536},
                              tip,
                              {tip.x - (232 * ux + 108 * uy) * back / 65536, tip.y - (-108 * ux + 232 * uy) * back / 65536}};
        const COLORREF colour = k < 2 ? BRASTOW_PANEL_X_COLOUR : BRASTOW_PANEL_Y_COLOUR;
        win::Pen pen(CreatePen(PS_SOLID, k % 2 ? px(1) : px(2), colour));
        win::Selected selected(dc, pen.get());
        MoveToEx(dc, tail.x, tail.y, nullptr);
        LineTo(dc, tip.x, tip.y);
        Polyline(dc, head, 3);
        SetTextColor(dc, colour);
        label(dc, (tail.x + tip.x) / 2 - uy * offset / 256, (tail.y + tip.y) / 2 + ux * offset / 256, kMoves[k]);
    }
    // The positions: the first as a ring, the others as dots.
    for (int k = count - 1; k >= 0; --k) {
        const int r = k ? px(2) : px(5);
        win::Selected brush(dc, GetStockObject(k ? BLACK_BRUSH : NULL_BRUSH));
        Ellipse(dc, at[k].x - r, at[k].y - r, at[k].x + r + 1, at[k].y + r + 1);
    }
}

void Panel::drag(UINT msg, LPARAM lp) {
    POINT p = {GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
    if (msg != WM_NCLBUTTONDOWN) ClientToScreen(window_, &p);  // the caption's are screen points
    RECT r;
    GetWindowRect(window_, &r);
    if (msg == WM_LBUTTONDOWN || msg == WM_NCLBUTTONDOWN) {
        grip_ = {p.x - r.left, p.y - r.top};
        dragging_ = true;
        SetCapture(window_);
    } else if (dragging_ && msg == WM_MOUSEMOVE) {
        SetWindowPos(window_, nullptr, p.x - grip_.x, p.y - grip_.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    } else if (dragging_ && msg == WM_LBUTTONUP) {
        ReleaseCapture();
    }
}

LRESULT CALLBACK Panel::windowProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE)
        SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
    auto* self = reinterpret_cast<Panel*>(GetWindowLongPtrW(w, GWLP_USERDATA));
    if (!self) return DefWindowProcW(w, msg, wp, lp);
    switch (msg) {
    case WM_MOUSEACTIVATE:
        return MA_NOACTIVATE;  // the user is clicking in the host's image: never take that away
    case WM_ACTIVATE:
        // Activated all the same (a window of the host closing): handed back at once to
        // the window it came from, or the host's.
        if (LOWORD(wp) != WA_INACTIVE) PostMessageW(w, WM_APP, 0, lp);
        break;
    case WM_APP: {
        HWND back = reinterpret_cast<HWND>(lp);
        if (!back || !IsWindow(back) || !IsWindowVisible(back) || !IsWindowEnabled(back)) back = GetWindow(w, GW_OWNER);
        if (back && GetActiveWindow() == w) SetActiveWindow(back);
        return 0;
    }
    case WM_NCLBUTTONDOWN:
        if (wp != HTCAPTION) break;  // moved by us: the system's move would activate it
        self->drag(msg, lp);
        return 0;
    case WM_LBUTTONDOWN:
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
        self->drag(msg, lp);
        return 0;
    case WM_CAPTURECHANGED:
        self->dragging_ = false;
        return 0;
    case WM_COMMAND:
        if (LOWORD(wp) == IDC_PANEL_STOP && HIWORD(wp) == BN_CLICKED && !self->stop_) {
            self->stop_ = true;
            EnableWindow(self->stopButton_, FALSE);
            self->show(L"Stopping", L"The run ends at its next wait: no further move, nothing written to the camera.");
        }
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(w, &ps);
        if (dc) self->paint(dc);
        EndPaint(w, &ps);
        return 0;
    }
    case WM_PRINTCLIENT:
        self->paint(reinterpret_cast<HDC>(wp));
        return 0;
    case WM_CLOSE:
        return 0;  // only the run ends the panel
    case WM_NCDESTROY:
        self->window_ = nullptr;
        SetWindowLongPtrW(w, GWLP_USERDATA, 0);
        break;
    default:
        break;
    }
    return DefWindowProcW(w, msg, wp, lp);
}

// The Stop button: pressed and released inside it, it tells the panel; it never takes
// the focus (and with it the activation).
LRESULT CALLBACK Panel::stopProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        SetCapture(w);
        SendMessageW(w, BM_SETSTATE, TRUE, 0);
        return 0;
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP: {
        if (GetCapture() != w) return 0;
        RECT r;
        GetClientRect(w, &r);
        const bool inside = PtInRect(&r, POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)}) != FALSE;
        if (msg == WM_MOUSEMOVE) {
            SendMessageW(w, BM_SETSTATE, inside, 0);
            return 0;
        }
        ReleaseCapture();
        if (inside) SendMessageW(GetParent(w), WM_COMMAND, MAKEWPARAM(IDC_PANEL_STOP, BN_CLICKED), reinterpret_cast<LPARAM>(w));
        return 0;
    }
    case WM_CAPTURECHANGED:
        SendMessageW(w, BM_SETSTATE, FALSE, 0);
        return 0;
    case BM_CLICK:
        SendMessageW(GetParent(w), WM_COMMAND, MAKEWPARAM(IDC_PANEL_STOP, BN_CLICKED), reinterpret_cast<LPARAM>(w));
        return 0;
    default:
        return CallWindowProcW(g_buttonProc, w, msg, wp, lp);
    }
}
