#include "sim/uirobot.h"
#include "setup/sample_ids.h"
#include "plugin/panel_ids.h"

#include <algorithm>

namespace simuser {

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
    stop();
    g_robot = nullptr;
}

void UiRobot::stop() {
    if (timer_) KillTimer(nullptr, timer_);
    timer_ = 0;
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
            if (closeBoxes) PostMessageW(w, WM_COMMAND, IDOK, 0);
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

namespace {
wchar_t localeChar(LCTYPE what, wchar_t fallback) {
    wchar_t buf[8] = L"";
    return GetLocaleInfoW(LOCALE_USER_DEFAULT, what, buf, ARRAYSIZE(buf)) && buf[0] ? buf[0] : fallback;
}
} // namespace

wchar_t decimalSeparator() { return localeChar(LOCALE_SDECIMAL, L'.'); }
wchar_t groupSeparator() { return localeChar(LOCALE_STHOUSAND, L','); }

std::wstring local(const wchar_t* number) {
    std::wstring s(number);
    for (auto& c : s) if (c == L'.') c = decimalSeparator();
    return s;
}

void fillSetupForm(HWND dlg, const SetupEntry& e) {
    auto set = [&](int id, const std::optional<std::wstring>& text) {
        if (text) SetDlgItemTextW(dlg, id, text->c_str());
    };
    set(IDC_NUMBER1, e.xTime);
    set(IDC_NUMBER2, e.yTime);
    set(IDC_NUMBER3, e.backlashPercent);
    set(IDC_NUMBER4, e.exposure);
    set(IDC_NUMBER5, e.declination);
    CheckDlgButton(dlg, IDC_CHECK1, e.backlash ? BST_CHECKED : BST_UNCHECKED);
    switch (e.close) {
    case SetupEntry::Close::Ok: PostMessageW(GetDlgItem(dlg, IDOK), BM_CLICK, 0, 0); break;
    case SetupEntry::Close::Cancel: PostMessageW(GetDlgItem(dlg, IDCANCEL), BM_CLICK, 0, 0); break;
    case SetupEntry::Close::CloseBox: PostMessageW(dlg, WM_SYSCOMMAND, SC_CLOSE, 0); break;
    case SetupEntry::Close::Escape:
    case SetupEntry::Close::Enter: {
        HWND field = GetDlgItem(dlg, IDC_NUMBER3);
        SetFocus(field);
        WPARAM key = e.close == SetupEntry::Close::Escape ? VK_ESCAPE : VK_RETURN;
        PostMessageW(field, WM_KEYDOWN, key, 1);
        PostMessageW(field, WM_KEYUP, key, 0xC0000001);
        break;
    }
    }
}

SetupTexts readSetupForm(HWND dlg) {
    SetupTexts t;
    t.xTime = textOf(GetDlgItem(dlg, IDC_NUMBER1));
    t.yTime = textOf(GetDlgItem(dlg, IDC_NUMBER2));
    t.backlashPercent = textOf(GetDlgItem(dlg, IDC_NUMBER3));
    t.exposure = textOf(GetDlgItem(dlg, IDC_NUMBER4));
    t.declination = textOf(GetDlgItem(dlg, IDC_NUMBER5));
    t.backlash = IsDlgButtonChecked(dlg, IDC_CHECK1) != BST_UNCHECKED;
    return t;
}

namespace {
OkWatcher* g_watcher = nullptr;
} // namespace

OkWatcher::OkWatcher(std::function<void(HWND, const SetupTexts&)> onOk) : onOk_(std::move(onOk)) {
    g_watcher = this;
    hook_ = SetWindowsHookExW(WH_CALLWNDPROC, hook, nullptr, GetCurrentThreadId());
}

OkWatcher::~OkWatcher() {
    if (hook_) UnhookWindowsHookEx(hook_);
    g_watcher = nullptr;
}

LRESULT CALLBACK OkWatcher::hook(int code, WPARAM wp, LPARAM lp) {
    if (code == HC_ACTION && g_watcher) {
        const auto* m = reinterpret_cast<const CWPSTRUCT*>(lp);
        if (m->message == WM_COMMAND && LOWORD(m->wParam) == IDOK && HIWORD(m->wParam) == BN_CLICKED &&
            GetDlgItem(m->hwnd, IDC_NUMBER1))
            g_watcher->onOk_(m->hwnd, readSetupForm(m->hwnd));
    }
    return CallNextHookEx(g_watcher ? g_watcher->hook_ : nullptr, code, wp, lp);
}

namespace {
BOOL CALLBACK findPanelWindow(HWND w, LPARAM lp) {
    wchar_t cls[64];
    if (!GetClassNameW(w, cls, 64) || lstrcmpW(cls, BRASTOW_PANEL_CLASS) != 0) return TRUE;
    *reinterpret_cast<HWND*>(lp) = w;
    return FALSE;
}
} // namespace

HWND findPanel() {
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), findPanelWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

PanelTexts readPanel(HWND panel) {
    PanelTexts t;
    t.step = textOf(GetDlgItem(panel, IDC_PANEL_STEP));
    t.hint = textOf(GetDlgItem(panel, IDC_PANEL_HINT));
    t.check = textOf(GetDlgItem(panel, IDC_PANEL_CHECK));
    t.stopShown = IsWindowVisible(GetDlgItem(panel, IDC_PANEL_STOP)) != FALSE;
    return t;
}

} // namespace simuser
