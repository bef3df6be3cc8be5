#include "app/message_box_x11.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "base/x11_error_guard.hpp"

namespace {

// Layout, in pixels.
constexpr int margin = 16;
constexpr int mark_size = 32;
constexpr int gap = 12;  // between the mark and the text, and above the button
constexpr int text_width = 380;
constexpr int button_width = 80, button_height = 26;

struct display_closer {
    void operator()(Display* display) const { XCloseDisplay(display); }
};

// Frees the client-side description; the server's font goes with the
// connection, which closes right after the box.
struct font_closer {
    void operator()(XFontStruct* font) const { XFreeFontInfo(nullptr, font, 1); }
};

unsigned long colour(Display* display, const char* name, unsigned long fallback) {
    XColor exact{}, screen{};
    const Colormap map = DefaultColormap(display, DefaultScreen(display));
    return XAllocNamedColor(display, map, name, &screen, &exact) ? screen.pixel : fallback;
}

// The box's windows and what it draws in them; the children carry names (the
// text, "OK") as a Windows box's controls carry their texts.
class error_box {
public:
    error_box(Display* display, const std::string& text, const std::string& caption)
        : display_(display) {
        // A server that goes away takes the box with it; the launcher still
        // ends with its failure code.
        XSetIOErrorExitHandler(display_, [](Display*, void* self) {
            static_cast<error_box*>(self)->lost_ = true;
        }, this);
        const int screen = DefaultScreen(display_);
        font_.reset(XLoadQueryFont(display_, "fixed"));
        if (!font_) font_.reset(XQueryFont(display_, XGContextFromGC(DefaultGC(display_, screen))));
        line_height_ = font_ ? font_->ascent + font_->descent + 2 : 15;
        lines_ = wrap_text(text, text_width, [this](const std::string& line) { return width_of(line); });
        if (lines_.empty()) lines_.push_back("");

        background_ = colour(display_, "#f0f0f0", WhitePixel(display_, screen));
        ink_ = BlackPixel(display_, screen);
        mark_ = colour(display_, "#d9342b", BlackPixel(display_, screen));
        edge_ = colour(display_, "#7a7a7a", BlackPixel(display_, screen));

        const int text_height = static_cast<int>(lines_.size()) * line_height_;
        const int body = std::max(mark_size, text_height);
        const int width = margin + mark_size + gap + text_width + margin;
        const int height = margin + body + gap + button_height + margin;
        const int x = std::max(0, (DisplayWidth(display_, screen) - width) / 2);
        const int y = std::max(0, (DisplayHeight(display_, screen) - height) / 2);

        frame_ = XCreateSimpleWindow(display_, RootWindow(display_, screen), x, y, width, height, 0,
                                     ink_, background_);
        XStoreName(display_, frame_, caption.c_str());
        const Atom utf8 = XInternAtom(display_, "UTF8_STRING", False);
        XChangeProperty(display_, frame_, XInternAtom(display_, "_NET_WM_NAME", False), utf8, 8,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(caption.data()),
                        static_cast<int>(caption.size()));
        const Atom dialog = XInternAtom(display_, "_NET_WM_WINDOW_TYPE_DIALOG", False);
        XChangeProperty(display_, frame_, XInternAtom(display_, "_NET_WM_WINDOW_TYPE", False),
                        XA_ATOM, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(&dialog),
                        1);
        if (XSizeHints* hints = XAllocSizeHints()) {
            hints->flags = PPosition | PMinSize | PMaxSize;
            hints->x = x;
            hints->y = y;
            hints->min_width = hints->max_width = width;
            hints->min_height = hints->max_height = height;
            XSetWMNormalHints(display_, frame_, hints);
            XFree(hints);
        }
        if (XWMHints* hints = XAllocWMHints()) {
            hints->flags = InputHint;
            hints->input = True;
            XSetWMHints(display_, frame_, hints);
            XFree(hints);
        }
        delete_window_ = XInternAtom(display_, "WM_DELETE_WINDOW", False);
        XSetWMProtocols(display_, frame_, &delete_window_, 1);
        XSelectInput(display_, frame_, ExposureMask | KeyPressMask | StructureNotifyMask);

        text_ = XCreateSimpleWindow(display_, frame_, margin + mark_size + gap,
                                    margin + (body - text_height) / 2, text_width, text_height, 0,
                                    ink_, background_);
        XStoreName(display_, text_, text.c_str());
        XSelectInput(display_, text_, ExposureMask);
        button_ = XCreateSimpleWindow(display_, frame_, (width - button_width) / 2,
                                      height - margin - button_height, button_width,
                                      button_height, 1, edge_, background_);
        XStoreName(display_, button_, "OK");
        XSelectInput(display_, button_, ExposureMask | ButtonPressMask | ButtonReleaseMask);

        gc_ = XCreateGC(display_, frame_, 0, nullptr);
        if (font_) XSetFont(display_, gc_, font_->fid);
        XMapWindow(display_, text_);
        XMapWindow(display_, button_);
        XMapRaised(display_, frame_);
    }

    ~error_box() {
        if (lost_) return;
        XFreeGC(display_, gc_);
        XDestroyWindow(display_, frame_);
        XSync(display_, True);
    }

    error_box(const error_box&) = delete;
    error_box& operator=(const error_box&) = delete;

