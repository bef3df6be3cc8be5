#include "launch/command_line.hpp"

launch_command form_launch_command(const std::string& working_dir, const char* joint,
                                   const std::string& exe_path, const std::string& absolute_map) {
    return {working_dir + joint + exe_path, absolute_map};
}

std::string windows_command_line(const launch_command& command) {
    return "\"" + command.program + "\" \"" + command.map + "\"";
}
