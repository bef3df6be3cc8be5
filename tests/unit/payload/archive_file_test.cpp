#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <minizip/unzip.h>

#include "payload/archive_file.hpp"
#include "payload_fixture.hpp"

namespace {

using payload_test::fixture;
using payload_test::read_bytes;

// Everything the extraction asks minizip, in its order, with every result:
// the windowed reader must give what the default one gives, byte for byte.
std::vector<std::string> transcript(unzFile archive) {
    std::vector<std::string> said;
    unz_global_info global;
    const int got_global = unzGetGlobalInfo(archive, &global);
    said.push_back("global " + std::to_string(got_global));
    if (got_global != UNZ_OK) {
        unzClose(archive);
        return said;
    }
    said.push_back("entries " + std::to_string(global.number_entry));
    for (uLong i = 0; i < global.number_entry; ++i) {
        unz_file_info info;
        char name[512];
        const int got_info =
            unzGetCurrentFileInfo(archive, &info, name, sizeof name, nullptr, 0, nullptr, 0);
        said.push_back("info " + std::to_string(got_info) + " " + name);
        if (got_info != UNZ_OK) break;
        const int opened = unzOpenCurrentFile(archive);
        said.push_back("open " + std::to_string(opened));
        if (opened == UNZ_OK) {
            std::string bytes;
            char block[8192];
            int read;
            while ((read = unzReadCurrentFile(archive, block, sizeof block)) > 0)
                bytes.append(block, static_cast<std::size_t>(read));
            said.push_back("read " + std::to_string(read) + " " + bytes);
        }
        said.push_back("close " + std::to_string(unzCloseCurrentFile(archive)));
        if (i + 1 < global.number_entry) {
            const int next = unzGoToNextFile(archive);
            said.push_back("next " + std::to_string(next));
            if (next != UNZ_OK) break;
        }
    }
    unzClose(archive);
    return said;
}

struct window_case {
    const char* archive;
    std::size_t window_size;
};

void PrintTo(const window_case& c, std::ostream* os) {
    *os << c.archive << " through windows of " << c.window_size;
}

class WindowedArchive : public ::testing::TestWithParam<window_case> {};

TEST_P(WindowedArchive, ReadsWhatTheDefaultReaderReads) {
    const window_case& c = GetParam();
    const std::string path = fixture(c.archive).string();
    const std::vector<std::string> expected = transcript(unzOpen64(path.c_str()));
    ASSERT_GT(expected.size(), 1u) << "the default reader could not open " << path;
    EXPECT_EQ(transcript(open_archive_region(whole_file_region(path), c.window_size)), expected);
}

// Windows far smaller than minizip's 16 KiB reads send those to the file
// directly and refill at every header; one just above and the real size
// serve them from memory; the game tree's 100 kB entry spans many windows.
const std::vector<window_case> window_cases = {
    {"game_tree.zip", 64},         {"game_tree.zip", 1000},
    {"game_tree.zip", 16 * 1024},  {"game_tree.zip", 16 * 1024 + 1},
    {"game_tree.zip", archive_window_size},
    {"many.zip", 64},              {"many.zip", 4096},
    {"many.zip", archive_window_size},
    {"mixed.zip", 100},            {"mixed.zip", archive_window_size},
    {"backslash.zip", 64},         {"empty.zip", 64},
    {"empty.zip", archive_window_size},
    {"damaged_deflate.zip", 512},  {"damaged_deflate.zip", archive_window_size},
    {"crc_deflated.zip", 512},     {"crc_stored.zip", archive_window_size},
    {"bad_local_header.zip", 128}, {"unknown_method.zip", 128},
};

INSTANTIATE_TEST_SUITE_P(Fixtures, WindowedArchive, ::testing::ValuesIn(window_cases),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

// Archives the default reader cannot open: the windowed one fails as well.
class UnreadableArchive : public ::testing::TestWithParam<const char*> {};

TEST_P(UnreadableArchive, FailsLikeTheDefaultReader) {
    const std::string path = fixture(GetParam()).string();
    unzFile windowed = open_archive_region(whole_file_region(path), 64);
    unzFile plain = unzOpen64(path.c_str());
    unz_global_info global;
    EXPECT_EQ(unzGetGlobalInfo(windowed, &global), unzGetGlobalInfo(plain, &global));
    EXPECT_EQ(windowed == nullptr, plain == nullptr);
    unzClose(windowed);
    unzClose(plain);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, UnreadableArchive,
                         ::testing::Values("truncated.zip", "not_a_zip.zip", "empty_file.zip",
                                           "no such archive.zip"));

// -- an archive as a region of a larger file ---------------------------------------

// Bytes that tell their own position apart: no two windows read alike.
std::string pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
    return bytes;
}

struct region_case {
    const char* label;
    std::size_t file_size;
    std::uint64_t offset;
    std::uint64_t size;
    std::size_t window_size;
};

void PrintTo(const region_case& c, std::ostream* os) { *os << c.label; }

// The reader driven as minizip drives it, against what the file holds.
class RegionReader : public scratch_dir_test, public ::testing::WithParamInterface<region_case> {
protected:
    void SetUp() override {
        scratch_dir_test::SetUp();
        const region_case& c = GetParam();
        file_bytes = pattern(c.file_size);
        write_file("launcher.bin", file_bytes);
        region = {"launcher.bin", c.offset, c.size};
        request = {&region, c.window_size};
        functions = region_file_functions();
        stream = functions.zopen64_file(functions.opaque, &request, 0);
        ASSERT_NE(stream, nullptr);
    }
    void TearDown() override {
        if (stream) EXPECT_EQ(functions.zclose_file(functions.opaque, stream), 0);
        scratch_dir_test::TearDown();
    }

