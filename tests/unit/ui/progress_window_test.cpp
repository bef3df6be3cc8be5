#include "ui/progress_window.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ui/progress_backend.hpp"

namespace {

// A fake platform: hands out handles from a small pool, records every call in
// order, and can be told which creations fail.
struct made_element {
    std::string kind;  // frame, bar, label
    std::string text;
    bool default_position;  // only a frame is placed by the platform
    int x, y, width, height;
    void* parent;
    void* instance;
};

class recording_backend final : public progress_backend {
public:
    int pool[8] = {};
    int made = 0;
    std::vector<bool> fail;  // by creation index
    std::vector<std::string> calls;  // everything but pump
    std::vector<size_t> pumps;  // how many calls had been made at each pump
    std::vector<made_element> created;
    std::vector<progress_window_slots> slots_when_created;

    std::string name(void* h) const {
        for (int i = 0; i < 8; ++i)
            if (h == &pool[i]) return "w" + std::to_string(i);
        return h ? "?" : "null";
    }

    handle make_frame(void* instance, const std::string& caption, int width, int height) override {
        return make({"frame", caption, true, 0, 0, width, height, nullptr, instance});
    }
    handle make_bar(handle frame, const place& where) override {
        return make({"bar", "", false, where.x, where.y, where.width, where.height, frame, nullptr});
    }
    handle make_label(handle frame, const place& where, const std::string& text) override {
        return make(
            {"label", text, false, where.x, where.y, where.width, where.height, frame, nullptr});
    }
    void show(handle frame) override { calls.push_back("show " + name(frame)); }
    void paint(handle frame) override { calls.push_back("paint " + name(frame)); }
    void set_text(handle label, const std::string& text) override {
        calls.push_back("text " + name(label) + " " + text);
    }
    void set_position(handle bar, int position) override {
        calls.push_back("position " + name(bar) + " " + std::to_string(position));
    }
    void pump() override { pumps.push_back(calls.size()); }
    void destroy(handle frame) override { calls.push_back("destroy " + name(frame)); }

private:
    handle make(const made_element& element) {
        const int index = made++;
        created.push_back(element);
        slots_when_created.push_back(progress_slots());
        calls.push_back("make " + element.kind);
        const bool fails = index < static_cast<int>(fail.size()) && fail[index];
        return fails ? nullptr : &pool[index];
    }
};

class ProgressWindow : public ::testing::Test {
protected:
    void SetUp() override {
        progress_slots() = {nullptr, nullptr, nullptr};
        previous_ = use_progress_backend(&platform);
    }
    void TearDown() override {
        use_progress_backend(previous_);
        progress_slots() = {nullptr, nullptr, nullptr};
    }

