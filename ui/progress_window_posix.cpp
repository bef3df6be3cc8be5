#include <cstring>
#include <memory>

#include "ui/progress_backend.hpp"
#include "ui/progress_terminal.hpp"
#include "ui/progress_x11.hpp"

// Stands in for the Windows controls: an X11 window on a display, otherwise
// one line on a terminal's standard error, otherwise nothing at all.
namespace {

struct element {};

struct stand_in {
    std::unique_ptr<x11_progress_window> x11;
    std::unique_ptr<terminal_progress> terminal;
    bool alive = false;
    bool has_bar = false, has_label = false;
    std::string text;
    int position = 0;
    // The handles given out; they stay valid after the window is gone, as
    // stale window handles do.
    element frame, bar, label;

    void close() {
        x11.reset();
        if (terminal) terminal->clear();
        terminal.reset();
        alive = has_bar = has_label = false;
        text.clear();
        position = 0;
    }

    void draw_terminal() {
        if (terminal) terminal->draw(has_label ? text : std::string(), has_bar ? position : 0);
    }
};

stand_in window;

void* module_handle() { return nullptr; }

void* create_window(const progress_window_params& params) {
    if (!params.parent) {
        window.close();
        window.x11 = x11_progress_window::open(params.text, params.width, params.height);
        if (!window.x11 && terminal_progress::available())
            window.terminal = std::make_unique<terminal_progress>();
        window.alive = window.x11 || window.terminal;
        return window.alive ? &window.frame : nullptr;
    }
    if (params.parent != &window.frame || !window.alive) return nullptr;
    if (std::strcmp(params.class_name, progress_layout::bar_class) == 0) {
        if (window.x11) window.x11->add_bar(params.x, params.y, params.width, params.height);
        window.has_bar = true;
        return &window.bar;
    }
    if (window.x11) window.x11->add_label(params.x, params.y, params.width, params.height, params.text);
    window.has_label = true;
    window.text = params.text;
    return &window.label;
}

void show_window(void* frame) {
    if (frame == &window.frame && window.alive && window.x11) window.x11->show();
}

void paint_window(void* frame) {
    if (frame != &window.frame || !window.alive) return;
    if (window.x11) window.x11->paint();
    window.draw_terminal();
}

void set_text(void* handle, const std::string& text) {
    if (handle != &window.label || !window.alive) return;
    window.text = text;
    if (window.x11) window.x11->set_text(text);
    window.draw_terminal();
}

void set_position(void* handle, int position) {
    if (handle != &window.bar || !window.alive) return;
    window.position = position;
    if (window.x11) window.x11->set_position(position);
    window.draw_terminal();
}

void destroy_window(void* frame) {
    if (frame == &window.frame && window.alive) window.close();
}

const progress_backend posix_backend{module_handle, create_window, show_window, paint_window,
                                     set_text,      set_position,  destroy_window};

}  // namespace

const progress_backend& platform_progress_backend() { return posix_backend; }
