// base/: one scoped X11 error policy for every X11 client of the launcher.
#pragma once

#include <X11/Xlib.h>
#include <signal.h>

// Talking to an X server must never end the launcher. For the length of a
// scope this ignores protocol errors (a request about a window someone else
// destroyed), keeps Xlib from printing a lost connection (what happens next
// is the display's I/O exit handler's call) and holds back the SIGPIPE of a
// write to a server that went away. On leaving it puts back the handlers and
// the signal mask it found, so nothing process-wide is left changed (a
// launched game inherits the signal dispositions).
class x11_error_guard {
public:
    // With a display, the scope ends with an XSync, so that the errors of the
    // requests made inside it arrive while it still ignores them.
    explicit x11_error_guard(Display* sync_on_exit = nullptr);
    ~x11_error_guard();
    x11_error_guard(const x11_error_guard&) = delete;
    x11_error_guard& operator=(const x11_error_guard&) = delete;

private:
    Display* sync_on_exit_;
    int (*previous_error_)(Display*, XErrorEvent*);
    int (*previous_io_error_)(Display*);
    sigset_t pipe_{};
    sigset_t old_mask_{};
    bool pipe_was_pending_ = false;
};
