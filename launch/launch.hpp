#pragma once

#include <cstdint>

#include "app/paths.hpp"
#include "launch/command_line.hpp"

// The platform calls of a launch; tests replace them with a recording fake.
class launch_steps {
public:
    virtual ~launch_steps() = default;
    // Starts the game and returns its process id. Throws system_failure, naming
    // the program and the system's reason, when the system refuses to start it.
    virtual std::uint32_t start_process(const launch_command& command) = 0;
    virtual void pause_ms(unsigned milliseconds) = 0;
    virtual void watch_windows(std::uint32_t process_id) = 0;
};

// The real process creation, pause and window watch of this platform.
launch_steps& platform_launch_steps();

// The joint between the working directory and the executable path.
const char* platform_joint();

// Forms the command from the path set (the map made absolute now, the working
// directory as resolved at start-up), starts the game, pauses 250 ms and
// watches its windows. The game is never waited for.
void launch(const path_set& paths, launch_steps& steps);
