#pragma once

#include <limits>
#include <string>

// The platform side of the progress window. The rules (which windows, in
// which order, which slot, which position) live in progress_window.cpp; a
// backend only makes the OS calls, so tests can put a fake in its place.
// Handles are opaque; null means "not made".

// Lets the platform choose a top-level window's position (CW_USEDEFAULT).
constexpr int progress_default_position = std::numeric_limits<int>::min();

struct progress_window_params {
    const char* class_name;
    std::string text;
    unsigned long style;
    unsigned long ex_style;
    int x, y, width, height;  // children: in the parent's client coordinates
    void* parent;
    void* instance;
};

struct progress_backend {
    void* (*module_handle)();  // of the running executable
    void* (*create_window)(const progress_window_params& params);
    void (*show_window)(void* frame);
    void (*paint_window)(void* frame);  // paint at once, without a message loop
    void (*set_text)(void* window, const std::string& text);
    void (*set_position)(void* bar, int position);
    void (*destroy_window)(void* frame);  // takes the children with it
};

// The real one: win32 on Windows, X11 or a terminal line elsewhere.
const progress_backend& platform_progress_backend();

// Process-wide; set as each window is made, never cleared.
struct progress_window_slots {
    void* frame;
    void* bar;
    void* label;
};
progress_window_slots& progress_slots();

// Test seam: the backend the three operations use from now on (null: the
// platform's). Returns the one used before.
const progress_backend* use_progress_backend(const progress_backend* backend);

// The bar position for a fraction: fraction x 100 in single precision,
// truncated toward zero, not clamped.
int progress_position(float fraction);

// Layout of the window, in pixels.
namespace progress_layout {
constexpr const char* frame_class = "STATIC";
constexpr const char* bar_class = "msctls_progress32";
constexpr const char* label_class = "STATIC";
constexpr unsigned long frame_style = 0x00800000;  // WS_BORDER
constexpr unsigned long child_style = 0x50000000;  // WS_CHILD | WS_VISIBLE
constexpr int frame_width = 420, frame_height = 120;
constexpr int bar_x = 20, bar_y = 40, bar_width = 360, bar_height = 20;
constexpr int label_x = 20, label_y = 20, label_width = 260, label_height = 20;
}  // namespace progress_layout
