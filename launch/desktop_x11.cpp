// The Linux desktop: the top-level windows of the X11 display named by
// DISPLAY, told apart by _NET_WM_PID and given the launcher's icon through
// _NET_WM_ICON. Without a display there are no windows to walk: the walk
// fails, so the watch ends at once instead of waiting out its time limit.
// Windows come and go while the watch looks at them, so every request runs
// under an error guard.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <climits>
#include <vector>

#include "base/x11_error_guard.hpp"
#include "launch/desktop.hpp"
#include "launch/desktop_icon.hpp"

namespace {

class x11_desktop final : public desktop {
public:
    ~x11_desktop() override {
        x11_error_guard quiet;
        if (display_) XCloseDisplay(display_);  // after a lost connection, only frees it
    }

    bool enumerate_windows(const std::function<bool(window)>& visit) override {
        if (!open()) return false;
        std::vector<Window> windows;
        if (!client_list(windows) && !root_children(windows)) return false;
        for (Window w : windows)
            if (!visit(w)) return false;
        return true;
    }

    std::optional<std::uint32_t> window_process(window w) override {
        if (!open() || pid_atom_ == None) return {};
        x11_error_guard quiet(display_);
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        std::optional<std::uint32_t> pid;
        if (XGetWindowProperty(display_, static_cast<Window>(w), pid_atom_, 0, 1, False,
                               XA_CARDINAL, &type, &format, &count, &after, &data) == Success &&
            type == XA_CARDINAL && format == 32 && count == 1)
            pid = static_cast<std::uint32_t>(*reinterpret_cast<unsigned long*>(data));
        if (data) XFree(data);
        return pid;
    }

    icon load_icon() override {
        // One property holds the image for every size, so the small and the
        // big hand-over write the same data.
        static const std::vector<unsigned long> image =
            icon_argb(launcher_icon_file, launcher_icon_file_size);
        return reinterpret_cast<icon>(&image);
    }

    void send_icon(window w, icon_kind, icon image, unsigned) override {
        // The server takes the property itself: the game need not answer.
        if (!open()) return;
        const auto& pixels = *reinterpret_cast<const std::vector<unsigned long>*>(image);
        if (pixels.empty()) return;
        x11_error_guard quiet(display_);
        XChangeProperty(display_, static_cast<Window>(w), icon_atom_, XA_CARDINAL, 32,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(pixels.data()),
                        static_cast<int>(pixels.size()));
    }

private:
    bool open() {
        if (!tried_) {
            tried_ = true;
            x11_error_guard quiet;
            display_ = XOpenDisplay(nullptr);
            if (display_) {
                // A server that goes away mid-watch ends the watch, not the launcher.
                XSetIOErrorExitHandler(display_, on_lost_connection, this);
                client_list_atom_ = XInternAtom(display_, "_NET_CLIENT_LIST", True);
                pid_atom_ = XInternAtom(display_, "_NET_WM_PID", True);
                icon_atom_ = XInternAtom(display_, "_NET_WM_ICON", False);
            }
        }
        return display_ != nullptr && !lost_;
    }

    static void on_lost_connection(Display*, void* self) { static_cast<x11_desktop*>(self)->lost_ = true; }

    // The window manager's own list of managed windows, where there is one.
    bool client_list(std::vector<Window>& windows) {
        if (client_list_atom_ == None) return false;
        x11_error_guard quiet(display_);
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        const bool found =
            XGetWindowProperty(display_, DefaultRootWindow(display_), client_list_atom_, 0,
                               LONG_MAX / 4, False, XA_WINDOW, &type, &format, &count, &after,
                               &data) == Success &&
            type == XA_WINDOW && format == 32;
        if (found) {
            const auto* list = reinterpret_cast<const unsigned long*>(data);
            windows.assign(list, list + count);
        }
        if (data) XFree(data);
        return found;
    }

    // Without a window manager every child of the root is a top-level window.
    bool root_children(std::vector<Window>& windows) {
        x11_error_guard quiet(display_);
        Window root = None, parent = None;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count))
            return false;
        windows.assign(children, children + count);
        if (children) XFree(children);
        return true;
    }

    bool tried_ = false;
    bool lost_ = false;
    Display* display_ = nullptr;
    Atom client_list_atom_ = None;
    Atom pid_atom_ = None;
    Atom icon_atom_ = None;
};

}  // namespace

desktop& platform_desktop() {
    static x11_desktop screen;
    return screen;
}
