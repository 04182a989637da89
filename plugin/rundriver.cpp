#include "plugin/rundriver.h"
#include "anglemath/errorreport.h"
#include "server/comhelp.h"

HRESULT runCalibration(_PlugIn*, Document*) {
    return com::raise(E_NOTIMPL, anglemath::kSource, L"The calibration run is not available in this build");
}
