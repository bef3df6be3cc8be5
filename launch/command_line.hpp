// launch/: the game's command line, formed from the path set (pure).
#pragma once

#include <string>

// The game's two arguments, unquoted: the program (working directory, a
// joint, then the executable path exactly as stored) and the absolute map.
struct launch_command {
    std::string program;
    std::string map;
};

// On Windows the joint is two backslashes; the working directory keeps its own
// trailing backslash at a drive root, so a root gives three in a row.
inline constexpr const char* windows_joint = "\\\\";
inline constexpr const char* posix_joint = "/";

launch_command form_launch_command(const std::string& working_dir, const char* joint,
                                   const std::string& exe_path, const std::string& absolute_map);

// Both arguments quoted, one space between them:
//   "C:\Games\QM\\./!QuillMark_data/./Quill Mark.exe" "C:\Games\QM\!QuillMark_data\worlds\...\Quill Mark V1.1.map"
std::string windows_command_line(const launch_command& command);
