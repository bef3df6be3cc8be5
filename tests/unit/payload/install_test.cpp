// The install stamp on disk: what it lists, how it reads back, what a
// damaged or tampered stamp can and cannot make the launcher delete, and the
// bound on a stamp's size.
#include "payload/install.hpp"

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <cstdint>

#include <gtest/gtest.h>

#include "base/exce.hpp"
#include "base/fs.hpp"
#include "support/fake_clock.hpp"
#include "support/scratch_dir.hpp"

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

// Counts what the window was let do; a clock standing still never lets it.
class counting_display final : public progress_display {
public:
    void show_window(void*, const std::string&, const std::string&) override {}
    void set_progress(const std::string&, float) override { ++moves; }
    void handle_messages() override { ++answers; }
    void destroy_window() override {}
    int moves = 0;
    int answers = 0;
};

class InstallStamp : public scratch_dir_test {
protected:
    path_set paths = form_relative_paths("QuillMark", "./Quill Mark.exe", "./worlds/start.map");
    fake_clock clock;
    counting_display window;
    progress_pacer pacer{window, clock};
    void SetUp() override {
        scratch_dir_test::SetUp();
        fs::create_directories(paths.data_dir);
    }
};

TEST_F(InstallStamp, ListsEveryFileAndEachDirectoryOnceOutermostFirst) {
    const payload_entry entries[] = {{"./a/b/c.bin", 1}, {"a/", 0},     {"a/b//d.bin", 2},
                                     {"e/f/", 0},        {"top.txt", 3}, {"a/b/c.bin", 1}};
    const install_stamp stamp = stamp_of({"id", 0, 0, entries, 6}, "id");
    EXPECT_EQ(stamp.files, (std::vector<std::string>{"a/b/c.bin", "a/b/d.bin", "top.txt"}));
    EXPECT_EQ(stamp.directories, (std::vector<std::string>{"a/", "a/b/", "e/", "e/f/"}));
}

TEST_F(InstallStamp, ReadsBackWhatWasWrittenWhateverBytesTheNamesHold) {
    const install_stamp written{"abc123",
                                {"plain.txt", "100% done.txt", "line\nbreak", "tab\there", "\xc3\xa9t\xc3\xa9"},
                                {"dir with space/", "odd%25/"}};
    write_stamp(paths, written);
    EXPECT_FALSE(fs::exists(stamp_temp_path(paths)));
    const std::optional<install_stamp> read = read_stamp(paths);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->identity, written.identity);
    EXPECT_EQ(read->files, written.files);
    EXPECT_EQ(read->directories, written.directories);
}

TEST_F(InstallStamp, IsCurrentOnlyForTheSameIdentity) {
    EXPECT_FALSE(stamp_is_current(paths, "abc"));  // no stamp at all
    write_stamp(paths, {"abc", {}, {}});
    EXPECT_TRUE(stamp_is_current(paths, "abc"));
    EXPECT_FALSE(stamp_is_current(paths, "ab"));
    EXPECT_FALSE(stamp_is_current(paths, "abcd"));
    EXPECT_FALSE(stamp_is_current(paths, unfinished_identity));
}

TEST_F(InstallStamp, TamperedNamesNeverReachOutsideTheDataDirectory) {
    write_file("outside.txt", "not the launcher's");
    write_file(paths.data_dir + "inside.txt", "the launcher's");
    write_file(paths.stamp_path,
               "launcher-stamp x\n"
               "f ../outside.txt\n"
               "f /etc/passwd\n"
               "f a/../../outside.txt\n"
               "f bad%zz\n"
               "q inside.txt\n"
               "d ../\n"
               "f inside.txt\n");
    const std::optional<install_stamp> stamp = read_stamp(paths);
    ASSERT_TRUE(stamp);
    EXPECT_EQ(stamp->files, std::vector<std::string>{"inside.txt"});
    EXPECT_TRUE(stamp->directories.empty());
    remove_listed(paths, *stamp, install_stamp{}, pacer);
    EXPECT_EQ(read_file("outside.txt"), "not the launcher's");
    EXPECT_FALSE(fs::exists(paths.data_dir + "inside.txt"));
}