    void* handle(int index) { return &platform.pool[index]; }
    int caller_instance = 0;
    recording_backend platform;

private:
    progress_backend* previous_ = nullptr;
};

TEST_F(ProgressWindow, SetProgressBeforeShowDoesNothing) {
    set_progress("Loading...", 0.0f);
    set_progress("Loading...", 0.5f);
    EXPECT_TRUE(platform.calls.empty());
    EXPECT_TRUE(platform.pumps.empty());
    EXPECT_EQ(progress_slots().frame, nullptr);
    EXPECT_EQ(progress_slots().bar, nullptr);
    EXPECT_EQ(progress_slots().label, nullptr);
}

TEST_F(ProgressWindow, DestroyWithoutWindowDoesNothing) {
    destroy_progress_window();
    EXPECT_TRUE(platform.calls.empty());
}

TEST_F(ProgressWindow, ShowMakesFrameBarLabelThenShowsAndPaintsTheFrame) {
    show_progress_window(&caller_instance, "", "Loading...");
    const std::vector<std::string> expected = {"make frame", "make bar", "make label", "show w0",
                                               "paint w0"};
    EXPECT_EQ(platform.calls, expected);
    EXPECT_EQ(progress_slots().frame, handle(0));
    EXPECT_EQ(progress_slots().bar, handle(1));
    EXPECT_EQ(progress_slots().label, handle(2));
}

// What the start-up sequence and the extraction drive is this same window.
TEST_F(ProgressWindow, TheSharedDisplayIsTheSameWindow) {
    progress_display& display = progress_window();
    display.show_window(&caller_instance, "", "Loading...");
    display.set_progress("Loading...", 0.5f);
    display.destroy_window();
    const std::vector<std::string> expected = {"make frame", "make bar", "make label", "show w0",
                                               "paint w0", "text w2 Loading...", "position w1 50",
                                               "destroy w0"};
    EXPECT_EQ(platform.calls, expected);
}

struct expected_window {
    std::string kind;
    std::string text;
    bool default_position;
    int x, y, width, height;
    int parent;  // creation index, -1 for none
};

// Class names, styles and module handles are the Windows backend's; its own
// test checks them on the real windows.
TEST_F(ProgressWindow, EachWindowIsMadeExactlyAsLaidOut) {
    show_progress_window(&caller_instance, "Some caption", "Loading...");
    const expected_window table[] = {
        {"frame", "Some caption", true, 0, 0, 420, 120, -1},
        {"bar", "", false, 20, 40, 360, 20, 0},
        {"label", "Loading...", false, 20, 20, 260, 20, 0},
    };
    ASSERT_EQ(platform.created.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        const expected_window& want = table[i];
        const made_element& got = platform.created[i];
        SCOPED_TRACE(want.kind);
        EXPECT_EQ(got.kind, want.kind);
        EXPECT_EQ(got.text, want.text);
        EXPECT_EQ(got.default_position, want.default_position);
        if (!want.default_position) {
            EXPECT_EQ(got.x, want.x);
            EXPECT_EQ(got.y, want.y);
        }
        EXPECT_EQ(got.width, want.width);
        EXPECT_EQ(got.height, want.height);
        EXPECT_EQ(got.parent, want.parent < 0 ? nullptr : handle(want.parent));
    }
    // Only the frame takes the caller's instance.
    EXPECT_EQ(platform.created[0].instance, static_cast<void*>(&caller_instance));
}

TEST_F(ProgressWindow, EachHandleIsInItsSlotAsSoonAsMade) {
    show_progress_window(&caller_instance, "", "Loading...");
    ASSERT_EQ(platform.slots_when_created.size(), 3u);
    const progress_window_slots at_bar = platform.slots_when_created[1];
    const progress_window_slots at_label = platform.slots_when_created[2];
    EXPECT_EQ(at_bar.frame, handle(0));
    EXPECT_EQ(at_bar.bar, nullptr);
    EXPECT_EQ(at_label.frame, handle(0));
    EXPECT_EQ(at_label.bar, handle(1));
    EXPECT_EQ(at_label.label, nullptr);
}

TEST_F(ProgressWindow, ShowDoesNotPump) {
    show_progress_window(&caller_instance, "", "Loading...");
    EXPECT_TRUE(platform.pumps.empty());
}

TEST_F(ProgressWindow, EachUpdatePumpsOnceAfterTheTextAndTheBar) {
    show_progress_window(&caller_instance, "", "Loading...");
    platform.calls.clear();
    set_progress("Loading...", 0.0f);
    set_progress("Loading...", 0.5f);
    set_progress("Loading...", 0.5f);
    const std::vector<size_t> expected = {2, 4, 6};
    EXPECT_EQ(platform.pumps, expected);
}

// Between moves of the bar, long work lets the window answer on its own.
TEST_F(ProgressWindow, HandlingMessagesPumpsAndLeavesTheBarAndTheTextAlone) {
    handle_progress_messages();  // no window yet: nothing to answer for
    EXPECT_TRUE(platform.pumps.empty());
    show_progress_window(&caller_instance, "", "Loading...");
    set_progress("Loading...", 0.25f);
    platform.calls.clear();
    platform.pumps.clear();
    handle_progress_messages();
    progress_window().handle_messages();
    EXPECT_TRUE(platform.calls.empty());
    EXPECT_EQ(platform.pumps, (std::vector<size_t>{0, 0}));
}

TEST_F(ProgressWindow, HandlingMessagesWithoutAFrameDoesNothing) {
    platform.fail = {true};
    show_progress_window(&caller_instance, "", "Loading...");
    handle_progress_messages();
    EXPECT_TRUE(platform.pumps.empty());
}

TEST_F(ProgressWindow, UpdatesAfterDestroyStillPumpAndDoNotFail) {
    // The desktop may have closed the window early; the unpacking goes on.
    show_progress_window(&caller_instance, "", "Loading...");
    destroy_progress_window();
    platform.calls.clear();
    set_progress("Loading...", 0.25f);
    EXPECT_EQ(platform.pumps, std::vector<size_t>{2});
}

TEST_F(ProgressWindow, SetProgressSetsTheTextThenTheBar) {
    show_progress_window(&caller_instance, "", "Loading...");
    platform.calls.clear();
    set_progress("Unpacking", 0.25f);
    const std::vector<std::string> expected = {"text w2 Unpacking", "position w1 25"};
    EXPECT_EQ(platform.calls, expected);
}

// Which creations fail (frame, bar, label) and what set_progress still does.
struct missing_case {
    const char* label;
    std::vector<bool> fail;
    std::vector<std::string> updates;
    bool pumped;  // after the updates
};
void PrintTo(const missing_case& c, std::ostream* os) { *os << c.label; }


class ProgressWindowMissingParts : public ProgressWindow,
                                   public ::testing::WithParamInterface<missing_case> {};

TEST_P(ProgressWindowMissingParts, WhatCouldNotBeMadeIsLeftOutOfUpdates) {
    platform.fail = GetParam().fail;
    show_progress_window(&caller_instance, "", "Loading...");
    platform.calls.clear();
    set_progress("Loading...", 0.5f);
    EXPECT_EQ(platform.calls, GetParam().updates);
    const std::vector<size_t> pumps_after_updates{GetParam().updates.size()};
    EXPECT_EQ(platform.pumps, GetParam().pumped ? pumps_after_updates : std::vector<size_t>{});
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProgressWindowMissingParts,
    ::testing::Values(
        missing_case{"nothing_missing", {false, false, false}, {"text w2 Loading...", "position w1 50"}, true},
        missing_case{"no_bar", {false, true, false}, {"text w2 Loading..."}, true},
        missing_case{"no_label", {false, false, true}, {"position w1 50"}, true},
        missing_case{"neither_child", {false, true, true}, {}, true},
        // Children of a frame that failed still get their own chance; with
        // no window of its own there is nothing to answer the desktop for.
        missing_case{"no_frame", {true, false, false}, {"text w2 Loading...", "position w1 50"},
                     false}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(ProgressWindow, ChildrenOfAMissingFrameAreStillAttemptedWithoutParent) {
    platform.fail = {true};
    show_progress_window(&caller_instance, "", "Loading...");
    ASSERT_EQ(platform.created.size(), 3u);
    EXPECT_EQ(platform.created[1].parent, nullptr);
    EXPECT_EQ(platform.created[2].parent, nullptr);
    EXPECT_EQ(progress_slots().frame, nullptr);
    platform.calls.clear();
    destroy_progress_window();
    EXPECT_TRUE(platform.calls.empty());
}

TEST_F(ProgressWindow, DestroyTakesTheFrameAndLeavesTheSlotsAsTheyWere) {
    show_progress_window(&caller_instance, "", "Loading...");
    platform.calls.clear();
    destroy_progress_window();
    EXPECT_EQ(platform.calls, std::vector<std::string>{"destroy w0"});
    EXPECT_EQ(progress_slots().frame, handle(0));
    EXPECT_EQ(progress_slots().bar, handle(1));
    EXPECT_EQ(progress_slots().label, handle(2));
}

TEST_F(ProgressWindow, DestroyingAgainDestroysTheStaleFrameAgain) {
    // A failure after a successful unpacking closes the window a second time.
    show_progress_window(&caller_instance, "", "Loading...");
    platform.calls.clear();
    destroy_progress_window();
    destroy_progress_window();
    const std::vector<std::string> expected = {"destroy w0", "destroy w0"};
    EXPECT_EQ(platform.calls, expected);
}

TEST_F(ProgressWindow, UpdatesAfterDestroyStillGoToTheStaleHandles) {
    show_progress_window(&caller_instance, "", "Loading...");
    destroy_progress_window();
    platform.calls.clear();
    set_progress("Loading...", 0.0f);
    const std::vector<std::string> expected = {"text w2 Loading...", "position w1 0"};
    EXPECT_EQ(platform.calls, expected);
}

// The bar position: fraction x 100 in single precision, truncated toward zero.
struct position_case {
    const char* label;
    float fraction;
    int position;
};
void PrintTo(const position_case& c, std::ostream* os) { *os << c.label; }


class ProgressPosition : public ProgressWindow,
                         public ::testing::WithParamInterface<position_case> {};

TEST_P(ProgressPosition, ReachesTheBarThroughSetProgress) {
    show_progress_window(&caller_instance, "", "Loading...");
    platform.calls.clear();
    set_progress("Loading...", GetParam().fraction);
    ASSERT_EQ(platform.calls.size(), 2u);
    EXPECT_EQ(platform.calls[1], "position w1 " + std::to_string(GetParam().position));
    EXPECT_EQ(progress_position(GetParam().fraction), GetParam().position);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProgressPosition,
    ::testing::Values(
        position_case{"zero", 0.0f, 0},
        position_case{"just_under_a_half_truncates", 0.499f, 49},
        position_case{"just_under_one_truncates", 0.9999f, 99},
        position_case{"one", 1.0f, 100},
        position_case{"a_half", 0.5f, 50},
        // 0.57f x 100 rounds to 57.0f in single precision; in double it is
        // 56.99999928..., which would truncate to 56.
        position_case{"single_precision_product", 0.57f, 57},
        // The last entry of a 2,263-entry archive: the bar never shows 100.
        position_case{"last_of_2263_entries", 2262.0f / 2263.0f, 99},
        position_case{"first_of_2263_entries", 1.0f / 2263.0f, 0},
        // Toward zero, not down; and nothing clamps.
        position_case{"small_negative_truncates_toward_zero", -0.005f, 0},
        position_case{"negative", -0.25f, -25},
        position_case{"over_one_is_not_clamped", 1.5f, 150}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
