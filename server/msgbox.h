#pragma once
#include <windows.h>

// Shows an OK-only message without an icon under the component's title, "Brastow",
// owned by the thread's active window. Waits until the user closes it.
void showMessage(const wchar_t* text, HWND owner = nullptr);
