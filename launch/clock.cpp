#include "launch/clock.hpp"

#include <chrono>
#include <thread>

// sleep_for resumes after a signal until the whole time has passed.
void sleep_for_ms(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
