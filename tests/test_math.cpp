// The public numeric members, called late-bound as an automation client calls them.
#include <gtest/gtest.h>
#include "tests/support.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

using namespace testing_support;
using com::Var;

namespace {

class Numeric : public ::testing::Test {
protected:
    void SetUp() override {
        plugIn = createPlugIn();
        ASSERT_TRUE(plugIn) << "Brastow.PlugIn is not registered";
    }
    CallResult run(const wchar_t* name, std::vector<Var> args) { return call(plugIn.get(), name, std::move(args)); }
    double r8(const wchar_t* name, std::vector<Var> args) {
        auto r = run(name, std::move(args));
        EXPECT_EQ(r.hr, S_OK) << std::hex << r.hr;
        EXPECT_EQ(r.value.vt(), VT_R8);
        return r.value.vt() == VT_R8 ? r.value.get()->dblVal : std::nan("");
    }
    SHORT i2(const wchar_t* name, std::vector<Var> args) {
        auto r = run(name, std::move(args));
        EXPECT_EQ(r.hr, S_OK) << std::hex << r.hr;
        EXPECT_EQ(r.value.vt(), VT_I2);
        return r.value.vt() == VT_I2 ? r.value.get()->iVal : SHORT(-32768);
    }
    com::Ptr<IDispatch> plugIn;
};

Var byRef(Var& target) {
    Var r;
    r.ref().vt = VT_BYREF | VT_VARIANT;
    r.ref().pvarVal = target.get();
    return r;
}

} // namespace

TEST_F(Numeric, SignIsASixteenBitOneOrMinusOneNeverZero) {
    EXPECT_EQ(i2(L"Sign", {Var::i2(0)}), 1);
    EXPECT_EQ(i2(L"Sign", {Var::r8(-0.0)}), 1);
    EXPECT_EQ(i2(L"Sign", {Var::r8(-2.5)}), -1);
    EXPECT_EQ(i2(L"Sign", {Var::i4(3)}), 1);
    EXPECT_EQ(i2(L"Sign", {Var::r8(1e-300)}), 1);
    EXPECT_EQ(i2(L"Sign", {Var::r8(-1e-300)}), -1);
    EXPECT_EQ(i2(L"Sign", {Var::r4(-0.001f)}), -1);
    EXPECT_EQ(i2(L"Sign", {Var::str(L"-4")}), -1);
    EXPECT_EQ(i2(L"Sign", {Var()}), 1);  // Empty is zero
    EXPECT_EQ(i2(L"Sign", {Var::boolean(true)}), -1);  // True is -1
}

TEST_F(Numeric, SineAndCosineUseTheStoredDegreeFactor) {
    EXPECT_NEAR(r8(L"SinDeg", {Var::i2(30)}), 0.5, 1e-15);
    EXPECT_EQ(r8(L"SinDeg", {Var::i2(0)}), 0.0);
    EXPECT_EQ(r8(L"CosDeg", {Var::r4(0.0f)}), 1.0);
    EXPECT_EQ(r8(L"SinDeg", {Var::i2(90)}), 1.0);
    // The factor lies one unit above pi/180: cos 90 is a small negative number.
    double c90 = r8(L"CosDeg", {Var::i2(90)});
    EXPECT_LT(c90, 0.0);
    EXPECT_NEAR(c90, -3.83e-16, 0.01e-16);
    EXPECT_NEAR(r8(L"SinDeg", {Var::i2(180)}), -7.66e-16, 0.01e-16);
    EXPECT_NEAR(r8(L"CosDeg", {Var::str(L"60")}), 0.5, 1e-15);
}

TEST_F(Numeric, CalcAngleQuadrantsAndTheSinglePrecisionWorkingAngle) {
    // Expected values: the working angle rounded to single, then divided by the factor.
    EXPECT_NEAR(r8(L"CalcAngle", {Var::i2(1), Var::i2(1)}), -45.00000125223907, 1e-10);
    EXPECT_NEAR(r8(L"CalcAngle", {Var::i2(1), Var::i2(-1)}), 45.00000125223907, 1e-10);
    EXPECT_NEAR(r8(L"CalcAngle", {Var::i2(-1), Var::i2(1)}), -135.00000034162264, 1e-10);
    EXPECT_NEAR(r8(L"CalcAngle", {Var::i2(-1), Var::i2(-1)}), 135.00000034162264, 1e-10);
    EXPECT_NEAR(r8(L"CalcAngle", {Var::i2(3), Var::i2(4)}), -53.130101779804896, 1e-10);
    EXPECT_NEAR(r8(L"CalcAngle", {Var::r4(8.0f), Var::r4(-6.0f)}), 36.86989730957867, 1e-10);
    EXPECT_EQ(r8(L"CalcAngle", {Var::i2(1), Var::i2(0)}), 0.0);
    // Never -180: opp = 0 with negative adj is a little above +180.
    EXPECT_NEAR(r8(L"CalcAngle", {Var::i2(-1), Var::i2(0)}), 180.0000050089563, 1e-9);
}

