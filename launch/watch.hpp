// launch/: the window watch that hands the game's windows the launcher's icon (pure).
#pragma once

#include <cstdint>

#include "launch/desktop.hpp"

// The watch ends after this many hand-overs...
constexpr std::int32_t handover_limit = 20;
// ...then pauses this long before returning...
constexpr unsigned pause_after_limit_ms = 250;
// ...or at the first visit at least this long after it began (8001 ms).
constexpr std::int64_t default_watch_time_limit_ns = 8'001'000'000;
// A game window that never handles the icon message must not hold the
// launcher for ever: each of the two messages of a hand-over waits at most
// this long (a thread the system already sees as hung costs nothing).
constexpr unsigned icon_message_timeout_ms = 2000;

struct watch_state {
    std::int64_t watch_start = 0;     // clock reading when the watch began
    std::int32_t handover_count = 0;  // hand-overs so far, never reset
    std::int64_t time_limit_ns = default_watch_time_limit_ns;
};

// The launcher's one watch; it runs once per program run. Each executable
// defines it in a source made by the build (launcher_add_executable), so
// that test launchers can carry a shorter time limit than the shipped one.
extern watch_state process_watch;

// One top-level window of a pass. Hands the icon over when the window
// belongs to the game's process. Returns true to go on, false to end the watch.
bool visit_window(desktop& screen, watch_state& state, desktop::window window,
                  std::uint32_t process_id);

// Passes over the top-level windows, one after the other with no pause,
// until a visit ends the watch or the enumeration fails.
void watch_windows(desktop& screen, watch_state& state, std::uint32_t process_id);
