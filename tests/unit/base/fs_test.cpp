#include "base/fs.hpp"

#include <chrono>
#include <functional>

#include <cstdio>

#include <gtest/gtest.h>

#include "base/errors.hpp"
#include "support/scratch_dir.hpp"

namespace {

using FileSystemOps = scratch_dir_test;

std::string failure_text(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const std::filesystem::filesystem_error& error) {
        return error.what();
    }
    return "(no error)";
}

TEST_F(FileSystemOps, AbsentPathsAreNoErrorWherever) {
    EXPECT_FALSE(path_exists("./absent"));
    EXPECT_FALSE(path_exists("./absent/dir/"));
    EXPECT_NO_THROW(remove_path("./absent"));
    EXPECT_NO_THROW(remove_all_path("./absent/", [] {}));
}

TEST_F(FileSystemOps, DirectoryPathsWithTrailingSlashWork) {
    create_directory_path("./made/");
    EXPECT_TRUE(path_exists("./made/"));
    EXPECT_NO_THROW(create_directory_path("./made/"));  // already there: fine
    write_file("made/inner/file.bin", "x");
    remove_all_path("./made/", [] {});
    EXPECT_FALSE(path_exists("./made"));
}

// A large tree goes one entry at a time, with a call after each entry looked
// at and each removed, so that the caller's window can keep answering.
TEST_F(FileSystemOps, RemovingATreeCallsBackForEveryEntryBelowIt) {
    for (int d = 0; d < 3; ++d)
        for (int f = 0; f < 5; ++f)
            write_file("tree/d" + std::to_string(d) + "/f" + std::to_string(f), "x");
    create_directory_path("./tree/empty/");
    int calls = 0;
    remove_all_path("./tree/", [&calls] { ++calls; });
    EXPECT_FALSE(path_exists("./tree"));
    EXPECT_EQ(calls, 2 * (3 + 15 + 1));

    write_file("single file", "x");
    calls = 0;
    remove_all_path("./single file", [&calls] { ++calls; });
    EXPECT_FALSE(path_exists("./single file"));
    EXPECT_EQ(calls, 0);
}

#ifndef _WIN32
TEST_F(FileSystemOps, RemovingATreeTakesLinksAwayWithoutFollowingThem) {
    write_file("kept/precious.txt", "not below the tree");
    write_file("tree/file.txt", "x");
    std::filesystem::create_directory_symlink(root_ / "kept", "tree/link");
    remove_all_path("./tree/", [] {});
    EXPECT_FALSE(path_exists("./tree"));
    EXPECT_EQ(read_file("kept/precious.txt"), "not below the tree");
}
#endif

TEST_F(FileSystemOps, FailureTextNamesOperationReasonAndQuotedPath) {
    write_file("a file", "not a directory");
    const std::string text = failure_text([] { create_directory_path("./a file"); });
    EXPECT_EQ(text.rfind("create_directory: ", 0), 0u) << text;
    EXPECT_NE(text.find(": \"./a file\""), std::string::npos) << text;
    // The system's reason stands between the operation and the path.
    const std::string reason = system_message(std::make_error_code(std::errc::file_exists));
    ASSERT_FALSE(reason.empty());
    EXPECT_EQ(text, "create_directory: " + reason + ": \"./a file\"");
}

TEST_F(FileSystemOps, FileSystemErrorKeepsTheStandardTypeAndCode) {
    const std::error_code ec = std::make_error_code(std::errc::permission_denied);
    const file_system_error error("remove", "./~QuillMark_temp", "./~QuillMark_temp", ec);
    const std::filesystem::filesystem_error& standard = error;
    EXPECT_EQ(standard.code(), ec);
    EXPECT_EQ(std::string(standard.what()),
              "remove: " + system_message(ec) + ": \"./~QuillMark_temp\"");
}

TEST_F(FileSystemOps, AbsolutePathJoinsCurrentDirectoryAndDropsDotComponents) {
    const std::filesystem::path here = absolute_path(".");
    const std::filesystem::path map = absolute_path("!data/./worlds/a b/x.map");
    EXPECT_EQ(map, here / "!data" / "worlds" / "a b" / "x.map");
    EXPECT_EQ(to_narrow(map).find("/./"), std::string::npos);
}

// The launcher reads its archive from its own file: the path names this very
// program, and it opens for reading.
TEST_F(FileSystemOps, OwnExecutableIsThisProgramAndOpens) {
    const std::filesystem::path self = own_executable_path();
    std::FILE* file = open_for_reading(self);
    ASSERT_NE(file, nullptr) << own_executable_name();
    char start[2] = {};
    EXPECT_EQ(std::fread(start, 1, 2, file), 2u);
    std::fclose(file);
    // An executable begins "MZ" on Windows and "\x7fE" (ELF) on Linux.
    EXPECT_TRUE(std::string(start, 2) == "MZ" || std::string(start, 2) == "\x7f" "E");
    EXPECT_NE(own_executable_name().find("unit_base"), std::string::npos) << own_executable_name();
    EXPECT_EQ(open_for_reading("no such file here"), nullptr);
}

// An update knows a file it wrote by its size and time; the free-space check
// counts what files take in whole allocation units.
TEST_F(FileSystemOps, FileFactsTellSizeTimeAndAllocatedSpace) {
    const std::uint64_t unit = allocation_unit(".");
    ASSERT_GT(unit, 0u);
    EXPECT_EQ(unit & (unit - 1), 0u) << unit << " is not a power of two";

    write_file("facts/one.bin", std::string(10000, 'x'));
    const std::optional<file_facts> written = regular_file_facts("./facts/one.bin");
    ASSERT_TRUE(written.has_value());
    EXPECT_EQ(written->size, 10000u);
    EXPECT_GE(written->allocated, 10000u);
    EXPECT_EQ(written->allocated % unit, 0u) << written->allocated << " in units of " << unit;

    // The same size at another time is another file to an update.
    const auto earlier = std::filesystem::last_write_time("facts/one.bin") - std::chrono::hours(1);
    std::filesystem::last_write_time("facts/one.bin", earlier);
    const std::optional<file_facts> touched = regular_file_facts("./facts/one.bin");
    ASSERT_TRUE(touched.has_value());
    EXPECT_EQ(touched->size, 10000u);
    EXPECT_LT(touched->modified, written->modified);

    EXPECT_FALSE(regular_file_facts("./facts/").has_value());
    EXPECT_FALSE(regular_file_facts("./facts/absent.bin").has_value());
}

}  // namespace
