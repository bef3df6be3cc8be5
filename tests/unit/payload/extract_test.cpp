#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/errors.hpp"
#include "payload/extract.hpp"
#include "payload/payload.hpp"
#include "payload_fixture.hpp"

namespace {

using namespace payload_test;

// -- archives that unpack -------------------------------------------------------

struct unpack_case {
    const char* archive;
    const char* game_exe;  // the compiled-in constant the path set is formed from
};

void PrintTo(const unpack_case& c, std::ostream* os) { *os << c.archive; }

class UnpackArchive : public extraction_test, public ::testing::WithParamInterface<unpack_case> {
protected:
    void SetUp() override {
        extraction_test::SetUp();
        paths = form_relative_paths("QuillMark", GetParam().game_exe, "./worlds/start.map");
    }
};

TEST_P(UnpackArchive, DataDirectoryHoldsExactlyTheArchive) {
    place_archive(GetParam().archive);
    recording_progress progress(paths);
    ASSERT_EQ(extract(progress), "");
    EXPECT_EQ(data_tree(), read_tree(fixture(std::string(GetParam().archive) + ".expected")));
    EXPECT_FALSE(fs::exists(paths.temp_archive_path));
    EXPECT_FALSE(out.is_open());
}

TEST_P(UnpackArchive, ProgressMovesAfterEachEntryThenTheWindowCloses) {
    place_archive(GetParam().archive);
    recording_progress progress(paths);
    ASSERT_EQ(extract(progress), "");

    const auto count = static_cast<std::uint32_t>(entry_names(GetParam().archive).size());
    ASSERT_EQ(progress.events.size(), count + 1u);
    for (std::uint32_t i = 0; i < count; ++i) {
        SCOPED_TRACE("entry " + std::to_string(i));
        const progress_event& event = progress.events[i];
        EXPECT_FALSE(event.destroyed);
        EXPECT_EQ(event.text, "Loading...");
        EXPECT_EQ(event.fraction, static_cast<float>(i) / static_cast<float>(count));
        // The executable appears only once every entry is in place.
        EXPECT_FALSE(event.executable_present);
    }
    const progress_event& last = progress.events.back();
    EXPECT_TRUE(last.destroyed);
    EXPECT_TRUE(last.temp_archive_present);  // removed after the window closed
}

// A power cut must not leave the stamp over files whose data never reached
// the disk: every file unpacked is told of once it is closed, complete, and
// waited for before the window closes (after which the stamp is written).
TEST_P(UnpackArchive, EveryFileIsFlushedUnderItsOwnNameBeforeTheWindowCloses) {
    place_archive(GetParam().archive);
    recording_progress progress(paths);
    ASSERT_EQ(extract(progress), "");

    std::set<std::string> files;
    for (const auto& [name, bytes] : data_tree())
        if (bytes) files.insert(name);
    const auto names = [this](const std::vector<recording_flush::told>& told) {
        std::set<std::string> relative;
        for (const recording_flush::told& file : told)
            relative.insert(fs::relative(file.path, paths.data_dir).generic_string());
        return relative;
    };
    EXPECT_EQ(names(flush.begun), files);
    EXPECT_EQ(names(flush.finished), files);
    EXPECT_EQ(flush.begun.size(), flush.finished.size());
    EXPECT_EQ(written.pending(), 0u);
    // Told of with its whole content (the last time, for a name the archive
    // lists twice), under the name it keeps.
    std::map<std::string, std::optional<std::string>> last_told;
    for (const recording_flush::told& file : flush.begun) {
        last_told[file.path] = file.bytes;
        EXPECT_NE(file.path, unfinished_executable_path(paths));
    }
    for (const auto& [path, bytes] : last_told) EXPECT_EQ(bytes, read_bytes(path)) << path;
    ASSERT_FALSE(progress.events.empty());
    ASSERT_TRUE(progress.events.back().destroyed);
    for (const std::size_t events_before : flush.finished_after_events)
        EXPECT_LT(events_before, progress.events.size());
}

TEST_P(UnpackArchive, StreamThatFailedBeforeStillUnpacks) {
    place_archive(GetParam().archive);
    out.setstate(std::ios::failbit | std::ios::badbit);  // as a failed close leaves it
    recording_progress progress(paths);
    ASSERT_EQ(extract(progress), "");
    EXPECT_EQ(data_tree(), read_tree(fixture(std::string(GetParam().archive) + ".expected")));
}

INSTANTIATE_TEST_SUITE_P(
    Archives, UnpackArchive,
    ::testing::Values(unpack_case{"game_tree", "./Quill Mark.exe"},        // Info-ZIP, descriptors
                      unpack_case{"no_dir_entries", "./Quill Mark.exe"},   // parents made on the way
                      unpack_case{"many", "./Quill Mark.exe"},             // 300 entries, no executable
                      unpack_case{"empty", "./Quill Mark.exe"},            // N = 0
                      unpack_case{"mixed", "./Quill Mark.exe"},            // stored, empty, duplicate
                      unpack_case{"nested_exe", "./bin/game.exe"},         // executable below a folder
                      unpack_case{"large_entries", "./Quill Mark.exe"}),   // entries of 8 MiB and more
    [](const auto& info) { return std::string(info.param.archive); });

// -- the window while large entries are copied ----------------------------------

// large_entries: 0 "first large.bin" (8 MiB + 1), 1 "small.txt", 2 "exactly
// 8 MiB.bin", 3 "just under.bin" (8 MiB - 1), 4 "worlds/", 5 the executable.
// Every clock reading stands for 1 ms of work, so the pacer comes due about
// every 50 readings: every few hundred kilobytes of a large entry.
class ExtractionPacing : public extraction_test {
protected:
    void SetUp() override {
        extraction_test::SetUp();
        place_archive("large_entries");
        clock.step_ns = 1'000'000;
    }
    // Where the bar stands after entry i of 6, as it always has.
    static float after(int i) { return static_cast<float>(i) / 6.0f; }