TEST_F(Numeric, CalcAngleNearZeroThreshold) {
    EXPECT_NEAR(r8(L"CalcAngle", {Var::i2(0), Var::i2(5)}), -90.00000250447815, 1e-10);
    EXPECT_NEAR(r8(L"CalcAngle", {Var::i2(0), Var::i2(-5)}), 90.00000250447815, 1e-10);
    EXPECT_NEAR(r8(L"CalcAngle", {Var::i2(0), Var::i2(0)}), 90.00000250447815, 1e-10);
    EXPECT_NEAR(r8(L"CalcAngle", {Var::r8(0.00005), Var::i2(1)}), -90.00000250447815, 1e-10);
    EXPECT_NEAR(r8(L"CalcAngle", {Var::r8(-0.00005), Var::i2(1)}), -89.99999567428898, 1e-10);
    // 0.0001 as a double is not below the threshold: atan(10000) is used.
    EXPECT_NEAR(r8(L"CalcAngle", {Var::r8(0.0001), Var::r8(1.0)}), -89.9942719757645, 1e-9);
    // The single nearest 0.0001 lies below it: the threshold applies.
    EXPECT_NEAR(r8(L"CalcAngle", {Var::r4(0.0001f), Var::r4(1.0f)}), -90.00000250447815, 1e-10);
    // A zero adj never divides: the result is a double even from integers.
    auto r = run(L"CalcAngle", {Var::i2(0), Var::i2(0)});
    EXPECT_EQ(r.value.vt(), VT_R8);
}

TEST_F(Numeric, CalcAngleQuotientPrecisionFollowsTheArguments) {
    double single = r8(L"CalcAngle", {Var::r4(10.0f), Var::r4(3.0f)});
    double dbl = r8(L"CalcAngle", {Var::r8(10.0), Var::r8(3.0)});
    EXPECT_NEAR(single, -16.69924561498006, 1e-10);
    EXPECT_NEAR(dbl, -16.69924390743277, 1e-10);
    EXPECT_GT(std::fabs(single - dbl), 1e-6);  // differs in the sixth decimal place
}

TEST_F(Numeric, ArgumentsAreReadThroughReferencesAndLeftUnchanged) {
    Var adj = Var::r4(10.0f), opp = Var::r4(3.0f);
    double viaRef = r8(L"CalcAngle", {byRef(adj), byRef(opp)});
    EXPECT_NEAR(viaRef, -16.69924561498006, 1e-10);
    EXPECT_EQ(adj.vt(), VT_R4);
    EXPECT_EQ(adj.get()->fltVal, 10.0f);
    EXPECT_EQ(opp.get()->fltVal, 3.0f);
    // A typed reference (VT_BYREF | VT_R8) is read the same way.
    double x = -0.5;
    Var typed;
    typed.ref().vt = VT_BYREF | VT_R8;
    typed.ref().pdblVal = &x;
    EXPECT_NEAR(r8(L"ArcCosDeg", {typed}), 120.0, 1e-12);
    EXPECT_EQ(x, -0.5);
    // Text is converted with the runtime's rules.
    EXPECT_NEAR(r8(L"CalcAngle", {Var::str(L"3"), Var::str(L"4")}), -53.130101779804896, 1e-10);
}

TEST_F(Numeric, ArcCosDegInsideAndOutsideItsDomain) {
    EXPECT_NEAR(r8(L"ArcCosDeg", {Var::r8(0.5)}), 60.0, 1e-12);
    EXPECT_NEAR(r8(L"ArcCosDeg", {Var::i2(0)}), 90.0, 1e-12);
    EXPECT_NEAR(r8(L"ArcCosDeg", {Var::r8(-0.5)}), 120.0, 1e-12);
    EXPECT_NEAR(r8(L"ArcCosDeg", {Var::r8(0.99)}), 8.109614455994182, 1e-12);
    // |x| >= 1: the fixed 16-bit integer 180, at both ends and beyond.
    for (double x : {1.0, -1.0, 1.5, -7.0}) EXPECT_EQ(i2(L"ArcCosDeg", {Var::r8(x)}), 180) << x;
    EXPECT_EQ(i2(L"ArcSinDeg", {Var::i2(1)}), 180);
    EXPECT_NEAR(r8(L"ArcSinDeg", {Var::r8(0.5)}), 60.0, 1e-12);  // same body as ArcCosDeg
}

