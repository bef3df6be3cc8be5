#include "app/startup.hpp"

#include <algorithm>
#include <functional>
#include <new>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "base/errors.hpp"
#include "base/exce.hpp"
#include "base/fs.hpp"
#include "base/instance.hpp"
#include "payload/entry_names.hpp"
#include "payload/extract.hpp"
#include "payload/install.hpp"
#include "payload/space.hpp"
#include "startup_fake.hpp"
#include "support/fake_clock.hpp"
#include "support/scratch_dir.hpp"

namespace {

const std::vector<std::string> unpacking_road = {
    "lock_install",
    "check_archive",
    "show_progress_window(1,\"\",\"Loading...\")",
    "set_progress(\"Loading...\",0.000000)",
    "write_temp_archive",
    "extract_archive",
    "unlock_install",
    "launch",
};

// A small game as the packer lists it.
const payload_entry game_entries[] = {
    {"Quill Mark.exe", 4}, {"worlds/", 0}, {"worlds/start.map", 3}, {"data/a.bin", 10}};
const payload_contents game = {"1111", 100, 17, game_entries, 4, payload_home::image, nullptr};
// The same game carried in the launcher's file rather than in its image.
const payload_contents game_in_file = {"1111", 100, 17, game_entries, 4, payload_home::file,
                                       nullptr};

class StartupSequence : public scratch_dir_test {
protected:
    path_set paths = form_relative_paths("QuillMark", "./Quill Mark.exe", "./worlds/start.map");
    recording_steps steps{paths};
    fake_clock clock;  // still: the window answers only when the bar moves
    progress_pacer pacer{steps, clock};
    int instance_marker = 0;
    void* instance = &instance_marker;

    const payload_contents* contents = &game;
    int run() { return run_startup(instance, paths, *contents, steps, pacer); }

    // The executable and a stamp of this game: what a finished unpacking leaves.
    void install_current_game() {
        write_file(paths.exe_path, "game");
        write_stamp(paths, stamp_of(game, game.identity));
    }
};

TEST_F(StartupSequence, InstalledGameLaunchesAtOnceWithoutWindowOrRepair) {
    install_current_game();
    write_file(paths.temp_archive_path, "left over");  // not the installed road's business
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(steps.calls, std::vector<std::string>{"launch"});
    EXPECT_EQ(read_file(paths.temp_archive_path), "left over");
    EXPECT_EQ(instance_slot(), instance);
}

TEST_F(StartupSequence, MissingGameUnpacksInOrderThenLaunches) {
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(steps.calls, unpacking_road);
    EXPECT_TRUE(steps.extracted_with_this_window);
    EXPECT_FALSE(steps.stream_open_at_write);
    EXPECT_EQ(instance_slot(), instance);
}

TEST_F(StartupSequence, OldDataAndStaleArchiveAreRemovedBeforeTheArchiveIsWritten) {
    write_file(paths.data_dir + "worlds/start.map", "old map");
    write_file(paths.data_dir + "deep/er/file.bin", "old data");
    write_file(paths.temp_archive_path, "half an archive");
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(steps.calls, unpacking_road);
    EXPECT_FALSE(steps.data_dir_present_at_write);
    EXPECT_FALSE(steps.temp_archive_present_at_write);
}

// The roads over what an earlier install left: the game of another archive,
// the player's own files, the stamp's list, a full disk.
class StartupRoads : public StartupSequence {
protected:
    // What the fake unpacking writes: every entry of `game`.
    void SetUp() override {
        StartupSequence::SetUp();
        steps.on_extract = [this] {
            for (const payload_entry& entry : game_entries) {
                const std::string name = entry.name;
                if (name.back() == '/')
                    std::filesystem::create_directories(paths.data_dir + name);
                else
                    write_file(paths.data_dir + name, "new " + name);
            }
        };
    }

    // An install of an older archive: its files, its stamp, and the player's files.
    void install_old_game(bool with_stamp) {
        const payload_entry old_entries[] = {{"Quill Mark.exe", 4},
                                             {"worlds/start.map", 3},
                                             {"worlds/old only.map", 3},
                                             {"retired/", 0},
                                             {"retired/gone.bin", 3},
                                             {"retired/empty/", 0}};
        const payload_contents old_game = {"0000", 10, 10, old_entries, 6, payload_home::image,
                                           nullptr};
        write_file(paths.exe_path, "old game");
        write_file(paths.data_dir + "worlds/start.map", "old map");
        write_file(paths.data_dir + "worlds/old only.map", "old map");
        write_file(paths.data_dir + "retired/gone.bin", "old");
        std::filesystem::create_directories(paths.data_dir + "retired/empty");
        if (with_stamp) write_stamp(paths, stamp_of(old_game, old_game.identity));
        write_file(paths.data_dir + "save.dat", "the player's save");
        write_file(paths.data_dir + "worlds/my world.map", "the player's map");
        write_file(paths.data_dir + "screenshots/shot.png", "the player's picture");
    }

