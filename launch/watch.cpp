#include "launch/watch.hpp"

namespace {

// A pass that met no window at all never reaches a visit, where the time is
// tested; without this a desktop with no windows would keep the launcher
// for ever. It rests briefly between such passes instead of spinning.
constexpr unsigned empty_pass_rest_ms = 10;

bool time_remains(desktop& screen, const watch_state& state) {
    return screen.now_ns() - state.watch_start < state.time_limit_ns;
}

}  // namespace

bool visit_window(desktop& screen, watch_state& state, desktop::window window,
                  std::uint32_t process_id) {
    const std::optional<std::uint32_t> owner = screen.window_process(window);
    if (owner && *owner == process_id) {
        // Loaded anew for every hand-over; the one handle serves both kinds.
        const desktop::icon image = screen.load_icon();
        screen.send_icon(window, desktop::icon_kind::icon_small, image, icon_message_timeout_ms);
        screen.send_icon(window, desktop::icon_kind::icon_big, image, icon_message_timeout_ms);
        ++state.handover_count;
        if (state.handover_count >= handover_limit) {
            screen.sleep_ms(pause_after_limit_ms);
            return false;
        }
    }
    return time_remains(screen, state);
}

void watch_windows(desktop& screen, watch_state& state, std::uint32_t process_id) {
    state.watch_start = screen.now_ns();
    for (;;) {
        bool visited = false;
        const bool completed = screen.enumerate_windows([&](desktop::window window) {
            visited = true;
            return visit_window(screen, state, window, process_id);
        });
        if (!completed) return;
        if (!visited) {
            if (!time_remains(screen, state)) return;
            screen.sleep_ms(empty_pass_rest_ms);
        }
    }
}
