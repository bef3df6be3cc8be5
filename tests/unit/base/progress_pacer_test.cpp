#include "base/progress_pacer.hpp"

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/fake_clock.hpp"

namespace {

constexpr std::int64_t ms = 1'000'000;

// Records what reached the window, with the clock's time in milliseconds.
class recording_display final : public progress_display {
public:
    explicit recording_display(fake_clock& clock) : clock_(clock) {}
    std::vector<std::string> calls;
    std::int64_t answer_takes_ns = 0;  // how long the window is busy with its messages

    void show_window(void*, const std::string&, const std::string& text) override {
        add("show " + text);
    }
    void set_progress(const std::string& text, float fraction) override {
        add("bar " + text + " " + std::to_string(static_cast<int>(fraction * 100.0f)));
        clock_.now += answer_takes_ns;
    }
    void handle_messages() override {
        add("messages");
        clock_.now += answer_takes_ns;
    }
    void destroy_window() override { add("destroy"); }

private:
    void add(const std::string& call) { calls.push_back(call + " @" + std::to_string(clock_.now / ms)); }
    fake_clock& clock_;
};

// One step of a script: the clock is set to `at` ms, then `act` runs.
struct step {
    std::int64_t at;
    char act;  // t: tick, f: tick with 0.5, p: set_progress 0.25, s: show, d: destroy
};

struct pacing_case {
    const char* label;
    std::int64_t interval_ms;
    std::int64_t answer_takes_ms;
    std::vector<step> script;
    std::vector<std::string> expected;
};

void PrintTo(const pacing_case& c, std::ostream* os) { *os << c.label; }

class ProgressPacer : public ::testing::TestWithParam<pacing_case> {};

TEST_P(ProgressPacer, AnswersOncePerIntervalOfWork) {
    const pacing_case& c = GetParam();
    fake_clock clock;
    recording_display display(clock);
    display.answer_takes_ns = c.answer_takes_ms * ms;
    progress_pacer pacer(display, clock, c.interval_ms * ms);
    for (const step& s : c.script) {
        clock.now = s.at * ms;
        switch (s.act) {
            case 't': pacer.tick(); break;
            case 'f': pacer.tick("Loading...", 0.5f); break;
            case 'p': pacer.set_progress("Loading...", 0.25f); break;
            case 's': pacer.show_window(nullptr, "", "Loading..."); break;
            case 'd': pacer.destroy_window(); break;
        }
    }
    EXPECT_EQ(display.calls, c.expected);
    EXPECT_EQ(&pacer.display(), &display);
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, ProgressPacer,
    ::testing::Values(
        pacing_case{"nothing_before_the_interval_has_passed", 50, 0,
                    {{0, 't'}, {30, 't'}, {49, 't'}, {49, 'f'}}, {}},
        pacing_case{"the_first_tick_at_the_interval_answers", 50, 0,
                    {{20, 't'}, {50, 't'}}, {"messages @50"}},
        pacing_case{"ticks_close_together_answer_once_per_interval", 50, 0,
                    {{10, 't'}, {20, 't'}, {30, 't'}, {40, 't'}, {50, 't'}, {60, 't'},
                     {70, 't'}, {80, 't'}, {90, 't'}, {100, 't'}, {110, 't'}},
                    {"messages @50", "messages @100"}},
        pacing_case{"many_ticks_at_one_moment_answer_once", 50, 0,
                    {{75, 't'}, {75, 't'}, {75, 'f'}, {75, 't'}}, {"messages @75"}},
        // The interval counts from the last answer, not from a fixed grid.
        pacing_case{"a_late_tick_starts_the_interval_again", 50, 0,
                    {{170, 't'}, {200, 't'}, {219, 't'}, {220, 't'}},
                    {"messages @170", "messages @220"}},
        // Work between answers is what is bounded: an answer that itself
        // takes 30 ms does not count toward the next interval.
        pacing_case{"the_interval_counts_from_the_end_of_an_answer", 50, 30,
                    {{50, 't'}, {120, 't'}, {130, 't'}}, {"messages @50", "messages @130"}},
        pacing_case{"a_due_tick_with_a_fraction_moves_the_bar", 50, 0,
                    {{30, 'f'}, {60, 'f'}, {70, 'f'}, {110, 'f'}},
                    {"bar Loading... 50 @60", "bar Loading... 50 @110"}},
        // Moving the bar lets the window answer too: no extra answer follows.
        pacing_case{"moving_the_bar_starts_the_interval_again", 50, 0,
                    {{40, 'p'}, {60, 't'}, {89, 't'}, {90, 't'}},
                    {"bar Loading... 25 @40", "messages @90"}},
        // Showing does not handle messages, so it does not count as an answer.
        pacing_case{"showing_and_destroying_are_passed_on_without_answering", 50, 0,
                    {{45, 's'}, {50, 't'}, {60, 'd'}, {100, 't'}},
                    {"show Loading... @45", "messages @50", "destroy @60", "messages @100"}},
        pacing_case{"a_shorter_interval", 10, 0,
                    {{5, 't'}, {10, 't'}, {15, 't'}, {20, 't'}},
                    {"messages @10", "messages @20"}}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
