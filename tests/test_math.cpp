// The public numeric members, called late-bound as an automation client calls them.
#include <gtest/gtest.h>
#include "tests/support.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

using namespace testing_support;
using com::Var;

namespace {

class Numeric : public ::testing::Test {
protected:
    // A member that fails unexpectedly must fail the test, not leave it waiting at an
    // error message nobody closes: message boxes are refused unless a test lets the
    // simulated user read them (showBoxes, before its UiRobot).
    void SetUp() override {
        plugIn = createPlugIn();
        ASSERT_TRUE(plugIn) << "Brastow.PlugIn is not registered";
        blocker.emplace();
    }
    void showBoxes() { blocker.reset(); }
    std::optional<MessageBoxBlocker> blocker;
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
    // True is -1 degree, as the runtime reads a Boolean.
    EXPECT_EQ(r8(L"SinDeg", {Var::boolean(true)}), -r8(L"SinDeg", {Var::i2(1)}));
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
    showBoxes();
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
    showBoxes();
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
    showBoxes();
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
    showBoxes();
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

// ---- the elementary functions, correctly rounded ------------------------------------------

#include "anglemath/elementary.h"

#include <float.h>

namespace {
struct DegreeCase { double degrees, radians, sine, cosine; };
struct UnaryCase { double x, y; };
#include "tests/trig_reference.inc"

using bigfloat::Big;
using elementary::detail::Function;
const Function kFunctions[] = {Function::Sin, Function::Cos, Function::Atan};
const char* nameOf(Function f) { return f == Function::Sin ? "sin" : f == Function::Cos ? "cos" : "atan"; }

uint64_t bitsOf(double d) {
    uint64_t b;
    memcpy(&b, &d, sizeof(b));
    return b;
}
double fromBits(uint64_t b) {
    double d;
    memcpy(&d, &b, sizeof(d));
    return d;
}
std::string hex(double d) {
    char buf[40];
    snprintf(buf, sizeof(buf), "%a", d);
    return buf;
}

// The random set the build made (tools/trigref.py --random): x, sin x, cos x, atan x.
struct RandomCase { double x, y[3]; };
const std::vector<RandomCase>& randomSet() {
    static std::vector<RandomCase> cases;
    if (cases.empty()) {
        FILE* f = fopen("trig_random.txt", "r");
        unsigned long long b[4];
        while (f && fscanf(f, "%llx %llx %llx %llx", &b[0], &b[1], &b[2], &b[3]) == 4)
            cases.push_back({fromBits(b[0]), {fromBits(b[1]), fromBits(b[2]), fromBits(b[3])}});
        if (f) fclose(f);
    }
    return cases;
}

// Whether the general method takes x for f (finite, above the tiny limits).
bool general(Function f, double x) {
    const int e = static_cast<int>((bitsOf(x) >> 52) & 0x7FF);
    return e != 0x7FF && e >= (f == Function::Sin ? 1023 - 26 : 1023 - 27);
}

// |a - ref| < 2^-bits |ref|, ref of more words than a.
bool within(const Big& a, const Big& ref, int bits) {
    if (a.isZero() || ref.isZero()) return a.isZero() && ref.isZero();
    Big wide, d;
    wide.n = ref.n;
    wide.e = a.e;
    wide.neg = a.neg;
    for (int i = 0; i < ref.n; ++i) wide.m[i] = i < ref.n - a.n ? 0u : a.m[i - (ref.n - a.n)];
    bigfloat::sub(d, wide, ref);
    return d.isZero() || d.e <= ref.e - 1 - bits;
}
} // namespace

TEST(ElementaryFunctions, CorrectlyRoundedOnTheReferenceTable) {
    for (const DegreeCase& c : kDegreeCases) {
        EXPECT_EQ(bitsOf(elementary::sin(c.radians)), bitsOf(c.sine)) << "sin(" << hex(c.radians) << ")";
        EXPECT_EQ(bitsOf(elementary::cos(c.radians)), bitsOf(c.cosine)) << "cos(" << hex(c.radians) << ")";
    }
    for (const UnaryCase& c : kAtanCases) EXPECT_EQ(bitsOf(elementary::atan(c.x)), bitsOf(c.y)) << "atan(" << hex(c.x) << ")";
    for (const UnaryCase& c : kSqrtCases) EXPECT_EQ(bitsOf(elementary::sqrt(c.x)), bitsOf(c.y)) << "sqrt(" << hex(c.x) << ")";
}

TEST(ElementaryFunctions, CorrectlyRoundedOnTheRandomSet) {
    const auto& cases = randomSet();
    ASSERT_GE(cases.size(), 100000u) << "trig_random.txt (made by the build) is missing or short";
    long decidedBy[4] = {0, 0, 0, 0}, wrong = 0;  // special, double-double, 3 words, more
    for (const RandomCase& c : cases) {
        for (int i = 0; i < 3; ++i) {
            int words = 0;
            const double got = elementary::detail::evaluate(kFunctions[i], c.x, &words);
            ++decidedBy[words == 0 ? 0 : words == 1 ? 1 : words == 3 ? 2 : 3];
            if (bitsOf(got) != bitsOf(c.y[i]) && ++wrong <= 20)
                ADD_FAILURE() << nameOf(kFunctions[i]) << "(" << hex(c.x) << ") = " << hex(got) << ", correctly rounded "
                              << hex(c.y[i]);
        }
    }
    EXPECT_EQ(wrong, 0);
    printf("%zu arguments: %ld results special cases, %ld by the double-double path, %ld by 3 words, %ld by more\n",
           cases.size(), decidedBy[0], decidedBy[1], decidedBy[2], decidedBy[3]);
}

// Each precision's approximation lies within the error bound it claims, and where the bound
// decides the rounding, it decides it right: the double-double path and 3 words checked
// against 8 words on every 16th argument, 8 words against 32 on every 256th.
TEST(ElementaryFunctions, EveryPrecisionStaysWithinItsBound) {
    const auto& cases = randomSet();
    ASSERT_GE(cases.size(), 100000u);
    std::vector<double> args;
    for (const DegreeCase& c : kDegreeCases) args.push_back(c.radians);
    for (const UnaryCase& c : kAtanCases) args.push_back(c.x);
    for (size_t i = 0; i < cases.size(); i += 16) args.push_back(cases[i].x);
    int checked = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const double x = args[i];
        for (Function f : kFunctions) {
            if (!general(f, x)) continue;
            ++checked;
            Big y3, y8;
            const int b3 = elementary::detail::approximate(f, x, 3, y3);
            const int b8 = elementary::detail::approximate(f, x, 8, y8);
            EXPECT_TRUE(within(y3, y8, b3)) << nameOf(f) << "(" << hex(x) << ") at 3 words, bound 2^-" << b3;
            double hi, lo;
            if (elementary::detail::fastPair(f, x, &hi, &lo)) {
                Big h, l, sum;
                bigfloat::fromDouble(h, hi, 8);
                bigfloat::fromDouble(l, lo, 8);
                bigfloat::add(sum, h, l);
                EXPECT_TRUE(within(sum, y8, elementary::detail::kFastBits)) << nameOf(f) << "(" << hex(x) << ") by the double-double path";
            }
            if (i % 16 != 0) continue;
            Big y32;
            elementary::detail::approximate(f, x, 32, y32);
            EXPECT_TRUE(within(y8, y32, b8)) << nameOf(f) << "(" << hex(x) << ") at 8 words, bound 2^-" << b8;
            const double correct = elementary::detail::evaluate(f, x, nullptr);
            double out;
            for (const Big* y : {&y3, &y8}) {
                if (bigfloat::roundToDouble(*y, y == &y3 ? b3 : b8, &out)) {
                    EXPECT_EQ(bitsOf(out), bitsOf(correct)) << nameOf(f) << "(" << hex(x) << ") rounded at " << y->n << " words";
                }
            }
            ASSERT_TRUE(bigfloat::roundToDouble(y32, 1000, &out));
            EXPECT_EQ(bitsOf(out), bitsOf(correct)) << nameOf(f) << "(" << hex(x) << ") at 32 words";
        }
    }
    EXPECT_GT(checked, 10000);
}

// A rounding boundary inside the error bound leaves the rounding open; outside it decides.
TEST(ElementaryFunctions, RoundingIsOpenOnlyNearABoundary) {
    // 1 + 2^-53 (the midpoint between 1 and its successor) and numbers a little off it.
    auto number = [](uint64_t top, uint64_t below) {  // 0.M x 2^1 with M = top:below
        Big y;
        y.n = 3;
        y.e = 1;
        y.neg = false;
        y.m[2] = static_cast<uint32_t>(top >> 32);
        y.m[1] = static_cast<uint32_t>(top);
        y.m[0] = static_cast<uint32_t>(below);
        return y;
    };
    double out = 0;
    // M = 1000...0 | 1 | 000...: the midpoint exactly, open at every bound.
    EXPECT_FALSE(bigfloat::roundToDouble(number(0x8000000000000400ull, 0), 80, &out));
    // 2^-80 above the midpoint: decided (upwards) with a bound of 2^-85, open with 2^-70.
    Big above = number(0x8000000000000400ull, 1u << 16);
    EXPECT_FALSE(bigfloat::roundToDouble(above, 70, &out));
    ASSERT_TRUE(bigfloat::roundToDouble(above, 85, &out));
    EXPECT_EQ(out, fromBits(0x3FF0000000000001ull));
    // Just below the midpoint: decided downwards to 1.
    Big below = number(0x80000000000003FFull, 0xFFFF0000u);
    ASSERT_TRUE(bigfloat::roundToDouble(below, 85, &out));
    EXPECT_EQ(out, 1.0);
    // Far from any boundary: decided at the weakest bound allowed.
    ASSERT_TRUE(bigfloat::roundToDouble(number(0xC000000000000100ull, 0), 56, &out));
    EXPECT_EQ(out, 1.5);

    // The double-double path's test, hi + lo within 2^-63 (relative) of the value. Below a
    // power of two the gap to the next double is half the gap above it.
    struct PairCase { double hi, lo; bool open; };
    const PairCase pairs[] = {
        {1.0, 0x1p-60, false},                  // far inside
        {1.0, 0x1p-53 - 0x1p-70, true},         // above 1: within the bound of the midpoint
        {1.0, 0x1p-53 - 0x1p-60, false},        // ... and outside it
        {1.0, -(0x1p-54 - 0x1p-70), true},      // below 1 the midpoint is 2^-54 away
        {1.0, -(0x1p-54 - 0x1p-60), false},
        {-1.0, 0x1p-54 - 0x1p-70, true},        // the same towards zero from -1
        {1.5, -(0x1p-53 - 0x1p-62), false},     // not a power of two: the full half gap
        {1.5, -(0x1p-53 - 0x1p-64), true},
    };
    for (const PairCase& c : pairs) {
        double got = 0;
        EXPECT_EQ(!elementary::detail::decidedPair(c.hi, c.lo, &got), c.open) << hex(c.hi) << " + " << hex(c.lo);
        if (!c.open) {
            EXPECT_EQ(got, c.hi);
        }
    }
}

TEST(ElementaryFunctions, TablesAgreeWithTheSeriesOfTheOtherPrecisions) {
    for (unsigned k = 0; k <= 128; ++k) {
        for (Function f : kFunctions) {
            if (f != Function::Atan && k > 101) continue;
            Big table, series;
            elementary::detail::tableValue(f, k, table);
            elementary::detail::seriesValue(f, k, 8, series);
            EXPECT_TRUE(within(table, series, 94)) << nameOf(f) << "(" << k << "/128)";
        }
    }
}

TEST(ElementaryFunctions, SpecialArgumentsAndFlags) {
    const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    const double tiny = 0x1p-27, subnormal = 0x1p-1070, largest = std::numeric_limits<double>::max();
    _clearfp();
    for (double s : {1.0, -1.0}) {
        EXPECT_EQ(bitsOf(elementary::sin(s * 0.0)), bitsOf(s * 0.0));
        EXPECT_EQ(bitsOf(elementary::atan(s * 0.0)), bitsOf(s * 0.0));
        EXPECT_EQ(elementary::cos(s * 0.0), 1.0);
        EXPECT_EQ(elementary::sin(s * subnormal), s * subnormal);
        EXPECT_EQ(elementary::atan(s * tiny), s * tiny);
        EXPECT_EQ(elementary::cos(s * tiny), 1.0);
        EXPECT_EQ(elementary::atan(s * largest), s * 0x1.921fb54442d18p+0);
        EXPECT_EQ(elementary::atan(s * inf), s * 0x1.921fb54442d18p+0);
        EXPECT_EQ(elementary::sin(s * largest), s * 0x1.452fc98b34e97p-8);  // mpmath
        EXPECT_EQ(elementary::cos(s * largest), -0x1.fffe62ecfab75p-1);
    }
    EXPECT_TRUE(std::isnan(elementary::atan(nan)));
    EXPECT_EQ(_clearfp() & (_EM_INVALID | _EM_OVERFLOW | _EM_ZERODIVIDE), 0u) << "no flag for these arguments";
    // The whole random set raises no flag either.
    for (const RandomCase& c : randomSet()) {
        elementary::sin(c.x);
        elementary::cos(c.x);
        elementary::atan(c.x);
    }
    EXPECT_EQ(_clearfp() & (_EM_INVALID | _EM_OVERFLOW | _EM_ZERODIVIDE), 0u) << "a flag from a finite argument";
    // Sine and cosine of an infinity: NaN with the invalid operation the members report.
    EXPECT_TRUE(std::isnan(elementary::sin(inf)));
    EXPECT_NE(_clearfp() & _EM_INVALID, 0u);
    EXPECT_TRUE(std::isnan(elementary::cos(-inf)));
    EXPECT_TRUE(std::isnan(elementary::sin(nan)));
    _clearfp();
}

TEST_F(Numeric, SineAndCosineOfEveryArgumentThroughTheMembers) {
    // Multiples of 90 and 180 degrees (next to the zeros), large and huge arguments, tiny ones.
    for (const DegreeCase& c : kDegreeCases) {
        const double s = r8(L"SinDeg", {Var::r8(c.degrees)}), co = r8(L"CosDeg", {Var::r8(c.degrees)});
        EXPECT_EQ(bitsOf(s), bitsOf(c.sine)) << "SinDeg(" << c.degrees << ") = " << hex(s) << ", correctly rounded " << hex(c.sine);
        EXPECT_EQ(bitsOf(co), bitsOf(c.cosine)) << "CosDeg(" << c.degrees << ") = " << hex(co) << ", correctly rounded " << hex(c.cosine);
    }
    // The stored factor's own numbers, exactly, and the measured faults of the x87
    // instructions (cos 90 off in the sixth digit, wrong beyond about 1e15 degrees).
    EXPECT_EQ(r8(L"CosDeg", {Var::i2(90)}), -3.8285686989269494e-16);
    EXPECT_EQ(r8(L"SinDeg", {Var::i2(180)}), -0x1.b9676733ae8fep-51);
    EXPECT_EQ(r8(L"SinDeg", {Var::i2(90)}), 1.0);
    EXPECT_EQ(r8(L"CosDeg", {Var::r8(1e22)}), -0x1.6174ea98316fcp-2);

    // Degrees times the factor rounded once, whatever precision the calling thread's x87
    // unit is set to: products that 64-bit precision rounds twice (normal results; the
    // precision a mingw-w64 program starts in) and that 53-bit precision rounds twice
    // (subnormal results; the precision of most Windows programs). The 32-bit runtime's
    // arithmetic runs on the x87 unit; the sine of these tiny angles is the angle.
    struct TwiceRounded {
        uint64_t degrees, sine;
        unsigned precision;  // _PC_64 or _PC_53
    };
    const TwiceRounded twice[] = {
        {0x139125102a2a8894ull, 0x133326a16e2f647full, _PC_64},
        {0x8da7d248ba0b3fc5ull, 0x8d4a9bd944f73ea1ull, _PC_64},
        {0x00563771e8e72789ull, 0x0006343bf7c2889full, _PC_53},
        {0x00616353551fd8f9ull, 0x0009b616d36c253dull, _PC_53},
    };
    for (const TwiceRounded& t : twice) {
#if defined(__i386__) || defined(_M_IX86)
        const unsigned saved = _controlfp(0, 0);
        _controlfp(t.precision, _MCW_PC);
#endif
        const double got = r8(L"SinDeg", {Var::r8(fromBits(t.degrees))});
#if defined(__i386__) || defined(_M_IX86)
        _controlfp(saved, _MCW_PC);
#endif
        EXPECT_EQ(bitsOf(got), t.sine) << "SinDeg(" << hex(fromBits(t.degrees)) << ") = " << hex(got) << " in "
                                       << (t.precision == _PC_64 ? 64 : 53) << "-bit x87 precision";
    }
}

TEST_F(Numeric, ArcCosDegWithCorrectlyRoundedArctangentAndRoot) {
    for (const UnaryCase& c : kArcCosCases) {
        const double got = r8(L"ArcCosDeg", {Var::r8(c.x)});
        EXPECT_EQ(bitsOf(got), bitsOf(c.y)) << "ArcCosDeg(" << hex(c.x) << ") = " << hex(got) << ", reference " << hex(c.y);
    }
}

// This build's results, written for the comparison of all builds (tools/test.sh compares
// the files of the four trees bit for bit): the functions on the reference table and the
// random set, and the members through IDispatch on arguments of each kind.
TEST_F(Numeric, ResultsForTheComparisonOfBuilds) {
    const auto& cases = randomSet();
    ASSERT_GE(cases.size(), 100000u);
    // Half a million lines: made in memory and written at once, the members' names looked up
    // once (in the emulated PC, a formatted write and a name lookup per line took minutes).
    std::string text;
    text.reserve(24u << 20);
    auto put = [&](const char* what, double x, double y) {
        char line[64];
        const int n = snprintf(line, sizeof(line), "%s %016llx %016llx\n", what,
                               static_cast<unsigned long long>(bitsOf(x)),
                               static_cast<unsigned long long>(bitsOf(y)));
        text.append(line, static_cast<size_t>(n));
    };
    for (const DegreeCase& c : kDegreeCases) {
        put("sin", c.radians, elementary::sin(c.radians));
        put("cos", c.radians, elementary::cos(c.radians));
    }
    for (const UnaryCase& c : kAtanCases) put("atan", c.x, elementary::atan(c.x));
    for (const RandomCase& c : cases) {
        put("sin", c.x, elementary::sin(c.x));
        put("cos", c.x, elementary::cos(c.x));
        put("atan", c.x, elementary::atan(c.x));
    }
    // Through the members: degrees of every size; angles of moderate pairs (no failure, so no
    // message); inverse cosines of sines.
    struct Member { const wchar_t* name; DISPID id; };
    Member sinDeg{L"SinDeg", 0}, cosDeg{L"CosDeg", 0}, arcCosDeg{L"ArcCosDeg", 0},
        calcAngle{L"CalcAngle", 0}, oldCalcAngle{L"OldCalcAngle", 0};
    for (Member* m : {&sinDeg, &cosDeg, &arcCosDeg, &calcAngle, &oldCalcAngle}) {
        m->id = dispid(plugIn.get(), m->name);
        ASSERT_NE(m->id, DISPID_UNKNOWN) << m->name;
    }
    auto through = [&](const Member& m, std::vector<Var> args) {
        CallResult r = invoke(plugIn.get(), m.id, DISPATCH_METHOD, std::move(args));
        EXPECT_EQ(r.hr, S_OK) << m.name;
        return r;
    };
    auto number = [](const CallResult& r, bool orInteger = false) {
        if (r.value.vt() == VT_R8) return r.value.get()->dblVal;
        // OldCalcAngle gives the integer 180 on the y axis
        if (orInteger && r.value.vt() == VT_I2) return static_cast<double>(r.value.get()->iVal);
        ADD_FAILURE() << "result of type " << r.value.vt();
        return std::nan("");
    };
    for (size_t i = 0; i + 1 < cases.size(); i += 4) {
        const double x = cases[i].x;
        put("SinDeg", x, number(through(sinDeg, {Var::r8(x)})));
        put("CosDeg", x, number(through(cosDeg, {Var::r8(x)})));
        put("ArcCosDeg", cases[i].y[0], number(through(arcCosDeg, {Var::r8(cases[i].y[0] * 0.999)})));
        const double opp = cases[i + 1].x;
        if (std::fabs(x) > 1e-9 && std::fabs(x) < 1e9 && std::fabs(opp) < 1e9) {
            put("CalcAngle", x, number(through(calcAngle, {Var::r8(x), Var::r8(opp)})));
            put("CalcAngle!", x, number(through(calcAngle, {Var::r4(static_cast<float>(x)), Var::r4(static_cast<float>(opp))})));
            put("OldCalcAngle", x, number(through(oldCalcAngle, {Var::r8(x), Var::r8(opp)}), true));
        }
    }
    FILE* out = fopen("elementary-results.txt", "wb");
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(fwrite(text.data(), 1, text.size(), out), text.size());
    EXPECT_EQ(fclose(out), 0);
}
