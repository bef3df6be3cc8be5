#include "ui/progress_window.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ui/progress_backend.hpp"

namespace {

// A fake platform: hands out handles from a small pool, records every call in
// order, and can be told which creations fail.
struct fake_platform {
    int pool[8] = {};
    int made = 0;
    int module_marker = 0;
    std::vector<bool> fail;  // by creation index
    std::vector<std::string> calls;
    std::vector<progress_window_params> created;
    std::vector<progress_window_slots> slots_when_created;

    std::string name(void* handle) const {
        for (int i = 0; i < 8; ++i)
            if (handle == &pool[i]) return "w" + std::to_string(i);
        return handle ? "?" : "null";
    }
};

fake_platform* fake = nullptr;

const progress_backend fake_backend{
    [] { return static_cast<void*>(&fake->module_marker); },
    [](const progress_window_params& params) -> void* {
        const int index = fake->made++;
        fake->created.push_back(params);
        fake->slots_when_created.push_back(progress_slots());
        fake->calls.push_back("create " + std::string(params.class_name));
        const bool fails = index < static_cast<int>(fake->fail.size()) && fake->fail[index];
        return fails ? nullptr : &fake->pool[index];
    },
    [](void* frame) { fake->calls.push_back("show " + fake->name(frame)); },
    [](void* frame) { fake->calls.push_back("paint " + fake->name(frame)); },
    [](void* window, const std::string& text) {
        fake->calls.push_back("text " + fake->name(window) + " " + text);
    },
    [](void* bar, int position) {
        fake->calls.push_back("position " + fake->name(bar) + " " + std::to_string(position));
    },
    [](void* frame) { fake->calls.push_back("destroy " + fake->name(frame)); },
};

class ProgressWindow : public ::testing::Test {
protected:
    void SetUp() override {
        fake = &platform;
        progress_slots() = {nullptr, nullptr, nullptr};
        previous_ = use_progress_backend(&fake_backend);
    }
    void TearDown() override {
        use_progress_backend(previous_);
        progress_slots() = {nullptr, nullptr, nullptr};
        fake = nullptr;
    }

    void* handle(int index) { return &platform.pool[index]; }
    int caller_instance = 0;
    fake_platform platform;

private:
    const progress_backend* previous_ = nullptr;
};

TEST_F(ProgressWindow, SetProgressBeforeShowDoesNothing) {
    set_progress("Loading...", 0.0f);
    set_progress("Loading...", 0.5f);
    EXPECT_TRUE(platform.calls.empty());
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
    const std::vector<std::string> expected = {
        "create STATIC", "create msctls_progress32", "create STATIC", "show w0", "paint w0"};
    EXPECT_EQ(platform.calls, expected);
    EXPECT_EQ(progress_slots().frame, handle(0));
    EXPECT_EQ(progress_slots().bar, handle(1));
    EXPECT_EQ(progress_slots().label, handle(2));
}

struct expected_window {
    const char* what;
    std::string class_name;
    std::string text;
    unsigned long style;
    int x, y, width, height;
    int parent;  // creation index, -1 for none
    bool caller_instance;  // else the running module's
};

TEST_F(ProgressWindow, EachWindowIsMadeExactlyAsLaidOut) {
    show_progress_window(&caller_instance, "Some caption", "Loading...");
    const int use_default = static_cast<int>(0x80000000u);  // CW_USEDEFAULT
    const expected_window table[] = {
        {"frame", "STATIC", "Some caption", 0x00800000, use_default, use_default, 420, 120, -1, true},
        {"bar", "msctls_progress32", "", 0x50000000, 20, 40, 360, 20, 0, false},
        {"label", "STATIC", "Loading...", 0x50000000, 20, 20, 260, 20, 0, false},
    };
    ASSERT_EQ(platform.created.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        const expected_window& want = table[i];
        const progress_window_params& got = platform.created[i];
        SCOPED_TRACE(want.what);
        EXPECT_EQ(got.class_name, want.class_name);
        EXPECT_EQ(got.text, want.text);
        EXPECT_EQ(got.style, want.style);
        EXPECT_EQ(got.ex_style, 0ul);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.width, want.width);
        EXPECT_EQ(got.height, want.height);
        EXPECT_EQ(got.parent, want.parent < 0 ? nullptr : handle(want.parent));
        EXPECT_EQ(got.instance, want.caller_instance ? static_cast<void*>(&caller_instance)
                                                     : static_cast<void*>(&platform.module_marker));
    }
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
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProgressWindowMissingParts,
    ::testing::Values(
        missing_case{"nothing_missing", {false, false, false}, {"text w2 Loading...", "position w1 50"}},
        missing_case{"no_bar", {false, true, false}, {"text w2 Loading..."}},
        missing_case{"no_label", {false, false, true}, {"position w1 50"}},
        missing_case{"neither_child", {false, true, true}, {}},
        // Children of a frame that failed still get their own chance.
        missing_case{"no_frame", {true, false, false}, {"text w2 Loading...", "position w1 50"}}),
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