    // What a read of `length` at `position` must give: the region's bytes
    // only, and of those only what the file holds.
    std::string expected(std::uint64_t position, std::size_t length) const {
        const std::uint64_t end = std::min<std::uint64_t>(region.offset + region.size,
                                                          file_bytes.size());
        const std::uint64_t from = region.offset + position;
        if (position >= region.size || from >= end) return "";
        return file_bytes.substr(from, std::min<std::uint64_t>(length, end - from));
    }
    std::string read(std::size_t length) {
        std::string into(length, '\0');
        const uLong got =
            functions.zread_file(functions.opaque, stream, into.data(), static_cast<uLong>(length));
        into.resize(got);
        return into;
    }
    long seek(ZPOS64_T offset, int origin) {
        return functions.zseek64_file(functions.opaque, stream, offset, origin);
    }
    ZPOS64_T tell() { return functions.ztell64_file(functions.opaque, stream); }

    std::string file_bytes;
    archive_region region;
    region_request request{};
    zlib_filefunc64_def functions{};
    voidpf stream = nullptr;
};

TEST_P(RegionReader, StartsAtTheRegionsFirstByte) {
    EXPECT_EQ(tell(), 0u);
    EXPECT_EQ(read(10), expected(0, 10));
    EXPECT_EQ(tell(), expected(0, 10).size());
}

TEST_P(RegionReader, EndIsTheRegionsEndNotTheFiles) {
    ASSERT_EQ(seek(0, ZLIB_FILEFUNC_SEEK_END), 0);
    EXPECT_EQ(tell(), region.size);
    EXPECT_EQ(read(16), "");  // the bytes after the region (a signature) stay unseen
    // minizip looks back from the end for the end-of-central-directory record.
    ASSERT_EQ(seek(static_cast<ZPOS64_T>(-22), ZLIB_FILEFUNC_SEEK_END), 0);
    EXPECT_EQ(tell(), region.size - 22);
    EXPECT_EQ(read(100), expected(region.size - 22, 100));
}

TEST_P(RegionReader, ReadsStopAtTheRegionsEnd) {
    for (const std::size_t length : {std::size_t{5}, std::size_t{1000}, std::size_t{70000}}) {
        SCOPED_TRACE(length);
        const std::uint64_t at = region.size > 3 ? region.size - 3 : 0;
        ASSERT_EQ(seek(at, ZLIB_FILEFUNC_SEEK_SET), 0);
        EXPECT_EQ(read(length), expected(at, length));
        ASSERT_EQ(seek(region.size + 100, ZLIB_FILEFUNC_SEEK_SET), 0);
        EXPECT_EQ(read(length), "");
    }
}

TEST_P(RegionReader, AnySequenceOfSeeksAndReadsGivesTheRegionsBytes) {
    std::mt19937_64 random(GetParam().file_size * 31 + GetParam().offset);
    std::uint64_t position = 0;
    for (int step = 0; step < 2000; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        switch (random() % 4) {
        case 0:
            position = random() % (region.size + 50);
            ASSERT_EQ(seek(position, ZLIB_FILEFUNC_SEEK_SET), 0);
            break;
        case 1: {
            const std::uint64_t forward = random() % 300;
            position += forward;
            ASSERT_EQ(seek(forward, ZLIB_FILEFUNC_SEEK_CUR), 0);
            break;
        }
        case 2: {
            const std::uint64_t back = random() % (region.size + 1);
            position = region.size - back;
            ASSERT_EQ(seek(0 - back, ZLIB_FILEFUNC_SEEK_END), 0);
            break;
        }
        default: {
            // Mostly minizip's small reads; now and then one past a window.
            const std::size_t length = random() % 8 == 0 ? random() % 80000 : random() % 600;
            const std::string want = expected(position, length);
            ASSERT_EQ(read(length), want) << "at " << position << ", " << length << " bytes";
            position += want.size();
        }
        }
        ASSERT_EQ(tell(), position);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Regions, RegionReader,
    ::testing::Values(
        region_case{"whole_file", 100000, 0, 100000, archive_window_size},
        region_case{"whole_file_small_windows", 100000, 0, 100000, 64},
        region_case{"inside_with_bytes_after", 200000, 70001, 100000, archive_window_size},
        region_case{"inside_small_windows", 200000, 70001, 100000, 7},
        region_case{"windows_larger_than_the_region", 5000, 1000, 3000, archive_window_size},
        region_case{"at_the_files_end", 150000, 50000, 100000, 4096},
        // A cut file: the region says more than the file holds.
        region_case{"file_ends_inside_the_region", 120000, 60000, 100000, 4096}),
    [](const auto& info) { return std::string(info.param.label); });

// A fixture archive placed inside a file, with a stub before it and another
// archive after it (a signature could hold anything): minizip must see the
// region alone, byte for byte as the archive's own file.
struct embedded_case {
    const char* archive;
    std::size_t stub;
    std::size_t window_size;
};

void PrintTo(const embedded_case& c, std::ostream* os) {
    *os << c.archive << " after " << c.stub << " bytes, windows of " << c.window_size;
}

class EmbeddedArchive : public scratch_dir_test,
                        public ::testing::WithParamInterface<embedded_case> {};

TEST_P(EmbeddedArchive, ReadsAsTheArchiveAlone) {
    const embedded_case& c = GetParam();
    const std::string archive_path = fixture(c.archive).string();
    const std::string archive = read_bytes(archive_path);
    // Another whole archive after the region: a reader that looked at the
    // file's end would find its end record instead.
    const std::string after = read_bytes(fixture("many.zip"));
    write_file("launcher.bin", pattern(c.stub) + archive + after);
    const archive_region region{"launcher.bin", c.stub, archive.size()};

    const std::vector<std::string> expected = transcript(unzOpen64(archive_path.c_str()));
    ASSERT_GT(expected.size(), 1u);
    EXPECT_EQ(transcript(open_archive_region(region, c.window_size)), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, EmbeddedArchive,
    ::testing::Values(embedded_case{"game_tree.zip", 1, archive_window_size},
                      embedded_case{"game_tree.zip", 1300000, 64},
                      embedded_case{"mixed.zip", 4097, 1000},
                      embedded_case{"empty.zip", 10, archive_window_size},
                      embedded_case{"crc_deflated.zip", 333, 512}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

}  // namespace
