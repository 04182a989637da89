// Brastow's speed and resource figures (a measurement, not a test):
//  1. processor time the host process uses while the run waits 10 s for a click;
//  2. delay from the click indicators changing to the plug-in reading the position;
//  3. size of brastow.dll and of the DLLs it imports;
//  4. calls per second of each numeric member through IDispatch.
// Usage: benchmark [--wait-seconds N] [--clicks N] [--members-only]
// --members-only: part 4 alone.
#include <windows.h>
#include <oleauto.h>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "server/comhelp.h"
#include "sim/simapi.h"
#include "sim/uirobot.h"
#include "brastow.h"
#include "server/dispids.h"

namespace {

double seconds(const FILETIME& f) {
    ULARGE_INTEGER u;
    u.LowPart = f.dwLowDateTime;
    u.HighPart = f.dwHighDateTime;
    return static_cast<double>(u.QuadPart) / 1e7;
}

double processCpu() {
    FILETIME c, e, k, u;
    GetProcessTimes(GetCurrentProcess(), &c, &e, &k, &u);
    return seconds(k) + seconds(u);
}

double now() {
    LARGE_INTEGER t, f;
    QueryPerformanceCounter(&t);
    QueryPerformanceFrequency(&f);
    return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

com::Ptr<IDispatch> createPlugIn() {
    CLSID clsid;
    com::Ptr<IDispatch> d;
    if (SUCCEEDED(CLSIDFromProgID(L"Brastow.PlugIn", &clsid)))
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, d.putVoid());
    return d;
}

// One run. With `handsOff` the simulated user's hands leave once the setup form is
// filled in, so that nothing but the plug-in and the host runs during the wait (the
// run must then end without a message).
HRESULT doModal(IDispatch* plugIn, bool handsOff = false) {
    simuser::UiRobot robot;
    simuser::SetupEntry entry;
    robot.onDialog = [&](HWND dlg) {
        simuser::fillSetupForm(dlg, entry);
        if (handsOff) robot.stop();
        return true;
    };
    com::Ptr<IDispatch> doc(SimHostDocument(), false);
    com::Var arg = com::Var::object(doc.get());
    DISPPARAMS dp = {arg.get(), nullptr, 1, 0};
    EXCEPINFO ex = {};
    HRESULT hr = plugIn->Invoke(DISPID_PlugIn_DoModal, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &dp, nullptr, &ex, nullptr);
    if (hr == DISP_E_EXCEPTION) com::fromExcepInfo(ex, L"");
    return hr;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

// Presses and releases the button from another thread, as a host whose indicators
// change without a message to the plug-in's thread; records the delays.
struct Clicker {
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<double> delays;
    static DWORD WINAPI main(void* p) {
        auto* c = static_cast<Clicker*>(p);
        DWORD jitter = 7;
        while (WaitForSingleObject(c->stop, 25 + (jitter = jitter * 1103515245u + 12345u) % 20) == WAIT_TIMEOUT) {
            SimPress(100, 100);
            if (WaitForSingleObject(c->stop, 30) != WAIT_TIMEOUT) break;
            SimRelease();
            double start = now();
            double d = -1;
            while (now() - start < 1.0 && (d = SimReleaseToReadMs()) < 0) Sleep(0);
            if (d >= 0) c->delays.push_back(d);
        }
        return 0;
    }
};

std::wstring dllFile(const char* name) {
    HMODULE m = LoadLibraryExA(name, nullptr, DONT_RESOLVE_DLL_REFERENCES);
    wchar_t path[MAX_PATH] = L"";
    if (m) GetModuleFileNameW(m, path, MAX_PATH);
    return path;
}

LONGLONG fileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &a)) return -1;
    return (static_cast<LONGLONG>(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
}

} // namespace

static void memberRates(IDispatch* plugIn) {
    // 4. The numeric members through IDispatch::Invoke, each with arguments of the kinds
    // clients pass (small and huge angles, the quadrants, the inverse cosine's domain).
    struct MemberCall { const char* label; DISPID id; com::Var a, b; };
    const MemberCall members[] = {
        {"Sign(-2.5)", DISPID_PlugIn_Sign, com::Var::r8(-2.5), {}},
        {"SinDeg(30)", DISPID_PlugIn_SinDeg, com::Var::r8(30.0), {}},
        {"SinDeg(1e22)", DISPID_PlugIn_SinDeg, com::Var::r8(1e22), {}},
        {"CosDeg(60)", DISPID_PlugIn_CosDeg, com::Var::r8(60.0), {}},
        {"CosDeg(123456.7)", DISPID_PlugIn_CosDeg, com::Var::r8(123456.7), {}},
        {"CalcAngle(8!, -6!)", DISPID_PlugIn_CalcAngle, com::Var::r4(8.0f), com::Var::r4(-6.0f)},
        {"CalcAngle(-3, 40)", DISPID_PlugIn_CalcAngle, com::Var::r8(-3.0), com::Var::r8(40.0)},
        {"ArcCosDeg(0.3)", DISPID_PlugIn_ArcCosDeg, com::Var::r8(0.3), {}},
        {"ArcSinDeg(-0.9)", DISPID_PlugIn_ArcSinDeg, com::Var::r8(-0.9), {}},
        {"OldCalcAngle(3, 4)", DISPID_PlugIn_OldCalcAngle, com::Var::r8(3.0), com::Var::r8(4.0)},
    };
    for (const MemberCall& m : members) {
        VARIANT args[2] = {*m.b.get(), *m.a.get()};  // last argument first
        const UINT count = m.b.vt() == VT_EMPTY ? 1 : 2;
        DISPPARAMS dp = {count == 2 ? args : args + 1, nullptr, count, 0};
        long calls = 0;
        double w0 = now();
        while (now() - w0 < 1.0) {
            for (int k = 0; k < 1000; ++k) {
                com::Var r;
                plugIn->Invoke(m.id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &dp, r.put(), nullptr, nullptr);
            }
            calls += 1000;
        }
        printf("%-20s through IDispatch::Invoke: %8.0f calls per second\n", m.label,
               static_cast<double>(calls) / (now() - w0));
    }
    {
        com::Var adj = com::Var::r4(8.0f), opp = com::Var::r4(-6.0f);
        com::Ptr<_PlugIn> early;
        if (FAILED(plugIn->QueryInterface(IID__PlugIn, early.putVoid()))) return;
        long calls = 0;
        double w0 = now();
        while (now() - w0 < 1.0) {
            for (int k = 0; k < 1000; ++k) {
                com::Var r;
                early->CalcAngle(adj.get(), opp.get(), r.put());
            }
            calls += 1000;
        }
        printf("%-20s through the dual interface's vtable: %.0f calls per second\n", "CalcAngle(8!, -6!)",
               static_cast<double>(calls) / (now() - w0));
    }
}

