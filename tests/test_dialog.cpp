// The setup form as a user meets it: the real dialog, driven from a thread timer.
#include <gtest/gtest.h>
#include "setup/sample.h"
#include "setup/sample_ids.h"
#include "sim/uirobot.h"

#include <commctrl.h>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

using simuser::SetupEntry;
using simuser::UiRobot;
using simuser::local;

namespace {

// Shows the form once; `script` is called on every tick with the open dialog until it
// returns true (the form is then expected to close by itself).
struct Showing {
    HRESULT hr = E_FAIL;
    std::vector<std::wstring> messages;
    std::vector<simuser::SeenBox> boxes;
};

// The outcome the tests' showings write, kept from one showing to the next as a run's
// own outcome would be if it showed the form several times.
SetupOutcome g_outcome;
const SetupOutcome& form() { return g_outcome; }

Showing show(std::function<bool(HWND, UiRobot&)> script) {
    Showing s;
    UiRobot robot;
    HWND form = nullptr;
    int ticks = 0;
    robot.onDialog = [&](HWND dlg) { form = dlg; return script(dlg, robot); };
    // A form that does not close when it should is a failure, not a hang.
    robot.onTick = [&] {
        if (++ticks == 600 && form && IsWindow(form)) {
            ADD_FAILURE() << "the setup form did not close";
            PostMessageW(form, WM_COMMAND, IDCANCEL, 0);
        }
    };
    s.hr = SetupForm::instance().show(g_outcome);
    s.messages = robot.texts();
    s.boxes = robot.boxes;
    return s;
}

Showing enter(const SetupEntry& e) {
    return show([&](HWND dlg, UiRobot&) { simuser::fillSetupForm(dlg, e); return true; });
}

// Types the entry, presses OK, waits for the refusal, then cancels; `check` runs while
// the form is still open after the refusal.
Showing refusedThenCancel(const SetupEntry& e, std::function<void(HWND)> check = nullptr) {
    int step = 0;
    return show([&, step](HWND dlg, UiRobot& robot) mutable {
        if (step == 0) {
            SetupEntry ok = e;
            simuser::fillSetupForm(dlg, ok);
            step = 1;
            return false;
        }
        if (robot.boxes.empty()) return false;  // the message is still up
        if (check) check(dlg);
        PostMessageW(GetDlgItem(dlg, IDCANCEL), BM_CLICK, 0, 0);
        return true;
    });
}

std::wstring item(HWND dlg, int id) {
    wchar_t buf[256] = L"";
    GetDlgItemTextW(dlg, id, buf, 256);
    return buf;
}


} // namespace

TEST(SetupForm, OkOnTheInitialTexts) {
    std::vector<std::wstring> texts;
    bool checkClear = false;
    std::wstring caption;
    Showing s = show([&](HWND dlg, UiRobot&) {
        for (int id : {IDC_NUMBER1, IDC_NUMBER2, IDC_NUMBER3, IDC_NUMBER4, IDC_NUMBER5}) texts.push_back(item(dlg, id));
        checkClear = IsDlgButtonChecked(dlg, IDC_CHECK1) == BST_UNCHECKED;
        caption = simuser::textOf(dlg);
        PostMessageW(GetDlgItem(dlg, IDOK), BM_CLICK, 0, 0);
        return true;
    });
    ASSERT_EQ(s.hr, S_OK);
    EXPECT_EQ(caption, L"Guide star setup");
    // The exposure's decimal separator is the user's: "2.0", "2,0" in German and French.
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"20", L"20", L"90", local(L"2.0"), L"0"}));
    EXPECT_TRUE(checkClear);
    EXPECT_TRUE(s.messages.empty());
    EXPECT_TRUE(form().DataValid());
    EXPECT_EQ(form().GetXCalibTime(), 20);
    EXPECT_EQ(form().GetYCalibTime(), 20);
    EXPECT_EQ(form().GetBacklashCorrection(), 0.9f);
    EXPECT_EQ(form().GetCalibExpTime(), 2.0f);
    EXPECT_EQ(form().GetDeclination(), 0.0f);
    EXPECT_FALSE(form().GetCorrectBacklash());
}