    void expect_players_files_kept() {
        EXPECT_EQ(read_file(paths.data_dir + "save.dat"), "the player's save");
        EXPECT_EQ(read_file(paths.data_dir + "worlds/my world.map"), "the player's map");
        EXPECT_EQ(read_file(paths.data_dir + "screenshots/shot.png"), "the player's picture");
    }

    void expect_new_game_installed() {
        EXPECT_TRUE(stamp_is_current(paths, game.identity));
        EXPECT_EQ(read_file(paths.data_dir + "worlds/start.map"), "new worlds/start.map");
        EXPECT_EQ(read_file(paths.data_dir + "data/a.bin"), "new data/a.bin");
        EXPECT_FALSE(std::filesystem::exists(stamp_temp_path(paths)));
    }
};

TEST_F(StartupRoads, FirstUnpackingLeavesAStampOfEveryEntryAndDirectory) {
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(steps.calls, unpacking_road);
    const std::optional<install_stamp> stamp = read_stamp(paths);
    ASSERT_TRUE(stamp);
    EXPECT_EQ(stamp->identity, "1111");
    EXPECT_EQ(stamp->files,
              (std::vector<std::string>{"Quill Mark.exe", "worlds/start.map", "data/a.bin"}));
    EXPECT_EQ(stamp->directories, (std::vector<std::string>{"worlds/", "data/"}));
}

TEST_F(StartupRoads, UpdateReplacesTheOldGameAndKeepsThePlayersFiles) {
    install_old_game(true);
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(steps.calls, unpacking_road);
    // The old stamp stopped vouching before anything was written.
    EXPECT_TRUE(steps.stamp_present_at_write);
    expect_new_game_installed();
    expect_players_files_kept();
    EXPECT_FALSE(std::filesystem::exists(paths.data_dir + "worlds/old only.map"));
    EXPECT_FALSE(std::filesystem::exists(paths.data_dir + "retired"));
}

TEST_F(StartupRoads, UpdateKeepsAnOldDirectoryThatHoldsAPlayersFile) {
    install_old_game(true);
    write_file(paths.data_dir + "retired/mine.txt", "the player's note");
    EXPECT_EQ(run(), 0);
    EXPECT_FALSE(std::filesystem::exists(paths.data_dir + "retired/gone.bin"));
    EXPECT_FALSE(std::filesystem::exists(paths.data_dir + "retired/empty"));
    EXPECT_EQ(read_file(paths.data_dir + "retired/mine.txt"), "the player's note");
}

TEST_F(StartupRoads, InstallWithoutAStampIsUpdatedInPlaceWithNothingDeleted) {
    install_old_game(false);
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(steps.calls, unpacking_road);
    expect_new_game_installed();
    expect_players_files_kept();
    // Nothing tells these from the player's own, so they stay.
    EXPECT_TRUE(std::filesystem::exists(paths.data_dir + "worlds/old only.map"));
    EXPECT_TRUE(std::filesystem::exists(paths.data_dir + "retired/gone.bin"));
}

TEST_F(StartupRoads, MissingExecutableWithAStampRemovesOnlyWhatTheStampLists) {
    install_old_game(true);
    std::filesystem::remove(paths.exe_path);
    write_file(unfinished_executable_path(paths), "half a game");
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(steps.calls, unpacking_road);
    EXPECT_TRUE(steps.data_dir_present_at_write);
    expect_new_game_installed();
    expect_players_files_kept();
    EXPECT_FALSE(std::filesystem::exists(paths.data_dir + "worlds/old only.map"));
    EXPECT_FALSE(std::filesystem::exists(paths.data_dir + "retired"));
    EXPECT_FALSE(std::filesystem::exists(unfinished_executable_path(paths)));
}

TEST_F(StartupRoads, UpdateThatFailsHalfWayIsFinishedByTheNextStart) {
    install_old_game(true);
    steps.fail_at = "extract_archive";
    EXPECT_EQ(run(), 1);
    EXPECT_FALSE(stamp_is_current(paths, game.identity));
    EXPECT_FALSE(stamp_is_current(paths, "0000"));

    recording_steps next{paths};
    next.on_extract = steps.on_extract;
    progress_pacer next_pacer{next, clock};
    EXPECT_EQ(run_startup(instance, paths, game, next, next_pacer), 0);
    EXPECT_EQ(next.calls, unpacking_road);
    expect_new_game_installed();
    expect_players_files_kept();
    // The unfinished stamp still listed the old game's files.
    EXPECT_FALSE(std::filesystem::exists(paths.data_dir + "worlds/old only.map"));
    EXPECT_FALSE(std::filesystem::exists(paths.data_dir + "retired"));
}

TEST_F(StartupRoads, AGameInstalledWhileWaitingForTheLockIsLaunchedAsItIs) {
    steps.fail_at = "lock_install";
    steps.thrower = [this] { install_current_game(); };  // another launcher just finished
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(steps.calls, (std::vector<std::string>{"lock_install", "unlock_install", "launch"}));
}

TEST_F(StartupRoads, TooLittleSpaceIsReportedBeforeAnythingChanges) {
    install_old_game(true);
    write_file(paths.temp_archive_path, "stale");
    const std::optional<install_stamp> before = read_stamp(paths);
    // What this update needs on a volume of 4 KiB units, counted on the road
    // it takes: the stale archive freed first, the new files written over the
    // old ones, the files the new game lacks removed after the archive.
    steps.unit_bytes = 4096;
    fake_clock still;
    progress_pacer measuring{steps, still};
    const std::uint64_t needed = space_needed(
        measure_unpacking(paths, game, before, true, {}, steps.unit_bytes, measuring));
    steps.calls.clear();
    // Two stamps and the archive, less the stale archive's one unit.
    ASSERT_GE(needed, 2u * 4096u);
    // The window is up while the files are looked at; nothing on disk changes.
    steps.free_bytes = needed - 1;
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(steps.calls,
              (std::vector<std::string>{
                  "lock_install", "check_archive", "show_progress_window(1,\"\",\"Loading...\")",
                  "set_progress(\"Loading...\",0.000000)", "unlock_install",
                  "destroy_progress_window",
                  "show_error(not enough free disk space to unpack the game: it needs " +
                      std::to_string((needed + (1 << 20) - 1) >> 20) + " MB, and 0 MB are free. "
                      "Free some space, then start again.)"}));
    const std::optional<install_stamp> after = read_stamp(paths);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->identity, before->identity);
    EXPECT_EQ(after->files, before->files);
    EXPECT_EQ(read_file(paths.temp_archive_path), "stale");
    EXPECT_EQ(read_file(paths.exe_path), "old game");

