// A stand-in game with one top-level window. It stays WINDOW_GAME_SECONDS
// seconds (3 if unset), pumping its messages, then writes "window-game.txt"
// in its current directory and exits:
//   pid=<its process id>
//   window=<its window: HWND in hex on Windows, X11 window id in decimal>
//   ime_window=<the hidden IME window of its thread, also top-level> (Windows)
//   small_icons=<WM_SETICON ICON_SMALL received>  (Windows; wine 8 does not
//   big_icons=<WM_SETICON ICON_BIG received>       deliver it across processes)
//   icon_changes=<_NET_WM_ICON changes seen>      (Linux)
//   icon_values=<32-bit values now in _NET_WM_ICON> (Linux)
//   icon_head=<its first values, width and height first> (Linux)
//   icon_images=<each image in it: WxH:<top-left pixel>/<centre pixel> as
//               aarrggbb in hex, comma-separated> (Linux)
// On Windows WINDOW_GAME_NO_IME=1 disables the IME first, so the thread
// makes no hidden "Default IME" window and the game has one top-level window.
// On Linux WINDOW_GAME_FRAMED=1 puts the window inside a frame window, as a
// window manager does, and lists it in the root's _NET_CLIENT_LIST; only the
// inner window carries _NET_WM_PID.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <windows.h>
#include <imm.h>
#else
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <sys/select.h>
#include <unistd.h>
#endif

namespace {

double seconds_to_stay() {
    const char* text = std::getenv("WINDOW_GAME_SECONDS");
    return text ? std::atof(text) : 3.0;
}

bool write_record(const std::string& text) {
    FILE* record = std::fopen("window-game.txt", "wb");
    if (!record) return false;
    std::fputs(text.c_str(), record);
    std::fclose(record);
    return true;
}

}  // namespace

#ifdef _WIN32

namespace {

long small_icons = 0;
long big_icons = 0;

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_SETICON) ++(wparam == ICON_SMALL ? small_icons : big_icons);
    return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    const char* no_ime = std::getenv("WINDOW_GAME_NO_IME");
    if (no_ime && std::string(no_ime) == "1") ImmDisableIME(static_cast<DWORD>(-1));
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = window_procedure;
    window_class.hInstance = instance;
    window_class.lpszClassName = "window_game";
    RegisterClassA(&window_class);
    HWND window = CreateWindowExA(0, "window_game", "Window Game", WS_OVERLAPPEDWINDOW, 10, 10,
                                  320, 200, nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    ShowWindow(window, SW_SHOW);

    const auto end = std::chrono::steady_clock::now() +
                     std::chrono::duration<double>(seconds_to_stay());
    while (std::chrono::steady_clock::now() < end) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    const HWND ime_window = ImmGetDefaultIMEWnd(window);
    char text[256];
    std::snprintf(text, sizeof text,
                  "pid=%lu\nwindow=%llx\nime_window=%llx\nsmall_icons=%ld\nbig_icons=%ld\n",
                  GetCurrentProcessId(),
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)),
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(ime_window)),
                  small_icons, big_icons);
    DestroyWindow(window);
    return write_record(text) ? 0 : 1;
}

#else

int main() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return 2;
    const Window root = DefaultRootWindow(display);
    const Atom pid_atom = XInternAtom(display, "_NET_WM_PID", False);
    const Atom icon_atom = XInternAtom(display, "_NET_WM_ICON", False);
    const bool framed = std::getenv("WINDOW_GAME_FRAMED") &&
                        std::string(std::getenv("WINDOW_GAME_FRAMED")) == "1";

    Window parent = root;
    if (framed) {
        parent = XCreateSimpleWindow(display, root, 10, 10, 340, 230, 0, 0, 0);
        XMapWindow(display, parent);
    }
    const Window window =
        XCreateSimpleWindow(display, parent, 10, framed ? 20 : 10, 320, 200, 0, 0, 0);
    XSelectInput(display, window, PropertyChangeMask);
    const long pid = static_cast<long>(getpid());
    XChangeProperty(display, window, pid_atom, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&pid), 1);
    if (framed) {
        const Atom client_list = XInternAtom(display, "_NET_CLIENT_LIST", False);
        const long clients[] = {static_cast<long>(window)};
        XChangeProperty(display, root, client_list, XA_WINDOW, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(clients), 1);
    }
    XMapWindow(display, window);
    XFlush(display);

    long changes = 0;
    const auto end = std::chrono::steady_clock::now() +
                     std::chrono::duration<double>(seconds_to_stay());
    const int fd = ConnectionNumber(display);
    while (std::chrono::steady_clock::now() < end) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == PropertyNotify && event.xproperty.atom == icon_atom &&
                event.xproperty.state == PropertyNewValue)
                ++changes;
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(fd, &readable);
        timeval wait{0, 20000};
        select(fd + 1, &readable, nullptr, nullptr, &wait);
    }

    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string head, images;
    if (XGetWindowProperty(display, window, icon_atom, 0, 1 << 20, False, XA_CARDINAL, &type,
                           &format, &count, &after, &data) == Success &&
        type == XA_CARDINAL && format == 32) {
        const auto* values = reinterpret_cast<const unsigned long*>(data);
        for (unsigned long i = 0; i < count && i < 4; ++i)
            head += (i ? "," : "") + std::to_string(values[i]);
        for (unsigned long at = 0; at + 2 <= count;) {
            const unsigned long width = values[at], height = values[at + 1];
            if (width == 0 || height == 0 || width * height > count - at - 2) break;
            const unsigned long* pixels = values + at + 2;
            char text[64];
            std::snprintf(text, sizeof text, "%s%lux%lu:%08lx/%08lx", images.empty() ? "" : ",",
                          width, height, pixels[0] & 0xFFFFFFFFul,
                          pixels[height / 2 * width + width / 2] & 0xFFFFFFFFul);
            images += text;
            at += 2 + width * height;
        }
    } else {
        count = 0;
    }
    if (data) XFree(data);
    const std::string text = "pid=" + std::to_string(pid) + "\nwindow=" + std::to_string(window) +
                             "\nicon_changes=" + std::to_string(changes) +
                             "\nicon_values=" + std::to_string(count) + "\nicon_head=" + head +
                             "\nicon_images=" + images + "\n";
    XCloseDisplay(display);
    return write_record(text) ? 0 : 1;
}

#endif