TEST(SetupForm, IntegerFieldsRoundHalvesToEven) {
    struct { const wchar_t* text; SHORT value; } cases[] = {{L"20.4", 20}, {L"2.5", 2}, {L"3.5", 4}, {L"-5", -5}, {L" 7 ", 7}, {L"-32768", -32768}};
    for (auto& c : cases) {
        SetupEntry e;
        e.xTime = local(c.text);
        e.yTime = local(c.text);
        Showing s = enter(e);
        EXPECT_TRUE(s.messages.empty()) << std::string(c.text, c.text + wcslen(c.text));
        EXPECT_EQ(form().GetXCalibTime(), c.value);
        EXPECT_EQ(form().GetYCalibTime(), c.value);
    }
}

TEST(SetupForm, RefusedEntriesKeepTheFormOpenWithTheTextsAsTyped) {
    // 32767.5 rounds to 32768: out of range.
    for (const std::wstring& bad : {local(L"32767.5"), std::wstring(), std::wstring(L"abc"), std::wstring(L"1e5")}) {
        SetupEntry first;
        first.xTime = L"11";
        enter(first);
        ASSERT_EQ(form().GetXCalibTime(), 11);
        SetupEntry e;
        e.xTime = bad;
        std::wstring typed;
        Showing s = refusedThenCancel(e, [&](HWND dlg) { typed = item(dlg, IDC_NUMBER1); });
        ASSERT_EQ(s.messages.size(), 1u);
        EXPECT_EQ(s.messages[0], L"Please enter a number");
        EXPECT_EQ(s.boxes[0].caption, L"Brastow");
        EXPECT_FALSE(s.boxes[0].hasIcon);
        EXPECT_EQ(s.boxes[0].buttons, 1);
        EXPECT_EQ(typed, bad) << "texts stay as typed";
        EXPECT_EQ(form().GetXCalibTime(), 11) << "no value changes";
        EXPECT_FALSE(form().DataValid());
    }
}

TEST(SetupForm, ValuesBeforeTheFaultyFieldAreStored) {
    SetupEntry e;
    e.xTime = L"33";
    e.yTime = L"north";
    Showing s = refusedThenCancel(e);
    EXPECT_EQ(s.messages, std::vector<std::wstring>{L"Please enter a number"});
    EXPECT_EQ(form().GetXCalibTime(), 33);
    EXPECT_FALSE(form().DataValid());
}

TEST(SetupForm, PercentExposureDeclinationAndBacklashFlag) {
    SetupEntry e;
    e.backlashPercent = L"150";
    e.exposure = L"0";
    e.declination = local(L"95.5");
    e.backlash = true;
    enter(e);
    EXPECT_TRUE(form().DataValid());
    EXPECT_EQ(form().GetBacklashCorrection(), 1.5f);
    EXPECT_EQ(form().GetCalibExpTime(), 0.0f);
    EXPECT_EQ(form().GetDeclination(), 95.5f);  // no plausibility limit here
    EXPECT_TRUE(form().GetCorrectBacklash());
    e.backlashPercent = L"-10";
    e.exposure = L"-1";
    e.backlash = false;
    enter(e);
    EXPECT_EQ(form().GetBacklashCorrection(), static_cast<float>(-10.0 / 100.0));
    EXPECT_EQ(form().GetCalibExpTime(), -1.0f);
    EXPECT_FALSE(form().GetCorrectBacklash());
    // Beyond the single range: refused.
    e.exposure = L"1e39";
    EXPECT_EQ(refusedThenCancel(e).messages.size(), 1u);
    e.exposure = L"1";
    e.backlashPercent = L"1e41";  // 1e39 after the division
    EXPECT_EQ(refusedThenCancel(e).messages.size(), 1u);
}

TEST(SetupForm, EnterAcceptsEscapeAndCloseBoxCancel) {
    SetupEntry e;
    e.xTime = L"44";
    e.close = SetupEntry::Close::Enter;
    enter(e);
    EXPECT_TRUE(form().DataValid());
    EXPECT_EQ(form().GetXCalibTime(), 44);
    for (auto close : {SetupEntry::Close::Escape, SetupEntry::Close::CloseBox, SetupEntry::Close::Cancel}) {
        SetupEntry c;
        c.xTime = L"55";
        c.close = close;
        Showing s = enter(c);
        EXPECT_EQ(s.hr, S_OK);
        EXPECT_EQ(form().GetXCalibTime(), 44) << "cancelling changes no value";
        EXPECT_FALSE(form().DataValid()) << "a cancelled showing is never valid";
    }
}

