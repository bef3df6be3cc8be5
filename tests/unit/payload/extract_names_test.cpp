#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/exce.hpp"
#include "payload/directory_memo.hpp"
#include "payload/entry_names.hpp"
#include "payload/extract.hpp"
#include "support/scratch_dir.hpp"

namespace {

namespace fs = std::filesystem;

// -- entry names ----------------------------------------------------------------

struct name_case {
    std::string name;
    bool refused;
};

void PrintTo(const name_case& c, std::ostream* os) { *os << '"' << c.name << '"'; }

class EntryName : public ::testing::TestWithParam<name_case> {};

TEST_P(EntryName, UnsafeNamesAreRefusedWithTheNameInTheText) {
    const name_case& c = GetParam();
    if (!c.refused) {
        EXPECT_NO_THROW(check_entry_name(c.name));
        return;
    }
    try {
        check_entry_name(c.name);
        ADD_FAILURE() << "accepted";
    } catch (const exce& error) {
        EXPECT_EQ(std::string(error.what()),
                  "refused archive entry \"" + c.name +
                      "\": it would be written outside the data directory");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, EntryName,
    ::testing::Values(name_case{"Quill Mark.exe", false}, name_case{"a/b/c.bin", false},
                      name_case{"a/b/", false}, name_case{"./a.txt", false},
                      name_case{"a/./b", false}, name_case{"..a", false},
                      name_case{"a..", false}, name_case{"a/..b/c", false},
                      name_case{"notes\\", false}, name_case{"ab:c", false},
                      name_case{"1:x", false}, name_case{"a:b", true},
                      name_case{"..", true}, name_case{"../x", true}, name_case{"a/../../x", true},
                      name_case{"a/..", true}, name_case{"a/../", true}, name_case{"..\\x", true},
                      name_case{"a\\..\\x", true}, name_case{"/x", true}, name_case{"/", true},
                      name_case{"\\x", true}, name_case{"\\\\server\\share\\x", true},
                      name_case{"C:/x", true}, name_case{"c:x", true}, name_case{"Z:", true}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

#ifdef _WIN32
// Windows drops trailing dots and spaces from a name, so any run of dots
// and spaces that starts with ".." may mean the parent: refused.
INSTANTIATE_TEST_SUITE_P(WindowsNames, EntryName,
                         ::testing::Values(name_case{".. /x", true}, name_case{"a/.../x", true},
                                           name_case{"a/.. ./x", true}),
                         [](const auto& info) { return "case" + std::to_string(info.index); });
#endif

TEST(EntryNameEmpty, IsRefused) {
    try {
        check_entry_name("");
        ADD_FAILURE() << "accepted";
    } catch (const exce& error) {
        EXPECT_EQ(std::string(error.what()), "refused an archive entry with an empty name");
    }
}

// -- the executable's entry -----------------------------------------------------

struct executable_case {
    const char* game_exe;
    const char* entry;
    bool same;
};

void PrintTo(const executable_case& c, std::ostream* os) { *os << c.game_exe << " ~ " << c.entry; }

class ExecutableEntry : public ::testing::TestWithParam<executable_case> {};

TEST_P(ExecutableEntry, IsTheExecutablePathBelowTheDataDirectory) {
    const executable_case& c = GetParam();
    const path_set paths = form_relative_paths("QuillMark", c.game_exe, "./start.map");
    EXPECT_EQ(same_entry_file(c.entry, executable_entry_name(paths)), c.same);
}

const std::vector<executable_case> executable_cases = {
    {"./Quill Mark.exe", "Quill Mark.exe", true},
    {"./Quill Mark.exe", "./Quill Mark.exe", true},
    {"./Quill Mark.exe", "Quill Mark.exe.bak", false},
    {"./Quill Mark.exe", "bin/Quill Mark.exe", false},
    {"./Quill Mark.exe", "Quill Mark.exe/", true},
    {"./bin/game.exe", "bin/game.exe", true},
    {"./bin/game.exe", "bin//game.exe", true},
    {"./bin/game.exe", "bin/./game.exe", true},
    {"./bin/game.exe", "game.exe", false},
    {"Quill Mark.exe", "Quill Mark.exe", true},
#ifdef _WIN32
    // One file to Windows.
    {"./bin/game.exe", "BIN\\Game.EXE", true},
#else
    {"./bin/game.exe", "BIN/Game.EXE", false},
    {"./bin/game.exe", "bin\\game.exe", false},
#endif
};

INSTANTIATE_TEST_SUITE_P(Entries, ExecutableEntry, ::testing::ValuesIn(executable_cases),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(ExecutableEntryName, DropsTheDataDirectoryAndTheLeadingDotSlash) {
    EXPECT_EQ(executable_entry_name(form_relative_paths("QuillMark", "./Quill Mark.exe", "./m")),
              "Quill Mark.exe");
    EXPECT_EQ(executable_entry_name(form_relative_paths("QuillMark", "./bin/g.exe", "./m")),
              "bin/g.exe");
}

// -- parent directories ---------------------------------------------------------

struct parents_case {
    const char* path;
    std::vector<std::string> made;      // directories there afterwards
    std::vector<std::string> not_made;  // and what must not be
};

void PrintTo(const parents_case& c, std::ostream* os) { *os << c.path; }

class ParentDirectories : public scratch_dir_test,
                          public ::testing::WithParamInterface<parents_case> {};

TEST_P(ParentDirectories, EveryFolderAboveTheLastElementIsMade) {
    const parents_case& c = GetParam();
    fs::create_directory("data");
    create_parent_directories(c.path);
    for (const std::string& dir : c.made) EXPECT_TRUE(fs::is_directory(dir)) << dir;
    for (const std::string& name : c.not_made) EXPECT_FALSE(fs::exists(name)) << name;
}

const std::vector<parents_case> parents_cases = {
    {"./data/a/b/c.bin", {"data/a", "data/a/b"}, {"data/a/b/c.bin"}},
    {"./data/a/b/", {"data/a", "data/a/b"}, {}},
    {"./data/one.bin", {"data"}, {"data/one.bin"}},
    {"./data/x y/./z/f", {"data/x y", "data/x y/z"}, {"data/x y/z/f"}},
    {"./new/deep/f.txt", {"new", "new/deep"}, {"new/deep/f.txt"}},
#ifndef _WIN32
    // Only "/" separates here: the backslash belongs to the file's name.
    {"./data/trailing/name\\", {"data/trailing"}, {"data/trailing/name\\"}},
#endif
};

TEST_P(ParentDirectories, WithAMemoTheSameFoldersAreMadeAndRemembered) {
    const parents_case& c = GetParam();
    fs::create_directory("data");
    directory_memo known;
    create_parent_directories(c.path, known);
    for (const std::string& dir : c.made) EXPECT_TRUE(fs::is_directory(dir)) << dir;
    // Every text walked above the last element, as spelled in the path.
    const std::string path = c.path;
    for (std::size_t at = path.find('/'); at != std::string::npos; at = path.find('/', at + 1))
        EXPECT_TRUE(known.contains(path.substr(0, at + 1))) << at;
    for (const std::string& name : c.not_made) {
        EXPECT_FALSE(fs::exists(name)) << name;
        EXPECT_FALSE(known.contains("./" + name + "/")) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, ParentDirectories, ::testing::ValuesIn(parents_cases),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

using ParentDirectoriesFs = scratch_dir_test;

TEST_F(ParentDirectoriesFs, ExistingPathIsLeftAlone) {
    write_file("data/a/file.bin", "kept");
    create_parent_directories("./data/a/file.bin");
    EXPECT_EQ(read_file("data/a/file.bin"), "kept");
}

// What the memo holds is taken as there without a look: a folder removed
// behind its back shows that nothing known was tested again.
struct memo_case {
    const char* first;
    const char* removed;  // behind the memo's back, after the first call
    const char* second;
    std::vector<std::string> present;  // after the second call
    std::vector<std::string> absent;
};

void PrintTo(const memo_case& c, std::ostream* os) { *os << c.first << " then " << c.second; }

class ParentDirectoriesMemo : public scratch_dir_test,
                              public ::testing::WithParamInterface<memo_case> {};

TEST_P(ParentDirectoriesMemo, OnlyWhatTheMemoDoesNotHoldIsTested) {
    const memo_case& c = GetParam();
    fs::create_directory("data");
    directory_memo known;
    create_parent_directories(c.first, known);
    fs::remove_all(c.removed);
    create_parent_directories(c.second, known);
    for (const std::string& dir : c.present) EXPECT_TRUE(fs::is_directory(dir)) << dir;
    for (const std::string& dir : c.absent) EXPECT_FALSE(fs::exists(dir)) << dir;
}

const std::vector<memo_case> memo_cases = {
    // Same folder: trusted, so not made again.
    {"./data/a/f1", "data/a", "./data/a/f2", {"data"}, {"data/a"}},
    // A new folder below a known one is made.
    {"./data/a/f1", "data/none", "./data/a/b/f2", {"data/a/b"}, {}},
    // A sibling: only the new folder is tested and made.
    {"./data/a/f1", "data/a", "./data/b/f2", {"data/b"}, {"data/a"}},
    // A folder found, not made, is remembered as well.
    {"./data/f1", "data", "./data/f2", {}, {"data"}},
    // Another spelling of a known folder is tested again and so made again.
    {"./data/a/f1", "data/a", "./data/./a/f2", {"data/a"}, {}},
};

INSTANTIATE_TEST_SUITE_P(Calls, ParentDirectoriesMemo, ::testing::ValuesIn(memo_cases),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

TEST_F(ParentDirectoriesFs, WithAFreshMemoAnExistingPathIsLeftAlone) {
    write_file("data/a/file.bin", "kept");
    directory_memo known;
    create_parent_directories("./data/a/file.bin", known);
    EXPECT_EQ(read_file("data/a/file.bin"), "kept");
    EXPECT_TRUE(known.contains("./data/a/"));
}

TEST_F(ParentDirectoriesFs, FileInTheWayIsACreateDirectoryError) {
    write_file("data/a", "a file, not a folder");
    std::string text = "(no error)";
    try {
        create_parent_directories("./data/a/b/c.bin");
    } catch (const fs::filesystem_error& error) {
        text = error.what();
    }
    EXPECT_EQ(text.rfind("create_directory: ", 0), 0u) << text;
#ifdef _WIN32
    // Windows may take "a/" for the file itself and fail one folder deeper.
    EXPECT_TRUE(text.find(": \"./data/a/\"") != std::string::npos ||
                text.find(": \"./data/a/b/\"") != std::string::npos)
        << text;
#else
    EXPECT_NE(text.find(": \"./data/a/\""), std::string::npos) << text;
#endif
    EXPECT_FALSE(fs::exists("data/a/b"));
    EXPECT_EQ(read_file("data/a"), "a file, not a folder");
}

}  // namespace
