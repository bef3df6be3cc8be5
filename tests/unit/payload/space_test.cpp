// The free-space count: what an unpacking takes at its fullest moment in
// whole allocation units, what it frees and when, what it finds on disk for
// each road, and the refusal's figures.
#include "payload/space.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/exce.hpp"
#include "base/fs.hpp"
#include "payload/extract.hpp"
#include "support/fake_clock.hpp"
#include "support/scratch_dir.hpp"

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kib = 1024;
constexpr std::uint64_t mib = 1024 * kib;

std::vector<space_file> files_of(std::size_t count, std::uint64_t size, std::uint64_t replaced = 0) {
    return std::vector<space_file>(count, space_file{size, replaced});
}

std::vector<space_file> joined(std::vector<space_file> a, const std::vector<space_file>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct need_case {
    const char* label;
    unpacking_space space;
    std::uint64_t needed;
};

void PrintTo(const need_case& c, std::ostream* os) { *os << c.label; }

unpacking_space with(std::uint64_t unit, std::vector<space_file> files) {
    unpacking_space space;
    space.unit = unit;
    space.files = std::move(files);
    return space;
}

unpacking_space with_temp(unpacking_space space, std::uint64_t temp_archive) {
    space.temp_archive = temp_archive;
    return space;
}

class SpaceNeeded : public ::testing::TestWithParam<need_case> {};

TEST_P(SpaceNeeded, CountsWholeUnitsAtTheFullestMoment) {
    EXPECT_EQ(space_needed(GetParam().space), GetParam().needed);
}

unpacking_space freed(unpacking_space space, std::uint64_t first, std::uint64_t before_extraction) {
    space.freed_first = first;
    space.freed_before_extraction = before_extraction;
    return space;
}

unpacking_space directories(unpacking_space space, std::uint64_t count) {
    space.directories = count;
    return space;
}

unpacking_space stamps(unpacking_space space, std::vector<std::uint64_t> bytes) {
    space.stamps = std::move(bytes);
    return space;
}

unpacking_space stamps_first(unpacking_space space) {
    space.stamps_first = true;
    return space;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SpaceNeeded,
    ::testing::Values(
        // 2,000 files of 100 bytes take 2,000 units, not 200,000 bytes.
        need_case{"many_small_files_4k", with(4 * kib, files_of(2000, 100)), 2000 * 4 * kib},
        need_case{"many_small_files_512", with(512, files_of(2000, 100)), 2000 * 512},
        need_case{"many_small_files_64k", with(64 * kib, files_of(2000, 100)), 2000 * 64 * kib},
        need_case{"exact_units_take_no_more", with(4 * kib, files_of(3, 8 * kib)), 24 * kib},
        need_case{"empty_files_take_nothing", with(4 * kib, files_of(5, 0)), 0},
        need_case{"one_large_file_4k", with(4 * kib, files_of(1, 100 * mib + 1)),
                  100 * mib + 4 * kib},
        need_case{"one_large_file_512", with(512, files_of(1, 100 * mib + 1)), 100 * mib + 512},
        need_case{"one_large_file_64k", with(64 * kib, files_of(1, 100 * mib + 1)),
                  100 * mib + 64 * kib},
        need_case{"a_unit_of_zero_is_taken_for_bytes", with(0, files_of(3, 7)), 21},
        // The temporary archive (image home) is rounded too and stands while
        // every file is written.
        need_case{"temporary_archive_and_files", with_temp(with(4 * kib, files_of(10, 1)), 5000),
                  8 * kib + 40 * kib},
        need_case{"file_home_has_no_temporary_archive", with(4 * kib, files_of(10, 1)), 40 * kib},
        // A replaced file is truncated first: what it took, in whole units as
        // the volume reports it, is free for what comes after.
        need_case{"replacing_frees_the_allocated_units",
                  with(4 * kib, files_of(100, 100, 4 * kib)), 0},
        need_case{"replacing_with_a_bigger_file",
                  with(4 * kib, files_of(10, 9000, 8 * kib)), 10 * 4 * kib},
        // The fullest moment can come part-way: space freed by a later file
        // is no help to an earlier one.
        need_case{"freed_later_counts_for_nothing_earlier",
                  with(4 * kib, joined(files_of(1, 40 * kib), files_of(1, 0, 40 * kib))),
                  40 * kib},
        // An update removes files after the temporary archive is written: the
        // archive must fit before they go.
        need_case{"removed_after_the_archive_does_not_make_room_for_it",
                  freed(with_temp(with(4 * kib, files_of(2, 4 * kib)), 40 * kib), 0, 40 * kib),
                  40 * kib},
        need_case{"removed_after_the_archive_makes_room_for_files",
                  freed(with_temp(with(4 * kib, files_of(20, 4 * kib)), 40 * kib), 0, 40 * kib),
                  80 * kib},
        // A stale temporary archive (and what the road removes first) makes
        // room for everything.
        need_case{"removed_first_makes_room_for_everything",
                  freed(with_temp(with(4 * kib, files_of(20, 4 * kib)), 40 * kib), 40 * kib, 0),
                  80 * kib},
        need_case{"never_less_than_nothing", freed(with(4 * kib, files_of(1, 1)), 1 * mib, 0), 0},
        need_case{"a_unit_for_each_directory_4k", directories(with(4 * kib, {}), 21), 21 * 4 * kib},
        need_case{"a_unit_for_each_directory_64k", directories(with(64 * kib, {}), 21),
                  21 * 64 * kib},
        need_case{"stamps_each_rounded", stamps(with(4 * kib, {}), {100, 5000}), 4 * kib + 8 * kib},
        // An update writes its unfinished stamp while a stale archive is
        // still there; another road removes first.
        need_case{"an_updates_stamp_comes_before_anything_goes",
                  freed(stamps_first(stamps(with(4 * kib, {}), {100, 5000})), 40 * kib, 0),
                  12 * kib},
        need_case{"other_roads_remove_before_the_stamp",
                  freed(stamps(with(4 * kib, {}), {100, 5000}), 40 * kib, 0), 0},
        need_case{"everything_at_once",
                  stamps(directories(freed(with_temp(with(512, files_of(4, 1000, 512)), 3000),
                                           1024, 512),
                                     3),
                         {10}),
                  // stamp 512, archive 3072, less 1024 first: 2560; less 512,
                  // 3 directories: 3584; 4 files of 1024 less 512 each: 5632.
                  5632}),
    [](const ::testing::TestParamInfo<need_case>& info) { return std::string(info.param.label); });

class counting_display final : public progress_display {
public:
    void show_window(void*, const std::string&, const std::string&) override {}
    void set_progress(const std::string&, float) override {}
    void handle_messages() override { ++answers; }
    void destroy_window() override {}
    int answers = 0;
};

// What the data directory holds, looked at for each road.
class MeasureUnpacking : public scratch_dir_test {
protected:
    path_set paths = form_relative_paths("QuillMark", "./Quill Mark.exe", "./worlds/start.map");
    fake_clock clock;
    counting_display window;
    progress_pacer pacer{window, clock};

    static std::uint64_t allocated(const std::string& path) {
        const std::optional<file_facts> facts = regular_file_facts(path);
        EXPECT_TRUE(facts) << path;
        return facts ? facts->allocated : 0;
    }
    std::uint64_t allocated_in_data(const std::string& name) const {
        return allocated(paths.data_dir + name);
    }
    // Files big enough to take a unit on any volume that keeps small files
    // apart from its index.
    void put(const std::string& name, std::size_t bytes) {
        write_file(paths.data_dir + name, std::string(bytes, 'x'));
    }
};

const payload_entry new_entries[] = {{"Quill Mark.exe", 5000},   {"worlds/", 0},
                                     {"worlds/start.map", 3000}, {"data/a.bin", 70000},
                                     {"data/b.bin", 9000},       {"data/deep/c.bin", 1}};
const payload_contents new_game = {"2222", 50000, 87001, new_entries, 6, payload_home::image,
                                   nullptr};
const payload_contents new_game_in_file = {"2222", 50000, 87001, new_entries, 6,
                                           payload_home::file, nullptr};
const payload_entry old_entries[] = {{"Quill Mark.exe", 1}, {"worlds/start.map", 1},
                                     {"data/a.bin", 1}, {"retired/gone.bin", 1}};
const install_stamp old_stamp = stamp_of({"1111", 0, 0, old_entries, 4, payload_home::image,
                                          nullptr},
                                         "1111");

std::vector<std::uint64_t> sizes_of(const unpacking_space& space) {
    std::vector<std::uint64_t> sizes;
    for (const space_file& file : space.files) sizes.push_back(file.size);
    return sizes;
}

std::vector<std::uint64_t> replaced_of(const unpacking_space& space) {
    std::vector<std::uint64_t> replaced;
    for (const space_file& file : space.files) replaced.push_back(file.replaced);
    return replaced;
}

TEST_F(MeasureUnpacking, FirstUnpackingIntoNothing) {
    for (const payload_contents* contents : {&new_game, &new_game_in_file}) {
        SCOPED_TRACE(contents == &new_game ? "image" : "file");
        const unpacking_space space =
            measure_unpacking(paths, *contents, std::nullopt, false, {}, 4096, pacer);
        EXPECT_EQ(space.unit, 4096u);
        EXPECT_EQ(space.temp_archive, contents == &new_game ? 50000u : 0u);
        EXPECT_EQ(sizes_of(space), (std::vector<std::uint64_t>{5000, 3000, 70000, 9000, 1}));
        EXPECT_EQ(replaced_of(space), (std::vector<std::uint64_t>(5, 0)));
        EXPECT_EQ(space.freed_first, 0u);
        EXPECT_EQ(space.freed_before_extraction, 0u);
        // "worlds/", "data/", "data/deep/" and the data directory itself.
        EXPECT_EQ(space.directories, 4u);
        EXPECT_FALSE(space.stamps_first);
        EXPECT_EQ(space.stamps,
                  (std::vector<std::uint64_t>{
                      stamp_size_bound(stamp_of(*contents, unfinished_identity)),
                      stamp_size_bound(stamp_of(*contents, contents->identity))}));
    }
}

TEST_F(MeasureUnpacking, AStaleTemporaryArchiveAndLeftoversAreFreedFirst) {
    put("worlds/start.map", 10);
    write_file(paths.temp_archive_path, std::string(30000, 't'));
    write_file(unfinished_executable_path(paths), std::string(20000, 'u'));
    const unpacking_space space =
        measure_unpacking(paths, new_game, std::nullopt, false, {}, 4096, pacer);
    // Without a stamp the whole data directory goes first: the files at the
    // entries' places with it.
    EXPECT_EQ(space.freed_first, allocated(paths.temp_archive_path) +
                                     allocated(unfinished_executable_path(paths)) +
                                     allocated_in_data("worlds/start.map"));
    EXPECT_GT(space.freed_first, 50000u);
    EXPECT_EQ(replaced_of(space), (std::vector<std::uint64_t>(5, 0)));
}

TEST_F(MeasureUnpacking, AnUnfinishedInstallWithAStampLosesWhatItListsFirst) {
    put("worlds/start.map", 6000);
    put("retired/gone.bin", 7000);
    put("data/b.bin", 8000);  // not listed: the player's, replaced where the entry is written
    const unpacking_space space =
        measure_unpacking(paths, new_game, old_stamp, false, {}, 4096, pacer);
    EXPECT_EQ(space.freed_first,
              allocated_in_data("worlds/start.map") + allocated_in_data("retired/gone.bin"));
    EXPECT_EQ(space.freed_before_extraction, 0u);
    EXPECT_EQ(replaced_of(space),
              (std::vector<std::uint64_t>{0, 0, 0, allocated_in_data("data/b.bin"), 0}));
    // The listed directories may go first: every one is made again.
    EXPECT_EQ(space.directories, 4u);
}

TEST_F(MeasureUnpacking, AnUpdateFreesByAllocatedSizeWhenEachStepDoes) {
    put("Quill Mark.exe", 9000);
    put("worlds/start.map", 6000);
    put("data/a.bin", 100);
    put("retired/gone.bin", 7000);
    const unpacking_space space = measure_unpacking(paths, new_game, old_stamp, true, {}, 4096, pacer);
    EXPECT_EQ(space.freed_first, 0u);
    // What the new game lacks goes after the temporary archive is written.
    EXPECT_EQ(space.freed_before_extraction, allocated_in_data("retired/gone.bin"));
    // The files at the entries' places are truncated as they are written;
    // the old executable stays until the new one is renamed over it at the end.
    EXPECT_EQ(replaced_of(space),
              (std::vector<std::uint64_t>{0, allocated_in_data("worlds/start.map"),
                                          allocated_in_data("data/a.bin"), 0, 0}));
    // Only "data/deep/" is not there yet.
    EXPECT_EQ(space.directories, 1u);
    // The unfinished stamp lists the old game's names and the new, and is
    // written before anything goes.
    EXPECT_TRUE(space.stamps_first);
    EXPECT_EQ(space.stamps[0],
              stamp_size_bound(stamp_union(old_stamp, stamp_of(new_game, "2222"),
                                           unfinished_identity)));
}

TEST_F(MeasureUnpacking, UnchangedEntriesTakeNothingAndFreeNothing) {
    put("Quill Mark.exe", 9000);
    put("worlds/start.map", 6000);
    put("data/a.bin", 70000);
    put("data/b.bin", 9000);
    // Indexed like the entries: the directory's place is never read.
    const std::vector<bool> unchanged = {false, true, true, true, false, false};
    const unpacking_space space =
        measure_unpacking(paths, new_game, std::nullopt, true, unchanged, 4096, pacer);
    EXPECT_EQ(sizes_of(space), (std::vector<std::uint64_t>{5000, 9000, 1}));
    EXPECT_EQ(replaced_of(space),
              (std::vector<std::uint64_t>{0, allocated_in_data("data/b.bin"), 0}));
}

TEST_F(MeasureUnpacking, ANameTheArchiveRepeatsFreesTheOldFileOnce) {
    put("data/a.bin", 6000);
    const payload_entry twice[] = {{"Quill Mark.exe", 1}, {"data/a.bin", 10}, {"./data//a.bin", 20}};
    const payload_contents game = {"3333", 0, 31, twice, 3, payload_home::file, nullptr};
    put("Quill Mark.exe", 1);
    const unpacking_space space = measure_unpacking(paths, game, std::nullopt, true, {}, 4096, pacer);
    EXPECT_EQ(replaced_of(space),
              (std::vector<std::uint64_t>{0, allocated_in_data("data/a.bin"), 0}));
}

// Over a big game's install the look at every file takes a while: the window
// answers within it. A clock that moves a whole interval at each reading
// makes every tick an answer, so the count shows a tick after each name.
TEST_F(MeasureUnpacking, LookingAtEveryFileKeepsTheWindowAnswering) {
    std::vector<payload_entry> entries;
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i) names.push_back("pack" + std::to_string(i % 4) + "/" +
                                                 std::to_string(i) + ".dat");
    for (const std::string& name : names) {
        entries.push_back({name.c_str(), 100});
        put(name, 3);
    }
    const payload_contents game{"id", 1000, 4000, entries.data(), entries.size(),
                                payload_home::image, nullptr};
    clock.step_ns = progress_pacer::default_interval_ns;
    const unpacking_space space =
        measure_unpacking(paths, game, std::nullopt, true, {}, 4096, pacer);
    EXPECT_EQ(window.answers, 40 + 4);  // every file, then every directory
    EXPECT_EQ(space.files.size(), 40u);
}

