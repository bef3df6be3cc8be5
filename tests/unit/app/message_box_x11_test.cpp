// How the Linux error box breaks its text into lines, measured here in
// characters (one unit each) instead of pixels.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/message_box_x11.hpp"

namespace {

struct wrap_case {
    const char* label;
    std::string text;
    int width;
    std::vector<std::string> lines;
};
void PrintTo(const wrap_case& c, std::ostream* os) { *os << c.label; }

class WrapText : public ::testing::TestWithParam<wrap_case> {};

TEST_P(WrapText, BreaksIntoLinesThatFit) {
    const auto chars = [](const std::string& line) { return static_cast<int>(line.size()); };
    const std::vector<std::string> lines = wrap_text(GetParam().text, GetParam().width, chars);
    EXPECT_EQ(lines, GetParam().lines);
    for (const std::string& line : lines) EXPECT_LE(chars(line), GetParam().width) << line;
}

INSTANTIATE_TEST_SUITE_P(
    Table, WrapText,
    ::testing::Values(
        wrap_case{"fits_on_one_line", "remove: Directory not empty", 40, {"remove: Directory not empty"}},
        wrap_case{"exactly_the_width", "abcd efgh", 9, {"abcd efgh"}},
        wrap_case{"between_words", "could not write entry", 12, {"could not", "write entry"}},
        wrap_case{"long_word_is_cut", "ab cdefghijkl m", 5, {"ab", "cdefg", "hijkl", "m"}},
        wrap_case{"own_line_breaks_kept", "one\ntwo three", 20, {"one", "two three"}},
        wrap_case{"empty_line_kept", "one\n\ntwo", 20, {"one", "", "two"}},
        wrap_case{"empty_text", "", 20, {""}},
        wrap_case{"path_without_spaces", "\"/a/very/long/path\"", 8,
                  {"\"/a/very", "/long/pa", "th\""}}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
