#include "base/x11_error_guard.hpp"

#include <cerrno>
#include <ctime>

namespace {

int ignore_error(Display*, XErrorEvent*) { return 0; }
// Xlib's own prints a message before the exit handler runs.
int quiet_io_error(Display*) { return 0; }

}  // namespace

x11_error_guard::x11_error_guard(Display* sync_on_exit)
    : sync_on_exit_(sync_on_exit),
      previous_error_(XSetErrorHandler(ignore_error)),
      previous_io_error_(XSetIOErrorHandler(quiet_io_error)) {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    pipe_was_pending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_mask_);
}

x11_error_guard::~x11_error_guard() {
    if (sync_on_exit_) XSync(sync_on_exit_, False);
    // Swallow a SIGPIPE raised inside the scope, but not one that was already
    // waiting: that one belongs to someone else.
    if (!pipe_was_pending_) {
        const timespec none{0, 0};
        while (sigtimedwait(&pipe_, nullptr, &none) == -1 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &old_mask_, nullptr);
    XSetIOErrorHandler(previous_io_error_);
    XSetErrorHandler(previous_error_);
}