TEST_F(Numeric, OldCalcAngleFromTheInverseCosine) {
    EXPECT_NEAR(r8(L"OldCalcAngle", {Var::i2(3), Var::i2(4)}), 36.869897645844, 1e-9);
    EXPECT_NEAR(r8(L"OldCalcAngle", {Var::i2(-3), Var::i2(4)}), -36.869897645844, 1e-9);
    EXPECT_NEAR(r8(L"OldCalcAngle", {Var::i2(1), Var::i2(0)}), 90.0, 1e-12);
    EXPECT_NEAR(r8(L"OldCalcAngle", {Var::i2(-1), Var::i2(0)}), -90.0, 1e-12);
    EXPECT_NEAR(r8(L"OldCalcAngle", {Var::i2(1), Var::i2(1)}), 45.0, 1e-12);
    EXPECT_NEAR(r8(L"OldCalcAngle", {Var::i2(-1), Var::i2(-1)}), -135.0, 1e-12);
    EXPECT_EQ(i2(L"OldCalcAngle", {Var::i2(0), Var::i2(0)}), 0);
    EXPECT_EQ(i2(L"OldCalcAngle", {Var::r8(0.0), Var::r8(0.0)}), 0);
    EXPECT_EQ(i2(L"OldCalcAngle", {Var::i2(0), Var::i2(5)}), 180);
    EXPECT_EQ(i2(L"OldCalcAngle", {Var::i2(0), Var::i2(-5)}), 180);
    EXPECT_EQ(i2(L"OldCalcAngle", {Var::r8(-1e-30), Var::i2(5)}), -180);
}

TEST_F(Numeric, NonTrappingMembersFailWithThePlatformErrorAndNoMessage) {
    UiRobot robot;
    for (const wchar_t* name : {L"Sign", L"SinDeg", L"CosDeg"}) {
        auto r = run(name, {Var::str(L"abc")});
        EXPECT_EQ(r.hr, DISP_E_EXCEPTION) << name;
        EXPECT_EQ(r.error.number, com::kTypeMismatch) << name;
        Var null;
        null.ref().vt = VT_NULL;
        EXPECT_EQ(run(name, {null}).error.number, com::kTypeMismatch) << name;
    }
    Var inf = Var::r8(std::numeric_limits<double>::infinity());
    EXPECT_EQ(run(L"SinDeg", {inf}).hr, DISP_E_EXCEPTION);
    EXPECT_EQ(run(L"Sign", {Var::r8(std::nan(""))}).hr, DISP_E_EXCEPTION);
    EXPECT_TRUE(robot.boxes.empty());
}