TEST(SetupForm, AccessKeysPressTheButtons) {
    // Alt+key as the keyboard delivers it: WM_SYSCHAR with the Alt bit (29) set.
    auto press = [](wchar_t key, const wchar_t* xTime) {
        return show([=](HWND dlg, UiRobot&) {
            SetDlgItemTextW(dlg, IDC_NUMBER1, xTime);
            HWND field = GetDlgItem(dlg, IDC_NUMBER2);
            SetFocus(field);
            PostMessageW(field, WM_SYSCHAR, key, 1 | (1 << 29));
            return true;
        });
    };
    press(L'o', L"31");
    EXPECT_TRUE(form().DataValid());
    EXPECT_EQ(form().GetXCalibTime(), 31);
    press(L'c', L"32");
    EXPECT_FALSE(form().DataValid());
    EXPECT_EQ(form().GetXCalibTime(), 31);
}

TEST(SetupForm, CancelAfterAnAcceptedShowingIsStillACancel) {
    enter(SetupEntry{});
    ASSERT_TRUE(form().DataValid());
    SetupEntry c;
    c.close = SetupEntry::Close::Cancel;
    enter(c);
    EXPECT_FALSE(form().DataValid());
}

TEST(SetupForm, LayoutFocusOrderKeysAndTooltips) {
    struct Control { int id; int left, top, width, height; const wchar_t* caption; };
    const Control controls[] = {
        {IDC_LABEL4, 240, 240, 2055, 375, L"Enter guider exposure time"}, {IDC_NUMBER4, 2520, 210, 495, 285, nullptr},
        {IDC_LABEL1, 240, 840, 2055, 255, L"Enter X calibration time"},   {IDC_NUMBER1, 2520, 840, 495, 285, nullptr},
        {IDC_LABEL2, 240, 1320, 1815, 255, L"Enter Y calibration time"},  {IDC_NUMBER2, 2520, 1320, 495, 285, nullptr},
        {IDC_LABEL5, 240, 1800, 2055, 255, L"Enter Declination"},         {IDC_NUMBER5, 2520, 1800, 495, 285, nullptr},
        {IDC_CHECK1, 240, 2400, 2535, 375, L"Enable auto backlash calc"},
        {IDC_LABEL3, 240, 3000, 1575, 495, L"Percentage backlash to correct"}, {IDC_NUMBER3, 2520, 3000, 495, 285, nullptr},
        {IDOK, 360, 3720, 975, 375, L"&OK"}, {IDCANCEL, 1800, 3720, 975, 375, L"&Cancel"}};
    std::vector<std::string> faults;
    std::vector<int> focusOrder;
    int focusAtOpen = 0, defaultId = 0, tools = 0;
    LONG style = 0, exStyle = 0;
    HWND owner = nullptr;
    RECT client = {}, placed = {};
    int dpiX = 0, dpiY = 0;
    show([&](HWND dlg, UiRobot&) {
        HDC dc = GetDC(dlg);
        dpiX = GetDeviceCaps(dc, LOGPIXELSX);
        dpiY = GetDeviceCaps(dc, LOGPIXELSY);
        ReleaseDC(dlg, dc);
        GetClientRect(dlg, &client);
        // Twips to pixels at the display's resolution (15 twips a pixel at 96 dpi).
        auto x = [&](int twips) { return MulDiv(twips, dpiX, 1440); };
        auto y = [&](int twips) { return MulDiv(twips, dpiY, 1440); };
        for (const Control& c : controls) {
            HWND w = GetDlgItem(dlg, c.id);
            RECT r;
            GetWindowRect(w, &r);
            MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
            if (r.left != x(c.left) || r.top != y(c.top) || r.right - r.left != x(c.width) || r.bottom - r.top != y(c.height))
                faults.push_back("control " + std::to_string(c.id) + " misplaced");
            if (c.caption && simuser::textOf(w) != c.caption) faults.push_back("caption of " + std::to_string(c.id));
        }
        focusAtOpen = GetDlgCtrlID(GetFocus());
        defaultId = LOWORD(SendMessageW(dlg, DM_GETDEFID, 0, 0));
        HWND at = GetDlgItem(dlg, IDOK);
        for (int i = 0; i < 9; ++i) {
            at = GetNextDlgTabItem(dlg, at, FALSE);
            focusOrder.push_back(GetDlgCtrlID(at));
        }
        style = GetWindowLongW(dlg, GWL_STYLE);
        exStyle = GetWindowLongW(dlg, GWL_EXSTYLE);
        owner = GetWindow(dlg, GW_OWNER);
        GetWindowRect(dlg, &placed);
        HWND tips = nullptr;
        while ((tips = FindWindowExW(nullptr, tips, TOOLTIPS_CLASSW, nullptr)) != nullptr)
            if (GetWindow(tips, GW_OWNER) == dlg) tools = static_cast<int>(SendMessageW(tips, TTM_GETTOOLCOUNT, 0, 0));
        PostMessageW(GetDlgItem(dlg, IDCANCEL), BM_CLICK, 0, 0);
        return true;
    });
    for (auto& f : faults) ADD_FAILURE() << f;
    EXPECT_EQ(client.right, MulDiv(3360, dpiX, 1440));  // 224 x 300 at 96 dpi
    EXPECT_EQ(client.bottom, MulDiv(4500, dpiY, 1440));
    if (const char* dpi = getenv("BRASTOW_DPI")) {
        EXPECT_EQ(dpiX, atoi(dpi)) << "the prefix's display resolution";
    }
    EXPECT_EQ(focusAtOpen, IDOK);
    EXPECT_EQ(defaultId, IDOK);
    EXPECT_EQ(focusOrder, (std::vector<int>{IDCANCEL, IDC_NUMBER1, IDC_NUMBER3, IDC_NUMBER2, IDC_CHECK1, IDC_NUMBER4,
                                            IDC_NUMBER5, IDOK, IDCANCEL}));
    EXPECT_TRUE(style & WS_SYSMENU) << "close box";
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME)) << "fixed frame";
    EXPECT_FALSE(exStyle & WS_EX_APPWINDOW);
    EXPECT_NE(owner, nullptr) << "owned, so no taskbar entry";
    // No window of the caller is active: centred on the screen's work area.
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_NEAR((placed.left + placed.right) / 2, (work.left + work.right) / 2, 1);
    EXPECT_NEAR((placed.top + placed.bottom) / 2, (work.top + work.bottom) / 2, 1);
    EXPECT_EQ(tools, 5);
}

