#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <minizip/unzip.h>

#include "payload/archive_file.hpp"
#include "payload_fixture.hpp"

namespace {

using payload_test::fixture;

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
    EXPECT_EQ(transcript(open_archive_file(path, c.window_size)), expected);
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
    unzFile windowed = open_archive_file(path, 64);
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

}  // namespace
