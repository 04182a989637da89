// Brastow's modal moments: its message boxes, and what happens when the host's thread is
// told to quit while one of them (or the setup form, or a wait of the run) is open.
#pragma once

#include <windows.h>

namespace modal {

// True when a quit request (WM_QUIT) is pending for this thread. The request stays in
// place for the host's own message loop.
bool quitRequested();

// Raises "The calibration was abandoned: the host is closing" (E_ABORT) and returns it.
HRESULT hostClosing();

// Shows an OK-only message without an icon under the component's title, "Brastow",
// owned by `owner` or else the thread's active window, and waits until it is closed.
// S_OK when the user closed it; when the thread was told to quit while it was open
// (the box then closes by itself), raises hostClosing() and returns E_ABORT.
HRESULT showMessage(const wchar_t* text, HWND owner = nullptr);

} // namespace modal