    steps.calls.clear();
    steps.free_bytes = needed;
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(steps.calls, unpacking_road);
}

// The file home: the archive is read where the launcher carries it, so no
// temporary archive is written and none needs room; all else is the same road.
std::vector<std::string> without_temp_archive(std::vector<std::string> calls) {
    calls.erase(std::find(calls.begin(), calls.end(), "write_temp_archive"));
    return calls;
}

TEST_F(StartupRoads, FileHomeUnpacksWithoutATemporaryArchive) {
    contents = &game_in_file;
    write_file(paths.temp_archive_path, "left by a launcher of the image home");
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(steps.calls, without_temp_archive(unpacking_road));
    EXPECT_FALSE(std::filesystem::exists(paths.temp_archive_path));
    expect_new_game_installed();
}

TEST_F(StartupRoads, FileHomeUpdateKeepsThePlayersFiles) {
    install_old_game(true);
    contents = &game_in_file;
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(steps.calls, without_temp_archive(unpacking_road));
    expect_new_game_installed();
    expect_players_files_kept();
    EXPECT_FALSE(std::filesystem::exists(paths.data_dir + "retired"));
}

TEST_F(StartupRoads, FileHomeNeedsRoomForTheUnpackedFilesOnly) {
    // Into nothing, in 1-byte units: both stamps, "worlds/", "data/" and the
    // data directory, 17 bytes unpacked; the image home needs 100 more for
    // its temporary archive.
    const std::uint64_t stamps = stamp_size_bound(stamp_of(game, unfinished_identity)) +
                                 stamp_size_bound(stamp_of(game, game.identity));
    const std::uint64_t file_home = stamps + 3 + 17;
    struct space_case {
        const payload_contents* contents;
        std::uint64_t enough;
    };
    for (const space_case& c : {space_case{&game_in_file, file_home},
                                space_case{&game, file_home + 100}}) {
        SCOPED_TRACE(c.contents == &game ? "image" : "file");
        contents = c.contents;
        steps.calls.clear();
        steps.free_bytes = c.enough - 1;
        EXPECT_EQ(run(), 1);
        EXPECT_FALSE(std::filesystem::exists(paths.data_dir));
        steps.calls.clear();
        steps.free_bytes = c.enough;
        EXPECT_EQ(run(), 0);
        std::filesystem::remove_all(paths.data_dir);
    }
}