TEST(SetupForm, EveryLabelFitsItsBoxInTheFontItIsDrawnWith) {
    std::vector<std::string> clipped;
    show([&](HWND dlg, UiRobot&) {
        HDC dc = GetDC(dlg);
        for (int id : {IDC_LABEL1, IDC_LABEL2, IDC_LABEL3, IDC_LABEL4, IDC_LABEL5, IDC_CHECK1}) {
            HWND c = GetDlgItem(dlg, id);
            std::wstring text = simuser::textOf(c);
            RECT box;
            GetClientRect(c, &box);
            if (id == IDC_CHECK1) box.right -= GetSystemMetrics(SM_CXMENUCHECK) + 4;  // the box itself
            HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(c, WM_GETFONT, 0, 0)));
            RECT need = {0, 0, box.right, 0};
            DrawTextW(dc, text.c_str(), -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
            SelectObject(dc, old);
            if (need.bottom > box.bottom || need.right > box.right) clipped.push_back(std::string(text.begin(), text.end()));
        }
        ReleaseDC(dlg, dc);
        PostMessageW(GetDlgItem(dlg, IDCANCEL), BM_CLICK, 0, 0);
        return true;
    });
    for (auto& c : clipped) ADD_FAILURE() << "clipped: " << c;
}

namespace {
// The decimal separator this locale does not use: "," where "." is the user's, else ".".
std::wstring otherSeparator(const wchar_t* number) {
    std::wstring s(number);
    const wchar_t other = simuser::decimalSeparator() == L'.' ? L',' : L'.';
    for (auto& c : s) if (c == L'.') c = other;
    return s;
}
std::wstring grouped(const wchar_t* number) {  // "1_000" with the user's grouping separator
    std::wstring s = local(number);
    for (auto& c : s) if (c == L'_') c = simuser::groupSeparator();
    return s;
}
} // namespace

