#include "app/paths.hpp"

#include <gtest/gtest.h>

#include "app/fs.hpp"
#include "support/scratch_dir.hpp"

namespace {

const char* const game_exe = "./Quill Mark.exe";
const char* const start_map = "./worlds/Quill Mark V1.1/Quill Mark V1.1.map";

TEST(PathSet, DefaultConstantsGiveTheFourPathsByteForByte) {
    const path_set paths = form_relative_paths("QuillMark", game_exe, start_map);
    EXPECT_EQ(paths.data_dir, "./!QuillMark_data/");
    EXPECT_EQ(paths.exe_path, "./!QuillMark_data/./Quill Mark.exe");
    EXPECT_EQ(paths.map_path, "!QuillMark_data/./worlds/Quill Mark V1.1/Quill Mark V1.1.map");
    EXPECT_EQ(paths.temp_archive_path, "./~QuillMark_temp");
}

TEST(PathSet, AppNameChangesTheFourPathsAndNothingElse) {
    const path_set paths = form_relative_paths("Other Game", game_exe, start_map);
    EXPECT_EQ(paths.data_dir, "./!Other Game_data/");
    EXPECT_EQ(paths.exe_path, "./!Other Game_data/./Quill Mark.exe");
    EXPECT_EQ(paths.map_path, "!Other Game_data/./worlds/Quill Mark V1.1/Quill Mark V1.1.map");
    EXPECT_EQ(paths.temp_archive_path, "./~Other Game_temp");
}

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
