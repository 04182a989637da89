// Owners of the few Win32 handles the module takes: a window's device context, GDI
// objects and their selection, a registry key, and a critical section held for a scope.
#pragma once

#include <windows.h>
#include <utility>

namespace win {

// The device context of a window, released with the scope.
class WindowDC {
public:
    explicit WindowDC(HWND w) : w_(w), dc_(GetDC(w)) {}
    ~WindowDC() { if (dc_) ReleaseDC(w_, dc_); }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    HDC get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }
private:
    HWND w_;
    HDC dc_;
};

// An owned GDI object: a font, a pen, a brush.
template <class H>
class GdiObject {
public:
    GdiObject() = default;
    explicit GdiObject(H h) : h_(h) {}
    GdiObject(GdiObject&& o) noexcept : h_(o.h_) { o.h_ = nullptr; }
    GdiObject& operator=(GdiObject&& o) noexcept { std::swap(h_, o.h_); return *this; }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    ~GdiObject() { reset(); }
    H get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    void reset() { if (h_) { DeleteObject(h_); h_ = nullptr; } }
private:
    H h_ = nullptr;
};
using Font = GdiObject<HFONT>;
using Pen = GdiObject<HPEN>;
using Brush = GdiObject<HBRUSH>;

// An object selected into a device context for the scope; the one before it is put back.
class Selected {
public:
    Selected(HDC dc, HGDIOBJ object) : dc_(dc), old_(object ? SelectObject(dc, object) : nullptr) {}
    ~Selected() { if (old_) SelectObject(dc_, old_); }
    Selected(const Selected&) = delete;
    Selected& operator=(const Selected&) = delete;
private:
    HDC dc_;
    HGDIOBJ old_;
};

// An open registry key, closed with the scope.
class RegKey {
public:
    RegKey() = default;
    ~RegKey() { if (k_) RegCloseKey(k_); }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    HKEY get() const { return k_; }
    // Closes what is held and gives the address for an out parameter.
    HKEY* put() { if (k_) { RegCloseKey(k_); k_ = nullptr; } return &k_; }
private:
    HKEY k_ = nullptr;
};

// A critical section entered for the life of the scope.
class Lock {
public:
    explicit Lock(CRITICAL_SECTION& cs) : cs_(cs) { EnterCriticalSection(&cs_); }
    ~Lock() { LeaveCriticalSection(&cs_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
private:
    CRITICAL_SECTION& cs_;
};

} // namespace win
