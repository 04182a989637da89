// A randomized sweep of late-bound calls: random members, flags, argument counts and
// variant types (by value and by reference). Every call must return, nothing may
// crash, and every reference taken must be given back.
#include <gtest/gtest.h>
#include "tests/support.h"
#include "server/dispids.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <random>

using namespace testing_support;
using com::Var;

namespace {

// An object argument that counts its references; its default value is a number
// or a failure.
class Probe final : public IDispatch {
public:
    explicit Probe(bool answers) : answers_(answers) {}
    LONG refs = 1;
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IDispatch) { *out = this; AddRef(); return S_OK; }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override { *n = 0; return S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO* ex, UINT*) override {
        if (id == DISPID_VALUE && answers_ && result) { result->vt = VT_R8; result->dblVal = 2.5; return S_OK; }
        if (ex) { ex->scode = E_FAIL; ex->bstrDescription = SysAllocString(L"probe refuses"); }
        return DISP_E_EXCEPTION;
    }
private:
    bool answers_;
};

class Sweep {
public:
    explicit Sweep(unsigned seed) : rng_(seed) {}

    // A well-formed variant of a random type; storage for references lives in the sweep.
    Var value(int depth = 0) {
        Var v;
        VARIANT& r = v.ref();
        switch (pick(22)) {
        case 0: break;  // Empty
        case 1: r.vt = VT_NULL; break;
        case 2: r.vt = VT_I2; r.iVal = static_cast<SHORT>(rng_()); break;
        case 3: r.vt = VT_I4; r.lVal = static_cast<LONG>(rng_()); break;
        case 4: r.vt = VT_R4; r.fltVal = specialFloat(); break;
        case 5: r.vt = VT_R8; r.dblVal = specialDouble(); break;
        case 6: r.vt = VT_CY; r.cyVal.int64 = static_cast<LONGLONG>(rng_()) << pick(32); break;
        case 7: r.vt = VT_DATE; r.date = specialDouble(); break;
        case 8: { static const wchar_t* texts[] = {L"", L"abc", L"1e400", L"-0", L" 12 ", L"3,5", L"0.0001", L"&H7FFF", L"1e-400", L"NaN"};
                  r.vt = VT_BSTR; r.bstrVal = SysAllocString(texts[pick(10)]); break; }
        case 9: r.vt = VT_BOOL; r.boolVal = pick(2) ? VARIANT_TRUE : VARIANT_FALSE; break;
        case 10: r.vt = VT_UI1; r.bVal = static_cast<BYTE>(rng_()); break;
        case 11: r.vt = VT_I1; r.cVal = static_cast<CHAR>(rng_()); break;
        case 12: r.vt = VT_UI4; r.ulVal = rng_(); break;
        case 13: r.vt = VT_I8; r.llVal = (static_cast<LONGLONG>(rng_()) << 32) | rng_(); break;
        case 14: r.vt = VT_ERROR; r.scode = DISP_E_PARAMNOTFOUND; break;
        case 15: { r.vt = VT_DECIMAL; DECIMAL d = {}; d.Lo32 = rng_(); d.scale = static_cast<BYTE>(pick(29)); d.sign = pick(2) ? DECIMAL_NEG : 0; r.decVal = d; break; }
        case 16: { Probe* p = probe(); r.vt = VT_DISPATCH; r.pdispVal = p; p->AddRef(); break; }
        case 17: { Probe* p = probe(); r.vt = VT_UNKNOWN; r.punkVal = p; p->AddRef(); break; }
        case 18: r.vt = VT_DISPATCH; r.pdispVal = nullptr; break;  // Nothing
        case 19: { SAFEARRAY* sa = SafeArrayCreateVector(pick(2) ? VT_R8 : VT_VARIANT, 0, pick(4));
                   r.vt = VT_ARRAY | (sa->fFeatures & FADF_VARIANT ? VT_VARIANT : VT_R8); r.parray = sa; break; }
        case 20: if (depth < 2) {  // a reference to another variant
                     keep_.push_back(value(depth + 1));
                     r.vt = VT_BYREF | VT_VARIANT; r.pvarVal = keep_.back().get();
                 } break;
        default: if (depth < 2) {  // a typed reference to a scalar
                     keep_.push_back(value(depth + 1));
                     VARIANT& t = keep_.back().ref();
                     if (t.vt == VT_R8 || t.vt == VT_I2 || t.vt == VT_I4 || t.vt == VT_R4 || t.vt == VT_BSTR || t.vt == VT_BOOL) {
                         r.vt = static_cast<VARTYPE>(VT_BYREF | t.vt);
                         r.byref = &t.lVal;  // the union's storage
                         if (t.vt == VT_BSTR) r.pbstrVal = &t.bstrVal;
                     }
                 } break;
        }
        return v;
    }