TEST(SetupForm, NumbersAreReadWithTheUsersDecimalSeparatorOnly) {
    SetupEntry e;
    e.exposure = local(L"2.5");
    e.declination = local(L"-12.25");
    e.backlashPercent = local(L"87.5");
    Showing s = enter(e);
    EXPECT_TRUE(s.messages.empty());
    EXPECT_TRUE(form().DataValid());
    EXPECT_EQ(form().GetCalibExpTime(), 2.5f);
    EXPECT_EQ(form().GetDeclination(), -12.25f);
    EXPECT_EQ(form().GetBacklashCorrection(), static_cast<float>(87.5 / 100.0));
    // The other separator is no decimal point here: refused, never read as 25 or 2.
    for (int field : {IDC_NUMBER1, IDC_NUMBER3, IDC_NUMBER4, IDC_NUMBER5}) {
        SetupEntry bad;
        const std::wstring text = otherSeparator(L"2.5");
        if (field == IDC_NUMBER1) bad.xTime = text;
        if (field == IDC_NUMBER3) bad.backlashPercent = text;
        if (field == IDC_NUMBER4) bad.exposure = text;
        if (field == IDC_NUMBER5) bad.declination = text;
        Showing r = refusedThenCancel(bad);
        EXPECT_EQ(r.messages, std::vector<std::wstring>{L"Please enter a number"}) << field;
        EXPECT_FALSE(form().DataValid());
    }
}

TEST(SetupForm, DigitGroupingAndCurrencyAreRefused) {
    wchar_t currency[16] = L"$";
    GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SCURRENCY, currency, 16);
    struct Case { int field; std::wstring text; };
    const Case cases[] = {
        {IDC_NUMBER1, grouped(L"1_000")},      {IDC_NUMBER2, grouped(L"2_0")},
        {IDC_NUMBER4, grouped(L"1_234.5")},    {IDC_NUMBER5, grouped(L"1_000")},
        {IDC_NUMBER3, grouped(L"9_0")},        {IDC_NUMBER4, std::wstring(currency) + L"2"},
        {IDC_NUMBER1, L"20" + std::wstring(currency)}};
    for (const Case& c : cases) {
        SetupEntry e;
        if (c.field == IDC_NUMBER1) e.xTime = c.text;
        if (c.field == IDC_NUMBER2) e.yTime = c.text;
        if (c.field == IDC_NUMBER3) e.backlashPercent = c.text;
        if (c.field == IDC_NUMBER4) e.exposure = c.text;
        if (c.field == IDC_NUMBER5) e.declination = c.text;
        Showing r = refusedThenCancel(e);
        EXPECT_EQ(r.messages, std::vector<std::wstring>{L"Please enter a number"})
            << c.field << " " << std::string(c.text.begin(), c.text.end());
    }
}

TEST(SetupForm, AShowingInsideAnotherKeepsItsOwnOutcome) {
    // The form shown again while it is open (a run entered again from a window message
    // of the host): the inner showing is accepted, the outer one cancelled. Neither
    // reads the other's outcome.
    SetupOutcome outer, inner;
    HRESULT innerHr = E_FAIL;
    HWND outerDlg = nullptr;
    UiRobot robot;
    robot.onDialog = [&](HWND dlg) {
        if (!outerDlg) {
            outerDlg = dlg;
            SetDlgItemTextW(dlg, IDC_NUMBER1, L"55");
            innerHr = SetupForm::instance().show(inner);  // runs its own modal loop
            PostMessageW(GetDlgItem(dlg, IDCANCEL), BM_CLICK, 0, 0);
            return true;
        }
        if (dlg == outerDlg) return false;  // seen again from inside the inner showing
        SetupEntry e;
        e.xTime = L"77";
        simuser::fillSetupForm(dlg, e);
        return true;
    };
    ASSERT_EQ(SetupForm::instance().show(outer), S_OK);
    EXPECT_EQ(innerHr, S_OK);
    EXPECT_TRUE(inner.DataValid());
    EXPECT_EQ(inner.GetXCalibTime(), 77);
    EXPECT_FALSE(outer.DataValid()) << "the outer showing was cancelled";
    EXPECT_EQ(outer.GetXCalibTime(), 0);
}

TEST(SetupForm, AQuitRequestClosesTheFormAndIsLeftForTheHost) {
    UiRobot robot;
    robot.onDialog = [&](HWND) { PostQuitMessage(3); return true; };
    SetupOutcome o;
    EXPECT_EQ(SetupForm::instance().show(o), E_ABORT);
    EXPECT_FALSE(o.DataValid());
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);
}
