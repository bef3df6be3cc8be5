#include "ui/progress_x11.hpp"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdlib>

#include "base/x11_error_guard.hpp"

namespace {

struct display_closer {
    void operator()(Display* display) const {
        x11_error_guard guard;
        XCloseDisplay(display);
    }
};
using display_ptr = std::unique_ptr<Display, display_closer>;

unsigned long colour(Display* display, const char* name, unsigned long fallback) {
    XColor exact{}, screen{};
    const Colormap map = DefaultColormap(display, DefaultScreen(display));
    return XAllocNamedColor(display, map, name, &screen, &exact) ? screen.pixel : fallback;
}

}  // namespace

struct x11_progress_window::state {
    display_ptr display;
    bool lost = false;  // the connection broke: draw nothing more
    Window frame = 0;
    Window label = 0;
    Window bar = 0;
    int bar_width = 0, bar_height = 0;
    int label_height = 0;
    GC gc = nullptr;
    unsigned long background = 0, ink = 0, trough = 0, fill = 0, edge = 0;
    std::string text;
    int position = 0;

    static void on_lost_connection(Display*, void* self) { static_cast<state*>(self)->lost = true; }

    // Takes the events that came in; true when something needs repainting.
    bool take_events() {
        bool exposed = false;
        while (!lost && XPending(display.get()) > 0) {
            XEvent event;
            XNextEvent(display.get(), &event);
            if (event.type == Expose) exposed = true;
        }
        return exposed;
    }

    void draw_label() {
        if (!label || lost) return;
        XClearWindow(display.get(), label);
        XSetForeground(display.get(), gc, ink);
        int ascent = 10, descent = 3;
        if (XFontStruct* font = XQueryFont(display.get(), XGContextFromGC(gc))) {
            ascent = font->ascent;
            descent = font->descent;
            XFreeFontInfo(nullptr, font, 1);
        }
        const int baseline = (label_height + ascent - descent) / 2;
        XDrawString(display.get(), label, gc, 0, baseline, text.data(),
                    static_cast<int>(std::min<size_t>(text.size(), 4096)));
    }

    // Stores a new text or position and draws its element only if it changed.
    template <typename value>
    void change(value state::*field, const value& next, void (state::*draw)()) {
        if (lost || this->*field == next) return;
        this->*field = next;
        x11_error_guard guard;
        (this->*draw)();
        XFlush(display.get());
    }

    void draw_bar() {
        if (!bar || lost) return;
        const int inner = bar_width - 2;
        const int filled = std::clamp(position, 0, 100) * inner / 100;
        XSetForeground(display.get(), gc, trough);
        XFillRectangle(display.get(), bar, gc, 1, 1, inner, bar_height - 2);
        if (filled > 0) {
            XSetForeground(display.get(), gc, fill);
            XFillRectangle(display.get(), bar, gc, 1, 1, filled, bar_height - 2);
        }
        XSetForeground(display.get(), gc, edge);
        XDrawRectangle(display.get(), bar, gc, 0, 0, bar_width - 1, bar_height - 1);
    }
};

std::unique_ptr<x11_progress_window> x11_progress_window::open(const std::string& caption,
                                                               int width, int height) {
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) return nullptr;
    x11_error_guard guard;
    auto s = std::make_unique<state>();
    s->display.reset(XOpenDisplay(name));
    if (!s->display) return nullptr;
    Display* display = s->display.get();
    XSetIOErrorExitHandler(display, state::on_lost_connection, s.get());

    const int screen = DefaultScreen(display);
    s->background = colour(display, "#f0f0f0", WhitePixel(display, screen));
    s->ink = BlackPixel(display, screen);
    s->trough = colour(display, "#e6e6e6", WhitePixel(display, screen));
    s->fill = colour(display, "#06b025", BlackPixel(display, screen));
    s->edge = colour(display, "#bcbcbc", BlackPixel(display, screen));

    s->frame = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, width, height, 0,
                                   s->ink, s->background);
    XStoreName(display, s->frame, caption.c_str());
    // A fixed size, and no close button that would break the connection.
    if (XSizeHints* hints = XAllocSizeHints()) {
        hints->flags = PMinSize | PMaxSize;
        hints->min_width = hints->max_width = width;
        hints->min_height = hints->max_height = height;
        XSetWMNormalHints(display, s->frame, hints);
        XFree(hints);
    }
    Atom delete_window = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, s->frame, &delete_window, 1);
    XSelectInput(display, s->frame, ExposureMask);
    s->gc = XCreateGC(display, s->frame, 0, nullptr);
    return std::unique_ptr<x11_progress_window>(new x11_progress_window(std::move(s)));
}

x11_progress_window::x11_progress_window(std::unique_ptr<state> s) : s_(std::move(s)) {}

x11_progress_window::~x11_progress_window() {
    x11_error_guard guard;
    if (!s_->lost) {
        XFreeGC(s_->display.get(), s_->gc);
        XDestroyWindow(s_->display.get(), s_->frame);  // and the children
        XSync(s_->display.get(), True);
    }
    s_->display.reset();
}

void x11_progress_window::add_label(int x, int y, int width, int height, const std::string& text) {
    if (s_->lost) return;
    x11_error_guard guard;
    s_->label = XCreateSimpleWindow(s_->display.get(), s_->frame, x, y, width, height, 0,
                                    s_->ink, s_->background);
    XSelectInput(s_->display.get(), s_->label, ExposureMask);
    s_->label_height = height;
    s_->text = text;
    XMapWindow(s_->display.get(), s_->label);
}

void x11_progress_window::add_bar(int x, int y, int width, int height) {
    if (s_->lost) return;
    x11_error_guard guard;
    s_->bar = XCreateSimpleWindow(s_->display.get(), s_->frame, x, y, width, height, 0, s_->ink,
                                  s_->background);
    XSelectInput(s_->display.get(), s_->bar, ExposureMask);
    s_->bar_width = width;
    s_->bar_height = height;
    XMapWindow(s_->display.get(), s_->bar);
}

void x11_progress_window::show() {
    if (s_->lost) return;
    x11_error_guard guard;
    XMapWindow(s_->display.get(), s_->frame);
    XFlush(s_->display.get());
}

void x11_progress_window::paint() {
    if (s_->lost) return;
    x11_error_guard guard;
    s_->take_events();
    s_->draw_label();
    s_->draw_bar();
    XSync(s_->display.get(), False);
}

void x11_progress_window::set_text(const std::string& text) {
    s_->change(&state::text, text, &state::draw_label);
}

void x11_progress_window::set_position(int position) {
    s_->change(&state::position, position, &state::draw_bar);
}

void x11_progress_window::pump() {
    if (s_->lost) return;
    x11_error_guard guard;
    if (s_->take_events()) {
        s_->draw_label();
        s_->draw_bar();
    }
    XFlush(s_->display.get());
}
