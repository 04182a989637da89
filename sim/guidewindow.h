// The simulated host's visible guide image document window.
#pragma once

#include <windows.h>
#include <vector>

namespace sim {

class GuideWindow {
public:
    static constexpr int kWidth = 640, kHeight = 480;  // guide camera pixels, shown 1:1
    static void setModule(HINSTANCE module);
    ~GuideWindow();
    // Renders the frame with the star at (starX, starY) and shows it, below the owner's
    // instructions.
    void show(HWND owner, double starX, double starY, int frame);
    // Marks where the user clicked (a red ring) and where the host measured the star
    // (a green cross), until the next click: on the next frame they show where the star
    // was before the mount moved it.
    void markClick(double x, double y);
    void markMeasured(double x, double y);
    void paint(HDC dc);
    // Where the window's top-left corner goes, in the owner's client coordinates.
    static constexpr int kLeft = 12, kTop = 150;
    HWND window() const { return window_; }

private:
    void render(double starX, double starY, double seed);
    void redraw();
    HWND window_ = nullptr;
    std::vector<BYTE> pixels_;
    bool clicked_ = false, measured_ = false;
    double clickX_ = 0, clickY_ = 0, measuredX_ = 0, measuredY_ = 0;
};

} // namespace sim