// The free-space count reserves the bound for each stamp it writes: a stamp
// must never come out longer, and the bound is its names plus a record's room.
TEST_F(InstallStamp, AWrittenStampStaysWithinItsBound) {
    const std::vector<install_stamp> stamps = {
        {"", {}, {}},
        {"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef",
         {"Quill Mark.exe", "data/textures/bark_stone_0001.dds"},
         {"data/", "data/textures/"}},
        {unfinished_identity, {"odd%name", std::string("ctl\x01\x7f\x1f", 6) + ".bin"}, {"dir\t/"}},
        // Records at their longest: every figure at its widest.
        {"2222", {"a.bin", "b.bin"}, {}, {
            {"a.bin", {UINT64_MAX, 0xFFFFFFFFu, UINT64_MAX, INT64_MIN}},
            {"b.bin", {UINT64_MAX, 0, UINT64_MAX, INT64_MAX}}}},
    };
    for (const install_stamp& stamp : stamps) {
        SCOPED_TRACE(stamp.identity);
        write_stamp(paths, stamp);
        const std::uint64_t written = fs::file_size(paths.stamp_path);
        EXPECT_LE(written, stamp_size_bound(stamp));
        EXPECT_LE(stamp_size_bound(stamp), written + 80 * stamp.files.size());
        // The records were written, not dropped for being too wide.
        const std::optional<install_stamp> read = read_stamp(paths);
        ASSERT_TRUE(read);
        EXPECT_EQ(read->records, stamp.records);
    }
}

TEST_F(InstallStamp, AFileThatIsNotAStampIsNone) {
    write_file(paths.stamp_path, "something a game wrote\n");
    EXPECT_FALSE(read_stamp(paths));
}

TEST_F(InstallStamp, RemovalSparesWhatThePlayerPutWhereAListedEntryWas) {
    write_file(paths.data_dir + "old.bin/mine.txt", "the player's");
    write_file(paths.data_dir + "saves", "");  // an empty file where the game had a folder
    remove_listed(paths, {"x", {"old.bin"}, {"saves/"}}, install_stamp{}, pacer);
    EXPECT_EQ(read_file(paths.data_dir + "old.bin/mine.txt"), "the player's");
    EXPECT_TRUE(fs::is_regular_file(paths.data_dir + "saves"));
}

// Over a big game's install the removal takes a while: the window answers
// within it. A clock that moves a whole interval at each reading makes every
// tick an answer, so the count shows that each name was followed by a tick.
TEST_F(InstallStamp, RemovingAnInstallKeepsTheWindowAnswering) {
    std::vector<payload_entry> entries;
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i) names.push_back("pack" + std::to_string(i % 4) + "/" +
                                                 std::to_string(i) + ".dat");
    for (const std::string& name : names) {
        entries.push_back({name.c_str(), 100});
        write_file(paths.data_dir + name, "old");
    }
    const payload_contents game{"id", 1000, 4000, entries.data(), entries.size(),
                                payload_home::image, nullptr};
    clock.step_ns = progress_pacer::default_interval_ns;

    const install_stamp stamp = stamp_of(game, "id");
    remove_listed(paths, stamp, install_stamp{}, pacer);
    EXPECT_EQ(window.answers, 40 + 4);  // every file, then every directory
    EXPECT_EQ(window.moves, 0);
    EXPECT_FALSE(fs::exists(paths.data_dir + "pack0"));
}

#ifndef _WIN32
// A program that runs cannot be rewritten in place: the update must say so.
TEST_F(InstallStamp, ARunningProgramIsInUseAndAPlainFileIsNot) {
    write_file("plain.txt", "text");
    EXPECT_FALSE(file_in_use("plain.txt"));
    fs::copy_file("/bin/sleep", "running", fs::copy_options::overwrite_existing);
    fs::permissions("running", fs::perms::owner_all);
    const pid_t child = fork();
    if (child == 0) {
        execl("./running", "running", "30", static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(child, 0);
    bool in_use = false;
    for (int i = 0; i < 200 && !in_use; ++i) {  // until the exec has happened
        in_use = file_in_use("running");
        if (!in_use) usleep(10000);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_TRUE(in_use);
    EXPECT_EQ(in_use_message("./!QuillMark_data/./Quill Mark.exe"),
              "could not replace \"./!QuillMark_data/./Quill Mark.exe\": the game is running and "
              "holds it. Close the game, then start again.");
}
#endif

}  // namespace