TEST_F(StartupRoads, AnArchiveThatCannotBeReadChangesNothing) {
    install_old_game(true);
    const std::optional<install_stamp> before = read_stamp(paths);
    contents = &game_in_file;
    steps.fail_at = "check_archive";
    steps.thrower = [] { throw exce("could not read the game's archive"); };
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(steps.calls,
              (std::vector<std::string>{"lock_install", "check_archive", "unlock_install",
                                        "destroy_progress_window",
                                        "show_error(could not read the game's archive)"}));
    EXPECT_EQ(read_stamp(paths)->identity, before->identity);
    EXPECT_EQ(read_file(paths.exe_path), "old game");
    expect_players_files_kept();
}

// Each long step before the unpacking keeps the window answering: a clock
// that moves a whole interval at every reading makes every tick an answer.
struct pacing_case {
    const char* label;
    bool installed_before;  // an old game's executable: the update road
    bool stamp_before;
    int answers_at_least;  // between showing the window and writing the archive
};

void PrintTo(const pacing_case& c, std::ostream* os) { *os << c.label; }

class StartupPacing : public StartupRoads, public ::testing::WithParamInterface<pacing_case> {};

TEST_P(StartupPacing, TheWindowAnswersWhileAnOldInstallIsExaminedAndRemoved) {
    const pacing_case& c = GetParam();
    // 60 files of an earlier game that were never finished or are being replaced.
    std::vector<std::string> names;
    for (int i = 0; i < 60; ++i) names.push_back("old/pack" + std::to_string(i % 6) + "/" +
                                                 std::to_string(i) + ".dat");
    std::vector<payload_entry> old_entries;
    for (const std::string& name : names) {
        old_entries.push_back({name.c_str(), 1});
        write_file(paths.data_dir + name, "x");
    }
    if (c.installed_before) write_file(paths.exe_path, "old game");
    if (c.stamp_before)
        write_stamp(paths, stamp_of({"0000", 1, 60, old_entries.data(), old_entries.size(), payload_home::image,
                                  nullptr},
                                 "0000"));
    clock.step_ns = progress_pacer::default_interval_ns;

    EXPECT_EQ(run(), 0);
    const std::vector<std::string> names_called = steps.call_names();
    const auto shown = std::find(names_called.begin(), names_called.end(), "show_progress_window");
    const auto written = std::find(names_called.begin(), names_called.end(), "write_temp_archive");
    ASSERT_LT(shown, written);
    EXPECT_GE(std::count(shown, written, "handle_messages"), c.answers_at_least);
    EXPECT_EQ(std::count(names_called.begin(), shown, "handle_messages"), 0);
    if (!c.installed_before) EXPECT_FALSE(std::filesystem::exists(paths.data_dir + "old"));
}

INSTANTIATE_TEST_SUITE_P(
    Roads, StartupPacing,
    ::testing::Values(
        // The whole data directory goes: every file and folder looked at and removed.
        pacing_case{"no_stamp_removes_everything", false, false, 2 * (60 + 6 + 1)},
        // What the stamp lists goes: each of its files and folders.
        pacing_case{"stamp_removes_what_it_lists", false, true, 60 + 7},
        // The update looks at every file the new game replaces (4 entries,
        // 3 of them files) before the old stamp's leftovers go.
        pacing_case{"update_measures_what_it_replaces", true, true, 3}),
    [](const auto& info) { return std::string(info.param.label); });

struct failure_case {
    const char* label;
    const char* step;
    bool installed;
    std::function<void()> thrower;
    std::string shown;
};

void PrintTo(const failure_case& c, std::ostream* os) { *os << c.label; }


class StartupFailureBoundary : public StartupSequence,
                               public ::testing::WithParamInterface<failure_case> {};

