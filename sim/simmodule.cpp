// maximsim.dll: the simulated host's module. Registers "MaxIm.Application",
// "MaxIm.CCDCamera" and the stand-in host type library; exports the control API.
#include "server/runtime.h"
#include "sim/observatory.h"
#include "sim/simobjects.h"
#include "maxim.h"

namespace {

// {37786C7A-D75E-4E5E-BC7D-67C50FF0E2AF} and {AB54EC89-2A95-4315-82A7-388FDA794375}
const CLSID kApplicationClsid = {0x37786C7A, 0xD75E, 0x4E5E, {0xBC, 0x7D, 0x67, 0xC5, 0x0F, 0xF0, 0xE2, 0xAF}};
const CLSID kCameraClsid = {0xAB54EC89, 0x2A95, 0x4315, {0x82, 0xA7, 0x38, 0x8F, 0xDA, 0x79, 0x43, 0x75}};

const runtime::ClassInfo kClasses[] = {
    {&kApplicationClsid, L"Application", &sim::createApplication},
    {&kCameraClsid, L"CCDCamera", &sim::createCamera},
};
const runtime::ModuleInfo kModule = {L"MaxIm", &LIBID_MaxIm, 1, 0, 0, L"Apartment", kClasses, ARRAYSIZE(kClasses)};

std::vector<std::wstring> split(const wchar_t* names) {
    std::vector<std::wstring> out;
    if (!names || !*names) return out;
    std::wstring s(names), cur;
    for (wchar_t c : s) {
        if (c == L'|') { out.push_back(cur); cur.clear(); } else cur += c;
    }
    out.push_back(cur);
    return out;
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) sim::GuideWindow::setModule(instance);
    return runtime::moduleEntry(kModule, instance, reason, reserved);
}
STDAPI DllCanUnloadNow() { return S_FALSE; }  // the observatory keeps state for the process
STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) { return runtime::getClassObject(kModule, clsid, iid, out); }
STDAPI DllRegisterServer() { return runtime::registerServer(kModule); }
STDAPI DllUnregisterServer() { return runtime::unregisterServer(kModule); }

using sim::Observatory;
using sim::Var;

SIM_API void SimReset(void) { Observatory::get().reset(); }
SIM_API void SimGetSky(SimSky* sky) { *sky = Observatory::get().sky; }
SIM_API void SimSetSky(const SimSky* sky) { Observatory::get().setSky(*sky); }
SIM_API void SimExpect(double xt, double yt, double fraction, double dec, SimExpected* out) {
    *out = Observatory::get().expect(xt, yt, fraction, dec);
}
SIM_API void SimSetDocuments(int pass, const wchar_t* names) { Observatory::get().setDocuments(pass, split(names)); }
SIM_API void SimScriptClick(int pass, const VARIANT* x, const VARIANT* y) {
    Var vx, vy;
    VariantCopy(vx.get(), const_cast<VARIANT*>(x));
    VariantCopy(vy.get(), const_cast<VARIANT*>(y));
    Observatory::get().scriptedClicks[static_cast<size_t>(pass)] = {vx, vy};
}
SIM_API void SimScriptMeasurement(int pass, const VARIANT* result) {
    Var v;
    VariantCopy(v.get(), const_cast<VARIANT*>(result));
    Observatory::get().scriptedMeasurements[static_cast<size_t>(pass)] = v;
}
SIM_API void SimScriptDeclination(const VARIANT* readings, int count) {
    auto& list = Observatory::get().declinationReadings;
    list.clear();
    for (int i = 0; i < count; ++i) {
        Var v;
        VariantCopy(v.get(), const_cast<VARIANT*>(&readings[i]));
        list.push_back(v);
    }
}
SIM_API void SimSetLink(BOOL works) { Observatory::get().linkWorks = works != FALSE; }
SIM_API void SimSetExposureMs(int ms) { Observatory::get().exposureMs = ms; }
SIM_API void SimSetUser(BOOL on, int pressDelayMs, int holdMs) {
    Observatory& o = Observatory::get();
    o.userOn = on != FALSE;
    o.pressDelayMs = pressDelayMs;
    o.holdMs = holdMs;
}
SIM_API void SimSetStaleClicks(BOOL on) { Observatory::get().staleClicks = on != FALSE; }
SIM_API int SimPositionReadsWhileDown(void) { return Observatory::get().positionReadsWhileDown; }
SIM_API void SimPress(int x, int y) { Observatory::get().press(Var::i2(static_cast<SHORT>(x)), Var::i2(static_cast<SHORT>(y))); }
SIM_API void SimSetVisible(BOOL visible, HWND mainWindow) {
    Observatory& o = Observatory::get();
    o.visible = visible != FALSE;
    o.mainWindow = mainWindow;
}
SIM_API void SimRelease(void) { Observatory::get().release(); }
SIM_API void SimOnStatus(void (*callback)(const wchar_t* text)) { Observatory::get().onStatus = callback; }
SIM_API void SimOnCall(void (*callback)(const wchar_t* call)) { Observatory::get().onCall = callback; }
SIM_API void SimScriptAnswer(const wchar_t* member, const VARIANT* value) {
    Var v;
    if (value) VariantCopy(v.get(), const_cast<VARIANT*>(value));
    Observatory::get().answers[member] = v;
}
SIM_API void SimFailOn(const wchar_t* member, int nth, HRESULT hr, const wchar_t* description) {
    Observatory::get().failures[member] = sim::Failure{nth, hr, description ? description : L""};
}
SIM_API int SimCallCount(void) { return static_cast<int>(Observatory::get().calls.size()); }
SIM_API BSTR SimCallText(int index) {
    auto& calls = Observatory::get().calls;
    if (index < 0 || static_cast<size_t>(index) >= calls.size()) return nullptr;
    return SysAllocString(calls[static_cast<size_t>(index)].c_str());
}
SIM_API int SimLiveObjects(void) { return static_cast<int>(Observatory::get().liveObjects); }
SIM_API int SimEntered(const wchar_t* member) {
    auto& counts = Observatory::get().callCounts;
    auto it = counts.find(member);
    return it == counts.end() ? 0 : it->second;
}
SIM_API BOOL SimWritten(const wchar_t* member, VARIANT* value) {
    auto& w = Observatory::get().written;
    auto it = w.find(member);
    if (it == w.end()) return FALSE;
    VariantInit(value);
    VariantCopy(value, it->second.get());
    return TRUE;
}
SIM_API void SimStar(double* x, double* y) {
    *x = Observatory::get().starX;
    *y = Observatory::get().starY;
}
SIM_API double SimReleaseToReadMs(void) {
    Observatory& o = Observatory::get();
    if (!o.readSinceRelease || o.readAt.QuadPart < o.releasedAt.QuadPart) return -1.0;
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return 1000.0 * static_cast<double>(o.readAt.QuadPart - o.releasedAt.QuadPart) / static_cast<double>(f.QuadPart);
}
SIM_API BSTR SimExposureWaitLog(void) { return SysAllocString(Observatory::get().exposureWaitLog.c_str()); }
SIM_API IDispatch* SimHostDocument(void) { return sim::newDocument(L"Main Image"); }
