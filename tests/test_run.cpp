// Whole calibration runs: DoModal called as the host calls it, against the simulated
// host, with the setup form filled in and the messages read by the simulated user.
#include <gtest/gtest.h>
#include "tests/support.h"
#include "sim/simapi.h"

#include <cmath>

using namespace testing_support;
using com::Var;
using simuser::SetupEntry;

namespace {

const double kDegree = 0.0174532925199433;

struct Outcome {
    CallResult result;
    std::vector<std::wstring> messages;
    std::vector<std::wstring> calls;
    int setupShown = 0;
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
        robot.onDialog = [&](HWND dlg) { ++o.setupShown; simuser::fillSetupForm(dlg, entry); return true; };
        // A run that does not end is a failure, not a hang: asked to quit, the run's
        // waits give up.
        int ticks = 0;
        bool stuck = false;
        robot.onTick = [&] {
            if (++ticks == 2000) {
                stuck = true;
                PostQuitMessage(0);
            }
        };
        com::Ptr<IDispatch> doc(SimHostDocument(), false);
        int before = SimCallCount();
        o.result = invoke(plugIn.get(), 0x60030008, DISPATCH_METHOD, {Var::object(doc.get())});
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
    e.exposure = L"2.5";
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
    EXPECT_EQ(o.messages, std::vector<std::wstring>{L"CameraAngle=36.8699 xSpeed=-2 ySpeed=-2"});
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
    EXPECT_EQ(o.messages, std::vector<std::wstring>{L"CameraAngle=36.8699 xSpeed=-2 ySpeed=2"});

    SimReset();
    SimSetUser(TRUE, 1, 1);
    const double square[5][2] = {{10, 10}, {18, 4}, {10, 10}, {16, 18}, {10, 10}};
    scriptPoints(square);
    o = run(worked(false, L"60"));
    EXPECT_EQ(o.messages, std::vector<std::wstring>{L"CameraAngle=36.8699 xSpeed=-1 ySpeed=-2"});
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
    double xb = _wtof(b.substr(prefix.size(), y - prefix.size()).c_str());
    EXPECT_NEAR(xb, 0.9, 1e-6);   // 0.9 x 2 / (10 / 5), off in the seventh digit
    EXPECT_NE(xb, 0.9);
    EXPECT_EQ(b.substr(y), L" YBacklash=0");
    // The backlash is shown, never written.
    EXPECT_FALSE(on.has(L"call Camera.GuiderBacklash"));
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

TEST_F(Run, NoGuideImageEndsTheRunSilently) {
    SimSetDocuments(-1, L"Main Image|autoguider image|Autoguider Image ");
    Outcome o = run();
    EXPECT_EQ(o.result.hr, S_OK);
    EXPECT_TRUE(o.messages.empty());
    EXPECT_EQ(o.count(L"call Camera.GuiderExpose"), 1);
    EXPECT_EQ(o.count(L"call Camera.GuiderMove"), 0);
    EXPECT_EQ(written(L"GuiderAngle").vt(), VT_EMPTY);
}

TEST_F(Run, GuideImageClosedDuringPassTwo) {
    SimSetDocuments(2, L"Main Image");
    Outcome o = run();
    EXPECT_EQ(o.result.hr, S_OK);
    EXPECT_TRUE(o.messages.empty());
    EXPECT_EQ(o.count(L"call Camera.GuiderExpose"), 3);
    EXPECT_EQ(o.count(L"call Camera.GuiderMove"), 2);
    EXPECT_EQ(written(L"GuiderXSpeed").vt(), VT_EMPTY);
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
    Outcome o;
    {
        UiRobot robot;
        robot.onDialog = [&](HWND dlg) { simuser::fillSetupForm(dlg, SetupEntry{}); return true; };
        robot.onTick = [&] { if (++ticks == 10) PostQuitMessage(7); };
        com::Ptr<IDispatch> doc(SimHostDocument(), false);
        o.result = invoke(plugIn.get(), 0x60030008, DISPATCH_METHOD, {Var::object(doc.get())});
    }
    EXPECT_EQ(o.result.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(o.result.error.number, E_ABORT);
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

TEST_F(Run, HostAnswersThatDoNotConvertAreErrors) {
    Var text = Var::str(L"north");
    SimScriptDeclination(text.get(), 1);
    Outcome o = run();
    EXPECT_EQ(o.result.error.number, com::kTypeMismatch);
    SimReset();
    SimSetUser(TRUE, 1, 1);
    Var notArray = Var::r8(3.0);
    SimScriptMeasurement(0, notArray.get());
    o = run();
    EXPECT_EQ(o.result.error.number, com::kTypeMismatch);
    SimReset();
    SimSetUser(TRUE, 1, 1);
    Var shortArray;
    shortArray.ref().vt = VT_ARRAY | VT_R8;
    shortArray.ref().parray = SafeArrayCreateVector(VT_R8, 0, 7);  // no element 7
    SimScriptMeasurement(0, shortArray.get());
    o = run();
    EXPECT_EQ(o.result.error.number, com::errorNumber(9));
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
