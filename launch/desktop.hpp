// launch/: the desktop as the window watch sees it; win32 and X11 backends.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "launch/clock.hpp"

// What the window watch needs from the platform: the desktop's top-level
// windows, the process behind each and the launcher's icon; and the clock
// and the sleep, which are the same everywhere but which tests replace with
// a scripted desktop and a fake clock.
class desktop {
public:
    using window = std::uintptr_t;
    using icon = std::uintptr_t;
    enum class icon_kind { icon_small = 0, icon_big = 1 };

    virtual ~desktop() = default;

    // Offers every top-level window to `visit` in turn until a visit returns
    // false. True when every window was visited; false when a visit stopped
    // the walk or the walk itself failed.
    virtual bool enumerate_windows(const std::function<bool(window)>& visit) = 0;
    // The id of the process that owns the window; nothing when it cannot be
    // told (the window is gone, or an X11 client did not say).
    virtual std::optional<std::uint32_t> window_process(window w) = 0;
    // The launcher's own icon (resource 1 of its module).
    virtual icon load_icon() = 0;
    // Gives the window `image` as its small or big icon, waiting at most
    // `timeout_ms` for the window to take it. The outcome is not reported:
    // the watch counts the hand-over either way.
    virtual void send_icon(window w, icon_kind kind, icon image, unsigned timeout_ms) = 0;
    // Monotonic clock reading in nanoseconds.
    virtual std::int64_t now_ns() { return monotonic_ns(); }
    virtual void sleep_ms(unsigned milliseconds) { sleep_for_ms(milliseconds); }
};

// This platform's desktop: the Windows desktop or an X11 display. Without a
// display (or once it is lost) enumerate_windows fails, which ends the watch.
desktop& platform_desktop();