    static std::size_t strictly_between(const std::vector<float>& fractions, float low,
                                        float high) {
        std::size_t count = 0;
        for (float f : fractions) count += f > low && f < high;
        return count;
    }
};

TEST_F(ExtractionPacing, BarMovesByBytesWithinEachLargeEntryAndNeverGoesBack) {
    recording_progress progress(paths);
    ASSERT_EQ(extract(progress), "");
    EXPECT_EQ(data_tree(), read_tree(fixture("large_entries.expected")));

    const std::vector<float> moved = progress.fractions();
    EXPECT_TRUE(std::is_sorted(moved.begin(), moved.end()));
    // Entry boundaries where they always were, the last one closing the list.
    for (int i = 0; i < 6; ++i)
        EXPECT_NE(std::find(moved.begin(), moved.end(), after(i)), moved.end()) << i;
    ASSERT_FALSE(moved.empty());
    EXPECT_EQ(moved.back(), after(5));
    EXPECT_GE(moved.front(), 0.0f);

    // The first entry begins and ends at 0: its moves keep the bar there.
    EXPECT_GT(std::count(moved.begin(), moved.end(), 0.0f), 1);
    // An entry of exactly 8 MiB moves between its own start and end.
    EXPECT_GT(strictly_between(moved, after(1), after(2)), 5u);
    // Smaller entries move the bar only at their end, as they always did.
    EXPECT_EQ(strictly_between(moved, after(0), after(1)), 0u);
    EXPECT_EQ(strictly_between(moved, after(2), after(3)), 0u);
    EXPECT_EQ(strictly_between(moved, after(3), after(4)), 0u);
    EXPECT_EQ(strictly_between(moved, after(4), after(5)), 0u);
    // But the window answered through them all the same.
    EXPECT_GT(progress.bare_answers(), 5u);
    EXPECT_TRUE(progress.events.back().destroyed);
}

// A long file is not left whole in memory for the final wait: its data so far
// is started on its way to the disk while the rest of it is unpacked, and the
// file is still waited for once, complete.
TEST_F(extraction_test, ALongFileIsStartedOnItsWayToTheDiskWhileItIsWritten) {
    place_archive("long_file");
    recording_progress progress(paths);
    ASSERT_EQ(extract(progress), "");
    const std::string long_file = paths.data_dir + "long.bin";
    const std::uint64_t full = 40ull << 20;
    ASSERT_EQ(fs::file_size(long_file), full);

    std::vector<std::uint64_t> sizes_told;
    for (const recording_flush::told& file : flush.begun)
        if (file.path == long_file) sizes_told.push_back(file.bytes ? file.bytes->size() : 0);
    ASSERT_EQ(sizes_told.size(), 2u);  // once 32 MiB were written, then once closed
    EXPECT_GE(sizes_told[0], 31ull << 20);
    EXPECT_LT(sizes_told[0], full);
    EXPECT_EQ(sizes_told[1], full);
    EXPECT_EQ(std::count_if(flush.finished.begin(), flush.finished.end(),
                            [&](const recording_flush::told& file) { return file.path == long_file; }),
              1);
}

// The fraction within one entry: from the entry's start to its end by bytes,
// never outside them, whatever the rounding.
struct fraction_case {
    const char* label;
    float start, end;
    std::uint64_t done, size;
    float expected;
};

void PrintTo(const fraction_case& c, std::ostream* os) { *os << c.label; }

class EntryProgressFraction : public ::testing::TestWithParam<fraction_case> {};

TEST_P(EntryProgressFraction, IsProportionalToTheBytesBetweenStartAndEnd) {
    const fraction_case& c = GetParam();
    const float got = entry_progress_fraction(c.start, c.end, c.done, c.size);
    EXPECT_FLOAT_EQ(got, c.expected);
    EXPECT_GE(got, c.start);
    EXPECT_LE(got, c.end);
}

constexpr std::uint64_t mib = 1024 * 1024;
constexpr std::uint64_t largest = 0xFFFFFFFFull;  // 4 GiB - 1

INSTANTIATE_TEST_SUITE_P(
    Table, EntryProgressFraction,
    ::testing::Values(
        fraction_case{"nothing_copied_is_the_start", 0.25f, 0.5f, 0, 8 * mib, 0.25f},
        fraction_case{"half_way", 0.25f, 0.5f, 4 * mib, 8 * mib, 0.375f},
        fraction_case{"all_copied_is_the_end", 0.25f, 0.5f, 8 * mib, 8 * mib, 0.5f},
        fraction_case{"more_than_the_header_said_stays_at_the_end", 0.25f, 0.5f, 9 * mib,
                      8 * mib, 0.5f},
        fraction_case{"no_size_is_the_end", 0.25f, 0.5f, 0, 0, 0.5f},
        fraction_case{"first_entry_goes_nowhere", 0.0f, 0.0f, 3 * mib, 8 * mib, 0.0f},
        fraction_case{"largest_entry_one_byte_short", 2.0f / 3.0f, 1.0f, largest - 1, largest,
                      1.0f},
        fraction_case{"largest_entry_a_quarter_in", 0.0f, 0.5f, largest / 4, largest, 0.125f}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(EntryProgressFractionSweep, NeverGoesBackNorLeavesTheEntrysRange) {
    const std::uint32_t counts[] = {3, 7, 2263, 13194};
    for (std::uint32_t count : counts) {
        for (std::uint32_t i = 1; i < count; i += count / 3 + 1) {
            const float start = static_cast<float>(i - 1) / static_cast<float>(count);
            const float end = static_cast<float>(i) / static_cast<float>(count);
            for (const std::uint64_t size : {std::uint64_t{8 * mib}, std::uint64_t{300'000'000},
                                             largest}) {
                float last = start;
                for (std::uint64_t done = 0; done <= size; done += size / 997 + 1) {
                    const float f = entry_progress_fraction(start, end, done, size);
                    ASSERT_GE(f, last) << count << " " << i << " " << size << " " << done;
                    ASSERT_LE(f, end) << count << " " << i << " " << size << " " << done;
                    last = f;
                }
            }
        }
    }
}

// -- archives that fail ---------------------------------------------------------

struct failure_case {
    const char* archive;  // nullptr: no temporary archive at all
    std::string message;
    bool ok_unpacked;  // the entry before the failing one is on disk
    std::vector<std::string> absent;  // relative to the data directory
};

void PrintTo(const failure_case& c, std::ostream* os) { *os << (c.archive ? c.archive : "none"); }

class FailingArchive : public extraction_test,
                       public ::testing::WithParamInterface<failure_case> {};

const std::string outside = ": it would be written outside the data directory";

TEST_P(FailingArchive, FailsWithItsTextLeavingNoExecutableAndNothingOpen) {
    const failure_case& c = GetParam();
    if (c.archive) place_archive(c.archive);
    recording_progress progress(paths);

    EXPECT_EQ(extract(progress), c.message);

    EXPECT_FALSE(fs::exists(paths.exe_path));
    EXPECT_EQ(fs::exists(paths.data_dir + "ok.txt"), c.ok_unpacked);
    for (const std::string& name : c.absent)
        EXPECT_FALSE(fs::exists(paths.data_dir + name)) << name;
    EXPECT_FALSE(fs::exists("evil.txt"));
    EXPECT_FALSE(fs::exists("evil"));
    // The window is the failure boundary's to close; the archive stays.
    for (const progress_event& event : progress.events) EXPECT_FALSE(event.destroyed);
    EXPECT_FALSE(out.is_open());
    if (c.archive) {
        EXPECT_TRUE(fs::exists(paths.temp_archive_path));
        EXPECT_FALSE(held_open(paths.temp_archive_path));
    }
}

INSTANTIATE_TEST_SUITE_P(
    ReaderFailures, FailingArchive,
    ::testing::Values(
        failure_case{nullptr, "could not read file global info", false, {}},
        failure_case{"not_a_zip", "could not read file global info", false, {}},
        failure_case{"empty_file", "could not read file global info", false, {}},
        failure_case{"truncated", "could not read file global info", false, {}},
        failure_case{"bare_end_record", "could not read file global info", false, {}},
        failure_case{"bad_central_first", "could not read file info", false, {}},
        failure_case{"bad_central_second", "could not read next file", false, {}},
        // Nothing is made for an entry that cannot be opened, not even its folders.
        failure_case{"bad_local_header", "could not open file", true, {"sub"}},
        failure_case{"unknown_method", "could not open file", true, {"sub"}},
        failure_case{"damaged_deflate", "error -3", true, {}},
        failure_case{"dir_then_file", "could not open destination file", true, {}}),
    [](const auto& info) { return std::string(info.param.archive ? info.param.archive : "none"); });

INSTANTIATE_TEST_SUITE_P(
    DamagedEntries, FailingArchive,
    ::testing::Values(
        failure_case{"crc_deflated", "archive entry \"bad crc.txt\" is damaged: CRC mismatch", true,
                     {}},
        failure_case{"crc_stored", "archive entry \"bad crc.bin\" is damaged: CRC mismatch", true,
                     {}},
        failure_case{"crc_executable",
                     "archive entry \"Quill Mark.exe\" is damaged: CRC mismatch", false, {}}),
    [](const auto& info) { return std::string(info.param.archive); });

INSTANTIATE_TEST_SUITE_P(
    UnsafeNames, FailingArchive,
    ::testing::Values(
        failure_case{"unsafe_dotdot", "refused archive entry \"../evil.txt\"" + outside, true, {}},
        failure_case{"unsafe_nested_dotdot", "refused archive entry \"a/../../evil.txt\"" + outside,
                     true, {"a"}},
        failure_case{"unsafe_backslash_dotdot", "refused archive entry \"..\\evil.txt\"" + outside,
                     true, {"..\\evil.txt"}},
        failure_case{"unsafe_absolute", "refused archive entry \"/evil.txt\"" + outside, true,
                     {"evil.txt"}},
        failure_case{"unsafe_backslash_absolute", "refused archive entry \"\\evil.txt\"" + outside,
                     true, {"\\evil.txt"}},
        failure_case{"unsafe_drive", "refused archive entry \"C:/evil.txt\"" + outside, true,
                     {"C:"}},
        failure_case{"unsafe_drive_relative", "refused archive entry \"c:evil.txt\"" + outside,
                     true, {"c:evil.txt"}},
        failure_case{"unsafe_dotdot_directory", "refused archive entry \"../evil/\"" + outside,
                     true, {}},
        failure_case{"empty_name", "refused an archive entry with an empty name", true, {}},
        failure_case{"long_name", "refused an archive entry whose name is longer than 511 bytes",
                     true, {"n"}}),
    [](const auto& info) { return std::string(info.param.archive); });

// -- the file system in the way -------------------------------------------------

using ExtractionFileSystem = extraction_test;

TEST_F(ExtractionFileSystem, ExistingDataDirectoryAndFilesAreReusedAndTruncated) {
    place_archive("game_tree");
    // Longer than the entry: a rewrite that did not truncate would leave a tail.
    scratch_dir_test::write_file(paths.data_dir + "readme.txt", std::string(5000, 'x'));
    recording_progress progress(paths);
    ASSERT_EQ(extract(progress), "");
    EXPECT_EQ(read_bytes(paths.data_dir + "readme.txt"), "read me\n");
}

TEST_F(ExtractionFileSystem, FileWhereAFolderMustGoIsAFileSystemError) {
    place_archive("file_then_nested");
    recording_progress progress(paths);
    const std::string text = extract(progress);
#ifdef _WIN32
    // Windows finds no folder below a file and cannot open the destination.
    EXPECT_EQ(text, "could not open destination file");
#else
    EXPECT_EQ(text.rfind("create_directory: ", 0), 0u) << text;
    EXPECT_NE(text.find(": \"./!QuillMark_data/a/\""), std::string::npos) << text;
#endif
    EXPECT_FALSE(fs::exists(paths.exe_path));
    EXPECT_FALSE(out.is_open());
    EXPECT_FALSE(held_open(paths.temp_archive_path));
}

#ifdef _WIN32
TEST_F(ExtractionFileSystem, NameEndingInBackslashIsAFileWindowsCannotMake) {
    place_archive("backslash");
    recording_progress progress(paths);
    EXPECT_EQ(extract(progress), "could not open destination file");
    // The backslash separates here: "notes" was made as a folder on the way.
    EXPECT_TRUE(fs::is_directory(paths.data_dir + "notes"));
    EXPECT_FALSE(fs::exists(paths.data_dir + "plain.txt"));
}
#else
TEST_F(ExtractionFileSystem, NameEndingInBackslashIsAFile) {
    place_archive("backslash");
    recording_progress progress(paths);
    ASSERT_EQ(extract(progress), "");
    EXPECT_EQ(data_tree(), read_tree(fixture("backslash.expected")));
    EXPECT_TRUE(fs::is_regular_file(paths.data_dir + "notes\\"));
}

TEST_F(ExtractionFileSystem, OnlyTheExecutableIsMadeRunnable) {
    place_archive("game_tree");
    recording_progress progress(paths);
    ASSERT_EQ(extract(progress), "");
    const auto runnable = [](const std::string& path) {
        return (fs::status(path).permissions() & fs::perms::owner_exec) != fs::perms::none;
    };
    EXPECT_TRUE(runnable(paths.exe_path));
    EXPECT_FALSE(runnable(paths.data_dir + "readme.txt"));
    EXPECT_FALSE(runnable(paths.data_dir + "data/big.bin"));
}

TEST_F(ExtractionFileSystem, TempArchiveThatCannotBeRemovedIsReportedWithTheGameInPlace) {
    place_archive("game_tree");
    recording_progress progress(paths);
    // Once the window is gone, something else takes the archive's place.
    progress.on_destroy = [this] {
        fs::remove(paths.temp_archive_path);
        scratch_dir_test::write_file(paths.temp_archive_path + "/inside", "x");
    };
    EXPECT_EQ(extract(progress), "remove: Directory not empty: \"./~QuillMark_temp\"");
    EXPECT_TRUE(fs::exists(paths.exe_path));  // everything else was unpacked
    ASSERT_FALSE(progress.events.empty());
    EXPECT_TRUE(progress.events.back().destroyed);
}

// A file the disk could not take is a failed unpacking: no stamp may follow.
TEST_F(ExtractionFileSystem, FlushThatFailsIsReported) {
    place_archive("game_tree");
    recording_progress progress(paths);
    flush.on_finish = [](const std::string& path) {
        throw file_system_error("flush", path, fs::path(path),
                                std::make_error_code(std::errc::io_error));
    };
    const std::string text = extract(progress);
    EXPECT_EQ(text.rfind("flush: ", 0), 0u) << text;
    for (const progress_event& event : progress.events) EXPECT_FALSE(event.destroyed);
}

// A full disk, without a small file system: the destination is /dev/full.
struct full_disk_case {
    const char* entry;
    const char* why;
};

void PrintTo(const full_disk_case& c, std::ostream* os) { *os << c.entry; }

class FullDisk : public extraction_test, public ::testing::WithParamInterface<full_disk_case> {};

TEST_P(FullDisk, ShortWriteNamesTheEntryAndLeavesNoExecutable) {
    place_archive("game_tree");
    const std::string destination = paths.data_dir + GetParam().entry;
    fs::create_directories(fs::path(destination).parent_path());
    fs::create_symlink("/dev/full", destination);
    recording_progress progress(paths);
    EXPECT_EQ(extract(progress), "could not write entry \"" + std::string(GetParam().entry) +
                                     "\" to \"" + destination + "\": No space left on device");
    EXPECT_FALSE(fs::exists(paths.exe_path));
    EXPECT_FALSE(out.is_open());
    EXPECT_FALSE(held_open(paths.temp_archive_path));
}

INSTANTIATE_TEST_SUITE_P(
    Entries, FullDisk,
    ::testing::Values(full_disk_case{"data/big.bin", "fails while copying"},
                      full_disk_case{"readme.txt", "small: fails only when closed"}),
    [](const auto& info) {
        std::string name = info.param.entry;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });
#endif

}  // namespace
