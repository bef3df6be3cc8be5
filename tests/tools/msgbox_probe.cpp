// Finds the launcher's "app throw" message box, records its text and presses
// OK, so that no test waits for a person.
//   msgbox_probe.exe <timeout ms> <record file>
// The record holds the box's text, and whether a progress window ("STATIC"
// top-level of 420 x 120) was still present when the box appeared. Exits 0
// when a box was found and dismissed, 1 when none appeared in time.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct text_search {
    std::string text;
};

BOOL CALLBACK collect_static_text(HWND child, LPARAM context) {
    char cls[64] = {};
    GetClassNameA(child, cls, sizeof cls);
    if (lstrcmpiA(cls, "Static") != 0) return TRUE;
    char text[4096] = {};
    GetWindowTextA(child, text, sizeof text);
    auto* search = reinterpret_cast<text_search*>(context);
    if (std::string(text).size() > search->text.size()) search->text = text;
    return TRUE;
}

BOOL CALLBACK find_progress_frame(HWND window, LPARAM context) {
    char cls[64] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (lstrcmpiA(cls, "Static") == 0 && IsWindow(window)) {
        RECT r{};
        GetWindowRect(window, &r);
        if (r.right - r.left == 420 && r.bottom - r.top == 120) *reinterpret_cast<bool*>(context) = true;
    }
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const DWORD timeout = static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10));
    const DWORD start = GetTickCount();
    HWND box = nullptr;
    while (!(box = FindWindowA("#32770", "app throw"))) {
        if (GetTickCount() - start > timeout) return 1;
        Sleep(20);
    }
    Sleep(100);  // let the box finish laying itself out
    text_search search;
    EnumChildWindows(box, collect_static_text, reinterpret_cast<LPARAM>(&search));
    bool progress_present = false;
    EnumWindows(find_progress_frame, reinterpret_cast<LPARAM>(&progress_present));

    if (FILE* record = std::fopen(argv[2], "wb")) {
        std::fprintf(record, "text=%s\nprogress_window_present=%d\n", search.text.c_str(),
                     progress_present ? 1 : 0);
        std::fclose(record);
    }
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    return 0;
}
