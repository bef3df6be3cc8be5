#include <spawn.h>

#include "base/errors.hpp"
#include "launch/launch.hpp"

extern char** environ;

namespace {

class posix_launch_steps final : public launch_steps {
public:
    std::uint32_t start_process(const launch_command& command) override {
        // The same two texts as the Windows command line, as an argument
        // vector: no quoting needed. The game inherits the environment and
        // the current directory.
        std::string program = command.program;
        std::string map = command.map;
        char* argv[] = {program.data(), map.data(), nullptr};
        pid_t pid = 0;
        const int error = posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ);
        if (error != 0)
            throw system_failure("could not start \"" + command.program + "\"",
                                 {error, std::generic_category()});
        return static_cast<std::uint32_t>(pid);
    }
};

}  // namespace

launch_steps& platform_launch_steps() {
    static posix_launch_steps steps;
    return steps;
}

const char* platform_joint() { return posix_joint; }
