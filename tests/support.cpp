#include "tests/support.h"

#include <algorithm>

namespace testing_support {

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

std::wstring textOf(HWND w) {
    wchar_t buf[2048] = L"";
    GetWindowTextW(w, buf, 2048);
    return buf;
}

namespace {
UiRobot* g_robot = nullptr;

struct Found { std::vector<HWND> dialogs; };
BOOL CALLBACK collect(HWND w, LPARAM lp) {
    wchar_t cls[32];
    if (GetClassNameW(w, cls, 32) && lstrcmpW(cls, L"#32770") == 0 && IsWindowVisible(w))
        reinterpret_cast<Found*>(lp)->dialogs.push_back(w);
    return TRUE;
}
struct Inspect { SeenBox* box; };
BOOL CALLBACK inspectChild(HWND c, LPARAM lp) {
    SeenBox* b = reinterpret_cast<Inspect*>(lp)->box;
    wchar_t cls[32];
    GetClassNameW(c, cls, 32);
    LONG style = GetWindowLongW(c, GWL_STYLE);
    if (lstrcmpiW(cls, L"Static") == 0) {
        if ((style & SS_TYPEMASK) == SS_ICON) {
            if (IsWindowVisible(c) && SendMessageW(c, STM_GETICON, 0, 0)) b->hasIcon = true;
        } else if (b->text.empty()) {
            b->text = textOf(c);
        }
    } else if (lstrcmpiW(cls, L"Button") == 0 && IsWindowVisible(c)) {
        ++b->buttons;
        if (GetDlgCtrlID(c) == IDCANCEL) b->hasCancel = true;
    }
    return TRUE;
}
} // namespace

UiRobot::UiRobot() {
    g_robot = this;
    timer_ = SetTimer(nullptr, 0, 15, &UiRobot::tick);
}

UiRobot::~UiRobot() {
    KillTimer(nullptr, timer_);
    g_robot = nullptr;
}

std::vector<std::wstring> UiRobot::texts() const {
    std::vector<std::wstring> t;
    for (auto& b : boxes) t.push_back(b.text);
    return t;
}

void CALLBACK UiRobot::tick(HWND, UINT, UINT_PTR, DWORD) {
    if (g_robot) g_robot->scan();
}

void UiRobot::scan() {
    if (onTick) onTick();
    done_.erase(std::remove_if(done_.begin(), done_.end(), [](HWND w) { return !IsWindow(w); }), done_.end());
    Found f;
    EnumThreadWindows(GetCurrentThreadId(), collect, reinterpret_cast<LPARAM>(&f));
    for (HWND w : f.dialogs) {
        if (std::find(done_.begin(), done_.end(), w) != done_.end()) continue;
        // A message box has a static text and no edit fields.
        bool hasEdit = FindWindowExW(w, nullptr, L"Edit", nullptr) != nullptr;
        if (!hasEdit) {
            SeenBox b;
            b.caption = textOf(w);
            Inspect in{&b};
            EnumChildWindows(w, inspectChild, reinterpret_cast<LPARAM>(&in));
            boxes.push_back(b);
            done_.push_back(w);
            PostMessageW(w, WM_COMMAND, IDOK, 0);
        } else if (onDialog && onDialog(w)) {
            done_.push_back(w);
        }
    }
}

namespace {
HHOOK g_hook = nullptr;
int g_blocked = 0;
LRESULT CALLBACK cbt(int code, WPARAM wp, LPARAM lp) {
    if (code == HCBT_CREATEWND) {
        auto* cw = reinterpret_cast<CBT_CREATEWNDW*>(lp);
        if (cw->lpcs && cw->lpcs->lpszClass == MAKEINTATOM(32770)) {
            ++g_blocked;
            return 1;  // refused: MessageBox returns at once
        }
    }
    return CallNextHookEx(g_hook, code, wp, lp);
}
} // namespace

MessageBoxBlocker::MessageBoxBlocker() {
    hook_ = SetWindowsHookExW(WH_CBT, cbt, nullptr, GetCurrentThreadId());
    g_hook = hook_;
}
MessageBoxBlocker::~MessageBoxBlocker() { UnhookWindowsHookEx(hook_); g_hook = nullptr; }
int MessageBoxBlocker::blocked() { return g_blocked; }

} // namespace testing_support
