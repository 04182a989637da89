// Closes the message boxes that another process of the desktop shows under the title
// "Brastow", appending each text to a log file. For tests whose client (a script)
// cannot close them itself. Usage: boxcloser <log> <stop-file> [seconds]
#include <windows.h>
#include <cstdio>
#include <cstdlib>

namespace {
FILE* g_log = nullptr;
BOOL CALLBACK text(HWND c, LPARAM lp) {
    wchar_t cls[16], buf[1024];
    if (GetClassNameW(c, cls, 16) && lstrcmpiW(cls, L"Static") == 0 && GetWindowTextW(c, buf, 1024) > 0) {
        lstrcpynW(reinterpret_cast<wchar_t*>(lp), buf, 1024);
        return FALSE;
    }
    return TRUE;
}
BOOL CALLBACK visit(HWND w, LPARAM) {
    wchar_t cls[16], caption[64];
    if (!GetClassNameW(w, cls, 16) || lstrcmpW(cls, L"#32770") != 0 || !IsWindowVisible(w)) return TRUE;
    GetWindowTextW(w, caption, 64);
    if (lstrcmpW(caption, L"Brastow") != 0 || GetPropW(w, L"BoxCloserSeen")) return TRUE;
    SetPropW(w, L"BoxCloserSeen", reinterpret_cast<HANDLE>(1));
    wchar_t body[1024] = L"";
    EnumChildWindows(w, text, reinterpret_cast<LPARAM>(body));
    char utf8[4096];
    WideCharToMultiByte(CP_UTF8, 0, body, -1, utf8, sizeof(utf8), nullptr, nullptr);
    fprintf(g_log, "%s\n", utf8);
    fflush(g_log);
    PostMessageW(w, WM_COMMAND, IDOK, 0);
    return TRUE;
}
} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    g_log = _wfopen(argv[1], L"ab");
    if (!g_log) return 2;
    DWORD seconds = argc > 3 ? static_cast<DWORD>(_wtoi(argv[3])) : 120;
    DWORD end = GetTickCount() + seconds * 1000;
    while (GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES && GetTickCount() < end) {
        EnumWindows(visit, 0);
        Sleep(20);
    }
    fclose(g_log);
    return 0;
}
