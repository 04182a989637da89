// Whole calibration runs: DoModal called as the host calls it, against the simulated
// host, with the setup form filled in and the messages read by the simulated user.
#include <gtest/gtest.h>
#include "tests/support.h"
#include "sim/simapi.h"
#include "server/dispids.h"
#include "plugin/panel_ids.h"

#include <algorithm>
#include <cmath>
#include <emmintrin.h>
#include <functional>
#include <limits>
#include <thread>

using namespace testing_support;
using com::Var;
using simuser::SetupEntry;
using simuser::local;

namespace {

const double kDegree = 0.0174532925199433;

// The panel's drawing, read back through WM_PRINTCLIENT: the pixels of the progress
// marks of measured positions and of the X and Y moves, and the mean height of each move.
struct Picture {
    int done = 0, x = 0, y = 0;
    double xMeanY = 0, yMeanY = 0;
};
Picture picture(HWND panel) {
    Picture p;
    RECT r;
    GetClientRect(panel, &r);
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), r.right, -r.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);
    SendMessageW(panel, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    GdiFlush();
    auto rgb = [](COLORREF c) { return static_cast<DWORD>(GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c)); };
    const auto* px = static_cast<const DWORD*>(bits);
    for (int row = 0; bits && row < r.bottom; ++row) {
        for (int col = 0; col < r.right; ++col) {
            const DWORD c = px[row * r.right + col] & 0xFFFFFF;
            if (c == rgb(BRASTOW_PANEL_DONE_COLOUR)) ++p.done;
            if (c == rgb(BRASTOW_PANEL_X_COLOUR)) { ++p.x; p.xMeanY += row; }
            if (c == rgb(BRASTOW_PANEL_Y_COLOUR)) { ++p.y; p.yMeanY += row; }
        }
    }
    if (p.x) p.xMeanY /= p.x;
    if (p.y) p.yMeanY /= p.y;
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return p;
}

// What the panel showed when the plug-in made a host call.
struct PanelAt {
    std::wstring call;
    bool shown = false;
    simuser::PanelTexts texts;
    Picture picture;
};

// The simulated host's report of each call, to the running test.
std::function<void(const wchar_t*)> g_onCall;
void onCall(const wchar_t* call) { if (g_onCall) g_onCall(call); }

struct Outcome {
    CallResult result;
    std::vector<std::wstring> messages;
    std::vector<std::wstring> calls;
    std::vector<PanelAt> panel;  // at each call
    int setupShown = 0;
    bool panelSeen() const {
        for (auto& p : panel) if (p.shown) return true;
        return false;
    }
    // The panel's step texts at the calls, each change once.
    std::vector<std::wstring> steps() const {
        std::vector<std::wstring> s;
        for (auto& p : panel) if (p.shown && (s.empty() || s.back() != p.texts.step)) s.push_back(p.texts.step);
        return s;
    }
    bool has(const std::wstring& prefix) const {
        for (auto& c : calls) if (c.compare(0, prefix.size(), prefix) == 0) return true;
        return false;
    }
    int count(const std::wstring& prefix) const {
        int n = 0;
        for (auto& c : calls) if (c.compare(0, prefix.size(), prefix) == 0) ++n;
        return n;
    }
};

// A number the plug-in wrote in a message, read in the user's locale.
double number(const std::wstring& text) {
    double d = std::nan("");
    com::Bstr b(text.c_str());
    if (FAILED(VarR8FromStr(b.get(), LOCALE_USER_DEFAULT, 0, &d))) return std::nan("");
    return d;
}

Var written(const wchar_t* member) {
    Var v;
    if (!SimWritten(member, v.put())) v.clear();
    return v;
}

class Run : public ::testing::Test {
protected:
    void SetUp() override {
        SimReset();
        SimSetUser(TRUE, 1, 1);
        plugIn = createPlugIn();
        ASSERT_TRUE(plugIn);
    }
    void TearDown() override {
        plugIn.reset();
        EXPECT_EQ(SimLiveObjects(), 0) << "a host object was not released";
    }

    Outcome run(const SetupEntry& entry = SetupEntry{}) {
        Outcome o;
        UiRobot robot;
        HWND form = nullptr;
        robot.onDialog = [&](HWND dlg) { form = dlg; ++o.setupShown; simuser::fillSetupForm(dlg, entry); return true; };
        // A run that does not end is a failure, not a hang: asked to quit, the run's
        // waits give up. An entry the form refuses is cancelled (typing it again would
        // not help).
        int ticks = 0;
        bool stuck = false;
        robot.onTick = [&] {
            if (form && IsWindow(form) && !robot.boxes.empty() && robot.boxes.back().text == L"Please enter a number") {
                PostMessageW(GetDlgItem(form, IDCANCEL), BM_CLICK, 0, 0);
                form = nullptr;
            }
            if (onTick) onTick(robot);
            if (++ticks == 2000) {
                stuck = true;
                PostQuitMessage(0);
            }
        };
        // The panel at every call; never the active or foreground window, never with the focus.
        bool panelActive = false;
        g_onCall = [&](const wchar_t* call) {
            PanelAt at;
            at.call = call;
            if (HWND panel = simuser::findPanel()) {
                at.shown = true;
                at.texts = simuser::readPanel(panel);
                if (pictures) at.picture = picture(panel);
                HWND focus = GetFocus();
                if (GetActiveWindow() == panel || GetForegroundWindow() == panel || (focus && (focus == panel || IsChild(panel, focus))))
                    panelActive = true;
            }
            o.panel.push_back(at);
            if (onCall) onCall(call);
        };
        SimOnCall(::onCall);
        com::Ptr<IDispatch> doc(SimHostDocument(), false);
        int before = SimCallCount();
        o.result = invoke(plugIn.get(), DISPID_PlugIn_DoModal, DISPATCH_METHOD, {Var::object(doc.get())});
        SimOnCall(nullptr);
        g_onCall = nullptr;
        EXPECT_FALSE(panelActive) << "the panel took the activation or the focus";
        EXPECT_EQ(simuser::findPanel(), nullptr) << "the panel outlived the run";
        if (stuck) {
            ADD_FAILURE() << "the run did not end";
            MSG quit;
            PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
        }
        o.messages = robot.texts();
        for (int i = before; i < SimCallCount(); ++i) o.calls.push_back(com::Bstr::attach(SimCallText(i)).c_str());
        return o;
    }

    // Scripts the five measured positions (elements 6 and 7 of the measurement).
    static void scriptPoints(const double (&pts)[5][2]) {
        for (int i = 0; i < 5; ++i) {
            SAFEARRAY* sa = SafeArrayCreateVector(VT_VARIANT, 0, 8);
            for (LONG k = 0; k < 8; ++k) {
                Var v = Var::r8(k == 6 ? pts[i][0] : k == 7 ? pts[i][1] : 0.0);
                SafeArrayPutElement(sa, &k, v.get());
            }
            Var a;
            a.ref().vt = VT_ARRAY | VT_VARIANT;
            a.ref().parray = sa;
            SimScriptMeasurement(i, a.get());
        }
    }
    static SetupEntry worked(bool backlash = false, const wchar_t* dec = L"0") {
        SetupEntry e;
        e.xTime = L"5";
        e.yTime = L"5";
        e.backlashPercent = L"90";
        e.declination = dec;
        e.backlash = backlash;
        return e;
    }
    com::Ptr<IDispatch> plugIn;
    // Called on every tick of the simulated user's timer during run().
    std::function<void(UiRobot&)> onTick;
    // Called on every call of the plug-in to the host during run(), after the panel is read.
    std::function<void(const wchar_t*)> onCall;
    // Read the panel's drawing at every call too.
    bool pictures = false;
};

} // namespace

TEST_F(Run, CancelEndsQuietlyWithoutACamera) {
    SetupEntry e;
    e.close = SetupEntry::Close::Cancel;
    Outcome o = run(e);
    EXPECT_EQ(o.result.hr, S_OK);
    EXPECT_EQ(o.setupShown, 1);
    EXPECT_TRUE(o.messages.empty());
    EXPECT_FALSE(o.has(L"put Camera.")) << "no camera object was used";
    EXPECT_TRUE(o.calls.empty());
}

TEST_F(Run, ACancelledRunAfterAnAcceptedOneMovesNothing) {
    Outcome first = run();
    ASSERT_EQ(first.result.hr, S_OK);
    ASSERT_EQ(first.count(L"call Camera.GuiderMove"), 4);
    SetupEntry e;
    e.close = SetupEntry::Close::Escape;
    Outcome second = run(e);
    EXPECT_EQ(second.result.hr, S_OK);
    EXPECT_TRUE(second.calls.empty()) << "the earlier run's values must not be used";
}

TEST_F(Run, CameraThatDoesNotLinkGivesOneMessageAndNoExposure) {
    SimSetLink(FALSE);
    Outcome o = run();
    EXPECT_EQ(o.result.hr, S_OK);
    EXPECT_EQ(o.messages, std::vector<std::wstring>{L"Failed to start camera."});
    EXPECT_EQ(o.calls, (std::vector<std::wstring>{L"put Camera.LinkEnabled(BOOL=True)", L"get Camera.LinkEnabled()"}));
}

