#include "launch/command_line.hpp"

#include <gtest/gtest.h>

namespace {

struct command_case {
    const char* label;
    const char* working_dir;
    const char* absolute_map;
    const char* expected;
};

void PrintTo(const command_case& c, std::ostream* os) { *os << c.label; }


class WindowsCommandLine : public ::testing::TestWithParam<command_case> {};

TEST_P(WindowsCommandLine, IsExactlyTheTwoQuotedTokens) {
    const command_case& c = GetParam();
    const launch_command command = form_launch_command(
        c.working_dir, windows_joint, "./!QuillMark_data/./Quill Mark.exe", c.absolute_map);
    EXPECT_EQ(windows_command_line(command), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WindowsCommandLine,
    ::testing::Values(
        command_case{"games_folder", "C:\\Games\\QM",
                     "C:\\Games\\QM\\!QuillMark_data\\worlds\\Quill Mark V1.1\\Quill Mark V1.1.map",
                     "\"C:\\Games\\QM\\\\./!QuillMark_data/./Quill Mark.exe\" "
                     "\"C:\\Games\\QM\\!QuillMark_data\\worlds\\Quill Mark V1.1\\Quill Mark V1.1.map\""},
        command_case{"drive_root_gives_three_backslashes", "C:\\",
                     "C:\\!QuillMark_data\\worlds\\Quill Mark V1.1\\Quill Mark V1.1.map",
                     "\"C:\\\\\\./!QuillMark_data/./Quill Mark.exe\" "
                     "\"C:\\!QuillMark_data\\worlds\\Quill Mark V1.1\\Quill Mark V1.1.map\""},
        command_case{"spaces_in_the_directory", "D:\\My Games\\Quill Mark Folder",
                     "D:\\My Games\\Quill Mark Folder\\!QuillMark_data\\worlds\\Quill Mark V1.1\\Quill Mark V1.1.map",
                     "\"D:\\My Games\\Quill Mark Folder\\\\./!QuillMark_data/./Quill Mark.exe\" "
                     "\"D:\\My Games\\Quill Mark Folder\\!QuillMark_data\\worlds\\Quill Mark V1.1\\Quill Mark V1.1.map\""}),
    [](const ::testing::TestParamInfo<command_case>& info) { return std::string(info.param.label); });

TEST(PosixLaunchCommand, KeepsTheSameTextsUnquotedWithASlashJoint) {
    const launch_command command = form_launch_command(
        "/home/player/My Games", posix_joint, "./!QuillMark_data/./Quill Mark.exe",
        "/home/player/My Games/!QuillMark_data/worlds/Quill Mark V1.1/Quill Mark V1.1.map");
    EXPECT_EQ(command.program, "/home/player/My Games/./!QuillMark_data/./Quill Mark.exe");
    EXPECT_EQ(command.map, "/home/player/My Games/!QuillMark_data/worlds/Quill Mark V1.1/Quill Mark V1.1.map");
}

}  // namespace