int wmain(int argc, wchar_t** argv) {
    int waitSeconds = 10, clicks = 100;
    bool membersOnly = false;
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        if (a == L"--members-only") membersOnly = true;
        else if (a == L"--wait-seconds" && i + 1 < argc) waitSeconds = _wtoi(argv[++i]);
        else if (a == L"--clicks" && i + 1 < argc) clicks = _wtoi(argv[++i]);
    }
    com::Apartment apartment;
    auto plugIn = createPlugIn();
    if (!plugIn) { printf("Brastow.PlugIn is not registered\n"); return 1; }
    if (membersOnly) {
        memberRates(plugIn.get());
        return 0;
    }

    // 1. The user takes `waitSeconds` to click in the first pass.
    SimReset();
    SimSetUser(TRUE, waitSeconds * 1000, 1);
    SimSetDocuments(1, L"Main Image");  // the run ends after the first click
    double cpu0 = processCpu(), t0 = now();
    HRESULT hr = doModal(plugIn.get(), true);
    double cpu = processCpu() - cpu0, wall = now() - t0;
    printf("click wait: %.2f s waited, %.3f s processor time = %.2f %% of one core (hr 0x%08lX)\n", wall, cpu,
           100.0 * cpu / wall, static_cast<unsigned long>(hr));

    // Baseline: this process doing nothing but wait for messages for 2 s.
    {
        double c0 = processCpu(), w0 = now();
        while (now() - w0 < 2.0) MsgWaitForMultipleObjectsEx(0, nullptr, 2000, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        printf("  baseline, the process idle: %.2f %% of one core\n", 100.0 * (processCpu() - c0) / (now() - w0));
    }
    // For comparison: the same indicator reads with a yield and no sleep in between.
    {
        SimReset();
        com::Ptr<IDispatch> doc(SimHostDocument(), false);
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        double c0 = processCpu(), w0 = now();
        long reads = 0;
        while (now() - w0 < 2.0) {
            com::Var v;
            doc->Invoke(DISPID_Document_MouseNewClick, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, v.put(), nullptr, nullptr);
            doc->Invoke(DISPID_Document_MouseUp, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, v.put(), nullptr, nullptr);
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            ++reads;
        }
        double c = processCpu() - c0, w = now() - w0;
        printf("  reference, reading without sleeping: %.2f %% of one core (%ld reads in %.1f s)\n", 100.0 * c / w, reads, w);
    }

    // 2. Latency, indicators changed from another thread (no message wakes the plug-in).
    SimReset();
    SimSetUser(FALSE, 0, 0);
    SimSetDocuments(-1, L"Autoguider Image");
    Clicker clicker;
    HANDLE thread = CreateThread(nullptr, 0, &Clicker::main, &clicker, 0, nullptr);
    int runs = (clicks + 4) / 5;
    for (int r = 0; r < runs; ++r) doModal(plugIn.get());
    SetEvent(clicker.stop);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    printf("click latency, indicators changed by another thread: %zu clicks, median %.2f ms, p99 %.2f ms, max %.2f ms\n",
           clicker.delays.size(), percentile(clicker.delays, 0.5), percentile(clicker.delays, 0.99),
           clicker.delays.empty() ? -1.0 : *std::max_element(clicker.delays.begin(), clicker.delays.end()));

    // Latency when the change arrives as a message on the host's thread (its window's mouse input).
    SimReset();
    SimSetUser(TRUE, 20, 20);
    std::vector<double> viaMessage;
    for (int r = 0; r < runs; ++r) {
        doModal(plugIn.get());
        double d = SimReleaseToReadMs();
        if (d >= 0) viaMessage.push_back(d);
    }
    printf("click latency, change delivered as a message: %zu runs (last click each), median %.3f ms, p99 %.3f ms\n",
           viaMessage.size(), percentile(viaMessage, 0.5), percentile(viaMessage, 0.99));

    // 3. Sizes.
    std::wstring self = L"brastow.dll";
    wchar_t full[MAX_PATH];
    GetFullPathNameW(self.c_str(), MAX_PATH, full, nullptr);
    printf("brastow.dll: %lld bytes\n", fileSize(full));
    HMODULE m = LoadLibraryExW(full, nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (m) {
        auto* base = reinterpret_cast<BYTE*>(m);
        auto* nt = reinterpret_cast<IMAGE_NT_HEADERS32*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
        auto& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
            const char* name = reinterpret_cast<char*>(base + d->Name);
            printf("  imports %-13s %lld bytes (Wine's)\n", name, fileSize(dllFile(name)));
        }
    }

    memberRates(plugIn.get());
    return 0;
}
