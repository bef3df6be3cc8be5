#include "launch/watch.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <iterator>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "launch/desktop_icon.hpp"

namespace {

constexpr std::int64_t ms = 1'000'000;
constexpr std::int64_t s = 1'000 * ms;
constexpr std::uint32_t game = 4242;
constexpr desktop::icon launcher_icon = 0x1c0;

struct fake_window {
    desktop::window handle;
    std::optional<std::uint32_t> owner;  // nothing: the owner cannot be told
    std::int64_t appears_after = 0;      // fake time since the watch began
    bool hung = false;                   // never takes a message: each send times out
};

struct event {
    enum kind_t { small_icon, big_icon, pause } kind;
    desktop::window window = 0;
    desktop::icon image = 0;
    unsigned ms = 0;  // the send's timeout, or the sleep's length
    std::int64_t at = 0;
};

// A desktop whose windows and clock the test decides. Every clock reading
// moves the clock on by `step`; sleeps and timed-out sends move it by their
// length; scripted readings, while there are any, are returned first.
class fake_desktop final : public desktop {
public:
    std::vector<fake_window> windows;
    std::int64_t clock = 1'000 * s;  // an arbitrary, non-zero origin
    std::int64_t step = 1 * ms;
    std::deque<std::int64_t> scripted;  // readings, as time since the origin
    int fail_at_pass = 0;               // 0: every pass succeeds

    int passes = 0;
    int visits = 0;
    int loads = 0;
    std::int64_t first_reading = -1;
    std::vector<event> events;
    std::map<desktop::window, int> handovers;

    std::int64_t elapsed() const { return clock - (first_reading < 0 ? clock : first_reading); }

