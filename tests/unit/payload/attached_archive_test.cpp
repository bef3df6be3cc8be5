// The record the build writes after linking, read back against the file it
// describes: a whole archive is found, a record never written or a file cut
// short is reported naming the launcher.
#include <string>

#include <gtest/gtest.h>

#include "base/exce.hpp"
#include "payload/attached_archive.hpp"
#include "support/scratch_dir.hpp"

namespace {

struct record_case {
    const char* label;
    std::size_t file_size;
    std::uint64_t offset;
    std::uint64_t size;
    std::string message;  // empty: found
};

void PrintTo(const record_case& c, std::ostream* os) { *os << c.label; }

class AttachedArchive : public scratch_dir_test,
                        public ::testing::WithParamInterface<record_case> {};

TEST_P(AttachedArchive, IsFoundOnlyWhenTheFileHoldsAllOfIt) {
    const record_case& c = GetParam();
    write_file("game launcher", std::string(c.file_size, 'x'));
    attached_archive_record record{};
    record.offset = c.offset;
    record.size = c.size;
    try {
        const archive_region region =
            attached_archive_region(record, "game launcher", "C:\\Games\\game launcher.exe");
        EXPECT_EQ(c.message, "");
        EXPECT_EQ(region.file, "game launcher");
        EXPECT_EQ(region.offset, c.offset);
        EXPECT_EQ(region.size, c.size);
    } catch (const exce& error) {
        EXPECT_EQ(error.what(), c.message);
    }
}

const std::string cut =
    ". The launcher is incomplete (was its download cut short?): get it again.";

INSTANTIATE_TEST_SUITE_P(
    Records, AttachedArchive,
    ::testing::Values(
        record_case{"archive_up_to_the_end", 1000, 600, 400, ""},
        record_case{"signature_after_the_archive", 1500, 600, 400, ""},
        record_case{"never_attached", 1000, 0, 0,
                    "could not find the game's archive in \"C:\\Games\\game launcher.exe\": the "
                    "build never attached it to the launcher"},
        record_case{"cut_inside_the_archive", 999, 600, 400,
                    "could not read the game's archive from \"C:\\Games\\game launcher.exe\": "
                    "the file is 999 bytes long, but the archive ends at byte 1000" + cut},
        record_case{"cut_before_the_archive", 500, 600, 400,
                    "could not read the game's archive from \"C:\\Games\\game launcher.exe\": "
                    "the file is 500 bytes long, but the archive ends at byte 1000" + cut}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(AttachedArchive, AMissingFileIsReported) {
    attached_archive_record record{};
    record.offset = 10;
    record.size = 10;
    try {
        attached_archive_region(record, "no such launcher", "no such launcher");
        FAIL() << "a missing file was taken for a launcher";
    } catch (const exce& error) {
        EXPECT_EQ(std::string(error.what())
                      .rfind("could not read the game's archive from \"no such launcher\": ", 0),
                  0u)
            << error.what();
    }
}

}  // namespace