struct space_case {
    const char* label;
    std::uint64_t needed, free;
    const char* message;  // empty: enough
};

void PrintTo(const space_case& c, std::ostream* os) { *os << c.label; }

class FreeSpace : public ::testing::TestWithParam<space_case> {};

TEST_P(FreeSpace, RefusesWithBothFiguresInMegabytes) {
    const space_case& c = GetParam();
    if (*c.message == '\0') {
        EXPECT_NO_THROW(check_space(c.needed, c.free));
        return;
    }
    try {
        check_space(c.needed, c.free);
        ADD_FAILURE() << "no refusal";
    } catch (const exce& error) {
        EXPECT_STREQ(error.what(), c.message);
    }
}

constexpr std::uint64_t mb = 1024 * 1024;

INSTANTIATE_TEST_SUITE_P(
    Figures, FreeSpace,
    ::testing::Values(
        space_case{"exactly_enough", 170 * mb, 170 * mb, ""},
        space_case{"one_byte_short_rounds_needed_up_and_free_down", 170 * mb, 170 * mb - 1,
                   "not enough free disk space to unpack the game: it needs 170 MB, and 169 MB "
                   "are free. Free some space, then start again."},
        space_case{"needed_part_of_a_megabyte_more", 170 * mb + 1, 20 * mb + mb / 2,
                   "not enough free disk space to unpack the game: it needs 171 MB, and 20 MB "
                   "are free. Free some space, then start again."}),
    [](const ::testing::TestParamInfo<space_case>& info) { return std::string(info.param.label); });

}  // namespace
