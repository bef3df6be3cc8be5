// The extraction of an update: the records of what it writes, and the
// entries it is told are unchanged passed over without a byte written.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include "base/fs.hpp"
#include "payload/entry_names.hpp"
#include "payload/extract.hpp"
#include "payload/install.hpp"
#include "payload/payload.hpp"
#include "payload_fixture.hpp"

namespace {

using namespace payload_test;

class ExtractUnchanged : public extraction_test {
protected:
    const std::vector<std::string> names = entry_names("game_tree");
    const tree expected = read_tree(fixture("game_tree.expected"));

    file_records extract_marking(recording_progress& progress, const std::vector<bool>& unchanged) {
        place_archive("game_tree");
        progress_pacer pacer(progress, clock);
        return extract_archive(paths, whole_file_region(paths.temp_archive_path),
                               after_unpacking::remove_file, out, pacer, written, unchanged);
    }
    std::size_t index_of(const std::string& name) const {
        for (std::size_t i = 0; i < names.size(); ++i)
            if (names[i] == name) return i;
        ADD_FAILURE() << name << " is not in the fixture";
        return 0;
    }
    // Every file below the data directory overwritten with a mark of its own.
    void mark_every_file() {
        for (const auto& [name, bytes] : data_tree())
            if (bytes) write_file(paths.data_dir + name, "marked " + name);
    }
};

std::uint32_t crc_of(const std::string& bytes) {
    return static_cast<std::uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(bytes.data()),
              static_cast<uInt>(bytes.size())));
}

TEST_F(ExtractUnchanged, RecordsEveryFileItWritesAsItStandsOnDisk) {
    recording_progress progress(paths);
    const file_records records = extract_marking(progress, {});
    std::size_t files = 0;
    for (const auto& [name, bytes] : expected) {
        if (!bytes) continue;
        ++files;
        SCOPED_TRACE(name);
        const auto record = records.find(entry_key(name));
        ASSERT_NE(record, records.end());
        EXPECT_EQ(record->second.entry_size, bytes->size());
        EXPECT_EQ(record->second.crc32, crc_of(*bytes));
        // The executable's facts are those of its final name, after the rename.
        const std::optional<file_facts> facts = regular_file_facts(paths.data_dir + name);
        ASSERT_TRUE(facts);
        EXPECT_EQ(record->second.disk_size, facts->size);
        EXPECT_EQ(record->second.modified, facts->modified);
    }
    EXPECT_EQ(records.size(), files);
    EXPECT_GT(files, 3u);
}

TEST_F(ExtractUnchanged, MarkedEntriesAreNeitherWrittenNorRecordedAndTheRestAre) {
    recording_progress first(paths);
    extract_marking(first, {});
    mark_every_file();
    const tree marked = data_tree();

    std::vector<bool> unchanged(names.size(), false);
    const std::vector<std::string> left_alone = {"data/big.bin", "Quill Mark.exe", "readme.txt"};
    for (const std::string& name : left_alone) unchanged[index_of(name)] = true;
    unchanged[index_of("data/")] = true;  // a directory entry is made all the same
    fs::remove_all(paths.data_dir + "data/sub");

    recording_progress progress(paths);
    const file_records records = extract_marking(progress, unchanged);
    const tree after = data_tree();
    for (const auto& [name, bytes] : expected) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(after.count(name));
        const bool skipped =
            std::find(left_alone.begin(), left_alone.end(), name) != left_alone.end();
        EXPECT_EQ(after.at(name), skipped ? marked.at(name) : bytes);
        if (bytes) EXPECT_EQ(records.count(entry_key(name)), skipped ? 0u : 1u);
    }
    EXPECT_FALSE(fs::exists(unfinished_executable_path(paths)));
    EXPECT_FALSE(fs::exists(paths.temp_archive_path));
    // The bar moves as in a full unpacking: skipped entries count as done.
    EXPECT_EQ(progress.fractions(), first.fractions());
}

// An unchanged entry is not even opened: a damaged one (a CRC the reader
// would refuse) passes when marked, and fails when not.
TEST_F(ExtractUnchanged, AMarkedEntryIsNotReadFromTheArchive) {
    const std::vector<std::string> damaged = entry_names("crc_deflated");
    ASSERT_EQ(damaged.size(), 3u);
    place_archive("crc_deflated");
    const std::vector<bool> unchanged = {false, false, true};  // the damaged one
    recording_progress progress(paths);
    progress_pacer pacer(progress, clock);
    EXPECT_NO_THROW(extract_archive(paths, whole_file_region(paths.temp_archive_path),
                                    after_unpacking::remove_file, out, pacer, written, unchanged));
    EXPECT_FALSE(fs::exists(paths.data_dir + damaged[2]));
    EXPECT_TRUE(fs::exists(paths.exe_path));
    place_archive("crc_deflated");
    recording_progress again(paths);
    EXPECT_NE(extract(again), "");
}

}  // namespace
