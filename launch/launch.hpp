// launch/: starting the game and the steps a platform provides for it.
#pragma once

#include <cstdint>

#include "base/paths.hpp"
#include "launch/command_line.hpp"

// The steps of a launch. Only starting a process differs between platforms;
// the pause and the watch are the same everywhere. Tests replace all three
// with a recording fake.
class launch_steps {
public:
    virtual ~launch_steps() = default;
    // Starts the game and returns its process id. Throws system_failure, naming
    // the program and the system's reason, when the system refuses to start it.
    virtual std::uint32_t start_process(const launch_command& command) = 0;
    virtual void pause_ms(unsigned milliseconds);
    // Hands the launcher's icon to the game's top-level windows on this
    // platform's desktop (the process-wide watch); returns when it ends.
    virtual void watch_game(std::uint32_t process_id);
};

// This platform's process creation with the common pause and watch.
launch_steps& platform_launch_steps();

// The joint between the working directory and the executable path.
const char* platform_joint();

// Forms the command from the path set (the map made absolute now, the working
// directory as resolved at start-up), starts the game, pauses 250 ms and
// watches its windows. The game is never waited for.
void launch(const path_set& paths, launch_steps& steps);