    DISPID member() {
        static const DISPID ids[] = {DISPID_PlugIn_Sign, DISPID_PlugIn_ArcCosDeg, DISPID_PlugIn_ArcSinDeg, DISPID_PlugIn_SinDeg, DISPID_PlugIn_CosDeg,
                                     DISPID_PlugIn_OldCalcAngle, DISPID_PlugIn_CalcAngle, DISPID_PlugIn_DoModal, DISPID_PlugIn_Name, 0, -1, -4, 0x60030009, 0x68030001};
        return pick(10) ? ids[pick(9)] : (pick(2) ? ids[9 + pick(5)] : static_cast<DISPID>(rng_()));
    }
    WORD flags() {
        static const WORD f[] = {DISPATCH_METHOD, DISPATCH_PROPERTYGET, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                 DISPATCH_PROPERTYPUT, DISPATCH_PROPERTYPUTREF, 0};
        return pick(8) ? f[pick(3)] : f[3 + pick(3)];
    }
    int pick(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }
    void releaseKept() { keep_.clear(); }
    std::deque<Probe> probes;

private:
    Probe* probe() {
        if (probes.size() < 64) probes.emplace_back(pick(2) == 0);
        return &probes[pick(static_cast<int>(probes.size()))];
    }
    float specialFloat() {
        static const float v[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 1e-45f, 3.4e38f, -3.4e38f, 1e-4f,
                                  std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN()};
        return pick(3) ? v[pick(11)] : static_cast<float>(static_cast<int>(rng_()) % 2000) / 7.0f;
    }
    double specialDouble() {
        static const double v[] = {0.0, -0.0, 1.0, -1.0, 0.9999999999, 1e-300, 1e300, -1e300, 1e154, 5e-324, 0.0001,
                                   std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                                   std::numeric_limits<double>::quiet_NaN(), 1.7976931348623157e308};
        return pick(3) ? v[pick(15)] : static_cast<double>(static_cast<int>(rng_())) / 1e5;
    }
    std::mt19937 rng_;
    std::deque<Var> keep_;
};

} // namespace

