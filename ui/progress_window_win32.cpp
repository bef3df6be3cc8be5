#include <windows.h>
#include <commctrl.h>

#include "ui/progress_backend.hpp"

namespace {

HWND as_window(void* handle) { return static_cast<HWND>(handle); }

// The children belong to the running executable's module; the frame to the
// instance the caller passes.
HWND make_child(const char* window_class, HWND frame, const progress_backend::place& where,
                const std::string& text) {
    return CreateWindowExA(0, window_class, text.c_str(), WS_CHILD | WS_VISIBLE, where.x, where.y,
                           where.width, where.height, frame, nullptr, GetModuleHandleA(nullptr),
                           nullptr);
}

class win32_progress final : public progress_backend {
public:
    handle make_frame(void* instance, const std::string& caption, int width, int height) override {
        return CreateWindowExA(0, "STATIC", caption.c_str(), WS_BORDER, CW_USEDEFAULT,
                               CW_USEDEFAULT, width, height, nullptr, nullptr,
                               static_cast<HINSTANCE>(instance), nullptr);
    }
    handle make_bar(handle frame, const place& where) override {
        return make_child(PROGRESS_CLASSA, as_window(frame), where, "");
    }
    handle make_label(handle frame, const place& where, const std::string& text) override {
        return make_child("STATIC", as_window(frame), where, text);
    }
    void show(handle frame) override { ShowWindow(as_window(frame), SW_SHOW); }
    void paint(handle frame) override { UpdateWindow(as_window(frame)); }
    void set_text(handle label, const std::string& text) override {
        SetWindowTextA(as_window(label), text.c_str());
    }
    void set_position(handle bar, int position) override {
        SendMessageA(as_window(bar), PBM_SETPOS, position, 0);
    }
    void pump() override {
        // Only what already waits for this thread. A close request (Alt+F4, a
        // posted WM_CLOSE) lets the static frame destroy itself; the updates
        // that follow then go to stale handles, which Windows ignores.
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    void destroy(handle frame) override { DestroyWindow(as_window(frame)); }
};

}  // namespace

progress_backend& platform_progress_backend() {
    static win32_progress backend;
    return backend;
}