TEST_P(StartupFailureBoundary, FailureClosesTheWindowShowsTheTextAndStops) {
    const failure_case& c = GetParam();
    if (c.installed) install_current_game();
    steps.fail_at = c.step;
    steps.thrower = c.thrower;

    EXPECT_EQ(run(), 1);

    std::vector<std::string> expected;
    if (c.installed) {
        expected = {"launch"};
    } else {
        for (const std::string& call : unpacking_road) {
            expected.push_back(call);
            if (call.rfind(c.step, 0) == 0) break;
        }
        // Leaving the locked part releases the lock before the report.
        if (c.step != std::string("launch")) expected.push_back("unlock_install");
    }
    expected.push_back("destroy_progress_window");
    expected.push_back("show_error(" + c.shown + ")");
    EXPECT_EQ(steps.calls, expected);
}

const std::error_code denied = std::make_error_code(std::errc::permission_denied);

INSTANTIATE_TEST_SUITE_P(
    EveryStepAndErrorKind, StartupFailureBoundary,
    ::testing::Values(
        failure_case{"archive_error_in_extraction", "extract_archive", false,
                     [] { throw exce("could not read file global info"); },
                     "could not read file global info"},
        failure_case{"composed_error_text_outlives_its_source", "extract_archive", false,
                     [] { throw exce("error " + std::to_string(-3)); }, "error -3"},
        failure_case{"file_system_error_while_writing", "write_temp_archive", false,
                     [] {
                         throw file_system_error("create_directory", "./!QuillMark_data/",
                                                 "./!QuillMark_data/", denied);
                     },
                     "create_directory: " + system_message(denied) + ": \"./!QuillMark_data/\""},
        failure_case{"launch_after_unpacking", "launch", false,
                     [] { throw system_failure("could not start \"game\"", denied); },
                     "could not start \"game\": " + system_message(denied)},
        failure_case{"launch_on_installed_road", "launch", true,
                     [] { throw std::system_error(denied, "launch"); },
                     std::system_error(denied, "launch").what()},
        failure_case{"allocation_failure", "set_progress", false, [] { throw std::bad_alloc(); },
                     std::bad_alloc().what()},
        failure_case{"length_error", "show_progress_window", false,
                     [] { throw std::length_error("too long"); }, "too long"}),
    [](const ::testing::TestParamInfo<failure_case>& info) { return std::string(info.param.label); });

}  // namespace

// -- an update that writes only what changed -------------------------------------------

