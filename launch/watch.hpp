#pragma once

#include <cstdint>

// Hands the launcher's icon to the game's top-level windows for a bounded
// time; returns when the watch ends.
void watch_windows(std::uint32_t process_id);