TEST(InvokeSweep, HundredThousandRandomCallsEndCleanly) {
    com::Apartment apartment;
    MessageBoxBlocker blocker;  // the trapping members' messages are refused, not shown
    using CanUnload = HRESULT(WINAPI*)();
    HMODULE module = LoadLibraryW(buildPath(L"brastow.dll").c_str());
    ASSERT_NE(module, nullptr);
    auto canUnload = reinterpret_cast<CanUnload>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));

    Sweep sweep(20261208u);
    int ok = 0, failed = 0, refused = 0;
    {
        auto plugIn = createPlugIn();
        ASSERT_TRUE(plugIn);
        for (int i = 0; i < 100000; ++i) {
            std::vector<Var> args;
            int n = sweep.pick(4);
            for (int a = 0; a < n; ++a) args.push_back(sweep.value());
            std::vector<VARIANT> raw;
            for (auto& a : args) raw.push_back(*a.get());
            DISPPARAMS dp = {raw.empty() ? nullptr : raw.data(), nullptr, static_cast<UINT>(raw.size()), 0};
            WORD flags = sweep.flags();
            DISPID named[3] = {DISPID_PROPERTYPUT, 0, 1};
            if ((flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) && n > 0) { dp.rgdispidNamedArgs = named; dp.cNamedArgs = 1; }
            // One call in ten is malformed: arrays missing for their counts, more names
            // than arguments, named arguments by parameter, references that lead nowhere.
            bool malformed = false;
            switch (sweep.pick(10) ? -1 : sweep.pick(5)) {
            case 0: dp.rgvarg = nullptr; dp.cArgs = 1 + static_cast<UINT>(sweep.pick(3)); malformed = true; break;
            case 1: dp.rgdispidNamedArgs = nullptr; dp.cNamedArgs = 1; malformed = n > 0; break;
            case 2: dp.rgdispidNamedArgs = named + 1; dp.cNamedArgs = static_cast<UINT>(n) + 1; malformed = true; break;
            case 3: if (n > 0) { dp.rgdispidNamedArgs = named + 1; dp.cNamedArgs = static_cast<UINT>(std::min(n, 2)); } break;
            case 4: if (n > 0) {
                        VARIANT& v = raw[static_cast<size_t>(sweep.pick(n))];
                        VariantInit(&v);  // the copy only: `args` keeps and frees the value
                        v.vt = static_cast<VARTYPE>(VT_BYREF | (sweep.pick(2) ? VT_VARIANT : VT_R8));
                        v.byref = nullptr;
                        malformed = true;
                    } break;
            default: break;
            }
            Var result;
            EXCEPINFO ex = {};
            UINT argErr = 0;
            bool wantResult = sweep.pick(5) != 0;
            HRESULT hr = plugIn->Invoke(sweep.member(), IID_NULL, LOCALE_USER_DEFAULT, flags, &dp,
                                        wantResult ? result.put() : nullptr, &ex, sweep.pick(2) ? &argErr : nullptr);
            if (hr == DISP_E_EXCEPTION) com::fromExcepInfo(ex, L"");
            if (malformed) {
                EXPECT_TRUE(hr == E_INVALIDARG || hr == E_POINTER) << "a malformed call gave 0x" << std::hex << hr;
                ++refused;
            }
            if (SUCCEEDED(hr)) ++ok; else ++failed;
            sweep.releaseKept();
        }
        // The object's own count is back where it started.
        plugIn->AddRef();
        EXPECT_EQ(plugIn->Release(), 1u);
    }
    EXPECT_GT(ok, 1000);
    EXPECT_GT(failed, 1000);
    EXPECT_GT(refused, 5000);
    for (auto& p : sweep.probes) EXPECT_EQ(p.refs, 1) << "an object argument was not released";
    CoFreeUnusedLibraries();
    EXPECT_EQ(canUnload(), S_OK) << "an object of the module is still alive";
    FreeLibrary(module);
}

// ---- malformed calls, each in a child process so that a crash fails the test ---------------

namespace {

const wchar_t kCaseVariable[] = L"BRASTOW_MALFORMED_CASE";

// One malformed call and the result the platform's rules give it.
// Calls through the dual interface get it from the child's object first.
struct Malformed {
    const char* what;
    HRESULT expected;
    HRESULT (*call)(IDispatch*);
    HRESULT (*dualCall)(_PlugIn*) = nullptr;
};

HRESULT invokeRaw(IDispatch* d, DISPID id, DISPPARAMS* dp, WORD flags = DISPATCH_METHOD) {
    Var result;
    EXCEPINFO ex = {};
    UINT argErr = 0;
    HRESULT hr = d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, dp, result.put(), &ex, &argErr);
    if (hr == DISP_E_EXCEPTION) com::fromExcepInfo(ex, L"");
    return hr;
}