TEST_F(Run, DeclinationFromTheCameraWhenPositiveCappedAt80) {
    SimSky sky;
    SimGetSky(&sky);
    sky.cameraAngle = 0.0;
    SimSetSky(&sky);
    struct Case { const wchar_t* entered; std::vector<double> camera; double used; int reads; };
    const Case cases[] = {{L"85", {0.0}, 80.0, 1},   {L"10", {45.0, 45.0}, 45.0, 2}, {L"10", {-30.0}, 10.0, 1},
                          {L"-85", {0.0}, -85.0, 1}, {L"10", {45.0, 50.0}, 50.0, 2}, {L"10", {89.0, 89.0}, 80.0, 2}};
    for (const Case& c : cases) {
        SimReset();
        SimSetSky(&sky);
        SimSetUser(TRUE, 1, 1);
        std::vector<Var> readings;
        for (double d : c.camera) readings.push_back(Var::r8(d));
        std::vector<VARIANT> raw;
        for (auto& r : readings) raw.push_back(*r.get());
        SimScriptDeclination(raw.data(), static_cast<int>(raw.size()));
        SetupEntry e;
        e.declination = c.entered;
        Outcome o = run(e);
        ASSERT_EQ(o.result.hr, S_OK);
        EXPECT_EQ(o.count(L"get Camera.GuiderDeclination"), c.reads);
        Var x = written(L"GuiderXSpeed");
        ASSERT_EQ(x.vt(), VT_R8);
        // Exact clicks: the X speed is the rate scaled by the cosine of the declination used.
        EXPECT_NEAR(x.get()->dblVal, -2.0 * std::cos(c.used * kDegree), 2e-6) << c.used;
    }
}

