// Finding the launcher's progress window from another process, for the probes
// that watch it under wine.
#pragma once

#include <windows.h>

#include <string>

inline std::string class_of(HWND window) {
    char name[128] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

// EnumWindows callback: the launcher's frame is a visible 420 x 120 "Static"
// of another process, shown only after both its children are made. Stores it
// in the HWND that `context` points to.
inline BOOL CALLBACK find_progress_frame(HWND window, LPARAM context) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() || lstrcmpiA(class_of(window).c_str(), "Static") != 0)
        return TRUE;
    if (!IsWindowVisible(window)) return TRUE;
    RECT r{};
    GetWindowRect(window, &r);
    if (r.right - r.left != 420 || r.bottom - r.top != 120) return TRUE;
    *reinterpret_cast<HWND*>(context) = window;
    return FALSE;
}