const Malformed kMalformed[] = {
    {"no DISPPARAMS at all", E_INVALIDARG, [](IDispatch* d) { return invokeRaw(d, DISPID_PlugIn_Sign, nullptr); }},
    {"cArgs 1 with no argument array", E_INVALIDARG,
     [](IDispatch* d) { DISPPARAMS dp = {nullptr, nullptr, 1, 0}; return invokeRaw(d, DISPID_PlugIn_Sign, &dp); }},
    {"a named argument with no identifier array", E_INVALIDARG,
     [](IDispatch* d) { Var x = Var::i2(1); DISPPARAMS dp = {x.get(), nullptr, 1, 1}; return invokeRaw(d, DISPID_PlugIn_Sign, &dp); }},
    {"more named arguments than arguments", E_INVALIDARG,
     [](IDispatch* d) { Var x = Var::i2(1); DISPID ids[2] = {0, 1};
                        DISPPARAMS dp = {x.get(), ids, 1, 2}; return invokeRaw(d, DISPID_PlugIn_CalcAngle, &dp); }},
    {"a typed reference whose pointer is null", E_POINTER,
     [](IDispatch* d) { VARIANT v; v.vt = VT_BYREF | VT_R8; v.pdblVal = nullptr;
                        DISPPARAMS dp = {&v, nullptr, 1, 0}; return invokeRaw(d, DISPID_PlugIn_SinDeg, &dp); }},
    {"a reference to a variant that is null", E_POINTER,
     [](IDispatch* d) { VARIANT v; v.vt = VT_BYREF | VT_VARIANT; v.pvarVal = nullptr;
                        DISPPARAMS dp = {&v, nullptr, 1, 0}; return invokeRaw(d, DISPID_PlugIn_Sign, &dp); }},
    {"a reference to a variant that refers to itself", E_POINTER,
     [](IDispatch* d) { VARIANT v; v.vt = VT_BYREF | VT_VARIANT; v.pvarVal = &v;
                        DISPPARAMS dp = {&v, nullptr, 1, 0}; return invokeRaw(d, DISPID_PlugIn_CosDeg, &dp); }},
    {"a null object reference for DoModal's document", E_POINTER,
     [](IDispatch* d) { VARIANT v; v.vt = VT_BYREF | VT_DISPATCH; v.ppdispVal = nullptr;
                        DISPPARAMS dp = {&v, nullptr, 1, 0}; return invokeRaw(d, DISPID_PlugIn_DoModal, &dp); }},
    {"a record without record information", E_POINTER,
     [](IDispatch* d) { VARIANT v; v.vt = VT_RECORD; v.pvRecord = nullptr; v.pRecInfo = nullptr;
                        DISPPARAMS dp = {&v, nullptr, 1, 0}; return invokeRaw(d, DISPID_PlugIn_ArcCosDeg, &dp); }},
    {"GetIDsOfNames with no names", E_INVALIDARG,
     [](IDispatch* d) { DISPID id; return d->GetIDsOfNames(IID_NULL, nullptr, 1, 0, &id); }},
    {"GetIDsOfNames with no room for the identifiers", E_INVALIDARG,
     [](IDispatch* d) { LPOLESTR n = const_cast<LPOLESTR>(L"Sign"); return d->GetIDsOfNames(IID_NULL, &n, 1, 0, nullptr); }},
    {"GetIDsOfNames with a null name", E_INVALIDARG,
     [](IDispatch* d) { LPOLESTR n[2] = {const_cast<LPOLESTR>(L"CalcAngle"), nullptr}; DISPID ids[2];
                        return d->GetIDsOfNames(IID_NULL, n, 2, 0, ids); }},
    {"the dual interface called with a null typed reference", E_POINTER,
     nullptr, [](_PlugIn* p) {
                        VARIANT v; v.vt = VT_BYREF | VT_R4; v.pfltVal = nullptr; Var r;
                        HRESULT hr = p->Sign(&v, r.put());
                        com::Error e = com::takeError(hr, L"");
                        return e.number == com::kInvalidArgument ? E_POINTER : hr; }},
    {"the dual interface's CalcAngle with no second argument (its result comes back empty)", E_POINTER,
     nullptr, [](_PlugIn* p) {
                        Var x = Var::i2(3), r = Var::i4(1234);
                        HRESULT hr = p->CalcAngle(const_cast<VARIANT*>(x.get()), nullptr, &r.ref());
                        com::Error e = com::takeError(hr, L"");
                        if (r.vt() != VT_EMPTY) return E_UNEXPECTED;
                        return e.number == com::kInvalidArgument ? E_POINTER : hr; }},
    // S_FALSE here: the call failed and its result came back empty.
    {"a failing call's result, given holding a number, comes back empty", S_FALSE,
     nullptr, [](_PlugIn* p) {
                        Var x = Var::str(L"north"), r = Var::i4(1234);
                        HRESULT hr = p->Sign(const_cast<VARIANT*>(x.get()), &r.ref());
                        com::takeError(hr, L"");
                        if (SUCCEEDED(hr)) return E_FAIL;
                        return r.vt() == VT_EMPTY ? S_FALSE : E_UNEXPECTED; }},
    {"a named argument one past the last parameter", DISP_E_PARAMNOTFOUND,
     [](IDispatch* d) { Var a[2] = {Var::i2(4), Var::i2(3)}; VARIANT raw[2] = {*a[0].get(), *a[1].get()};
                        DISPID ids[2] = {1, 2};
                        DISPPARAMS dp = {raw, ids, 2, 2}; return invokeRaw(d, DISPID_PlugIn_CalcAngle, &dp); }},
};

