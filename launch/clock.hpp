// launch/: the steady clock and the one sleep of the launch and the watch.
#pragma once

#include <cstdint>

// The launcher's monotonic clock and its one way of pausing, the same on
// every platform: the standard library's steady clock and thread sleep.
std::int64_t monotonic_ns();
void sleep_for_ms(unsigned milliseconds);