namespace {

const payload_entry recorded_entries[] = {{"Quill Mark.exe", 4, 0xE0E0E0E0},
                                          {"worlds/", 0, 0},
                                          {"worlds/start.map", 3, 0x5A5A5A5A},
                                          {"data/a.bin", 10, 0xA1A1A1A1}};
const payload_contents recorded_game = {"2222", 100, 17, recorded_entries, 4, payload_home::image,
                                        nullptr};

class StartupUpdates : public StartupSequence {
protected:
    void SetUp() override {
        StartupSequence::SetUp();
        contents = &recorded_game;
        steps.on_extract = [] {};  // the fake writes nothing: what is left alone stays as it is
    }
    // A record of the file as it stands, for an entry of `size` bytes and `crc`.
    file_record record_of(const std::string& name, std::uint64_t size, std::uint32_t crc) {
        const std::optional<file_facts> facts = regular_file_facts(paths.data_dir + name);
        EXPECT_TRUE(facts) << name;
        return {size, crc, facts ? facts->size : 0, facts ? facts->modified : 0};
    }
    // An older archive's install: the executable and the map as this archive
    // has them, data/a.bin different, and a file this archive lacks.
    install_stamp install_recorded_game() {
        write_file(paths.exe_path, "game");
        write_file(paths.data_dir + "worlds/start.map", "map");
        write_file(paths.data_dir + "data/a.bin", "old data");
        write_file(paths.data_dir + "gone.bin", "old");
        install_stamp old{"1111", {"Quill Mark.exe", "worlds/start.map", "data/a.bin", "gone.bin"},
                          {"worlds/", "data/"}, {}};
        old.records[entry_key("Quill Mark.exe")] = record_of("Quill Mark.exe", 4, 0xE0E0E0E0);
        old.records[entry_key("worlds/start.map")] = record_of("worlds/start.map", 3, 0x5A5A5A5A);
        old.records[entry_key("data/a.bin")] = record_of("data/a.bin", 8, 0xBADBADBA);
        old.records[entry_key("gone.bin")] = record_of("gone.bin", 3, 0x60606060);
        write_stamp(paths, old);
        return old;
    }
};

TEST_F(StartupUpdates, OnlyChangedEntriesAreUnpackedAndTheStampKeepsEveryRecord) {
    const install_stamp old = install_recorded_game();
    const file_record written{10, 0xA1A1A1A1, 10, 12345};
    steps.extracted_records = {{entry_key("data/a.bin"), written}};
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(steps.call_names(),
              (std::vector<std::string>{"lock_install", "check_archive", "show_progress_window",
                                        "set_progress", "write_temp_archive", "extract_archive",
                                        "unlock_install", "launch"}));
    EXPECT_EQ(steps.unchanged_at_extract, (std::vector<bool>{true, false, true, false}));
    // While the files changed, the stamp vouched for the untouched ones only.
    ASSERT_TRUE(steps.stamp_at_extract);
    EXPECT_EQ(steps.stamp_at_extract->identity, unfinished_identity);
    EXPECT_EQ(steps.stamp_at_extract->records,
              (file_records{{entry_key("Quill Mark.exe"), old.records.at(entry_key("Quill Mark.exe"))},
                            {"worlds/start.map", old.records.at("worlds/start.map")}}));
    // Afterwards: the kept records and those of what was written, nothing of the removed file.
    const std::optional<install_stamp> stamp = read_stamp(paths);
    ASSERT_TRUE(stamp);
    EXPECT_EQ(stamp->identity, "2222");
    EXPECT_EQ(stamp->records,
              (file_records{{entry_key("Quill Mark.exe"), old.records.at(entry_key("Quill Mark.exe"))},
                            {"worlds/start.map", old.records.at("worlds/start.map")},
                            {"data/a.bin", written}}));
    EXPECT_FALSE(std::filesystem::exists(paths.data_dir + "gone.bin"));
}

TEST_F(StartupUpdates, AFileChangedSinceItWasWrittenIsUnpackedAgain) {
    install_recorded_game();
    write_file(paths.data_dir + "worlds/start.map", "the player's own map");
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(steps.unchanged_at_extract, (std::vector<bool>{true, false, false, false}));
    ASSERT_TRUE(steps.stamp_at_extract);
    EXPECT_FALSE(steps.stamp_at_extract->records.count("worlds/start.map"));
}

TEST_F(StartupUpdates, AStampWithoutRecordsHasEveryEntryUnpacked) {
    install_recorded_game();
    install_stamp old = *read_stamp(paths);
    old.records.clear();
    write_stamp(paths, old);
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(steps.unchanged_at_extract, std::vector<bool>(4, false));
    ASSERT_TRUE(steps.stamp_at_extract);
    EXPECT_TRUE(steps.stamp_at_extract->records.empty());
}

// Over a big install the decision looks at thousands of files: the window
// answers while it does. A clock that moves a whole interval at each reading
// makes every tick an answer; with the records, the answers before the archive
// is written grow by the files looked at (the executable and the map, whose
// records match their entries). Both were changed since, so the space check
// counts the same files either way.
TEST_F(StartupUpdates, TheWindowAnswersWhileTheUnchangedFilesAreLookedAt) {
    const auto answers_before_writing = [this](bool records) {
        install_recorded_game();
        write_file(paths.exe_path, "game, patched");
        write_file(paths.data_dir + "worlds/start.map", "map, edited");
        if (!records) {
            install_stamp old = *read_stamp(paths);
            old.records.clear();
            write_stamp(paths, old);
        }
        clock.step_ns = 1'000'000'000;
        steps.calls.clear();
        EXPECT_EQ(run(), 0);
        const auto write = std::find(steps.calls.begin(), steps.calls.end(), "write_temp_archive");
        return std::count(steps.calls.begin(), write, "handle_messages");
    };
    const auto without = answers_before_writing(false);
    EXPECT_EQ(answers_before_writing(true), without + 2);
}

// Without the executable the road is the unpacking one: the old files are
// removed first, so nothing can be left alone whatever the stamp recorded.
TEST_F(StartupUpdates, TheUnpackingRoadLeavesNothingAlone) {
    install_recorded_game();
    std::filesystem::remove(paths.exe_path);
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(steps.unchanged_at_extract.empty());
    ASSERT_TRUE(steps.stamp_at_extract);
    EXPECT_TRUE(steps.stamp_at_extract->records.empty());
}

}  // namespace
