#include <windows.h>

#include <vector>

#include "base/errors.hpp"
#include "launch/launch.hpp"

namespace {

class win32_launch_steps final : public launch_steps {
public:
    std::uint32_t start_process(const launch_command& command) override {
        std::string line = windows_command_line(command);
        std::vector<char> writable(line.begin(), line.end());
        writable.push_back('\0');

        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        // No application name: the system takes the program from the first,
        // quoted token. The game inherits the environment and the current
        // directory; its handles are left to the end of this process.
        if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process)) {
            const std::error_code ec(static_cast<int>(GetLastError()), std::system_category());
            throw system_failure("could not start \"" + command.program + "\"", ec);
        }
        return process.dwProcessId;
    }
};

}  // namespace

launch_steps& platform_launch_steps() {
    static win32_launch_steps steps;
    return steps;
}

const char* platform_joint() { return windows_joint; }
