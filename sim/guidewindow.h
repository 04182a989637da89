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
    // Renders the frame with the star at (starX, starY) and shows it.
    void show(HWND owner, double starX, double starY, int frame);
    void paint(HDC dc);
    HWND window() const { return window_; }

private:
    void render(double starX, double starY, double seed);
    HWND window_ = nullptr;
    std::vector<BYTE> pixels_;
};

} // namespace sim
