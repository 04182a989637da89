#include "tests/support.h"


#include <gtest/gtest.h>

namespace testing_support {

namespace {
// Every test program runs its tests in a single-threaded apartment.
class ComEnvironment : public ::testing::Environment {
public:
    void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    void TearDown() override { CoUninitialize(); }
};
} // namespace
const ::testing::Environment* const kComEnvironment = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

std::wstring buildPath(const wchar_t* name) {
    wchar_t full[MAX_PATH];
    GetFullPathNameW(name, MAX_PATH, full, nullptr);
    return full;
}

com::Ptr<IDispatch> createPlugIn() {
    CLSID clsid;
    com::Ptr<IDispatch> d;
    if (FAILED(CLSIDFromProgID(L"Brastow.PlugIn", &clsid))) return d;
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, d.putVoid());
    return d;
}

CallResult invoke(IDispatch* d, DISPID id, WORD flags, std::vector<com::Var> args) {
    CallResult r;
    std::vector<VARIANT> rev;
    for (auto it = args.rbegin(); it != args.rend(); ++it) rev.push_back(*it->get());
    DISPPARAMS dp = {rev.empty() ? nullptr : rev.data(), nullptr, static_cast<UINT>(rev.size()), 0};
    DISPID named = DISPID_PROPERTYPUT;
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) { dp.rgdispidNamedArgs = &named; dp.cNamedArgs = 1; }
    EXCEPINFO ex = {};
    r.hr = d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &dp, r.value.put(), &ex, &r.argErr);
    if (r.hr == DISP_E_EXCEPTION) r.error = com::fromExcepInfo(ex, L"");
    return r;
}

DISPID dispid(IDispatch* d, const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR n = const_cast<LPOLESTR>(name);
    if (FAILED(d->GetIDsOfNames(IID_NULL, &n, 1, LOCALE_USER_DEFAULT, &id))) return DISPID_UNKNOWN;
    return id;
}

CallResult call(IDispatch* d, const wchar_t* name, std::vector<com::Var> args) {
    return invoke(d, dispid(d, name), DISPATCH_METHOD, std::move(args));
}

} // namespace testing_support