TEST_F(Numeric, ErrorReportShowsTheArgumentsThenReRaisesTheSameError) {
    UiRobot robot;
    auto r = run(L"CalcAngle", {Var::str(L"abc"), Var::i2(1)});
    ASSERT_EQ(r.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(r.error.number, com::kTypeMismatch);
    EXPECT_STREQ(r.error.source.c_str(), L"Brastow");
    EXPECT_STREQ(r.error.description.c_str(), L"Type mismatch");
    EXPECT_EQ(r.error.helpFile.length(), 0u);
    EXPECT_EQ(r.error.helpContext, 0u);
    ASSERT_EQ(robot.boxes.size(), 1u) << "exactly one message; no line-number message";
    const SeenBox& box = robot.boxes[0];
    EXPECT_EQ(box.text, L"Error in CalcAngle, adj=abc, opp=1");
    EXPECT_EQ(box.caption, L"Brastow");
    EXPECT_FALSE(box.hasIcon);
    EXPECT_EQ(box.buttons, 1);
    EXPECT_FALSE(box.hasCancel);
}

TEST_F(Numeric, ErrorReportTextsOfEachTrappingMember) {
    UiRobot robot;
    auto big = run(L"ArcCosDeg", {Var::r8(1e200)});
    EXPECT_EQ(big.error.number, com::kOverflow);
    auto sinText = run(L"ArcSinDeg", {Var::str(L"north")});
    EXPECT_EQ(sinText.error.number, com::kTypeMismatch);
    auto old = run(L"OldCalcAngle", {Var::str(L"abc"), Var::r8(0.5)});
    EXPECT_EQ(old.error.number, com::kTypeMismatch);
    auto overflow = run(L"CalcAngle", {Var::r4(0.001f), Var::r4(3e38f)});
    EXPECT_EQ(overflow.error.number, com::kOverflow);
    auto oldBig = run(L"OldCalcAngle", {Var::r8(1e300), Var::i2(1)});
    EXPECT_EQ(oldBig.error.number, com::kOverflow);
    // Numbers as the runtime writes them in the user's locale ("0,5" in German).
    std::vector<std::wstring> expected = {
        L"Error in ArcCosDeg, x=1E+200", L"Error in ArcSinDeg, x=north",
        simuser::local(L"Error in CalcAngle, x=abc, y=0.5"),  // OldCalcAngle's own message names CalcAngle
        simuser::local(L"Error in CalcAngle, adj=0.001, opp=3E+38"), L"Error in CalcAngle, x=1E+300, y=1"};
    EXPECT_EQ(robot.texts(), expected);
}

TEST_F(Numeric, NullAndUnrenderableArgumentsStillGiveAMessageAndAnError) {
    UiRobot robot;
    Var null;
    null.ref().vt = VT_NULL;
    EXPECT_EQ(run(L"CalcAngle", {null, Var::i2(1)}).error.number, com::kTypeMismatch);
    SAFEARRAY* sa = SafeArrayCreateVector(VT_R8, 0, 3);
    Var arr;
    arr.ref().vt = VT_ARRAY | VT_R8;
    arr.ref().parray = sa;
    EXPECT_EQ(run(L"ArcCosDeg", {arr}).hr, DISP_E_EXCEPTION);
    std::vector<std::wstring> expected = {L"Error in CalcAngle, adj=, opp=1", L"Error in ArcCosDeg, x=(array)"};
    EXPECT_EQ(robot.texts(), expected);
}

// ---- the elementary functions, against correctly rounded references ----------------------

#include "anglemath/crtmath.h"

namespace {
struct DegreeCase { double degrees, radians, sine, cosine; };
struct UnaryCase { double x, y; };
#include "tests/trig_reference.inc"

// How many doubles lie between a and b (0: equal).
int64_t ulps(double a, double b) {
    auto ordered = [](double d) {
        int64_t i;
        memcpy(&i, &d, sizeof(i));
        return i < 0 ? std::numeric_limits<int64_t>::min() - i : i;
    };
    const int64_t d = ordered(a) - ordered(b);
    return d < 0 ? -d : d;
}
std::string hex(double d) {
    char buf[40];
    snprintf(buf, sizeof(buf), "%a", d);
    return buf;
}
} // namespace

TEST(ElementaryFunctions, WithinOneUnitInTheLastPlaceForEveryKindOfArgument) {
    int exact = 0, total = 0;
    auto check = [&](const char* fn, double (*f)(double), double x, double expected) {
        const double got = f(x);
        EXPECT_LE(ulps(got, expected), 1) << fn << "(" << hex(x) << ") = " << hex(got) << ", correctly rounded " << hex(expected);
        exact += got == expected;
        ++total;
    };
    for (const DegreeCase& c : kDegreeCases) {
        check("sin", crt::sin, c.radians, c.sine);
        check("cos", crt::cos, c.radians, c.cosine);
    }
    for (const UnaryCase& c : kAtanCases) check("atan", crt::atan, c.x, c.y);
    for (const UnaryCase& c : kSqrtCases) {
        EXPECT_EQ(crt::sqrt(c.x), c.y) << "sqrt(" << hex(c.x) << ") is correctly rounded";
    }
    // Within one unit everywhere, and almost always the correctly rounded value itself.
    EXPECT_GE(exact * 100, total * 99) << exact << " of " << total << " correctly rounded";
}

TEST_F(Numeric, SineAndCosineOfEveryArgumentThroughTheMembers) {
    // Multiples of 90 and 180 degrees (next to the zeros), large and huge arguments, tiny ones.
    for (const DegreeCase& c : kDegreeCases) {
        const double s = r8(L"SinDeg", {Var::r8(c.degrees)}), co = r8(L"CosDeg", {Var::r8(c.degrees)});
        EXPECT_LE(ulps(s, c.sine), 1) << "SinDeg(" << c.degrees << ") = " << hex(s) << ", correctly rounded " << hex(c.sine);
        EXPECT_LE(ulps(co, c.cosine), 1) << "CosDeg(" << c.degrees << ") = " << hex(co) << ", correctly rounded " << hex(c.cosine);
    }
    // The measured faults of the x87 instructions: cos 90 off in the sixth digit, wrong
    // beyond about 1e15 degrees.
    EXPECT_LE(ulps(r8(L"CosDeg", {Var::i2(90)}), -3.8285686989269494e-16), 1);
    EXPECT_NEAR(r8(L"CosDeg", {Var::r8(1e22)}), -0.3452, 1e-4);
}

TEST_F(Numeric, ArcCosDegWithCorrectlyRoundedArctangentAndRoot) {
    for (const UnaryCase& c : kArcCosCases) {
        const double got = r8(L"ArcCosDeg", {Var::r8(c.x)});
        EXPECT_LE(ulps(got, c.y), 2) << "ArcCosDeg(" << hex(c.x) << ") = " << hex(got) << ", reference " << hex(c.y);
    }
}
