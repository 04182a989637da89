// The visible "Autoguider Image" document window of the simulated host: the guide
// camera's last frame (the guide star, some fainter field stars, sky background and
// noise), clicked with the mouse.
#include "sim/guidewindow.h"
#include "sim/observatory.h"

#include <cmath>
#include <random>

namespace sim {
namespace {

const wchar_t kClass[] = L"BrastowSimGuideImage";
HINSTANCE g_module = nullptr;

// Field stars, relative to the guide star: they move with it.
struct FieldStar { double dx, dy, peak; };
const FieldStar kField[] = {{-150, -95, 55}, {120, 60, 70}, {-60, 140, 40}, {210, -130, 45}, {-230, 40, 60}, {40, -170, 35}};

LRESULT CALLBACK windowProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<GuideWindow*>(GetWindowLongPtrW(w, GWLP_USERDATA));
    switch (msg) {
    case WM_NCCREATE:
        SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
        break;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(w, &ps);
        if (self) self->paint(dc);
        EndPaint(w, &ps);
        return 0;
    }
    case WM_SETCURSOR:
        if (LOWORD(lp) == HTCLIENT) { SetCursor(LoadCursorW(nullptr, IDC_CROSS)); return TRUE; }
        break;
    case WM_LBUTTONDOWN:
        SetCapture(w);
        Observatory::get().press(Var::i2(static_cast<SHORT>(static_cast<short>(LOWORD(lp)))),
                                 Var::i2(static_cast<SHORT>(static_cast<short>(HIWORD(lp)))));
        return 0;
    case WM_LBUTTONUP:
        ReleaseCapture();
        Observatory::get().release();
        return 0;
    case WM_CLOSE:  // the user closes the document: it is gone from the documents
        Observatory::get().guideImageClosed = true;
        ShowWindow(w, SW_HIDE);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(w, msg, wp, lp);
}

} // namespace

void GuideWindow::setModule(HINSTANCE module) { g_module = module; }

GuideWindow::~GuideWindow() {
    if (window_ && IsWindow(window_)) DestroyWindow(window_);
}

void GuideWindow::render(double starX, double starY, double seed) {
    pixels_.assign(static_cast<size_t>(kWidth) * kHeight, 0);
    std::mt19937 rng(static_cast<unsigned>(seed));
    std::normal_distribution<double> noise(0.0, 4.0);
    const double sigma = 3.2 / 2.3548;  // FWHM 3.2 pixels
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            double v = 38.0 + 0.02 * y + noise(rng);  // sky with a gentle gradient
            auto star = [&](double cx, double cy, double peak) {
                double r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                if (r2 < 100.0) v += peak * std::exp(-r2 / (2.0 * sigma * sigma));
            };
            star(starX, starY, 190.0);
            for (const FieldStar& f : kField) star(starX + f.dx, starY + f.dy, f.peak);
            pixels_[static_cast<size_t>(y) * kWidth + x] = static_cast<BYTE>(v < 0 ? 0 : v > 255 ? 255 : v);
        }
    }
}

void GuideWindow::show(HWND owner, double starX, double starY, int frame) {
    render(starX, starY, 1000.0 + frame);
    if (!window_ || !IsWindow(window_)) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = windowProc;
        wc.hInstance = g_module;
        wc.lpszClassName = kClass;
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
        RegisterClassW(&wc);  // fails harmlessly when already registered
        const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
        RECT r = {0, 0, kWidth, kHeight};
        AdjustWindowRect(&r, style, FALSE);
        // Below the host's instructions and status line, which stay readable.
        POINT at = {kLeft, kTop};
        if (owner) ClientToScreen(owner, &at);
        window_ = CreateWindowExW(0, kClass, L"Autoguider Image", style, at.x, at.y, r.right - r.left, r.bottom - r.top,
                                  owner, nullptr, g_module, this);
    }
    if (!window_) return;
    ShowWindow(window_, SW_SHOWNOACTIVATE);
    redraw();
}

void GuideWindow::redraw() {
    if (!window_) return;
    InvalidateRect(window_, nullptr, FALSE);
    UpdateWindow(window_);
}

void GuideWindow::markClick(double x, double y) {
    clicked_ = true;
    measured_ = false;
    clickX_ = x;
    clickY_ = y;
    redraw();
}

void GuideWindow::markMeasured(double x, double y) {
    measured_ = true;
    measuredX_ = x;
    measuredY_ = y;
    redraw();
}

void GuideWindow::paint(HDC dc) {
    if (pixels_.empty()) return;
    struct { BITMAPINFOHEADER h; RGBQUAD palette[256]; } bmi = {};
    bmi.h.biSize = sizeof(bmi.h);
    bmi.h.biWidth = kWidth;
    bmi.h.biHeight = -kHeight;  // top-down
    bmi.h.biPlanes = 1;
    bmi.h.biBitCount = 8;
    bmi.h.biCompression = BI_RGB;
    bmi.h.biClrUsed = 256;
    for (int i = 0; i < 256; ++i) bmi.palette[i] = {static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i), 0};
    StretchDIBits(dc, 0, 0, kWidth, kHeight, 0, 0, kWidth, kHeight, pixels_.data(),
                  reinterpret_cast<BITMAPINFO*>(&bmi), DIB_RGB_COLORS, SRCCOPY);
    // Thin, darker than the star: the marks never outshine it.
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    if (clicked_) {
        HPEN red = CreatePen(PS_SOLID, 1, RGB(200, 40, 40));
        HGDIOBJ old = SelectObject(dc, red);
        const int x = static_cast<int>(std::lround(clickX_)), y = static_cast<int>(std::lround(clickY_));
        Ellipse(dc, x - 9, y - 9, x + 10, y + 10);
        SelectObject(dc, old);
        DeleteObject(red);
    }
    if (measured_) {
        HPEN green = CreatePen(PS_SOLID, 1, RGB(40, 170, 40));
        HGDIOBJ old = SelectObject(dc, green);
        const int x = static_cast<int>(std::lround(measuredX_)), y = static_cast<int>(std::lround(measuredY_));
        MoveToEx(dc, x - 14, y, nullptr);
        LineTo(dc, x - 4, y);
        MoveToEx(dc, x + 5, y, nullptr);
        LineTo(dc, x + 15, y);
        MoveToEx(dc, x, y - 14, nullptr);
        LineTo(dc, x, y - 4);
        MoveToEx(dc, x, y + 5, nullptr);
        LineTo(dc, x, y + 15);
        SelectObject(dc, old);
        DeleteObject(green);
    }
    SelectObject(dc, oldBrush);
}

} // namespace sim
