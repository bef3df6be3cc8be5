#include "base/paths.hpp"

#include <gtest/gtest.h>

#include "base/fs.hpp"
#include "support/scratch_dir.hpp"

namespace {

const char* const game_exe = "./Quill Mark.exe";
const char* const start_map = "./worlds/Quill Mark V1.1/Quill Mark V1.1.map";

// The app name is the only input that varies between launchers: it changes
// the four paths and nothing else.
struct path_case {
    const char* label;
    const char* app_name;
    const char* data_dir;
    const char* exe_path;
    const char* map_path;
    const char* temp_archive_path;
    const char* stamp_path;
};
void PrintTo(const path_case& c, std::ostream* os) { *os << c.label; }

class PathSet : public ::testing::TestWithParam<path_case> {};

TEST_P(PathSet, AppNameGivesThePathsByteForByte) {
    const path_case& want = GetParam();
    const path_set paths = form_relative_paths(want.app_name, game_exe, start_map);
    EXPECT_EQ(paths.data_dir, want.data_dir);
    EXPECT_EQ(paths.exe_path, want.exe_path);
    EXPECT_EQ(paths.map_path, want.map_path);
    EXPECT_EQ(paths.temp_archive_path, want.temp_archive_path);
    EXPECT_EQ(paths.stamp_path, want.stamp_path);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PathSet,
    ::testing::Values(
        path_case{"default_constants", "QuillMark", "./!QuillMark_data/",
                  "./!QuillMark_data/./Quill Mark.exe",
                  "!QuillMark_data/./worlds/Quill Mark V1.1/Quill Mark V1.1.map",
                  "./~QuillMark_temp", "./!QuillMark_data/.launcher-stamp"},
        path_case{"other_app_name_with_a_space", "Other Game", "./!Other Game_data/",
                  "./!Other Game_data/./Quill Mark.exe",
                  "!Other Game_data/./worlds/Quill Mark V1.1/Quill Mark V1.1.map",
                  "./~Other Game_temp", "./!Other Game_data/.launcher-stamp"}),
    [](const ::testing::TestParamInfo<path_case>& info) { return std::string(info.param.label); });

using PathSetInDirectory = scratch_dir_test;

TEST_F(PathSetInDirectory, WorkingDirectoryIsTheAbsoluteCurrentDirectoryWithItsSpaces) {
    std::filesystem::create_directories("with spaces/inside");
    std::filesystem::current_path("with spaces/inside");
    const path_set paths = form_path_set("QuillMark", game_exe, start_map);
    EXPECT_TRUE(paths.working_dir.is_absolute());
    EXPECT_EQ(std::filesystem::canonical(paths.working_dir),
              std::filesystem::canonical(root_ / "with spaces" / "inside"));
    const std::string narrow = to_narrow(paths.working_dir);
    EXPECT_NE(narrow.find("with spaces"), std::string::npos);
    EXPECT_NE(narrow.back(), '/');
    EXPECT_NE(narrow.back(), '\\');
    EXPECT_EQ(narrow.find("\""), std::string::npos);
}

}  // namespace
