// base/: the launcher's monotonic clock.
#pragma once

#include <cstdint>

// Nanoseconds on the standard library's steady clock: never set back, so
// differences are elapsed time.
std::int64_t monotonic_ns();

// The clock as work paced by elapsed time reads it; tests derive a fake that
// they move themselves.
class monotonic_clock {
public:
    virtual ~monotonic_clock() = default;
    virtual std::int64_t now_ns() { return monotonic_ns(); }
};
