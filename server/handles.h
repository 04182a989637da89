// Owners of the few Win32 handles the module takes: a window's device context, a GDI
// font, a registry key, and a critical section held for a scope.
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

// An owned GDI font.
class Font {
public:
    Font() = default;
    explicit Font(HFONT f) : f_(f) {}
    Font(Font&& o) noexcept : f_(o.f_) { o.f_ = nullptr; }
    Font& operator=(Font&& o) noexcept { std::swap(f_, o.f_); return *this; }
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;
    ~Font() { reset(); }
    HFONT get() const { return f_; }
    explicit operator bool() const { return f_ != nullptr; }
    void reset() { if (f_) { DeleteObject(f_); f_ = nullptr; } }
private:
    HFONT f_ = nullptr;
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
