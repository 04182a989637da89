#include "server/msgbox.h"

void showMessage(const wchar_t* text, HWND owner) {
    if (!owner) owner = GetActiveWindow();
    MessageBoxW(owner, text, L"Brastow", MB_OK);
}
