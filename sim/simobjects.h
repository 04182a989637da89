#pragma once
#include <windows.h>
#include <oaidl.h>

namespace sim {
HRESULT createApplication(REFIID iid, void** out);
HRESULT createCamera(REFIID iid, void** out);
IDispatch* newDocument(const wchar_t* name);
}
