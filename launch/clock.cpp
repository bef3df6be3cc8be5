#include "launch/clock.hpp"

#include <chrono>
#include <thread>

std::int64_t monotonic_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// sleep_for resumes after a signal until the whole time has passed.
void sleep_for_ms(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
