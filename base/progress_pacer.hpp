// base/: keeps the progress window answering through long work on the one thread.
#pragma once

#include <cstdint>
#include <string>

#include "base/clock.hpp"
#include "base/progress_display.hpp"

// The launcher does its work on the thread that owns the progress window, and
// a window that reads no message for 5 s counts as hung. Long loops tick the
// pacer after every small step; a tick costs one clock reading, and once the
// interval has passed since the window last handled its messages, it lets the
// window handle them now. Deciding by elapsed time keeps the gaps short
// however slow a step happens to be on the machine (or under wine).
class progress_pacer {
public:
    // Half the gap the launcher allows itself, so that a slow step on top of
    // a due tick still stays near 100 ms.
    static constexpr std::int64_t default_interval_ns = 50'000'000;

    progress_pacer(progress_display& display, monotonic_clock& clock,
                   std::int64_t interval_ns = default_interval_ns);

    progress_display& display() { return display_; }

    // The display's own operations. Moving the bar lets the window handle its
    // messages too, so the interval starts again there.
    void show_window(void* instance, const std::string& caption, const std::string& text);
    void set_progress(const std::string& text, float fraction);
    void destroy_window();

    // When due, lets the window handle its messages; the bar stays.
    void tick();
    // When due, moves the bar to `fraction` with `text` (which handles the
    // messages too).
    void tick(const std::string& text, float fraction);

private:
    bool due();

    progress_display& display_;
    monotonic_clock& clock_;
    std::int64_t interval_ns_;
    std::int64_t last_answer_ns_;
};
