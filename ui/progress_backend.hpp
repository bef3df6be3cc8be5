// ui/: the progress window's one platform interface and its layout.
#pragma once

#include <string>

// The platform side of the progress window. The rules (which elements, in
// which order, which slot, which position) live in progress_window.cpp; a
// backend only draws, so tests can put a recording fake in its place.
// Handles are opaque; null means "not made".
class progress_backend {
public:
    using handle = void*;

    // Where a child goes, in pixels of the frame's client area.
    struct place {
        int x, y, width, height;
    };

    virtual ~progress_backend() = default;

    // The top-level window, `width` x `height` outside, wherever the platform
    // puts new windows. `instance` is the caller's module instance.
    virtual handle make_frame(void* instance, const std::string& caption, int width,
                              int height) = 0;
    // The children; `frame` may be null when the frame could not be made.
    virtual handle make_bar(handle frame, const place& where) = 0;
    virtual handle make_label(handle frame, const place& where, const std::string& text) = 0;
    virtual void show(handle frame) = 0;
    virtual void paint(handle frame) = 0;  // at once, without waiting for events
    virtual void set_text(handle label, const std::string& text) = 0;
    virtual void set_position(handle bar, int position) = 0;  // 0 to 100
    // Handles whatever the desktop has sent the launcher's own thread since
    // the last call (repaints, a close request), and returns without waiting.
    virtual void pump() = 0;
    // Takes the children with it. A frame already gone is no error.
    virtual void destroy(handle frame) = 0;
};

// The real one: win32 on Windows, X11 or a terminal line elsewhere.
progress_backend& platform_progress_backend();

// Process-wide; set as each element is made, never cleared.
struct progress_window_slots {
    void* frame;
    void* bar;
    void* label;
};
progress_window_slots& progress_slots();

// Test seam: the backend the three operations use from now on (null: the
// platform's). Returns the one used before.
progress_backend* use_progress_backend(progress_backend* backend);

// The bar position for a fraction: fraction x 100 in single precision,
// truncated toward zero, not clamped.
int progress_position(float fraction);

// Layout of the window, in pixels.
namespace progress_layout {
constexpr int frame_width = 420, frame_height = 120;
constexpr progress_backend::place bar{20, 40, 360, 20};
constexpr progress_backend::place label{20, 20, 260, 20};
}  // namespace progress_layout
