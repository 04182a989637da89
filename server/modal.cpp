#include "server/modal.h"
#include "server/errors.h"

namespace modal {

bool quitRequested() {
    MSG msg;
    return PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != FALSE;
}

HRESULT hostClosing() { return errors::raise(E_ABORT, L"The calibration was abandoned: the host is closing"); }

HRESULT showMessage(const wchar_t* text, HWND owner) {
    if (!owner) owner = GetActiveWindow();
    MessageBoxW(owner, text, L"Brastow", MB_OK);
    return quitRequested() ? hostClosing() : S_OK;
}

} // namespace modal