TEST_F(Run, EveryCallWithItsTypesAndPassing) {
    SetupEntry e;
    e.xTime = L"20";
    e.yTime = L"30";
    e.exposure = local(L"2.5");
    Outcome o = run(e);
    ASSERT_EQ(o.result.hr, S_OK);
    // Everything up to the end of pass 0.
    std::vector<std::wstring> head(o.calls.begin(), o.calls.begin() + 17);
    std::vector<std::wstring> expected = {
        L"put Camera.LinkEnabled(BOOL=True)", L"get Camera.LinkEnabled()",
        L"put Camera.DisableAutoShutdown(BOOL=True)", L"get Camera.GuiderDeclination()",
        L"call Camera.GuiderExpose(R4=2.5)", L"get Camera.GuiderRunning()",
        L"get Application.Documents()", L"get Documents.2()", L"call Documents.1(I2=1)",
        L"get Document.DisplayName()", L"get Document.57()", L"get Document.51()"};
    ASSERT_GE(o.calls.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(o.calls[i], expected[i]) << i;
    EXPECT_TRUE(o.has(L"call Camera.GuiderMove(I2&=0, R4&=20)"));
    EXPECT_TRUE(o.has(L"call Camera.GuiderMove(I2&=1, R4&=20)"));
    EXPECT_TRUE(o.has(L"call Camera.GuiderMove(I2&=2, R4&=30)"));
    EXPECT_TRUE(o.has(L"call Camera.GuiderMove(I2&=3, R4&=30)"));
    EXPECT_EQ(o.count(L"call Camera.GuiderMove"), 4);
    EXPECT_EQ(o.count(L"call Camera.GuiderExpose(R4=2.5)"), 5);
    EXPECT_EQ(o.count(L"call Document.70(I2="), 5);
    // The three writes, last and in order, with their types.
    size_t n = o.calls.size();
    EXPECT_EQ(o.calls[n - 3].compare(0, 27, L"call Camera.GuiderAngle(R4="), 0) << std::string(o.calls[n - 3].begin(), o.calls[n - 3].end());
    EXPECT_EQ(o.calls[n - 2].compare(0, 28, L"call Camera.GuiderXSpeed(R8="), 0);
    EXPECT_EQ(o.calls[n - 1].compare(0, 28, L"call Camera.GuiderYSpeed(R4="), 0);
    EXPECT_EQ(o.messages.size(), 1u);
}

TEST_F(Run, WorkedExampleSquareMoves) {
    const double pts[5][2] = {{10, 10}, {18, 4}, {10, 10}, {16, 18}, {10, 10}};
    scriptPoints(pts);
    Outcome o = run(worked());
    ASSERT_EQ(o.result.hr, S_OK);
    EXPECT_EQ(o.messages, std::vector<std::wstring>{local(L"CameraAngle=36.8699 xSpeed=-2 ySpeed=-2")});
    Var a = written(L"GuiderAngle"), x = written(L"GuiderXSpeed"), y = written(L"GuiderYSpeed");
    ASSERT_EQ(a.vt(), VT_R4);
    EXPECT_EQ(a.get()->fltVal, static_cast<float>(36.86989730957867));
    ASSERT_EQ(x.vt(), VT_R8);
    EXPECT_EQ(x.get()->dblVal, -2.0);
    ASSERT_EQ(y.vt(), VT_R4);
    EXPECT_EQ(y.get()->fltVal, -2.0f);
}

TEST_F(Run, WorkedExampleOtherWayAboutAndDeclination60) {
    const double reversed[5][2] = {{10, 10}, {18, 4}, {10, 10}, {4, 2}, {10, 10}};
    scriptPoints(reversed);
    Outcome o = run(worked());
    EXPECT_EQ(o.messages, std::vector<std::wstring>{local(L"CameraAngle=36.8699 xSpeed=-2 ySpeed=2")});

    SimReset();
    SimSetUser(TRUE, 1, 1);
    const double square[5][2] = {{10, 10}, {18, 4}, {10, 10}, {16, 18}, {10, 10}};
    scriptPoints(square);
    o = run(worked(false, L"60"));
    EXPECT_EQ(o.messages, std::vector<std::wstring>{local(L"CameraAngle=36.8699 xSpeed=-1 ySpeed=-2")});
    Var x = written(L"GuiderXSpeed");
    ASSERT_EQ(x.vt(), VT_R8);
    // The degree factor leaves cos 60 a hair under 0.5: just above -1.
    EXPECT_GT(x.get()->dblVal, -1.0);
    EXPECT_LT(x.get()->dblVal, -1.0 + 1e-15);
    EXPECT_EQ(written(L"GuiderYSpeed").get()->fltVal, -2.0f);
}

TEST_F(Run, BacklashShownOnlyWhenAskedAndAfterTheSettings) {
    const double pts[5][2] = {{10, 10}, {18, 4}, {11.6, 8.8}, {17.6, 16.8}, {11.6, 8.8}};
    scriptPoints(pts);
    Outcome off = run(worked(false));
    ASSERT_EQ(off.messages.size(), 1u);

    SimReset();
    SimSetUser(TRUE, 1, 1);
    scriptPoints(pts);
    Outcome on = run(worked(true));
    ASSERT_EQ(on.messages.size(), 2u);
    EXPECT_EQ(on.messages[0].compare(0, 12, L"CameraAngle="), 0);
    const std::wstring& b = on.messages[1];
    const std::wstring prefix = L"Calculated settings are: XBacklash=";
    ASSERT_EQ(b.compare(0, prefix.size(), prefix), 0) << std::string(b.begin(), b.end());
    size_t y = b.find(L" YBacklash=");
    ASSERT_NE(y, std::wstring::npos);
    double xb = number(b.substr(prefix.size(), y - prefix.size()));
    EXPECT_NEAR(xb, 0.9, 1e-6);   // 0.9 x 2 / (10 / 5), off in the seventh digit
    EXPECT_NE(xb, 0.9);
    EXPECT_EQ(b.substr(y), L" YBacklash=0");
    // The backlash is shown, never written.
    EXPECT_FALSE(on.has(L"call Camera.GuiderBacklash"));
}

namespace {
// The correctly rounded square root (the instruction, as the plug-in takes it).
double root(double x) { return _mm_cvtsd_f64(_mm_sqrt_sd(_mm_set_sd(x), _mm_set_sd(x))); }
// A value as the plug-in writes it in a message.
std::wstring text(const Var& v) {
    Var t(v);
    return SUCCEEDED(t.changeTo(VT_BSTR)) ? std::wstring(t.get()->bstrVal) : L"?";
}
} // namespace

TEST_F(Run, EachValueOfTheSolutionHasItsDefinitionAndPrecision) {
    // Backlash on both axes, at positions where single and double precision part: return
    // moves shorter than the outgoing ones, and longer (the backlash is a magnitude).
    struct Row { const char* what; double pts[5][2]; bool precisionParts; };
    const Row rows[] = {
        {"returns shorter", {{157.9, 292.3}, {165.1, 288.0}, {158.7, 291.7}, {163.0, 298.9}, {159.1, 292.7}}, true},
        {"returns longer", {{157.9, 292.3}, {165.1, 288.0}, {156.3, 293.1}, {160.6, 300.3}, {155.9, 292.0}}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        SimReset();
        SimSetUser(TRUE, 1, 1);
        const auto& pts = row.pts;
        scriptPoints(pts);
        Outcome o = run(worked(true));
        ASSERT_EQ(o.result.hr, S_OK);
        ASSERT_EQ(o.messages.size(), 2u);

        // The table's definitions, worked here: positions and differences are singles, so
        // are the squares and their sums; d1 and d2 keep the double root, d3 and d4 are
        // singles; the fraction is 90 / 100 in double, narrowed.
        float X[5], Y[5];
        for (int i = 0; i < 5; ++i) X[i] = static_cast<float>(pts[i][0]), Y[i] = static_cast<float>(pts[i][1]);
        const float dx1 = X[1] - X[0], dx2 = X[2] - X[1], dy1 = Y[1] - Y[0], dy2 = Y[2] - Y[1];
        const float dx3 = X[3] - X[2], dx4 = X[4] - X[3], dy3 = Y[3] - Y[2], dy4 = Y[4] - Y[3];
        auto squares = [](float a, float b) { return a * a + b * b; };
        const double d1 = root(squares(dx1, dy1)), d2 = root(squares(dx2, dy2));
        const float d3 = static_cast<float>(root(squares(dx3, dy3))), d4 = static_cast<float>(root(squares(dx4, dy4)));
        const float frac = static_cast<float>(90.0 / 100.0);
        const double xBase = d1 / 5.0;
        const float yBase = d3 / 5.0f;
        const double xBacklash = std::fabs(static_cast<double>(frac) * (d1 - d2)) / xBase;
        const float yBacklash = std::fabs((d3 - d4) * frac) / yBase;
        // The move in direction 0 is (+7.2, -4.3), direction 2 (+4.3, +7.2): X sign -1 (dx1
        // times the cosine of about 30.8 degrees is positive), Y sign -1.
        const double xSpeed = -1 * xBase;  // times CosDeg(0), which is exactly 1
        const float ySpeed = yBase * -1.0f;

        Var a = written(L"GuiderAngle"), x = written(L"GuiderXSpeed"), y = written(L"GuiderYSpeed");
        ASSERT_EQ(a.vt(), VT_R4);
        EXPECT_NEAR(a.get()->fltVal, -std::atan2(dy1, dx1) / kDegree, 1e-4);
        ASSERT_EQ(x.vt(), VT_R8);
        EXPECT_EQ(x.get()->dblVal, xSpeed);
        ASSERT_EQ(y.vt(), VT_R4);
        EXPECT_EQ(y.get()->fltVal, ySpeed);
        EXPECT_EQ(o.messages[0], L"CameraAngle=" + text(a) + L" xSpeed=" + text(Var::r8(xSpeed)) + L" ySpeed=" +
                                     text(Var::r4(ySpeed)));
        EXPECT_EQ(o.messages[1], L"Calculated settings are: XBacklash=" + text(Var::r8(xBacklash)) + L" YBacklash=" +
                                     text(Var::r4(yBacklash)));
        EXPECT_GT(xBacklash, 0.1);
        EXPECT_GT(yBacklash, 0.1f);
        EXPECT_EQ(d2 > d1, !row.precisionParts);  // the rows are what they say
        EXPECT_EQ(d4 > d3, !row.precisionParts);

        // The case tells the definitions from their neighbours: lengths from squares in
        // double precision, or speeds from the return moves, give other values.
        if (!row.precisionParts) continue;
        const double dx1d = dx1, dy1d = dy1, dx3d = dx3, dy3d = dy3;
        EXPECT_NE(root(dx1d * dx1d + dy1d * dy1d) / 5.0, xBase);
        EXPECT_NE(static_cast<float>(root(dx3d * dx3d + dy3d * dy3d)) / 5.0f, yBase);
        EXPECT_NE(d2 / 5.0, xBase);
        EXPECT_NE(d4 / 5.0f, yBase);
    }
}

// The click wait takes a fresh press, seen with the button down, and reads the position
// once the button is up again: an old click the indicators still report is not the
// user's answer, and neither is a position read while the button is still held.
TEST_F(Run, TheClickWaitTakesAFreshPressAndReadsAfterTheRelease) {
    struct Row { const char* what; bool stale; int holdMs; };
    const Row rows[] = {{"an old click reported when the image is ready", true, 1},
                        {"the button held for a fifth of a second", false, 200},
                        {"both", true, 200}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        SimReset();
        SimSetUser(TRUE, 20, row.holdMs);
        SimSetStaleClicks(row.stale);
        SimSky sky;
        SimGetSky(&sky);
        sky.clickError = 0;
        sky.measureError = 0;
        SimSetSky(&sky);
        Outcome o = run(worked());
        ASSERT_EQ(o.result.hr, S_OK) << "the run took the old click";
        SimExpected truth;
        SimExpect(5, 5, 0.9, 0, &truth);
        EXPECT_NEAR(written(L"GuiderAngle").get()->fltVal, truth.angle, 1e-3);
        EXPECT_EQ(SimPositionReadsWhileDown(), 0) << "a position was read while the button was down";
    }
}

TEST_F(Run, TheExposureWaitReadsEveryTenthOfASecondAndLetsTheHostWork) {
    // Exposures of half a second: with a pause of 100 ms between readings, at most six
    // readings find it running (fewer on a slow machine), where a wait without the pause
    // reads it thousands of times. Between two readings the host's messages go through.
    SimSetExposureMs(500);
    Outcome o = run(worked());
    ASSERT_EQ(o.result.hr, S_OK);
    const std::wstring log = com::Bstr::attach(SimExposureWaitLog()).c_str();
    std::vector<std::wstring> exposures;
    for (size_t at = log.find(L'|'); at != std::wstring::npos;) {
        size_t next = log.find(L'|', at + 1);
        exposures.push_back(log.substr(at + 1, next == std::wstring::npos ? std::wstring::npos : next - at - 1));
        at = next;
    }
    ASSERT_EQ(exposures.size(), 5u) << std::string(log.begin(), log.end());
    for (const std::wstring& e : exposures) {
        const std::string shown(e.begin(), e.end());
        const auto readings = std::count(e.begin(), e.end(), L'R');
        EXPECT_GE(readings, 1) << shown;
        EXPECT_LE(readings, 6) << shown;
        EXPECT_EQ(e.back(), L'D') << shown;
        EXPECT_EQ(e.find(L'-'), std::wstring::npos) << "a reading without the messages let through: " << shown;
        EXPECT_EQ(std::count(e.begin(), e.end(), L'y'), readings) << shown;
    }
}

TEST_F(Run, MoveWithoutAnXComponentGivesANegativeYSign) {
    const double pts[5][2] = {{10, 10}, {18, 10}, {10, 10}, {10, 20}, {10, 10}};
    scriptPoints(pts);
    Outcome o = run(worked());
    ASSERT_EQ(o.result.hr, S_OK);
    EXPECT_EQ(written(L"GuiderYSpeed").get()->fltVal, -2.0f);
}

TEST_F(Run, ZeroLengthMoveIsAnErrorWithoutMessageOrWrite) {
    const double pts[5][2] = {{10, 10}, {10, 10}, {12, 10}, {12, 20}, {12, 10}};
    scriptPoints(pts);
    Outcome o = run(worked(true));
    EXPECT_EQ(o.result.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(o.result.error.number, com::kDivisionByZero);
    EXPECT_TRUE(o.messages.empty());
    EXPECT_EQ(written(L"GuiderAngle").vt(), VT_EMPTY);
}

TEST_F(Run, ClickIsReadAsSixteenBitIntegersAndRefined) {
    // Click (11.5, 56.5) reads as (12, 56): halves to even; the measurement then gives 11.6, 57.2.
    Var x = Var::r8(11.5), y = Var::r8(56.5);
    SimScriptClick(0, x.get(), y.get());
    Var bigX = Var::r8(40000.0);
    SimScriptClick(1, bigX.get(), y.get());
    const double pts[5][2] = {{11.6, 57.2}, {19.6, 51.2}, {11.6, 57.2}, {17.6, 65.2}, {11.6, 57.2}};
    scriptPoints(pts);
    Outcome o = run(worked());
    EXPECT_TRUE(o.has(L"call Document.70(I2=12, I2=56)"));
    // The second click is out of the 16-bit range: an overflow ends the run.
    EXPECT_EQ(o.result.error.number, com::kOverflow);
    EXPECT_EQ(o.count(L"call Camera.GuiderMove"), 1);
}

TEST_F(Run, RefinedPositionsReachTheSolution) {
    const double pts[5][2] = {{11.6, 57.2}, {19.6, 51.2}, {11.6, 57.2}, {17.6, 65.2}, {11.6, 57.2}};
    scriptPoints(pts);
    Outcome o = run(worked());
    ASSERT_EQ(o.result.hr, S_OK);
    // Single-precision differences of the refined positions: 8.000001 and -6.000002.
    float dx = static_cast<float>(19.6) - static_cast<float>(11.6), dy = static_cast<float>(51.2) - static_cast<float>(57.2);
    EXPECT_NEAR(written(L"GuiderAngle").get()->fltVal, -std::atan2(dy, dx) / kDegree, 1e-4);
}

TEST_F(Run, GuideImageFoundByExactNameInEveryPass) {
    SimSetDocuments(-1, L"Main Image|Dark|Autoguider Image|Autoguider Image|Flat");
    Outcome o = run();
    ASSERT_EQ(o.result.hr, S_OK);
    EXPECT_EQ(o.count(L"call Documents.1(I2=3)"), 5);
    EXPECT_EQ(o.count(L"call Documents.1(I2=4)"), 0) << "the lower index wins and the search stops";
    EXPECT_EQ(o.count(L"call Documents.1(I2=5)"), 0);
    EXPECT_EQ(o.count(L"get Application.Documents()"), 5) << "fetched afresh in every pass";
}

TEST_F(Run, AMissingGuideImageEndsTheRunSilently) {
    // No document named exactly "Autoguider Image" in any pass (names that differ in
    // case or by a blank), or the guide image closed before pass 2 (0-based): the run
    // ends after that exposure, before its move, with no message and nothing written.
    struct Case { int pass; const wchar_t* names; int exposures, moves; };
    const Case cases[] = {{-1, L"Main Image|autoguider image|Autoguider Image ", 1, 0}, {2, L"Main Image", 3, 2}};
    for (const Case& c : cases) {
        SimReset();
        SimSetUser(TRUE, 1, 1);
        SimSetDocuments(c.pass, c.names);
        Outcome o = run();
        EXPECT_EQ(o.result.hr, S_OK) << c.pass;
        EXPECT_TRUE(o.messages.empty()) << c.pass;
        EXPECT_EQ(o.count(L"call Camera.GuiderExpose"), c.exposures) << c.pass;
        EXPECT_EQ(o.count(L"call Camera.GuiderMove"), c.moves) << c.pass;
        EXPECT_EQ(written(L"GuiderAngle").vt(), VT_EMPTY) << c.pass;
        EXPECT_EQ(written(L"GuiderXSpeed").vt(), VT_EMPTY) << c.pass;
    }
}

TEST_F(Run, AFailingHostMemberReachesTheCallerUnchanged) {
    struct Site { const wchar_t* member; int nth; };
    const Site sites[] = {
        {L"Camera.LinkEnabled.put", 1}, {L"Camera.LinkEnabled", 1}, {L"Camera.DisableAutoShutdown.put", 1},
        {L"Camera.GuiderDeclination", 1}, {L"Camera.GuiderExpose", 3}, {L"Camera.GuiderRunning", 2},
        {L"Application.Documents", 4}, {L"Documents.2", 1}, {L"Documents.1", 2}, {L"Document.DisplayName", 1},
        {L"Document.57", 1}, {L"Document.51", 2}, {L"Document.52", 5}, {L"Document.53", 1}, {L"Document.70", 3},
        {L"Camera.GuiderMove", 4}, {L"Camera.GuiderAngle", 1}, {L"Camera.GuiderXSpeed", 1}, {L"Camera.GuiderYSpeed", 1}};
    const HRESULT injected = static_cast<HRESULT>(0x80041234);
    for (const Site& s : sites) {
        SimReset();
        SimSetUser(TRUE, 1, 1);
        SimFailOn(s.member, s.nth, injected, (std::wstring(L"Injected failure of ") + s.member).c_str());
        Outcome o = run();
        const std::string where(s.member, s.member + wcslen(s.member));
        ASSERT_EQ(o.result.hr, DISP_E_EXCEPTION) << where;
        EXPECT_EQ(o.result.error.number, injected) << where;
        EXPECT_STREQ(o.result.error.source.c_str(), L"MaxIm DL (simulated)") << where;
        EXPECT_EQ(std::wstring(o.result.error.description.c_str()), std::wstring(L"Injected failure of ") + s.member) << where;
        EXPECT_STREQ(o.result.error.helpFile.c_str(), L"MaxIm DL.chm") << where;
        EXPECT_EQ(o.result.error.helpContext, 4711u) << where;
        EXPECT_EQ(SimLiveObjects(), 0) << where << ": host objects not released";
    }
    // A failed write leaves the ones before it in effect.
    EXPECT_EQ(written(L"GuiderAngle").vt(), VT_R4);
    EXPECT_EQ(written(L"GuiderXSpeed").vt(), VT_R8);
    EXPECT_EQ(written(L"GuiderYSpeed").vt(), VT_EMPTY);
}

TEST_F(Run, HostClosingDuringTheClickWaitEndsTheRun) {
    SimSetUser(FALSE, 0, 0);  // nobody clicks
    int ticks = 0;
    bool panelShown = false;
    Outcome o;
    {
        UiRobot robot;
        robot.onDialog = [&](HWND dlg) { simuser::fillSetupForm(dlg, SetupEntry{}); return true; };
        robot.onTick = [&] {
            panelShown |= simuser::findPanel() != nullptr;
            if (++ticks == 10) PostQuitMessage(7);
        };
        com::Ptr<IDispatch> doc(SimHostDocument(), false);
        o.result = invoke(plugIn.get(), DISPID_PlugIn_DoModal, DISPATCH_METHOD, {Var::object(doc.get())});
    }
    EXPECT_EQ(o.result.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(o.result.error.number, E_ABORT);
    EXPECT_TRUE(panelShown);
    EXPECT_EQ(simuser::findPanel(), nullptr) << "the panel outlived the run";
    // The quit request is left for the host's own message loop.
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 7u);
}

TEST_F(Run, HostThatCannotBeCreated) {
    for (const wchar_t* what : {L"Create.MaxIm.Application", L"Create.MaxIm.CCDCamera"}) {
        SimReset();
        SimFailOn(what, 1, REGDB_E_CLASSNOTREG, L"");
        Outcome o = run();
        EXPECT_EQ(o.result.hr, DISP_E_EXCEPTION);
        EXPECT_EQ(o.result.error.number, com::errorNumber(429));
        EXPECT_NE(std::wstring(o.result.error.description.c_str()).find(what + 7), std::wstring::npos);
        EXPECT_EQ(SimLiveObjects(), 0);
    }
}

TEST_F(Run, SimulatedTruthIsRecovered) {
    struct Sky { double angle, rateX, rateY, ySense, dec; };
    const Sky skies[] = {{23.5, 1.7, 1.3, 1, 0}, {-140.0, 0.8, 2.2, -1, 35}, {91.0, 3.0, 0.5, 1, 60}, {179.0, 1.0, 1.0, -1, 10}};
    const double xTime = 20, yTime = 20;
    for (const Sky& k : skies) {
        for (double noise : {0.0, 0.3}) {
            SimReset();
            SimSetUser(TRUE, 1, 1);
            SimSky sky;
            SimGetSky(&sky);
            sky.cameraAngle = k.angle;
            sky.rateX = k.rateX;
            sky.rateY = k.rateY;
            sky.ySense = k.ySense;
            sky.declination = k.dec;
            sky.clickError = 3.0;     // the click lands near the star; the centroid refines it
            sky.measureError = noise;
            sky.seed = 11;
            SimSetSky(&sky);
            Outcome o = run();
            ASSERT_EQ(o.result.hr, S_OK);
            SimExpected truth;
            SimExpect(xTime, yTime, 0.9, k.dec, &truth);
            // Each position is off by at most `noise` per coordinate, so a move by at most
            // 2*sqrt(2)*noise: that bounds the angle and speed errors (plus single rounding).
            const double moveError = 2.0 * std::sqrt(2.0) * noise;
            const double lengthX = k.rateX * xTime;
            const double angleBound = std::asin(moveError / lengthX) / kDegree + 1e-4;
            double angle = written(L"GuiderAngle").get()->fltVal;
            double diff = std::remainder(angle - truth.angle, 360.0);
            EXPECT_LE(std::fabs(diff), angleBound) << k.angle << " noise " << noise;
            EXPECT_NEAR(written(L"GuiderXSpeed").get()->dblVal, truth.xSpeed,
                        moveError / xTime * std::cos(k.dec * kDegree) + 1e-5 * k.rateX) << k.angle;
            EXPECT_NEAR(written(L"GuiderYSpeed").get()->fltVal, truth.ySpeed, moveError / yTime + 1e-5 * k.rateY) << k.angle;
        }
    }
}

// ---- the user's locale ----------------------------------------------------------------

TEST_F(Run, TheFormAcceptedUnchangedExposesForTwoSecondsInEveryLocale) {
    Outcome o = run(SetupEntry{});  // every field as the form shows it
    ASSERT_EQ(o.result.hr, S_OK);
    EXPECT_EQ(o.count(L"call Camera.GuiderExpose(R4=2)"), 5);
    EXPECT_TRUE(o.has(L"call Camera.GuiderMove(I2&=0, R4&=20)"));
}

TEST_F(Run, ExposureTypedWithEitherSeparator) {
    SetupEntry e;
    e.exposure = local(L"1.5");
    Outcome o = run(e);
    ASSERT_EQ(o.result.hr, S_OK);
    EXPECT_EQ(o.count(L"call Camera.GuiderExpose(R4=1.5)"), 5);
    // The separator this locale does not use is refused: no camera, no exposure of 15 s.
    SimReset();
    SimSetUser(TRUE, 1, 1);
    e.exposure = simuser::decimalSeparator() == L'.' ? L"1,5" : L"1.5";
    o = run(e);
    EXPECT_EQ(o.result.hr, S_OK);
    EXPECT_EQ(o.messages, std::vector<std::wstring>{L"Please enter a number"});
    EXPECT_TRUE(o.calls.empty());
}

// ---- failures the astronomer meets ----------------------------------------------------

TEST_F(Run, AStarThatDoesNotMoveIsADivisionByZero) {
    // The mount does not respond: five equal positions, every move of length 0.
    const double still[5][2] = {{10, 10}, {10, 10}, {10, 10}, {10, 10}, {10, 10}};
    scriptPoints(still);
    Outcome o = run(worked(true));
    ASSERT_EQ(o.result.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(o.result.error.number, com::kDivisionByZero);
    EXPECT_STREQ(o.result.error.description.c_str(), L"Division by zero");
    EXPECT_STREQ(o.result.error.source.c_str(), L"Brastow");
    EXPECT_TRUE(o.messages.empty());
    EXPECT_FALSE(o.has(L"call Camera.GuiderAngle"));
}

TEST_F(Run, ACalibrationTimeOfZeroIsADivisionByZero) {
    // On each axis the lost length comes before the speed's division: a Y return whose
    // lost length (200 px times 3E36) is beyond a single is that overflow, time 0 or not.
    const double longYOut[5][2] = {{10, 10}, {18, 10}, {10, 10}, {10, 210}, {10, 210}};
    const struct {
        bool xAxis;
        const wchar_t* percent;
        HRESULT error;
    } cases[] = {{true, nullptr, com::kDivisionByZero}, {false, nullptr, com::kDivisionByZero},
                 {false, L"3E38", com::kOverflow}};
    for (const auto& c : cases) {
        SimReset();
        SimSetUser(TRUE, 1, 1);
        SetupEntry e;
        (c.xAxis ? e.xTime : e.yTime) = L"0";
        if (c.percent) {
            e.backlashPercent = c.percent;
            scriptPoints(longYOut);
        }
        Outcome o = run(e);
        ASSERT_EQ(o.result.hr, DISP_E_EXCEPTION) << c.xAxis;
        EXPECT_EQ(o.result.error.number, c.error) << c.xAxis;
        EXPECT_TRUE(o.messages.empty());
        EXPECT_FALSE(o.has(L"call Camera.GuiderAngle"));
    }
}

// ---- Escape abandons the run -------------------------------------------------------------

namespace {
// A window of the host's thread that counts the keys it receives.
struct HostWindow {
    static LRESULT CALLBACK proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
        if (msg == WM_KEYDOWN || msg == WM_KEYUP || msg == WM_CHAR) {
            auto* self = reinterpret_cast<HostWindow*>(GetWindowLongPtrW(w, GWLP_USERDATA));
            if (self) self->keys.push_back({msg, wp});
        }
        return DefWindowProcW(w, msg, wp, lp);
    }
    HostWindow() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"BrastowTestHostWindow";
        RegisterClassW(&wc);
        hwnd = CreateWindowExW(0, wc.lpszClassName, L"host", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                               wc.hInstance, nullptr);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~HostWindow() { DestroyWindow(hwnd); }
    void press(WPARAM key) {
        PostMessageW(hwnd, WM_KEYDOWN, key, 0x00010001);
        PostMessageW(hwnd, WM_KEYUP, key, 0xC0010001);
    }
    int count(UINT msg, WPARAM key) const {
        int n = 0;
        for (auto& k : keys) n += k.first == msg && k.second == key;
        return n;
    }
    HWND hwnd = nullptr;
    std::vector<std::pair<UINT, WPARAM>> keys;
};
} // namespace

TEST_F(Run, EscapeDuringTheClickWaitAbandonsTheRunQuietly) {
    SimSetUser(TRUE, 300, 1);  // the user takes 0.3 s to click
    HostWindow host;
    bool pressed = false;
    onTick = [&](UiRobot&) {
        // In pass 2, after two moves.
        if (!pressed && SimEntered(L"Camera.GuiderMove") == 2) { host.press(VK_ESCAPE); pressed = true; }
    };
    Outcome o = run();
    EXPECT_EQ(o.result.hr, S_OK) << "as quiet as Cancel on the form";
    EXPECT_TRUE(o.messages.empty());
    EXPECT_EQ(o.count(L"call Camera.GuiderExpose"), 3);
    EXPECT_EQ(o.count(L"call Camera.GuiderMove"), 2) << "no move after Escape";
    EXPECT_EQ(written(L"GuiderAngle").vt(), VT_EMPTY);
    EXPECT_EQ(host.count(WM_KEYDOWN, VK_ESCAPE), 0) << "the key that stopped the run is not passed on";
    EXPECT_EQ(host.count(WM_KEYUP, VK_ESCAPE), 0);
    // Every host object is released (checked in TearDown).
}

TEST_F(Run, EscapeDuringTheExposureWaitAbandonsTheRun) {
    SimSetExposureMs(600000);  // a camera that never finishes
    HostWindow host;
    int ticks = 0;
    onTick = [&](UiRobot&) { if (++ticks == 3) host.press(VK_ESCAPE); };
    Outcome o = run();
    EXPECT_EQ(o.result.hr, S_OK);
    EXPECT_TRUE(o.messages.empty());
    EXPECT_EQ(o.count(L"call Camera.GuiderExpose"), 1);
    EXPECT_EQ(o.count(L"get Application.Documents"), 0) << "the wait ended at once";
    EXPECT_EQ(host.count(WM_KEYDOWN, VK_ESCAPE), 0);
}

TEST_F(Run, OtherKeysReachTheHostAndTheRunGoesOn) {
    SimSetUser(TRUE, 100, 1);
    HostWindow host;
    bool pressed = false;
    onTick = [&](UiRobot&) { if (!pressed && SimEntered(L"Camera.GuiderMove") == 1) { host.press(VK_F5); pressed = true; } };
    Outcome o = run();
    ASSERT_EQ(o.result.hr, S_OK);
    EXPECT_EQ(o.count(L"call Camera.GuiderMove"), 4);
    EXPECT_EQ(host.count(WM_KEYDOWN, VK_F5), 1);
    EXPECT_EQ(written(L"GuiderAngle").vt(), VT_R4);
}

// ---- one calibration at a time -----------------------------------------------------------

namespace {
// A host that starts the plug-in again from a window message while a run waits.
struct ReEntry {
    static LRESULT CALLBACK proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
        auto* self = reinterpret_cast<ReEntry*>(GetWindowLongPtrW(w, GWLP_USERDATA));
        if (msg == WM_APP && self) {
            com::Ptr<IDispatch> target = self->sameObject ? self->first : createPlugIn();
            com::Ptr<IDispatch> doc(SimHostDocument(), false);
            self->results.push_back(invoke(target.get(), DISPID_PlugIn_DoModal, DISPATCH_METHOD, {Var::object(doc.get())}));
            return 0;
        }
        return DefWindowProcW(w, msg, wp, lp);
    }
    explicit ReEntry(com::Ptr<IDispatch> plugIn) : first(std::move(plugIn)) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"BrastowTestReEntry";
        RegisterClassW(&wc);
        hwnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~ReEntry() { DestroyWindow(hwnd); }
    com::Ptr<IDispatch> first;
    bool sameObject = true;
    HWND hwnd = nullptr;
    std::vector<CallResult> results;
};
} // namespace

TEST_F(Run, ASecondDoModalDuringARunIsRefusedAndTheRunGoesOn) {
    // Entered again while the form is open, while the camera exposes and while the
    // user is to click; on the same object and on a new one; and entered a third time
    // after a refusal, which must have left the first run's protection in place.
    enum class When { Form, Exposure, Click };
    struct Case { When when; bool same; size_t starts; };
    const Case cases[] = {{When::Form, true, 1},     {When::Form, false, 1},  {When::Exposure, true, 1},
                          {When::Exposure, false, 1}, {When::Click, true, 1}, {When::Click, false, 1},
                          {When::Click, false, 2}};
    for (const Case& c : cases) {
        const When when = c.when;
        const bool same = c.same;
        SimReset();
        SimSetUser(TRUE, 50, 1);  // long enough for the robot's tick to fall in each wait
        SimSetExposureMs(when == When::Exposure ? 150 : 0);
        ReEntry host(plugIn);
        host.sameObject = same;
        bool posted = false;
        onTick = [&](UiRobot&) {
            if (posted) return;
            bool now = false;
            if (when == When::Form) {
                now = FindWindowW(L"#32770", L"Guide star setup") != nullptr;
            } else if (when == When::Exposure) {
                now = SimEntered(L"Camera.GuiderExpose") == 2 && SimEntered(L"Camera.GuiderMove") == 1;
            } else {
                now = SimEntered(L"Camera.GuiderMove") == 3;
            }
            if (now) {
                for (size_t k = 0; k < c.starts; ++k) PostMessageW(host.hwnd, WM_APP, 0, 0);
                posted = true;
            }
        };
        const int appsBefore = SimEntered(L"Create.MaxIm.Application");
        Outcome o = run();
        const std::string where = std::to_string(static_cast<int>(when)) + (same ? " same object" : " new object") +
                                  ", starts " + std::to_string(c.starts);
        ASSERT_TRUE(posted) << where;
        ASSERT_EQ(host.results.size(), c.starts) << where;
        for (const CallResult& refused : host.results) {
            EXPECT_EQ(refused.hr, DISP_E_EXCEPTION) << where;
            EXPECT_EQ(refused.error.number, static_cast<HRESULT>(0x80040201)) << where;
            EXPECT_STREQ(refused.error.source.c_str(), L"Brastow") << where;
            EXPECT_STREQ(refused.error.description.c_str(), L"A calibration is already running") << where;
        }
        // It showed nothing and created no host object; the first run ended as usual.
        EXPECT_EQ(o.setupShown, 1) << where;
        EXPECT_EQ(SimEntered(L"Create.MaxIm.Application") - appsBefore, 1) << where;
        ASSERT_EQ(o.result.hr, S_OK) << where;
        EXPECT_EQ(o.count(L"call Camera.GuiderExpose"), 5) << where;
        EXPECT_EQ(o.count(L"call Camera.GuiderMove"), 4) << where;
        EXPECT_EQ(o.messages.size(), 1u) << where;
        EXPECT_EQ(written(L"GuiderXSpeed").vt(), VT_R8) << where;
        onTick = nullptr;
    }
    // The guard is released: a later run works.
    SimReset();
    SimSetUser(TRUE, 1, 1);
    EXPECT_EQ(run().result.hr, S_OK);
}

TEST_F(Run, TheGuardIsReleasedOnEveryWayOut) {
    // An error, a cancelled form, Escape, a quit: each time the next run starts.
    SimFailOn(L"Camera.GuiderExpose", 1, E_FAIL, L"camera fault");
    EXPECT_EQ(run().result.error.number, E_FAIL);
    SetupEntry cancel;
    cancel.close = SetupEntry::Close::Cancel;
    EXPECT_EQ(run(cancel).result.hr, S_OK);
    SimReset();
    SimSetLink(FALSE);
    EXPECT_EQ(run().messages, std::vector<std::wstring>{L"Failed to start camera."});
    SimReset();
    SimSetUser(TRUE, 1, 1);
    Outcome o = run();
    EXPECT_EQ(o.result.hr, S_OK);
    EXPECT_EQ(o.count(L"call Camera.GuiderMove"), 4);
}

TEST_F(Run, ARunInAnotherApartmentIsRefusedWhileOneIsInProgress) {
    SimSetUser(TRUE, 50, 1);
    CallResult other;
    bool started = false, finished = false;
    std::thread apartment;
    onTick = [&](UiRobot&) {
        if (started || SimEntered(L"Camera.GuiderMove") != 1) return;
        started = true;
        apartment = std::thread([&] {
            com::Apartment sta;
            auto p = createPlugIn();
            com::Ptr<IDispatch> doc(SimHostDocument(), false);
            other = invoke(p.get(), DISPID_PlugIn_DoModal, DISPATCH_METHOD, {Var::object(doc.get())});
            finished = true;
        });
        apartment.join();  // refused at once, while this run waits for its click
    };
    const int appsBefore = SimEntered(L"Create.MaxIm.Application");
    Outcome o = run();
    ASSERT_TRUE(started);
    EXPECT_TRUE(finished);
    EXPECT_EQ(other.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(other.error.number, static_cast<HRESULT>(0x80040201));
    EXPECT_EQ(SimEntered(L"Create.MaxIm.Application") - appsBefore, 1);
    ASSERT_EQ(o.result.hr, S_OK);
    EXPECT_EQ(o.count(L"call Camera.GuiderMove"), 4);
}

// ---- what the host returns, read safely ----------------------------------------------------

namespace {
// A variant whose type tag says `tag` over an array whose own elements are `elements`.
Var lyingArray(VARTYPE tag, VARTYPE elements, ULONG count = 11) {
    Var a;
    SAFEARRAY* sa = SafeArrayCreateVector(elements, 0, count);
    for (LONG k = 0; k < static_cast<LONG>(count); ++k) {
        Var v = Var::r8(k == 6 ? 11.6 : k == 7 ? 57.2 : 1.0);
        if (elements == VT_VARIANT) SafeArrayPutElement(sa, &k, v.get());
        else if (SUCCEEDED(v.changeTo(elements)))  // a text element in the user's locale
            SafeArrayPutElement(sa, &k, elements == VT_BSTR ? static_cast<void*>(v.get()->bstrVal) : &v.get()->iVal);
    }
    a.ref().vt = static_cast<VARTYPE>(VT_ARRAY | tag);
    a.ref().parray = sa;
    return a;
}
} // namespace

TEST_F(Run, AMeasurementWhoseTypeTagLiesIsRefusedBeforeAnythingIsStored) {
    struct Case { VARTYPE tag, elements; };
    // Elements of another size, and of the same size but another type (read by the tag,
    // a single's bits would become an integer).
    const Case lies[] = {{VT_I2, VT_VARIANT}, {VT_R8, VT_I2}, {VT_VARIANT, VT_R8}, {VT_R4, VT_R8}, {VT_BSTR, VT_I4},
                         {VT_I4, VT_R4}, {VT_R8, VT_CY}};
    for (const Case& c : lies) {
        SimReset();
        SimSetUser(TRUE, 1, 1);
        Var lie = lyingArray(c.tag, c.elements);
        SimScriptMeasurement(0, lie.get());
        Outcome o = run();
        EXPECT_EQ(o.result.hr, DISP_E_EXCEPTION) << c.tag << " over " << c.elements;
        EXPECT_EQ(o.result.error.number, com::kTypeMismatch) << c.tag << " over " << c.elements;
        EXPECT_EQ(o.count(L"call Camera.GuiderMove"), 0) << "no move on nonsense points";
    }
}

TEST_F(Run, OddHostAnswersGetWhatWindowsRuntimeGives) {
    // Each answer, where the contract reads a number, a Boolean or an array, with what a
    // Basic client of the same calls gets on Windows: an error (nothing written), a run
    // that completes, or a wait that goes on (a NaN or an infinity is True as a Boolean)
    // until the user presses Escape.
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    enum class Then { Error, Completes, Waits };
    struct Case { std::string what; std::function<void()> arrange; Then then; HRESULT error; int moves; };
    auto answer = [](const wchar_t* member, Var v) { return [=] { SimScriptAnswer(member, v.get()); }; };
    auto declination = [](Var v) {  // both readings, where there are two
        return [=] {
            VARIANT twice[2] = {*v.get(), *v.get()};
            SimScriptDeclination(twice, 2);
        };
    };
    auto measurement = [](Var element6) {
        return [=] {
            SAFEARRAY* sa = SafeArrayCreateVector(VT_VARIANT, 0, 11);
            for (LONG k = 0; k < 11; ++k) {
                Var v = k == 6 ? element6 : Var::r8(k == 7 ? 57.2 : 1.0);
                SafeArrayPutElement(sa, &k, v.get());
            }
            Var a;
            a.ref().vt = VT_ARRAY | VT_VARIANT;
            a.ref().parray = sa;
            SimScriptMeasurement(0, a.get());
        };
    };
    auto array = [](VARTYPE t, UINT dims, ULONG count) {
        return [=] {
            SAFEARRAYBOUND bounds[2] = {{count, 0}, {2, 0}};
            Var a;
            a.ref().vt = static_cast<VARTYPE>(VT_ARRAY | t);
            a.ref().parray = SafeArrayCreate(t, dims, bounds);
            SimScriptMeasurement(0, a.get());
        };
    };
    const HRESULT overflow = com::kOverflow, mismatch = com::kTypeMismatch, subscript = com::errorNumber(9);
    const Case cases[] = {
        {"declination as text", declination(Var::str(L"north")), Then::Error, mismatch, 0},
        {"declination NaN", declination(Var::r8(nan)), Then::Completes, S_OK, 4},
        {"declination +inf", declination(Var::r8(inf)), Then::Error, overflow, 0},  // read again as a single
        {"declination -inf", declination(Var::r8(-inf)), Then::Completes, S_OK, 4},
        {"exposure state NaN", answer(L"Camera.GuiderRunning", Var::r8(nan)), Then::Waits, S_OK, 0},
        {"exposure state -inf", answer(L"Camera.GuiderRunning", Var::r8(-inf)), Then::Waits, S_OK, 0},
        {"click indicator NaN", answer(L"Document.57", Var::r8(nan)), Then::Error, overflow, 0},
        {"click indicator NaN single", answer(L"Document.57", Var::r4(std::numeric_limits<float>::quiet_NaN())),
         Then::Error, overflow, 0},
        {"click indicator +inf", answer(L"Document.57", Var::r8(inf)), Then::Error, overflow, 0},
        {"click indicator -inf", answer(L"Document.57", Var::r8(-inf)), Then::Error, overflow, 0},
        {"button indicator NaN", answer(L"Document.51", Var::r8(nan)), Then::Waits, S_OK, 0},
        {"button indicator +inf", answer(L"Document.51", Var::r8(inf)), Then::Waits, S_OK, 0},
        {"click x NaN", answer(L"Document.52", Var::r8(nan)), Then::Error, overflow, 0},
        {"click y +inf", answer(L"Document.53", Var::r8(inf)), Then::Error, overflow, 0},
        {"click y -inf", answer(L"Document.53", Var::r8(-inf)), Then::Error, overflow, 0},
        {"document count NaN", answer(L"Documents.2", Var::r8(nan)), Then::Error, overflow, 0},
        {"measurement not an array", [] { Var v = Var::r8(3.0); SimScriptMeasurement(0, v.get()); }, Then::Error, mismatch, 0},
        {"measurement +inf", measurement(Var::r8(inf)), Then::Error, overflow, 0},
        // A NaN position is taken, and refused by the solution's first step.
        {"measurement NaN", measurement(Var::r8(nan)), Then::Error, com::kInvalidArgument, 4},
        {"measurement NaN single", measurement(Var::r4(std::numeric_limits<float>::quiet_NaN())), Then::Error,
         com::kInvalidArgument, 4},
        {"measurement -inf", measurement(Var::r8(-inf)), Then::Error, overflow, 0},
        {"measurement without element 7", array(VT_R8, 1, 7), Then::Error, subscript, 0},
        {"measurement of two dimensions", array(VT_R8, 2, 11), Then::Error, subscript, 0},
        {"move answered as text", answer(L"Camera.GuiderMove", Var::str(L"north")), Then::Error, mismatch, 1},
    };
    for (const Case& c : cases) {
        SimReset();
        SimSetUser(TRUE, 1, 1);
        c.arrange();
        int ticks = 0;
        onTick = [&](UiRobot&) {
            if (c.then == Then::Waits && ++ticks == 20) PostThreadMessageW(GetCurrentThreadId(), WM_KEYDOWN, VK_ESCAPE, 1);
        };
        Outcome o = run();
        EXPECT_EQ(o.result.hr, c.then == Then::Error ? DISP_E_EXCEPTION : S_OK) << c.what;
        if (c.then == Then::Error) {
            EXPECT_EQ(o.result.error.number, c.error) << c.what;
        }
        EXPECT_EQ(o.count(L"call Camera.GuiderMove"), c.moves) << c.what;
        EXPECT_EQ(written(L"GuiderAngle").vt() == VT_R4, c.then == Then::Completes) << c.what;
        if (c.then == Then::Waits) {
            EXPECT_GE(ticks, 20) << c.what << ": the wait went on until Escape";
        }
        EXPECT_EQ(SimLiveObjects(), 0) << c.what << ": host objects not released";
    }
    onTick = nullptr;
}

TEST_F(Run, MeasurementsOfEveryHonestElementTypeAreRead) {
    for (VARTYPE t : {VT_VARIANT, VT_R8, VT_R4, VT_BSTR}) {
        SimReset();
        SimSetUser(TRUE, 1, 1);
        Var honest = lyingArray(t, t);
        for (int pass = 0; pass < 5; ++pass) SimScriptMeasurement(pass, honest.get());
        Outcome o = run();
        // Every point the same: the run gets to the solution's division by zero.
        EXPECT_EQ(o.result.error.number, com::kDivisionByZero) << t;
        EXPECT_EQ(o.count(L"call Camera.GuiderMove"), 4) << t;
    }
}

// ---- a host that is closing ----------------------------------------------------------------

namespace {
// This thread's open message boxes (dialogs captioned "Brastow"), and the text of one.
BOOL CALLBACK collectMessage(HWND w, LPARAM lp) {
    wchar_t cls[16];
    if (GetClassNameW(w, cls, 16) && lstrcmpW(cls, L"#32770") == 0 && IsWindowVisible(w) && textOf(w) == L"Brastow")
        reinterpret_cast<std::vector<HWND>*>(lp)->push_back(w);
    return TRUE;
}
std::vector<HWND> openMessages() {
    std::vector<HWND> found;
    EnumThreadWindows(GetCurrentThreadId(), collectMessage, reinterpret_cast<LPARAM>(&found));
    return found;
}
std::wstring messageText(HWND box) {
    HWND text = GetDlgItem(box, 0xFFFF);  // the message box's static text
    return text ? textOf(text) : L"";
}
} // namespace

TEST_F(Run, AQuitWhileAMessageIsOpenEndsTheRunAndWritesNothingMore) {
    struct Case { const wchar_t* message; bool link; int writes; };
    const Case cases[] = {{L"CameraAngle=", true, 0}, {L"Calculated settings", true, 3}, {L"Failed to start camera.", false, 0}};
    for (const Case& c : cases) {
        SimReset();
        SimSetUser(TRUE, 1, 1);
        SimSetLink(c.link);
        bool quit = false;
        onTick = [&](UiRobot& robot) {
            robot.closeBoxes = false;  // the user closes the other messages, and leaves this one open
            for (HWND box : openMessages()) {
                if (quit) break;
                if (messageText(box).compare(0, wcslen(c.message), c.message) == 0) {
                    PostQuitMessage(5);
                    quit = true;
                } else {
                    PostMessageW(box, WM_COMMAND, IDOK, 0);
                }
            }
        };
        SetupEntry e;
        e.backlash = true;
        Outcome o = run(e);
        const std::string where(c.message, c.message + wcslen(c.message));
        ASSERT_TRUE(quit) << where;
        EXPECT_EQ(o.result.hr, DISP_E_EXCEPTION) << where;
        EXPECT_EQ(o.result.error.number, E_ABORT) << where;
        int writes = 0;
        for (const wchar_t* m : {L"GuiderAngle", L"GuiderXSpeed", L"GuiderYSpeed"}) writes += written(m).vt() != VT_EMPTY;
        EXPECT_EQ(writes, c.writes) << where;
        MSG msg;
        ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << where << ": the quit is left for the host";
        EXPECT_EQ(msg.wParam, 5u);
    }
    onTick = nullptr;
}

TEST_F(Run, DoModalTakesItsDocumentByName) {
    // DoModal Doc:=doc, as Basic clients pass it.
    UiRobot robot;
    int shown = 0;
    robot.onDialog = [&](HWND dlg) { ++shown; simuser::fillSetupForm(dlg, SetupEntry{}); return true; };
    com::Ptr<IDispatch> doc(SimHostDocument(), false);
    Var arg = Var::object(doc.get());
    DISPID named = 0;
    DISPPARAMS dp = {arg.get(), &named, 1, 1};
    EXCEPINFO ex = {};
    EXPECT_EQ(plugIn->Invoke(DISPID_PlugIn_DoModal, IID_NULL, 0, DISPATCH_METHOD, &dp, nullptr, &ex, nullptr), S_OK);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(written(L"GuiderAngle").vt(), VT_R4);
    named = 3;  // no such parameter: refused before anything runs
    UINT argErr = 99;
    EXPECT_EQ(plugIn->Invoke(DISPID_PlugIn_DoModal, IID_NULL, 0, DISPATCH_METHOD, &dp, nullptr, &ex, &argErr), DISP_E_PARAMNOTFOUND);
    EXPECT_EQ(argErr, 0u);
    EXPECT_EQ(shown, 1);
}

// ---- the calibration panel -----------------------------------------------------------------

namespace {
// Presses the panel's Stop button as a mouse does: down and up inside it.
void pressStop() {
    HWND stop = GetDlgItem(simuser::findPanel(), IDC_PANEL_STOP);
    PostMessageW(stop, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
    PostMessageW(stop, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
}
} // namespace

TEST_F(Run, ThePanelSaysWhatHappensAtEachStepAndDrawsTheMoves) {
    const double square[5][2] = {{10, 10}, {18, 4}, {10, 10}, {16, 18}, {10, 10}};
    scriptPoints(square);
    SetupEntry e = worked();
    e.exposure = local(L"2.5");
    e.yTime = L"7";
    pictures = true;
    Outcome o = run(e);
    ASSERT_EQ(o.result.hr, S_OK);
    std::vector<std::wstring> expected = {L"Connecting the guide camera"};
    const wchar_t* moves[] = {L"+X", L"-X", L"+Y", L"-Y"};
    for (int pass = 1; pass <= 5; ++pass) {
        const std::wstring n = std::to_wstring(pass);
        expected.push_back(L"Pass " + n + L" of 5: exposing for " + local(L"2.5") + L" s");
        expected.push_back(L"Pass " + n + L" of 5: click the guide star in Autoguider Image");
        if (pass < 5)
            expected.push_back(L"Pass " + n + L" of 5: moving the mount " + moves[pass - 1] + L" (calibration time " +
                               (pass < 3 ? L"5" : L"7") + L")");
    }
    expected.push_back(L"Calibration worked out: read the result message");
    EXPECT_EQ(o.steps(), expected);

    // Progress marks and the picture, at each move and at the writes: the measured
    // positions' marks, the X moves once two positions are known, the Y moves once four.
    struct Stage { const wchar_t* call; int nth, measured; bool x, y; };
    const Stage stages[] = {{L"call Camera.GuiderMove", 1, 1, false, false}, {L"call Camera.GuiderMove", 2, 2, true, false},
                            {L"call Camera.GuiderMove", 3, 3, true, false}, {L"call Camera.GuiderMove", 4, 4, true, true},
                            {L"call Camera.GuiderAngle", 1, 5, true, true}};
    int oneMark = -1;
    for (const Stage& s : stages) {
        const PanelAt* at = nullptr;
        int seen = 0;
        for (const PanelAt& p : o.panel)
            if (p.call.compare(0, wcslen(s.call), s.call) == 0 && ++seen == s.nth) at = &p;
        ASSERT_TRUE(at && at->shown) << s.measured;
        if (oneMark < 0) oneMark = at->picture.done;
        EXPECT_GT(oneMark, 0);
        EXPECT_EQ(at->picture.done, s.measured * oneMark) << s.measured;
        EXPECT_EQ(at->picture.x > 0, s.x) << s.measured;
        EXPECT_EQ(at->picture.y > 0, s.y) << s.measured;
        EXPECT_EQ(at->texts.stopShown, s.measured < 5) << s.measured;
    }
    // The image's y axis points down: the +Y move (down the image) is drawn below the X moves.
    const PanelAt& end = o.panel.back();
    EXPECT_GT(end.picture.yMeanY, end.picture.xMeanY + 20);
    // While the user is to click, the way out is said.
    auto click = std::find_if(o.panel.begin(), o.panel.end(), [](const PanelAt& p) { return p.call == L"get Document.57()"; });
    ASSERT_NE(click, o.panel.end());
    EXPECT_NE(click->texts.hint.find(L"Stop or Escape"), std::wstring::npos);
}

TEST_F(Run, ThePanelIsSizedForTheDisplayAndStaysOnTheHostsScreen) {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    RECT client = {}, frame = {};
    HWND owner = nullptr;
    onCall = [&](const wchar_t*) {
        HWND panel = simuser::findPanel();
        GetClientRect(panel, &client);
        GetWindowRect(panel, &frame);
        owner = GetWindow(panel, GW_OWNER);
    };
    // A host window that is active when the run starts owns the panel.
    HWND host = CreateWindowExW(0, L"Static", L"host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 400, 300, nullptr, nullptr,
                                nullptr, nullptr);
    SetActiveWindow(host);
    Outcome o = run();
    ASSERT_EQ(o.result.hr, S_OK);
    EXPECT_EQ(client.right, MulDiv(320, dpi, 96));
    EXPECT_EQ(owner, host);
    MONITORINFO mi = {};
    mi.cbSize = sizeof(mi);
    ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(host, MONITOR_DEFAULTTOPRIMARY), &mi));
    EXPECT_GE(frame.left, mi.rcWork.left);
    EXPECT_LE(frame.right, mi.rcWork.right);
    EXPECT_GE(frame.top, mi.rcWork.top);
    EXPECT_LE(frame.bottom, mi.rcWork.bottom);
    DestroyWindow(host);
    onCall = nullptr;
}

TEST_F(Run, TheHostWindowKeepsTheActivationWhileTheUserClicks) {
    HWND host = CreateWindowExW(0, L"Static", L"host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 300, nullptr, nullptr,
                                nullptr, nullptr);
    SetForegroundWindow(host);
    SetActiveWindow(host);
    SimSetUser(TRUE, 100, 1);
    int clicks = 0, hostActive = 0;
    onCall = [&](const wchar_t* call) {
        if (wcsncmp(call, L"get Document.57", 15) != 0) return;
        ++clicks;
        hostActive += GetActiveWindow() == host;
    };
    // Given the activation all the same (as when a window of the host closes), the
    // panel hands it back before the next reading.
    bool forced = false;
    onTick = [&](UiRobot&) {
        if (forced || SimEntered(L"Camera.GuiderMove") != 2) return;
        SetActiveWindow(simuser::findPanel());
        forced = GetActiveWindow() == simuser::findPanel();
    };
    Outcome o = run();  // the panel never active: checked at every call
    ASSERT_EQ(o.result.hr, S_OK);
    EXPECT_TRUE(forced);
    EXPECT_GE(clicks, 5);
    EXPECT_EQ(hostActive, clicks);
    DestroyWindow(host);
    onCall = nullptr;
    onTick = nullptr;
}

TEST_F(Run, TheCheckLineSaysHowSquareTheMovesAreAndWarns) {
    struct Case { double pts[5][2]; std::wstring check; };
    const std::wstring deg = L"\x00B0 from square; the returns covered ";
    const Case cases[] = {
        {{{10, 10}, {18, 4}, {10, 10}, {16, 18}, {10, 10}},
         L"Check: the +X and +Y moves are " + local(L"0.0") + deg + L"100% of +X and 100% of +Y."},
        {{{10, 10}, {18, 4}, {11.6, 8.8}, {17.6, 16.8}, {11.6, 8.8}},
         L"Check: the +X and +Y moves are " + local(L"0.0") + deg + L"80% of +X and 100% of +Y."},
        {{{10, 10}, {18, 4}, {10, 10}, {18, 8}, {10, 10}},
         L"Check: the +X and +Y moves are " + local(L"67.2") + deg +
             L"100% of +X and 100% of +Y.\nWarning: the moves are far from square: was the same star clicked each time?"},
        {{{10, 10}, {20, 10}, {10, 10}, {11.5, 20}, {10, 10}},
         L"Check: the +X and +Y moves are " + local(L"8.5") + deg + L"100% of +X and 100% of +Y."},
        {{{10, 10}, {20, 10}, {10, 10}, {12, 20}, {10, 10}},
         L"Check: the +X and +Y moves are " + local(L"11.3") + deg +
             L"100% of +X and 100% of +Y.\nWarning: the moves are far from square: was the same star clicked each time?"},
        {{{10, 10}, {13, 10}, {10, 10}, {10, 20}, {10, 10}},
         L"Check: the +X and +Y moves are " + local(L"0.0") + deg +
             L"100% of +X and 100% of +Y.\nWarning: the star barely moved: the angle is uncertain."},
        {{{10, 10}, {20, 10}, {10, 10}, {10, 13}, {10, 10}},
         L"Check: the +X and +Y moves are " + local(L"0.0") + deg +
             L"100% of +X and 100% of +Y.\nWarning: the star barely moved: the angle is uncertain."},
    };
    for (const Case& c : cases) {
        SimReset();
        SimSetUser(TRUE, 1, 1);
        scriptPoints(c.pts);
        std::wstring shownWithMessage;
        onTick = [&](UiRobot& robot) {
            if (robot.boxes.empty() && simuser::findPanel()) shownWithMessage = simuser::readPanel(simuser::findPanel()).check;
        };
        Outcome o = run(worked());
        ASSERT_EQ(o.result.hr, S_OK);
        EXPECT_EQ(o.panel.back().texts.check, c.check);
        EXPECT_EQ(shownWithMessage, c.check) << "the check is there while the result message is open";
        EXPECT_EQ(o.panel[3].texts.check, L"") << "and not before the solution";
    }
    onTick = nullptr;
}

TEST_F(Run, StopEndsTheRunAtItsNextWaitQuietly) {
    // Stop pressed while the camera exposes, while the user is to click, and during a
    // move (a host whose move lets the panel's messages through): after it only the
    // wait's own readings, or the exposure that follows the move, and nothing else.
    enum class When { Exposure, Click, Move };
    struct Case { When when; std::vector<std::wstring> after; int exposures, moves; };
    const Case cases[] = {{When::Exposure, {L"get Camera.GuiderRunning"}, 1, 0},
                          {When::Click, {L"get Document.57", L"get Document.51"}, 2, 1},
                          {When::Move, {L"call Camera.GuiderExpose"}, 2, 1}};
    for (const Case& c : cases) {
        SimReset();
        SimSetUser(TRUE, c.when == When::Click ? 300 : 1, 1);
        SimSetExposureMs(c.when == When::Exposure ? 600000 : 0);
        int exposures = 0, pressedAt = -1;
        bool clickWait = false;
        std::wstring stepAfterPress;
        onCall = [&](const wchar_t* call) {
            const std::wstring s(call);
            if (s.compare(0, 24, L"call Camera.GuiderExpose") == 0) ++exposures;
            if (s.compare(0, 15, L"get Document.57") == 0) clickWait = exposures == 2;
            if (s.compare(0, 15, L"get Document.52") == 0) clickWait = false;
            if (c.when == When::Move && pressedAt < 0 && s.compare(0, 22, L"call Camera.GuiderMove") == 0) {
                HWND panel = simuser::findPanel();
                SendMessageW(GetDlgItem(panel, IDC_PANEL_STOP), BM_CLICK, 0, 0);
                stepAfterPress = simuser::readPanel(panel).step;
                pressedAt = SimCallCount();
            }
        };
        onTick = [&](UiRobot&) {
            if (pressedAt >= 0 || (c.when == When::Exposure ? exposures != 1 : c.when != When::Click || !clickWait)) return;
            pressStop();
            pressedAt = SimCallCount();
        };
        const int before = SimCallCount();
        Outcome o = run();
        const int where = static_cast<int>(c.when);
        ASSERT_GE(pressedAt, 0) << where;
        EXPECT_EQ(o.result.hr, S_OK) << where << ": as quiet as Escape";
        EXPECT_TRUE(o.messages.empty()) << where;
        EXPECT_EQ(o.count(L"call Camera.GuiderExpose"), c.exposures) << where;
        EXPECT_EQ(o.count(L"call Camera.GuiderMove"), c.moves) << where;
        for (size_t i = static_cast<size_t>(pressedAt - before); i < o.calls.size(); ++i) {
            const std::wstring& call = o.calls[i];
            EXPECT_TRUE(std::any_of(c.after.begin(), c.after.end(),
                                    [&](const std::wstring& a) { return call.compare(0, a.size(), a) == 0; }))
                << where << ": " << std::string(call.begin(), call.end());
        }
        EXPECT_EQ(written(L"GuiderAngle").vt(), VT_EMPTY) << where;
        if (c.when == When::Move) {
            EXPECT_EQ(stepAfterPress, L"Stopping");
        }
    }
    onTick = nullptr;
    onCall = nullptr;
}

namespace {
// Refuses the making of the panel's window on this thread, as a system out of resources would.
HHOOK g_panelRefused = nullptr;
LRESULT CALLBACK refusePanel(int code, WPARAM wp, LPARAM lp) {
    if (code == HCBT_CREATEWND) {
        const wchar_t* cls = reinterpret_cast<CBT_CREATEWNDW*>(lp)->lpcs->lpszClass;
        if (!IS_INTRESOURCE(cls) && lstrcmpW(cls, BRASTOW_PANEL_CLASS) == 0) return 1;
    }
    return CallNextHookEx(g_panelRefused, code, wp, lp);
}
} // namespace

TEST_F(Run, ThePanelComesWithAnAcceptedFormAndGoesWithTheRun) {
    // Every way out: the panel was there, and is gone when DoModal returns (run() checks);
    // a panel that cannot be made leaves the run as it is.
    struct Case {
        const char* what;
        std::function<void()> arrange;
        SetupEntry entry;
        bool shown;
        int moves;
        bool completes = false;  // the run ends with its result written
    };
    SetupEntry cancel;
    cancel.close = SetupEntry::Close::Cancel;
    const Case cases[] = {
        {"result", [] {}, SetupEntry{}, true, 4, true},
        {"cancelled form", [] {}, cancel, false, 0},
        {"camera not linked", [] { SimSetLink(FALSE); }, SetupEntry{}, true, 0},
        {"no guide image", [] { SimSetDocuments(2, L"Main Image"); }, SetupEntry{}, true, 2},
        {"host error", [] { SimFailOn(L"Camera.GuiderMove", 2, E_FAIL, L"mount fault"); }, SetupEntry{}, true, 2},
        {"division by zero", [] { SimSetUser(TRUE, 1, 1); const double still[5][2] = {}; scriptPoints(still); },
         SetupEntry{}, true, 4},
        {"panel refused", [] { g_panelRefused = SetWindowsHookExW(WH_CBT, refusePanel, nullptr, GetCurrentThreadId()); },
         SetupEntry{}, false, 4, true},
    };
    for (const Case& c : cases) {
        SimReset();
        SimSetUser(TRUE, 1, 1);
        c.arrange();
        Outcome o = run(c.entry);
        if (g_panelRefused) UnhookWindowsHookEx(g_panelRefused);
        g_panelRefused = nullptr;
        EXPECT_EQ(o.panelSeen(), c.shown) << c.what;
        EXPECT_EQ(o.count(L"call Camera.GuiderMove"), c.moves) << c.what;
        if (c.completes) {
            EXPECT_EQ(o.result.hr, S_OK) << c.what;
            EXPECT_EQ(written(L"GuiderYSpeed").vt(), VT_R4) << c.what << (c.shown ? "" : ": the run goes on without its panel");
        }
    }
}
