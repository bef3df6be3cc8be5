#pragma once

#include <cstdint>

#include "base/clock.hpp"

// A clock the test moves: by hand (`now`), and by `step_ns` at every
// reading, which then stands for the work done between two readings.
class fake_clock final : public monotonic_clock {
public:
    explicit fake_clock(std::int64_t step = 0) : step_ns(step) {}

    std::int64_t now = 0;
    std::int64_t step_ns;
    std::int64_t readings = 0;

    std::int64_t now_ns() override {
        ++readings;
        now += step_ns;
        return now;
    }
};