// A crash ends the child at once with the exception's code (no debugger is started).
LONG WINAPI exitOnCrash(EXCEPTION_POINTERS* e) {
    ExitProcess(e->ExceptionRecord->ExceptionCode);
}

DWORD runChild(size_t index) {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring cmd = L"\"" + std::wstring(exe) + L"\" --gtest_filter=MalformedChild.OneCall";
    SetEnvironmentVariableW(kCaseVariable, std::to_wstring(index).c_str());
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    DWORD code = 0xFFFFFFFF;
    if (CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        if (WaitForSingleObject(pi.hProcess, 30000) == WAIT_TIMEOUT) TerminateProcess(pi.hProcess, 0xDEAD);
        GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    SetEnvironmentVariableW(kCaseVariable, nullptr);
    return code;
}

} // namespace

// The child's part: one malformed call, which must return the expected result.
TEST(MalformedChild, OneCall) {
    wchar_t buf[16];
    if (!GetEnvironmentVariableW(kCaseVariable, buf, 16)) GTEST_SKIP() << "run by MalformedCalls in a child process";
    const Malformed& m = kMalformed[static_cast<size_t>(_wtoi(buf))];
    SetUnhandledExceptionFilter(exitOnCrash);
    MessageBoxBlocker blocker;
    auto plugIn = createPlugIn();
    ASSERT_TRUE(plugIn);
    HRESULT hr;
    if (m.dualCall) {
        com::Ptr<_PlugIn> dual;
        hr = plugIn->QueryInterface(IID__PlugIn, dual.putVoid());
        if (SUCCEEDED(hr)) hr = m.dualCall(dual.get());
    } else {
        hr = m.call(plugIn.get());
    }
    EXPECT_EQ(hr, m.expected) << m.what;
    EXPECT_EQ(MessageBoxBlocker::blocked(), 0) << "no member code ran";
}

TEST(MalformedCalls, AreRefusedWithThePlatformsResultsAndNeverCrash) {
    for (size_t i = 0; i < ARRAYSIZE(kMalformed); ++i) {
        const DWORD code = runChild(i);
        EXPECT_EQ(code, 0u) << kMalformed[i].what << ": the child " << (code > 1 ? "crashed" : "got another result")
                            << " (exit code 0x" << std::hex << code << ")";
    }
}
