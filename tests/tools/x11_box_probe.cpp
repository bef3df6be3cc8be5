// Finds the Linux launcher's "app throw" box on the X display named by
// DISPLAY, records what it shows and dismisses it, so that no test waits for
// a person.
//   x11_box_probe <timeout ms> <record file> <ok|return|escape|close>
//                 [<found file> <pause ms>]
// "ok" clicks the OK button, "return" and "escape" press those keys on the
// box, "close" asks for it to close as a window manager does. The record
// ("key=value" lines) holds the box's title, its place on the screen and
// size, and for each child its
// name (the text child is named by the text, as a Windows box's static
// control holds it), position and size. With a found file, that file is
// written once the box has been examined, and the probe waits <pause ms>
// before acting (time for a screenshot). Exits 0 when a box was found and
// went away, 1 when none appeared in time, 3 when it stayed.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int ignore_error(Display*, XErrorEvent*) { return 0; }

long long now_ms() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

void pause_ms(long ms) {
    timespec t{ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&t, nullptr);
}

std::string name_of(Display* display, Window window) {
    char* name = nullptr;
    std::string result;
    if (XFetchName(display, window, &name) && name) result = name;
    if (name) XFree(name);
    return result;
}

std::vector<Window> children_of(Display* display, Window window) {
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    std::vector<Window> list;
    if (XQueryTree(display, window, &root, &parent, &children, &count) && children)
        list.assign(children, children + count);
    if (children) XFree(children);
    return list;
}

bool viewable(Display* display, Window window) {
    XWindowAttributes a{};
    return XGetWindowAttributes(display, window, &a) && a.map_state == IsViewable;
}

// The box: a viewable window titled "app throw", at the top or one level
// down (inside a window manager's frame), with its children made.
Window find_box(Display* display) {
    std::vector<Window> tops = children_of(display, DefaultRootWindow(display));
    for (Window top : std::vector<Window>(tops)) {
        for (Window inner : children_of(display, top)) tops.push_back(inner);
    }
    for (Window w : tops)
        if (name_of(display, w) == "app throw" && viewable(display, w) &&
            children_of(display, w).size() >= 2)
            return w;
    return 0;
}

struct geometry {
    int x = 0, y = 0;
    unsigned width = 0, height = 0;
};

geometry geometry_of(Display* display, Window window) {
    Window root = 0;
    unsigned border = 0, depth = 0;
    geometry g;
    XGetGeometry(display, window, &root, &g.x, &g.y, &g.width, &g.height, &border, &depth);
    return g;
}

void send_key(Display* display, Window box, KeySym key) {
    for (int type : {KeyPress, KeyRelease}) {
        XEvent event{};
        event.xkey.type = type;
        event.xkey.display = display;
        event.xkey.window = box;
        event.xkey.root = DefaultRootWindow(display);
        event.xkey.keycode = XKeysymToKeycode(display, key);
        event.xkey.same_screen = True;
        event.xkey.time = CurrentTime;
        XSendEvent(display, box, True, type == KeyPress ? KeyPressMask : KeyReleaseMask, &event);
    }
}

void click(Display* display, Window button, const geometry& g) {
    for (int type : {ButtonPress, ButtonRelease}) {
        XEvent event{};
        event.xbutton.type = type;
        event.xbutton.display = display;
        event.xbutton.window = button;
        event.xbutton.root = DefaultRootWindow(display);
        event.xbutton.button = Button1;
        event.xbutton.x = static_cast<int>(g.width / 2);
        event.xbutton.y = static_cast<int>(g.height / 2);
        event.xbutton.same_screen = True;
        XSendEvent(display, button, True,
                   type == ButtonPress ? ButtonPressMask : ButtonReleaseMask, &event);
    }
}

void ask_to_close(Display* display, Window box) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = box;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, box, False, NoEventMask, &event);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    const long long timeout = std::strtoll(argv[1], nullptr, 10);
    const std::string action = argv[3];
    Display* display = XOpenDisplay(nullptr);
    if (!display) return 2;
    XSetErrorHandler(ignore_error);  // the box may go while we look at it

    const long long start = now_ms();
    Window box = 0;
    while (!(box = find_box(display))) {
        if (now_ms() - start > timeout) return 1;
        pause_ms(10);
    }
    pause_ms(100);  // let it draw

    std::string record = "title=" + name_of(display, box) + "\n";
    const geometry frame = geometry_of(display, box);
    int screen_x = 0, screen_y = 0;
    Window ignored = 0;
    XTranslateCoordinates(display, box, DefaultRootWindow(display), 0, 0, &screen_x, &screen_y,
                          &ignored);
    record += "screen_x=" + std::to_string(screen_x) + "\nscreen_y=" + std::to_string(screen_y) + "\n";
    record += "width=" + std::to_string(frame.width) + "\nheight=" + std::to_string(frame.height) + "\n";
    Window button = 0;
    geometry button_place;
    const std::vector<Window> children = children_of(display, box);
    record += "children=" + std::to_string(children.size()) + "\n";
    for (Window child : children) {
        const std::string name = name_of(display, child);
        const geometry g = geometry_of(display, child);
        const std::string key = name == "OK" ? "button" : "text";
        if (key == "button") {
            button = child;
            button_place = g;
        } else {
            record += "text=" + name + "\n";
        }
        record += key + "_x=" + std::to_string(g.x) + "\n" + key + "_y=" + std::to_string(g.y) +
                  "\n" + key + "_width=" + std::to_string(g.width) + "\n" + key +
                  "_height=" + std::to_string(g.height) + "\n";
    }
    if (FILE* out = std::fopen(argv[2], "wb")) {
        std::fputs(record.c_str(), out);
        std::fclose(out);
    }
    if (argc > 5) {
        if (FILE* found = std::fopen(argv[4], "wb")) std::fclose(found);
        pause_ms(std::strtol(argv[5], nullptr, 10));
    }

    if (action == "ok" && button) click(display, button, button_place);
    else if (action == "return") send_key(display, box, XK_Return);
    else if (action == "escape") send_key(display, box, XK_Escape);
    else if (action == "close") ask_to_close(display, box);
    XFlush(display);

    const long long acted = now_ms();
    while (viewable(display, box)) {
        if (now_ms() - acted > 10000) return 3;
        pause_ms(10);
    }
    XCloseDisplay(display);
    return 0;
}
