#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <sstream>
#include <vector>

#include "demo/game.hpp"

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace

// With an X display: a plain Xlib window. Headless: the text on standard output.
void show_text(const std::string& title, const std::string& text, int seconds,
               const std::function<void(const char*)>& shown) {
    std::printf("%s\n%s\n", title.c_str(), text.c_str());
    std::fflush(stdout);

    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        shown("terminal");
        return;
    }
    const int screen = DefaultScreen(display);
    Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, 760, 220, 1,
                                        BlackPixel(display, screen), WhitePixel(display, screen));
    XStoreName(display, window, title.c_str());
    Atom close_request = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, window, &close_request, 1);
    XSelectInput(display, window, ExposureMask | StructureNotifyMask);
    XMapWindow(display, window);
    XFlush(display);
    shown("window");

    const std::vector<std::string> lines = lines_of(text);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    bool open = true;
    while (open) {
        while (open && XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == Expose && event.xexpose.count == 0) {
                GC gc = DefaultGC(display, screen);
                int y = 30;
                for (const std::string& line : lines) {
                    XDrawString(display, window, gc, 16, y, line.c_str(),
                                static_cast<int>(line.size()));
                    y += 18;
                }
            } else if (event.type == ClientMessage &&
                       static_cast<Atom>(event.xclient.data.l[0]) == close_request) {
                open = false;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) break;
        pollfd connection{ConnectionNumber(display), POLLIN, 0};
        poll(&connection, 1, static_cast<int>(left));
    }
    XDestroyWindow(display, window);
    XCloseDisplay(display);
}

std::string current_directory() {
    char buffer[4096] = {};
    return getcwd(buffer, sizeof buffer) ? buffer : "";
}

std::string whole_command_line() { return ""; }

bool file_exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

long process_id() { return static_cast<long>(getpid()); }