    bool enumerate_windows(const std::function<bool(window)>& visit) override {
        ++passes;
        if (passes > 100'000) throw std::runtime_error("the watch does not end");
        if (passes == fail_at_pass) return false;
        const std::int64_t now = elapsed();
        for (const fake_window& w : windows) {
            if (w.appears_after > now) continue;
            ++visits;
            if (!visit(w.handle)) return false;
        }
        return true;
    }

    std::optional<std::uint32_t> window_process(window w) override { return find(w).owner; }

    icon load_icon() override {
        ++loads;
        return launcher_icon;
    }

    void send_icon(window w, icon_kind kind, icon image, unsigned timeout_ms) override {
        events.push_back({kind == icon_kind::icon_small ? event::small_icon : event::big_icon, w, image,
                          timeout_ms, elapsed()});
        if (kind == icon_kind::icon_big) ++handovers[w];
        if (find(w).hung) clock += timeout_ms * ms;
    }

    std::int64_t now_ns() override {
        if (!scripted.empty()) {
            clock = origin + scripted.front();
            scripted.pop_front();
        } else {
            clock += step;
        }
        if (first_reading < 0) first_reading = clock;
        return clock;
    }

    void sleep_ms(unsigned milliseconds) override {
        events.push_back({event::pause, 0, 0, milliseconds, elapsed()});
        clock += milliseconds * ms;
    }

private:
    const std::int64_t origin = clock;

    const fake_window& find(window w) const {
        for (const fake_window& candidate : windows)
            if (candidate.handle == w) return candidate;
        throw std::logic_error("visit of a window the desktop never offered");
    }
};

std::vector<fake_window> game_windows(int count, desktop::window first = 100) {
    std::vector<fake_window> out;
    for (int i = 0; i < count; ++i) out.push_back({first + static_cast<desktop::window>(i), game});
    return out;
}

struct watch_case {
    const char* label;
    std::vector<fake_window> windows;
    std::uint32_t process_id;
    std::int64_t step;
    int fail_at_pass;
    // What the watch must have done:
    int handovers;
    std::map<desktop::window, int> per_window;  // windows not named got nothing
    int passes;                                  // -1: not checked
    bool paused;                                 // ended with the 250 ms pause
    std::int64_t end_min, end_max;               // elapsed fake time at the end
};

void PrintTo(const watch_case& c, std::ostream* os) { *os << c.label; }

std::vector<watch_case> watch_cases() {
    std::vector<watch_case> cases;

    cases.push_back({"single_window_from_the_start", {{7, game}}, game, 1 * ms, 0,
                     20, {{7, 20}}, 20, true, 250 * ms, 300 * ms});

    // The game's window and its thread's hidden IME window: 10 passes.
    cases.push_back({"two_game_windows_among_others",
                     {{1, 55u}, {2, game}, {3, 56u}, {4, game}, {5, std::nullopt}}, game, 1 * ms, 0,
                     20, {{2, 10}, {4, 10}}, 10, true, 250 * ms, 400 * ms});

    {
        watch_case c{"twenty_five_windows_end_the_first_pass", game_windows(25), game, 1 * ms, 0,
                     20, {}, 1, true, 250 * ms, 300 * ms};
        for (int i = 0; i < 20; ++i) c.per_window[100 + i] = 1;
        cases.push_back(c);
    }

    cases.push_back({"window_appearing_five_seconds_in",
                     {{1, 55u}, {2, game, 5 * s}, {3, 56u}}, game, 1 * ms, 0,
                     20, {{2, 20}}, -1, true, 5 * s + 250 * ms, 5 * s + 400 * ms});

    // No window can belong to process 0, not even one whose owner is unknown.
    cases.push_back({"process_id_zero_ends_by_time",
                     {{1, 55u}, {2, std::nullopt}, {3, 56u}}, 0, 1 * ms, 0,
                     0, {}, -1, false, default_watch_time_limit_ns, default_watch_time_limit_ns});

    cases.push_back({"no_game_window_ends_at_exactly_the_limit", {{1, 55u}, {2, 56u}}, game,
                     1 * ms, 0, 0, {}, 4001, false, 8'001 * ms, 8'001 * ms});

    cases.push_back({"failed_enumeration_ends_the_watch", {{7, game}}, game, 1 * ms, 3,
                     2, {{7, 2}}, 3, false, 0, 10 * ms});

    cases.push_back({"failed_first_enumeration_hands_nothing_over", {{7, game}}, game, 1 * ms, 1,
                     0, {}, 1, false, 0, 0});

    // The time is tested only inside visits; a desktop with no windows must
    // still end, and soon after the limit.
    cases.push_back({"empty_desktop_ends_by_time", {}, game, 1 * ms, 0,
                     0, {}, -1, false, 8'001 * ms, 8'051 * ms});

    // Each send to a hung window times out after its bound: 4 s a hand-over
    // at most, so the watch ends by time after a few hand-overs.
    cases.push_back({"hung_window_costs_at_most_the_bound", {{1, 55u}, {7, game, 0, true}},
                     game, 1 * ms, 0, -1, {}, -1, false, 8'001 * ms, 8'001 * ms + 10 * s});
    return cases;
}

class WatchRules : public ::testing::TestWithParam<watch_case> {};

TEST_P(WatchRules, HandsOverAndEndsAsTheRulesSay) {
    const watch_case& c = GetParam();
    fake_desktop screen;
    screen.windows = c.windows;
    screen.step = c.step;
    screen.fail_at_pass = c.fail_at_pass;
    watch_state state;

    watch_windows(screen, state, c.process_id);

    EXPECT_EQ(state.watch_start, screen.first_reading);
    if (c.handovers >= 0) {
        EXPECT_EQ(state.handover_count, c.handovers);
        EXPECT_EQ(screen.handovers, c.per_window);
    }
    if (c.passes >= 0) EXPECT_EQ(screen.passes, c.passes);
    EXPECT_GE(screen.elapsed(), c.end_min);
    EXPECT_LE(screen.elapsed(), c.end_max);

    // Every hand-over: a fresh load, then small and big with that one icon.
    std::vector<event> messages;
    for (const event& e : screen.events)
        if (e.kind != event::pause) messages.push_back(e);
    ASSERT_EQ(messages.size(), 2u * static_cast<std::size_t>(state.handover_count));
    EXPECT_EQ(screen.loads, state.handover_count);
    for (std::size_t i = 0; i < messages.size(); ++i) {
        EXPECT_EQ(messages[i].kind, i % 2 == 0 ? event::small_icon : event::big_icon) << i;
        EXPECT_EQ(messages[i].image, launcher_icon) << i;
        if (i % 2 == 1) EXPECT_EQ(messages[i].window, messages[i - 1].window) << i;
        EXPECT_GT(messages[i].ms, 0u) << "an unbounded wait for the game";
        EXPECT_LE(messages[i].ms, 5000u) << "more than a few seconds per message";
    }

    const bool ended_with_pause = !screen.events.empty() &&
                                  screen.events.back().kind == event::pause &&
                                  screen.events.back().ms == 250 && !messages.empty() &&
                                  screen.events[screen.events.size() - 2].kind == event::big_icon;
    EXPECT_EQ(ended_with_pause, c.paused);
    int pauses = 0;
    for (const event& e : screen.events) pauses += e.kind == event::pause && e.ms >= 250;
    EXPECT_EQ(pauses, c.paused ? 1 : 0) << "the 250 ms pause comes once, at the end";
}

INSTANTIATE_TEST_SUITE_P(
    Desktops, WatchRules, ::testing::ValuesIn(watch_cases()),
    [](const ::testing::TestParamInfo<watch_case>& info) { return std::string(info.param.label); });

TEST(WatchRulesDetail, WindowAppearingLateIsServedFromWhenItAppears) {
    fake_desktop screen;
    screen.windows = {{1, 55u}, {2, game, 5 * s}};
    watch_state state;
    watch_windows(screen, state, game);
    ASSERT_FALSE(screen.events.empty());
    EXPECT_GE(screen.events.front().at, 5 * s);
    EXPECT_LT(screen.events.front().at, 5 * s + 10 * ms);
}

TEST(WatchRulesDetail, HungWindowStillCountsEveryHandOver) {
    fake_desktop screen;
    screen.windows = {{7, game, 0, true}};
    watch_state state;
    watch_windows(screen, state, game);
    // Nothing was ever taken, yet each hand-over counted and the watch went
    // on until the time had run out.
    EXPECT_GE(state.handover_count, 1);
    EXPECT_LT(state.handover_count, 20);
    EXPECT_EQ(screen.handovers[7], state.handover_count);
    EXPECT_GE(screen.elapsed(), default_watch_time_limit_ns);
}

// Scripted clock readings (time since the first one): the watch begins at
// 0; each later reading belongs to one visit.
struct timing_case {
    const char* label;
    std::vector<fake_window> windows;
    std::deque<std::int64_t> readings;
    int visits;
    int handovers;
};

void PrintTo(const timing_case& c, std::ostream* os) { *os << c.label; }

class WatchTiming : public ::testing::TestWithParam<timing_case> {};

TEST_P(WatchTiming, StopsAtTheFirstVisitAtOrAfterTheLimit) {
    const timing_case& c = GetParam();
    fake_desktop screen;
    screen.windows = c.windows;
    screen.scripted = c.readings;
    // Past the script the clock stands well beyond the limit, so a watch
    // that misses its stop still ends (with the wrong count of visits).
    screen.scripted.push_back(100 * s);
    screen.step = 0;
    watch_state state;
    watch_windows(screen, state, game);
    EXPECT_EQ(screen.visits, c.visits);
    EXPECT_EQ(state.handover_count, c.handovers);
}

INSTANTIATE_TEST_SUITE_P(
    Readings, WatchTiming,
    ::testing::Values(
        timing_case{"one_nanosecond_short_goes_on", {{1, 55u}, {2, 56u}},
                    {0, 8'000'999'999, 8'001'000'000}, 2, 0},
        timing_case{"exactly_the_limit_stops", {{1, 55u}, {2, 56u}}, {0, 8'001'000'000}, 1, 0},
        timing_case{"eight_seconds_is_not_yet_the_limit", {{1, 55u}}, {0, 8 * s, 8'001 * ms}, 2,
                    0},
        // The game's window met after the limit still receives the icon
        // before the visit ends the watch.
        timing_case{"game_window_after_the_limit_still_served", {{1, 55u}, {2, game}},
                    {0, 7 * s, 9 * s}, 2, 1},
        timing_case{"game_window_alone_after_the_limit", {{2, game}}, {0, 20 * s}, 1, 1}),
    [](const ::testing::TestParamInfo<timing_case>& info) { return std::string(info.param.label); });

// The limit travels with the watch: a test launcher's short one and the
// shipped 8.001 s follow the same rule.
struct limit_case {
    const char* label;
    std::int64_t limit;
};

void PrintTo(const limit_case& c, std::ostream* os) { *os << c.label; }

class WatchLimit : public ::testing::TestWithParam<limit_case> {};

TEST_P(WatchLimit, StopsAtTheFirstVisitAtOrAfterItsOwnLimit) {
    const limit_case& c = GetParam();
    fake_desktop screen;
    screen.windows = {{1, 55u}, {2, 56u}, {3, 57u}};
    screen.scripted = {0, c.limit - 1, c.limit, 100 * s};
    screen.step = 0;
    watch_state state;
    state.time_limit_ns = c.limit;
    watch_windows(screen, state, game);
    EXPECT_EQ(screen.visits, 2);
    EXPECT_EQ(state.handover_count, 0);
}

TEST_P(WatchLimit, EmptyDesktopEndsSoonAfterItsOwnLimit) {
    const limit_case& c = GetParam();
    fake_desktop screen;
    watch_state state;
    state.time_limit_ns = c.limit;
    watch_windows(screen, state, game);
    EXPECT_GE(screen.elapsed(), c.limit);
    EXPECT_LE(screen.elapsed(), c.limit + 50 * ms);
}

INSTANTIATE_TEST_SUITE_P(
    Limits, WatchLimit,
    ::testing::Values(limit_case{"test_launchers_300_ms", 300 * ms},
                      limit_case{"shipped_8001_ms", 8'001 * ms},
                      limit_case{"twenty_seconds", 20 * s}),
    [](const ::testing::TestParamInfo<limit_case>& info) { return std::string(info.param.label); });

TEST(WatchState, StartsWithTheShippedLimitAndNoHandOvers) {
    const watch_state state;
    EXPECT_EQ(state.time_limit_ns, 8'001'000'000);
    EXPECT_EQ(state.handover_count, 0);
}

TEST(WatchState, CountCarriesOverFromAnEarlierWatch) {
    // The count is never reset: a second watch in the same run starts from it.
    fake_desktop screen;
    screen.windows = {{7, game}};
    watch_state state;
    state.handover_count = 18;
    watch_windows(screen, state, game);
    EXPECT_EQ(state.handover_count, 20);
    EXPECT_EQ(screen.handovers[7], 2);
}

TEST(WatchState, VisitOfAnotherProcessOnlyReadsTheClock) {
    fake_desktop screen;
    screen.windows = {{1, 55u}, {2, game}};
    watch_state state;
    state.watch_start = screen.now_ns();
    EXPECT_TRUE(visit_window(screen, state, 1, game));
    EXPECT_TRUE(screen.events.empty());
    EXPECT_TRUE(visit_window(screen, state, 2, game));
    EXPECT_EQ(state.handover_count, 1);
    EXPECT_EQ(screen.events.size(), 2u);
}

TEST(WatchClock, IsMonotonicAndTheSleepLastsAtLeastItsTime) {
    const std::int64_t before = monotonic_ns();
    sleep_for_ms(30);
    const std::int64_t after = monotonic_ns();
    EXPECT_GE(after - before, 30 * ms);
    EXPECT_LT(after - before, 5 * s);
    EXPECT_GE(monotonic_ns(), after);
}

// ---- the icon as pixel data ------------------------------------------------

struct bgra {
    unsigned char b, g, r, a;
};

// An .ico file with one image; `rows` are given top row first.
std::vector<unsigned char> make_ico(int width, int height, int bits,
                                    const std::vector<std::vector<bgra>>& rows,
                                    const std::vector<std::vector<int>>& mask = {}) {
    auto put = [](std::vector<unsigned char>& out, std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
    };
    std::vector<unsigned char> image;
    put(image, 40, 4);
    put(image, static_cast<std::uint32_t>(width), 4);
    put(image, static_cast<std::uint32_t>(2 * height), 4);
    put(image, 1, 2);
    put(image, static_cast<std::uint32_t>(bits), 2);
    for (int i = 0; i < 6; ++i) put(image, 0, 4);
    for (int y = height - 1; y >= 0; --y)
        for (const bgra& p : rows[static_cast<std::size_t>(y)]) {
            image.push_back(p.b);
            image.push_back(p.g);
            image.push_back(p.r);
            if (bits == 32) image.push_back(p.a);
        }
    const int mask_row = (width + 31) / 32 * 4;
    for (int y = height - 1; y >= 0; --y) {
        std::vector<unsigned char> row(static_cast<std::size_t>(mask_row), 0);
        for (int x = 0; x < width; ++x)
            if (!mask.empty() && mask[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)])
                row[static_cast<std::size_t>(x / 8)] |= static_cast<unsigned char>(0x80 >> (x % 8));
        image.insert(image.end(), row.begin(), row.end());
    }
    std::vector<unsigned char> file;
    put(file, 0, 2);
    put(file, 1, 2);
    put(file, 1, 2);
    file.push_back(static_cast<unsigned char>(width));
    file.push_back(static_cast<unsigned char>(height));
    file.push_back(0);
    file.push_back(0);
    put(file, 1, 2);
    put(file, static_cast<std::uint32_t>(bits), 2);
    put(file, static_cast<std::uint32_t>(image.size()), 4);
    put(file, 22, 4);
    file.insert(file.end(), image.begin(), image.end());
    return file;
}

// One .ico file of the images of several one-image files, in their order.
std::vector<unsigned char> join_icos(const std::vector<std::vector<unsigned char>>& files) {
    constexpr std::size_t dir_size = 6, entry_size = 16;
    std::vector<unsigned char> out = {0, 0, 1, 0, static_cast<unsigned char>(files.size()), 0};
    std::size_t offset = dir_size + entry_size * files.size();
    std::vector<unsigned char> images;
    for (const auto& file : files) {
        std::vector<unsigned char> entry(file.begin() + dir_size, file.begin() + dir_size + entry_size);
        for (int i = 0; i < 4; ++i) entry[12 + i] = static_cast<unsigned char>(offset >> (8 * i));
        out.insert(out.end(), entry.begin(), entry.end());
        images.insert(images.end(), file.begin() + dir_size + entry_size, file.end());
        offset += file.size() - dir_size - entry_size;
    }
    out.insert(out.end(), images.begin(), images.end());
    return out;
}

struct icon_case {
    const char* label;
    std::vector<unsigned char> file;
    std::vector<unsigned long> expected;  // empty: refused
};

void PrintTo(const icon_case& c, std::ostream* os) { *os << c.label; }

std::vector<icon_case> icon_cases() {
    const std::vector<std::vector<bgra>> two_by_two = {
        {{0x01, 0x02, 0x03, 0xFF}, {0x10, 0x20, 0x30, 0x80}},
        {{0xAA, 0xBB, 0xCC, 0x00}, {0x00, 0x00, 0xFF, 0x40}}};
    const std::vector<std::vector<bgra>> no_alpha = {
        {{0x01, 0x02, 0x03, 0}, {0x10, 0x20, 0x30, 0}},
        {{0xAA, 0xBB, 0xCC, 0}, {0x00, 0x00, 0xFF, 0}}};
    std::vector<icon_case> cases;
    cases.push_back({"alpha_image_top_row_first", make_ico(2, 2, 32, two_by_two),
                     {2, 2, 0xFF030201, 0x80302010, 0x00CCBBAA, 0x40FF0000}});
    cases.push_back({"zero_alpha_takes_the_mask", make_ico(2, 2, 32, no_alpha, {{1, 0}, {0, 1}}),
                     {2, 2, 0x00030201, 0xFF302010, 0xFFCCBBAA, 0x00FF0000}});
    cases.push_back({"twenty_four_bits_refused", make_ico(2, 2, 24, two_by_two), {}});
    {
        auto file = make_ico(2, 2, 32, two_by_two);
        file[2] = 2;  // a cursor file
        cases.push_back({"cursor_refused", file, {}});
    }
    {
        auto file = make_ico(2, 2, 32, two_by_two);
        file.resize(file.size() - 20);
        cases.push_back({"truncated_image_refused", file, {}});
    }
    {
        auto file = make_ico(2, 2, 32, two_by_two);
        const unsigned char png[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
        std::copy(std::begin(png), std::end(png), file.begin() + 22);
        cases.push_back({"png_image_refused", file, {}});
    }
    cases.push_back({"empty_file_refused", {}, {}});
    {
        const std::vector<std::vector<bgra>> one = {{{0x11, 0x22, 0x33, 0xFF}}};
        cases.push_back({"every_size_one_after_the_other",
                         join_icos({make_ico(2, 2, 32, two_by_two), make_ico(1, 1, 32, one)}),
                         {2, 2, 0xFF030201, 0x80302010, 0x00CCBBAA, 0x40FF0000, 1, 1, 0xFF332211}});
        auto png = make_ico(2, 2, 32, two_by_two);
        const unsigned char signature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
        std::copy(std::begin(signature), std::end(signature), png.begin() + 22);
        cases.push_back({"images_it_cannot_read_are_left_out",
                         join_icos({png, make_ico(2, 2, 24, two_by_two), make_ico(1, 1, 32, one)}),
                         {1, 1, 0xFF332211}});
        auto short_directory = join_icos({make_ico(1, 1, 32, one), make_ico(1, 1, 32, one)});
        short_directory.resize(6 + 16 + 8);  // the second entry cut off
        cases.push_back({"directory_past_the_end_refused", short_directory, {}});
    }
    return cases;
}

class IconPixels : public ::testing::TestWithParam<icon_case> {};

TEST_P(IconPixels, DecodesOrRefuses) {
    const icon_case& c = GetParam();
    EXPECT_EQ(icon_argb(c.file.data(), c.file.size()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Files, IconPixels, ::testing::ValuesIn(icon_cases()),
    [](const ::testing::TestParamInfo<icon_case>& info) { return std::string(info.param.label); });

TEST(LauncherIcon, IsTheThirtyTwoPixelPictureOfMakeIcon) {
    const std::vector<unsigned long> argb = icon_argb(launcher_icon_file, launcher_icon_file_size);
    ASSERT_EQ(argb.size(), 2u + 32u * 32u);
    EXPECT_EQ(argb[0], 32u);
    EXPECT_EQ(argb[1], 32u);
    auto at = [&](int x, int y) { return argb[2 + static_cast<std::size_t>(y) * 32 + x]; };
    // resources/make_icon.sh: a #1d4e89 rounded square with clear corners
    // and a white ring through (15, 7).
    EXPECT_EQ(at(0, 0), 0x00000000u);
    EXPECT_EQ(at(31, 31), 0x00000000u);
    EXPECT_EQ(at(3, 16), 0xFF1D4E89u);
    EXPECT_EQ(at(16, 2), 0xFF1D4E89u);
    EXPECT_EQ(at(15, 7), 0xFFFFFFFFu);
}

}  // namespace