    // Until OK, Return, Escape or the window manager's close.
    void run() {
        bool pressed_on_button = false;
        while (!lost_) {
            XEvent event;
            XNextEvent(display_, &event);
            if (lost_) return;
            switch (event.type) {
            case Expose:
                if (event.xexpose.count == 0) draw(event.xexpose.window);
                break;
            case MapNotify:
                // Keys reach the box without waiting for a click, even
                // where no window manager hands out the focus.
                XSetInputFocus(display_, frame_, RevertToParent, CurrentTime);
                break;
            case KeyPress: {
                const KeySym key = XLookupKeysym(&event.xkey, 0);
                if (key == XK_Return || key == XK_KP_Enter || key == XK_Escape) return;
                break;
            }
            case ButtonPress:
                pressed_on_button = event.xbutton.window == button_ && event.xbutton.button == Button1;
                break;
            case ButtonRelease:
                // A click counts only if it ends on the button it started on.
                if (pressed_on_button && event.xbutton.window == button_ && event.xbutton.x >= 0 &&
                    event.xbutton.y >= 0 && event.xbutton.x < button_width &&
                    event.xbutton.y < button_height)
                    return;
                pressed_on_button = false;
                break;
            case ClientMessage:
                if (static_cast<Atom>(event.xclient.data.l[0]) == delete_window_) return;
                break;
            case DestroyNotify:
                if (event.xdestroywindow.window == frame_) return;
                break;
            default:
                break;
            }
        }
    }

private:
    int width_of(const std::string& line) const {
        if (!font_) return static_cast<int>(line.size()) * 7;
        return XTextWidth(font_.get(), line.data(), static_cast<int>(line.size()));
    }

    void draw(Window window) {
        if (window == frame_) draw_mark();
        if (window == text_) {
            XSetForeground(display_, gc_, ink_);
            const int ascent = font_ ? font_->ascent : 11;
            for (size_t i = 0; i < lines_.size(); ++i)
                XDrawString(display_, text_, gc_, 0, static_cast<int>(i) * line_height_ + 1 + ascent,
                            lines_[i].data(), static_cast<int>(lines_[i].size()));
        }
        if (window == button_) {
            XSetForeground(display_, gc_, ink_);
            const int ascent = font_ ? font_->ascent : 11, descent = font_ ? font_->descent : 3;
            XDrawString(display_, button_, gc_, (button_width - width_of("OK")) / 2,
                        (button_height + ascent - descent) / 2, "OK", 2);
        }
    }

    // A red disc with a white cross, where a Windows box shows its error icon.
    void draw_mark() {
        XSetForeground(display_, gc_, mark_);
        XFillArc(display_, frame_, gc_, margin, margin, mark_size, mark_size, 0, 360 * 64);
        XSetForeground(display_, gc_, WhitePixel(display_, DefaultScreen(display_)));
        XSetLineAttributes(display_, gc_, 3, LineSolid, CapRound, JoinRound);
        const int a = margin + 10, b = margin + mark_size - 10;
        XDrawLine(display_, frame_, gc_, a, a, b, b);
        XDrawLine(display_, frame_, gc_, a, b, b, a);
        XSetLineAttributes(display_, gc_, 0, LineSolid, CapButt, JoinMiter);
    }

    Display* display_;
    bool lost_ = false;
    std::unique_ptr<XFontStruct, font_closer> font_;
    int line_height_ = 15;
    std::vector<std::string> lines_;
    unsigned long background_ = 0, ink_ = 0, mark_ = 0, edge_ = 0;
    Window frame_ = 0, text_ = 0, button_ = 0;
    Atom delete_window_ = None;
    GC gc_ = nullptr;
};

}  // namespace

std::vector<std::string> wrap_text(const std::string& text, int max_width,
                                   const std::function<int(const std::string&)>& width) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        const size_t end = std::min(text.find('\n', start), text.size());
        const std::string paragraph = text.substr(start, end - start);
        std::string line;
        size_t at = 0;
        while (at < paragraph.size()) {
            const size_t space = paragraph.find(' ', at);
            const size_t word_end = space == std::string::npos ? paragraph.size() : space;
            std::string word = paragraph.substr(at, word_end - at);
            at = word_end == paragraph.size() ? word_end : word_end + 1;
            const std::string joined = line.empty() ? word : line + " " + word;
            if (width(joined) <= max_width) {
                line = joined;
                continue;
            }
            if (!line.empty()) lines.push_back(line);
            line.clear();
            // A word wider than a line is cut where it stops fitting.
            while (!word.empty() && width(word) > max_width) {
                size_t fits = 1;
                while (fits < word.size() && width(word.substr(0, fits + 1)) <= max_width) ++fits;
                lines.push_back(word.substr(0, fits));
                word.erase(0, fits);
            }
            line = word;
        }
        lines.push_back(line);
        if (end >= text.size()) break;
        start = end + 1;
    }
    return lines;
}

bool show_x11_message_box(const std::string& text, const std::string& caption) {
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) return false;
    x11_error_guard guard;
    std::unique_ptr<Display, display_closer> display(XOpenDisplay(name));
    if (!display) return false;
    error_box box(display.get(), text, caption);
    box.run();
    return true;
}
