// What the stamp remembers of each file, and the update's decision from it:
// which entries are left alone, and which records an unfinished update keeps.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/fs.hpp"
#include "payload/entry_names.hpp"
#include "payload/install.hpp"
#include "support/scratch_dir.hpp"

namespace {

namespace fs = std::filesystem;

class StampRecords : public scratch_dir_test {
protected:
    path_set paths = form_relative_paths("QuillMark", "./Quill Mark.exe", "./worlds/start.map");
    void SetUp() override {
        scratch_dir_test::SetUp();
        fs::create_directories(paths.data_dir);
    }
    std::string stamp_text() const { return read_file(paths.stamp_path); }
};

TEST_F(StampRecords, ReadBackAsWrittenFileByFileAndOnlyForFilesThatHaveThem) {
    install_stamp written{"abc",
                          {"Quill Mark.exe", "data/a.bin", "100% done.txt", "line\nbreak"},
                          {"data/"},
                          {}};
    written.records[entry_key("Quill Mark.exe")] = {4, 0xDEADBEEF, 4, 1700000000123456789};
    written.records[entry_key("100% done.txt")] = {0, 0x00000000, 0, 0};
    written.records[entry_key("line\nbreak")] = {std::numeric_limits<std::uint64_t>::max(),
                                                 0x0000FFFF, 12, -5};  // before 1970
    write_stamp(paths, written);
    const std::optional<install_stamp> read = read_stamp(paths);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->files, written.files);
    EXPECT_EQ(read->directories, written.directories);
    EXPECT_EQ(read->records, written.records);
    EXPECT_FALSE(read->records.count(entry_key("data/a.bin")));
}

TEST_F(StampRecords, EachRecordIsALineOfItsOwnRightAfterItsFile) {
    install_stamp written{"abc", {"a.bin", "b.bin"}, {}, {}};
    written.records["b.bin"] = {10, 0x0A0B0C0D, 10, 99};
    write_stamp(paths, written);
    EXPECT_EQ(stamp_text(), "launcher-stamp abc\n"
                            "f a.bin\n"
                            "f b.bin\n"
                            "r 10 0a0b0c0d 10 99\n");
}

// Without its "r" lines a stamp reads the same to a launcher that knows no
// records: the "f" and "d" lines are those of a stamp written without any.
TEST_F(StampRecords, WithoutItsRecordLinesTheStampIsTheOldFormat) {
    install_stamp plain{"abc", {"x/a.bin", "b.bin"}, {"x/"}, {}};
    write_stamp(paths, plain);
    const std::string old_format = stamp_text();
    install_stamp recorded = plain;
    recorded.records["x/a.bin"] = {1, 2, 3, 4};
    recorded.records["b.bin"] = {5, 6, 7, 8};
    write_stamp(paths, recorded);
    std::istringstream lines(stamp_text());
    std::string others;
    for (std::string line; std::getline(lines, line);)
        if (line.compare(0, 2, "r ") != 0) others += line + "\n";
    EXPECT_EQ(others, old_format);
    EXPECT_NE(stamp_text(), old_format);
}

TEST_F(StampRecords, AStampOfAnOlderLauncherReadsWithNoRecords) {
    write_file(paths.stamp_path, "launcher-stamp old\nd data/\nf data/a.bin\nf game.exe\n");
    const std::optional<install_stamp> read = read_stamp(paths);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->files, (std::vector<std::string>{"data/a.bin", "game.exe"}));
    EXPECT_TRUE(read->records.empty());
}

