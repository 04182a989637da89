// Shared helpers of the tests that drive the real binaries under Wine.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <functional>
#include <string>
#include <vector>

#include "server/comhelp.h"
#include "brastow.h"
#include "sim/uirobot.h"

namespace testing { class Environment; }

namespace testing_support {

// The COM apartment every test program's tests run in (registered by support.cpp).
extern const ::testing::Environment* const kComEnvironment;

// Path of a file in the build folder (the tests' working directory).
std::wstring buildPath(const wchar_t* name);

com::Ptr<IDispatch> createPlugIn();

// A late-bound call. `args` are in the order a client writes them.
struct CallResult {
    HRESULT hr = E_FAIL;
    com::Var value;
    com::Error error;   // filled from EXCEPINFO when hr is DISP_E_EXCEPTION
    UINT argErr = 0;
};
CallResult invoke(IDispatch* d, DISPID id, WORD flags, std::vector<com::Var> args);
CallResult call(IDispatch* d, const wchar_t* name, std::vector<com::Var> args);
DISPID dispid(IDispatch* d, const wchar_t* name);

using simuser::SeenBox;
using simuser::UiRobot;
using simuser::MessageBoxBlocker;
using simuser::textOf;

} // namespace testing_support
