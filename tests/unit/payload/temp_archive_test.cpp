#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/exce.hpp"
#include "payload/payload.hpp"
#include "payload_fixture.hpp"

namespace {

using namespace payload_test;

// A chunk table over `bytes`, cut at `lengths`. Every chunk is followed by a
// byte that does not belong to the archive, as in the launcher's own table.
class chunk_table {
public:
    chunk_table(const std::string& bytes, const std::vector<std::size_t>& lengths) {
        std::size_t at = 0;
        for (std::size_t length : lengths) {
            storage_.emplace_back(bytes.begin() + at, bytes.begin() + at + length);
            storage_.back().push_back(0xEE);
            at += length;
        }
        for (const auto& chunk : storage_)
            chunks_.push_back({chunk.data(), static_cast<std::uint64_t>(chunk.size() - 1)});
    }
    const payload_chunk* data() const { return chunks_.data(); }
    std::size_t size() const { return chunks_.size(); }

private:
    std::vector<std::vector<unsigned char>> storage_;
    std::vector<payload_chunk> chunks_;
};

std::string pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
    return bytes;
}

struct layout_case {
    const char* label;
    std::size_t total;
    std::vector<std::size_t> lengths;
};

void PrintTo(const layout_case& c, std::ostream* os) { *os << c.label; }

class TempArchiveLayout : public extraction_test,
                          public ::testing::WithParamInterface<layout_case> {};

TEST_P(TempArchiveLayout, FileIsTheChunksConcatenatedWithoutTheirExtraBytes) {
    const std::string bytes = pattern(GetParam().total);
    const chunk_table table(bytes, GetParam().lengths);
    write_temp_archive(paths, out, table.data(), table.size(), writing_pacer);
    EXPECT_FALSE(out.is_open());
    EXPECT_EQ(read_bytes(paths.temp_archive_path), bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, TempArchiveLayout,
    ::testing::Values(layout_case{"one_chunk", 5000, {5000}},
                      layout_case{"megabyte_chunks", 3 * 1048576 + 17,
                                  {1048576, 1048576, 1048576, 17}},
                      layout_case{"uneven", 10007, {1, 4096, 9, 5901}},
                      layout_case{"one_byte_chunks", 6, {1, 1, 1, 1, 1, 1}},
                      layout_case{"no_chunks", 0, {}}),
    [](const auto& info) { return std::string(info.param.label); });

using TempArchive = extraction_test;

TEST_F(TempArchive, LongerFileAlreadyThereIsTruncatedNotAppendedTo) {
    scratch_dir_test::write_file(paths.temp_archive_path, std::string(20000, 'o'));
    const std::string bytes = pattern(300);
    const chunk_table table(bytes, {100, 200});
    write_temp_archive(paths, out, table.data(), table.size(), writing_pacer);
    EXPECT_EQ(read_bytes(paths.temp_archive_path), bytes);
}

TEST_F(TempArchive, StreamLeftFailedByAnEarlierCloseStillWrites) {
    out.setstate(std::ios::failbit);
    const std::string bytes = pattern(64);
    const chunk_table table(bytes, {64});
    write_temp_archive(paths, out, table.data(), table.size(), writing_pacer);
    EXPECT_EQ(read_bytes(paths.temp_archive_path), bytes);
}

TEST_F(TempArchive, PathThatCannotBeCreatedIsReportedAsSuch) {
    fs::create_directory(paths.temp_archive_path);
    const std::string bytes = pattern(64);
    const chunk_table table(bytes, {64});
    try {
        write_temp_archive(paths, out, table.data(), table.size(), writing_pacer);
        ADD_FAILURE() << "no error";
    } catch (const exce& error) {
        const std::string text = error.what();
        const std::string start = "could not create the temporary archive \"./~QuillMark_temp\"";
        EXPECT_EQ(text.rfind(start, 0), 0u) << text;
    }
    EXPECT_FALSE(out.is_open());
}

// Every piece written is followed by a tick: a clock that moves a whole
// interval at each reading makes every tick an answer. A chunk is written in
// pieces, so a long chunk does not hold the window up.
TEST_F(TempArchive, TheWindowAnswersAfterEveryPieceOfEveryChunk) {
    const std::size_t piece = temp_archive_piece_size;
    const std::string bytes = pattern(4 * piece + piece / 2 + 3);
    const chunk_table table(bytes, {3 * piece + 1, piece / 2, piece + 2});
    clock.step_ns = progress_pacer::default_interval_ns;
    write_temp_archive(paths, out, table.data(), table.size(), writing_pacer);
    EXPECT_EQ(read_bytes(paths.temp_archive_path), bytes);
    EXPECT_EQ(writing_window.bare_answers(), 4u + 1u + 2u);
    EXPECT_TRUE(writing_window.fractions().empty());  // the bar stays where it was
}

// The archive as the launcher carries it, through both steps: written from
// odd-sized chunks, then unpacked.
TEST_F(TempArchive, WrittenArchiveUnpacksToTheGame) {
    const std::string bytes = read_bytes(fixture("game_tree.zip"));
    ASSERT_GT(bytes.size(), 40000u);
    const chunk_table table(bytes, {12345, 20000, bytes.size() - 32345});
    write_temp_archive(paths, out, table.data(), table.size(), writing_pacer);
    recording_progress progress(paths);
    ASSERT_EQ(extract(progress), "");
    EXPECT_EQ(data_tree(), read_tree(fixture("game_tree.expected")));
    EXPECT_FALSE(fs::exists(paths.temp_archive_path));
}

#ifndef _WIN32
// A full disk without a small file system: /dev/full takes the open and
// refuses every byte.
struct short_write_case {
    const char* label;
    std::vector<std::size_t> lengths;
};

void PrintTo(const short_write_case& c, std::ostream* os) { *os << c.label; }

class TempArchiveFullDisk : public extraction_test,
                            public ::testing::WithParamInterface<short_write_case> {};

TEST_P(TempArchiveFullDisk, ShortWriteIsReportedNamingTheTemporaryArchive) {
    paths.temp_archive_path = "/dev/full";
    std::size_t total = 0;
    for (std::size_t length : GetParam().lengths) total += length;
    const chunk_table table(pattern(total), GetParam().lengths);
    try {
        write_temp_archive(paths, out, table.data(), table.size(), writing_pacer);
        ADD_FAILURE() << "no error";
    } catch (const exce& error) {
        EXPECT_EQ(std::string(error.what()),
                  "could not write the temporary archive \"/dev/full\": No space left on device");
    }
    EXPECT_FALSE(out.is_open());
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, TempArchiveFullDisk,
    ::testing::Values(short_write_case{"megabyte_chunk_fails_at_once", {1048576, 1048576}},
                      short_write_case{"small_chunks_fail_when_closed", {10, 20}}),
    [](const auto& info) { return std::string(info.param.label); });
#endif

}  // namespace