// A record line that is not whole, or follows no accepted file line, counts for nothing.
TEST_F(StampRecords, RecordLinesThatDoNotBelongOrDoNotParseAreLeftOut) {
    const struct {
        const char* text;  // the lines after the header
        const char* why;
    } cases[] = {
        {"r 1 00000002 3 4\nf a.bin\n", "before any file"},
        {"d dir/\nr 1 00000002 3 4\nf a.bin\n", "after a directory"},
        {"f ../out.bin\nr 1 00000002 3 4\nf a.bin\n", "after a refused name"},
        {"f a.bin\nf b.bin\nr 1 00000002 3\n", "a field missing"},
        {"f a.bin\nf b.bin\nr 1 00000002 3 4 5\n", "a field too many"},
        {"f a.bin\nf b.bin\nr 1 0000002 3 4\n", "the CRC not 8 digits"},
        {"f a.bin\nf b.bin\nr 1 0000000g 3 4\n", "the CRC not hex"},
        {"f a.bin\nf b.bin\nr x 00000002 3 4\n", "a size not a number"},
        {"f a.bin\nf b.bin\nr -1 00000002 3 4\n", "a size below zero"},
        {"f a.bin\nf b.bin\nq x\nr 1 00000002 3 4\n", "after an unknown line"},
        {"f a.bin\nf b.bin\n\nr 1 00000002 3 4\n", "after an empty line"},
        {"f a.bin\nf b.bin\nr 1 00000002 3 +4\n", "a time with a plus"},
        {"f a.bin\nf b.bin\nr 1  00000002 3 4\n", "two spaces"},
        {"f a.bin\nf b.bin\nr 18446744073709551616 00000002 3 4\n", "a size past 64 bits"},
        {"f a.bin\nf b.bin\nr 1 00000002 3 9223372036854775808\n", "a time past 63 bits"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        write_file(paths.stamp_path, std::string("launcher-stamp x\n") + c.text);
        const std::optional<install_stamp> read = read_stamp(paths);
        ASSERT_TRUE(read);
        EXPECT_TRUE(read->records.empty());
        EXPECT_FALSE(read->files.empty());
    }
    // The same stamp with a good line gives the record, so the table above fails for its cause.
    write_file(paths.stamp_path, "launcher-stamp x\nf a.bin\nf b.bin\nr 1 00000002 3 4\n");
    const std::optional<install_stamp> good = read_stamp(paths);
    ASSERT_TRUE(good);
    EXPECT_EQ(good->records, (file_records{{"b.bin", {1, 2, 3, 4}}}));
}

// -- which entries an update leaves alone -----------------------------------------------

const payload_entry listed[] = {
    {"Quill Mark.exe", 4, 0x11111111}, {"data/", 0, 0},         {"data/a.bin", 10, 0x22222222},
    {"./data//b.bin", 20, 0x33333333}, {"twice.txt", 3, 0x4444}, {"twice.txt", 5, 0x5555},
};
const payload_contents contents = {"new", 100, 42, listed, 6, payload_home::image, nullptr};
constexpr std::size_t a_bin = 2;

// A file system of facts by name, as the platform compares names.
struct fake_disk {
    std::map<std::string, file_facts> files;
    std::vector<std::string> asked;
    facts_lookup lookup() {
        return [this](const std::string& name) -> std::optional<file_facts> {
            asked.push_back(name);
            const auto found = files.find(entry_key(name));
            if (found == files.end()) return std::nullopt;
            return found->second;
        };
    }
};

// The old stamp's record of every file, each file on disk as recorded.
struct old_install {
    install_stamp stamp{"old", {}, {}, {}};
    fake_disk disk;
    void add(const std::string& name, file_record record) {
        stamp.files.push_back(name);
        stamp.records[entry_key(name)] = record;
        disk.files[entry_key(name)] = {record.disk_size, record.modified, 4096};
    }
};

old_install everything_as_recorded() {
    old_install old;
    old.add("Quill Mark.exe", {4, 0x11111111, 4, 1000});
    old.add("data/a.bin", {10, 0x22222222, 10, 2000});
    old.add("data/b.bin", {20, 0x33333333, 20, 3000});
    old.add("twice.txt", {5, 0x5555, 5, 4000});
    return old;
}

TEST(UnchangedEntries, EveryFileAsRecordedIsLeftAloneButDirectoriesAndTwiceWrittenNames) {
    old_install old = everything_as_recorded();
    EXPECT_EQ(unchanged_entries(old.stamp, contents, old.disk.lookup()),
              (std::vector<bool>{true, false, true, true, false, false}));
    // The disk is asked by the name the stamp keeps, never for a directory.
    EXPECT_EQ(old.disk.asked, (std::vector<std::string>{"Quill Mark.exe", "data/a.bin", "data/b.bin"}));
}

TEST(UnchangedEntries, AnyDifferenceInEntryOrFileHasItWritten) {
    const struct {
        const char* why;
        void (*change)(old_install&);
    } cases[] = {
        {"the CRC differs", [](old_install& o) { o.stamp.records["data/a.bin"].crc32 ^= 1; }},
        {"the entry's size differs", [](old_install& o) { o.stamp.records["data/a.bin"].entry_size = 11; }},
        {"the file's size differs", [](old_install& o) { o.disk.files["data/a.bin"].size = 9; }},
        {"the file's time differs", [](old_install& o) { o.disk.files["data/a.bin"].modified += 1; }},
        {"the file is gone", [](old_install& o) { o.disk.files.erase("data/a.bin"); }},
        {"no record (an older stamp's file)", [](old_install& o) { o.stamp.records.erase("data/a.bin"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        old_install old = everything_as_recorded();
        c.change(old);
        const std::vector<bool> unchanged = unchanged_entries(old.stamp, contents, old.disk.lookup());
        ASSERT_EQ(unchanged.size(), contents.entry_count);
        EXPECT_FALSE(unchanged[a_bin]);
        EXPECT_TRUE(unchanged[0]);  // the others stay as they were
        EXPECT_TRUE(unchanged[3]);
    }
}

TEST(UnchangedEntries, AStampWithoutRecordsLeavesNothingAlone) {
    old_install old = everything_as_recorded();
    old.stamp.records.clear();
    EXPECT_EQ(unchanged_entries(old.stamp, contents, old.disk.lookup()),
              std::vector<bool>(contents.entry_count, false));
}

// The stamp's key decides: on Windows case does not count, as in the file system.
TEST(UnchangedEntries, ANameSpelledInOtherCaseIsTheSameFileOnlyOnWindows) {
    old_install old;
    old.add("DATA/A.BIN", {10, 0x22222222, 10, 2000});
    const std::vector<bool> unchanged = unchanged_entries(old.stamp, contents, old.disk.lookup());
#ifdef _WIN32
    EXPECT_TRUE(unchanged[a_bin]);
#else
    EXPECT_FALSE(unchanged[a_bin]);
#endif
}

// -- the records an update carries over ------------------------------------------------

TEST(UpdateRecords, TheUnfinishedStampVouchesOnlyForFilesThatWillNotBeTouched) {
    old_install old = everything_as_recorded();
    old.add("retired.bin", {1, 0x99, 1, 5000});
    const install_stamp new_stamp = stamp_of(contents, contents.identity);
    const std::vector<bool> unchanged = {true, false, false, true, false, false};
    const install_stamp unfinished = unfinished_update_stamp(old.stamp, new_stamp, contents, unchanged);
    EXPECT_EQ(unfinished.identity, unfinished_identity);
    // Every file of either list, so that a start after a kill can clean up either.
    for (const std::string& file : {"Quill Mark.exe", "data/a.bin", "data/b.bin", "twice.txt", "retired.bin"})
        EXPECT_NE(std::find(unfinished.files.begin(), unfinished.files.end(), file), unfinished.files.end())
            << file;
    EXPECT_EQ(unfinished.records,
              (file_records{{entry_key("Quill Mark.exe"), {4, 0x11111111, 4, 1000}},
                            {"data/b.bin", {20, 0x33333333, 20, 3000}}}));
    EXPECT_EQ(kept_records(old.stamp, contents, unchanged), unfinished.records);
    // Nothing unchanged (the unpacking road): no record survives.
    EXPECT_TRUE(unfinished_update_stamp(old.stamp, new_stamp, contents, {}).records.empty());
}

TEST_F(StampRecords, AnUnfinishedStampReadsBackWithExactlyTheKeptRecords) {
    old_install old = everything_as_recorded();
    const std::vector<bool> unchanged = {false, false, true, false, false, false};
    write_stamp(paths, unfinished_update_stamp(old.stamp, stamp_of(contents, "new"), contents, unchanged));
    const std::optional<install_stamp> read = read_stamp(paths);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->identity, unfinished_identity);
    EXPECT_EQ(read->records, (file_records{{"data/a.bin", {10, 0x22222222, 10, 2000}}}));
}

}  // namespace
