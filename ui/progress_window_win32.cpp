#include <windows.h>
#include <commctrl.h>

#include "ui/progress_backend.hpp"

static_assert(CW_USEDEFAULT == progress_default_position, "default position must be CW_USEDEFAULT");
static_assert(WS_BORDER == progress_layout::frame_style, "frame style");
static_assert((WS_CHILD | WS_VISIBLE) == progress_layout::child_style, "child style");

namespace {

HWND as_window(void* handle) { return static_cast<HWND>(handle); }

void* module_handle() { return GetModuleHandleA(nullptr); }

void* create_window(const progress_window_params& params) {
    return CreateWindowExA(params.ex_style, params.class_name, params.text.c_str(), params.style, params.x,
                           params.y, params.width, params.height, as_window(params.parent), nullptr,
                           static_cast<HINSTANCE>(params.instance), nullptr);
}

void show_window(void* frame) { ShowWindow(as_window(frame), SW_SHOW); }
void paint_window(void* frame) { UpdateWindow(as_window(frame)); }
void set_text(void* window, const std::string& text) { SetWindowTextA(as_window(window), text.c_str()); }
void set_position(void* bar, int position) { SendMessageA(as_window(bar), PBM_SETPOS, position, 0); }
void destroy_window(void* frame) { DestroyWindow(as_window(frame)); }

const progress_backend win32_backend{module_handle, create_window, show_window, paint_window,
                                     set_text,      set_position,  destroy_window};

}  // namespace

const progress_backend& platform_progress_backend() { return win32_backend; }
