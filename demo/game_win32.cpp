#include <windows.h>

#include "demo/game.hpp"

namespace {

LRESULT CALLBACK demo_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_TIMER:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wparam, lparam);
    }
}

// STATIC controls break lines at "\r\n" only.
std::string windows_lines(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

}  // namespace

void show_text(const std::string& title, const std::string& text, int seconds,
               const std::function<void(const char*)>& shown) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = demo_window_proc;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursor(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    window_class.lpszClassName = "QuillMarkDemoGame";
    RegisterClassA(&window_class);

    HWND frame = CreateWindowExA(0, "QuillMarkDemoGame", title.c_str(),
                                 WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT,
                                 760, 220, nullptr, nullptr, instance, nullptr);
    if (!frame) return;
    CreateWindowExA(0, "STATIC", windows_lines(text).c_str(), WS_CHILD | WS_VISIBLE, 16, 16, 720,
                    150, frame, nullptr, instance, nullptr);
    SetTimer(frame, 1, static_cast<UINT>(seconds) * 1000u, nullptr);
    UpdateWindow(frame);
    shown("window");

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

std::string current_directory() {
    char buffer[MAX_PATH * 4] = {};
    GetCurrentDirectoryA(sizeof buffer, buffer);
    return buffer;
}

std::string whole_command_line() { return GetCommandLineA(); }

bool file_exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

long process_id() { return static_cast<long>(GetCurrentProcessId()); }
