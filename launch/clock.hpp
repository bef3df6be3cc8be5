// launch/: the steady clock and the one sleep of the launch and the watch.
#pragma once

#include "base/clock.hpp"

// The launcher's one way of pausing, the same on every platform: the
// standard library's thread sleep. The clock it pairs with is base's.
void sleep_for_ms(unsigned milliseconds);
