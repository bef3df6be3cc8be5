// The real window under Windows (wine in the tests): what was made, where,
// and what the bar holds after set_progress.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ui/progress_backend.hpp"
#include "ui/progress_window.hpp"

namespace {

std::string class_of(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string text_of(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

RECT client_rect_in_parent(HWND child) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// What CreateWindowExA was asked for, seen through a CBT hook on this thread.
struct creation {
    HWND window;
    std::string class_name, text;
    LONG style;
    DWORD ex_style;
    int x, y, width, height;
    HWND parent;
    HMENU menu;
    HINSTANCE instance;
};
std::vector<creation>* creations = nullptr;

LRESULT CALLBACK record_creation(int code, WPARAM window, LPARAM info) {
    if (code == HCBT_CREATEWND && creations) {
        const CREATESTRUCTA& cs = *reinterpret_cast<CBT_CREATEWNDA*>(info)->lpcs;
        const bool atom = HIWORD(reinterpret_cast<ULONG_PTR>(cs.lpszClass)) == 0;
        creations->push_back({reinterpret_cast<HWND>(window), atom ? class_of(reinterpret_cast<HWND>(window)) : cs.lpszClass,
                              cs.lpszName ? cs.lpszName : "", cs.style, cs.dwExStyle, cs.x, cs.y,
                              cs.cx, cs.cy, cs.hwndParent, cs.hMenu, cs.hInstance});
    }
    return CallNextHookEx(nullptr, code, window, info);
}

BOOL CALLBACK collect(HWND child, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
    return TRUE;
}

class Win32ProgressWindow : public ::testing::Test {
protected:
    void SetUp() override {
        progress_slots() = {nullptr, nullptr, nullptr};
        show_progress_window(GetModuleHandleA(nullptr), "", "Loading...");
        frame = static_cast<HWND>(progress_slots().frame);
        bar = static_cast<HWND>(progress_slots().bar);
        label = static_cast<HWND>(progress_slots().label);
    }
    void TearDown() override {
        destroy_progress_window();
        progress_slots() = {nullptr, nullptr, nullptr};
    }

    HWND frame = nullptr, bar = nullptr, label = nullptr;
};

TEST_F(Win32ProgressWindow, FrameIsAVisibleBorderedStaticOf420By120) {
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(class_of(frame), "Static");
    EXPECT_EQ(text_of(frame), "");
    EXPECT_EQ(GetParent(frame), nullptr);
    RECT r{};
    GetWindowRect(frame, &r);
    EXPECT_EQ(r.right - r.left, 420);
    EXPECT_EQ(r.bottom - r.top, 120);
    const LONG_PTR style = GetWindowLongPtrA(frame, GWL_STYLE);
    EXPECT_TRUE(style & WS_BORDER);
    EXPECT_TRUE(style & WS_VISIBLE);
    EXPECT_FALSE(style & WS_CHILD);
    EXPECT_EQ(GetWindowLongPtrA(frame, GWLP_HINSTANCE),
              reinterpret_cast<LONG_PTR>(GetModuleHandleA(nullptr)));
}

struct child_case {
    const char* label;
    const char* class_name;
    const char* text;
    int x, y, width, height;
    int z_order;  // among the frame's children, first made first
};
void PrintTo(const child_case& c, std::ostream* os) { *os << c.label; }


class Win32ProgressChildren : public Win32ProgressWindow,
                              public ::testing::WithParamInterface<child_case> {};

TEST_P(Win32ProgressChildren, ChildIsLaidOutAsPlanned) {
    const child_case& want = GetParam();
    std::vector<HWND> children;
    EnumChildWindows(frame, collect, reinterpret_cast<LPARAM>(&children));
    ASSERT_EQ(children.size(), 2u);
    const HWND child = children[want.z_order];
    EXPECT_EQ(child, want.z_order == 0 ? bar : label);
    EXPECT_EQ(class_of(child), want.class_name);
    EXPECT_EQ(text_of(child), want.text);
    EXPECT_EQ(GetParent(child), frame);
    const RECT r = client_rect_in_parent(child);
    EXPECT_EQ(r.left, want.x);
    EXPECT_EQ(r.top, want.y);
    EXPECT_EQ(r.right - r.left, want.width);
    EXPECT_EQ(r.bottom - r.top, want.height);
    EXPECT_EQ(GetWindowLongPtrA(child, GWL_STYLE) & (WS_CHILD | WS_VISIBLE), WS_CHILD | WS_VISIBLE);
    EXPECT_EQ(GetWindowLongPtrA(child, GWLP_HINSTANCE),
              reinterpret_cast<LONG_PTR>(GetModuleHandleA(nullptr)));
}

INSTANTIATE_TEST_SUITE_P(
    Table, Win32ProgressChildren,
    ::testing::Values(child_case{"bar", "msctls_progress32", "", 20, 40, 360, 20, 0},
                      child_case{"label", "Static", "Loading...", 20, 20, 260, 20, 1}),
    [](const auto& info) { return std::string(info.param.label); });

// The calls themselves: class names, styles, no menu, and whose instance
// each window gets. Wine has already resolved CW_USEDEFAULT when the hook
// sees the frame; e2e_progress checks the raw value in wine's own trace.
TEST(Win32ProgressCreation, EachWindowIsAskedForExactlyAsLaidOut) {
    std::vector<creation> made;
    creations = &made;
    HHOOK hook = SetWindowsHookExA(WH_CBT, record_creation, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    progress_slots() = {nullptr, nullptr, nullptr};
    HINSTANCE instance = GetModuleHandleA(nullptr);
    show_progress_window(instance, "Some caption", "Loading...");
    UnhookWindowsHookEx(hook);
    creations = nullptr;
    const progress_window_slots ours = progress_slots();
    const HWND frame = static_cast<HWND>(ours.frame);
    destroy_progress_window();
    progress_slots() = {nullptr, nullptr, nullptr};

    struct expected {
        const char* what;
        const char* class_name;
        const char* text;
        LONG style;
        int x, y, width, height;
        bool child;
    };
    const expected table[] = {
        {"frame", "STATIC", "Some caption", 0x00800000, 0, 0, 420, 120, false},
        {"bar", "msctls_progress32", "", 0x50000000, 20, 40, 360, 20, true},
        {"label", "STATIC", "Loading...", 0x50000000, 20, 20, 260, 20, true},
    };
    // Wine makes windows of its own along the way (input method, OLE); only
    // the ones that ended up in the slots are ours, and they must be these.
    std::string classes;
    for (const creation& c : made) classes += c.class_name + " ";
    made.erase(std::remove_if(made.begin(), made.end(),
                              [&](const creation& c) {
                                  return c.window != ours.frame && c.window != ours.bar &&
                                         c.window != ours.label;
                              }),
               made.end());
    ASSERT_EQ(made.size(), 3u) << classes;
    for (size_t i = 0; i < 3; ++i) {
        const expected& want = table[i];
        const creation& got = made[i];
        SCOPED_TRACE(want.what);
        EXPECT_EQ(got.window, i == 0 ? ours.frame : i == 1 ? ours.bar : ours.label);
        EXPECT_EQ(lstrcmpiA(got.class_name.c_str(), want.class_name), 0) << got.class_name;
        EXPECT_EQ(got.text, want.text);
        EXPECT_EQ(got.style, want.style);
        EXPECT_EQ(got.ex_style, 0u);
        if (want.child) {
            EXPECT_EQ(got.x, want.x);
            EXPECT_EQ(got.y, want.y);
        }
        EXPECT_EQ(got.width, want.width);
        EXPECT_EQ(got.height, want.height);
        EXPECT_EQ(got.parent, want.child ? frame : nullptr);
        EXPECT_EQ(got.menu, nullptr);
        EXPECT_EQ(got.instance, instance);
    }
}

TEST_F(Win32ProgressWindow, BarStartsAtZeroInTheRange0To100) {
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 0);
    EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, TRUE, 0), 0);
    EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, FALSE, 0), 100);
}

struct update_case {
    const char* label;
    const char* text;
    float fraction;
    LRESULT position;
};
void PrintTo(const update_case& c, std::ostream* os) { *os << c.label; }


class Win32ProgressUpdate : public Win32ProgressWindow,
                            public ::testing::WithParamInterface<update_case> {};

TEST_P(Win32ProgressUpdate, SetProgressReachesLabelAndBar) {
    ASSERT_NE(bar, nullptr);
    set_progress(GetParam().text, GetParam().fraction);
    EXPECT_EQ(text_of(label), GetParam().text);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), GetParam().position);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Win32ProgressUpdate,
    ::testing::Values(update_case{"zero", "Loading...", 0.0f, 0},
                      update_case{"truncated", "Loading...", 0.499f, 49},
                      update_case{"single_precision", "Loading...", 0.57f, 57},
                      update_case{"almost_full", "Unpacking", 0.9999f, 99},
                      update_case{"full", "Done", 1.0f, 100}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(Win32ProgressWindow, DestroyTakesFrameAndChildrenAndKeepsTheHandles) {
    ASSERT_NE(frame, nullptr);
    destroy_progress_window();
    EXPECT_FALSE(IsWindow(frame));
    EXPECT_FALSE(IsWindow(bar));
    EXPECT_FALSE(IsWindow(label));
    EXPECT_EQ(progress_slots().frame, frame);
    EXPECT_EQ(progress_slots().label, label);

    // Updating and destroying stale handles is harmless: nothing is made,
    // nothing comes back to life and the slots keep what they held.
    std::vector<creation> made;
    creations = &made;
    HHOOK hook = SetWindowsHookExA(WH_CBT, record_creation, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    set_progress("Loading...", 0.5f);
    destroy_progress_window();
    UnhookWindowsHookEx(hook);
    creations = nullptr;
    EXPECT_TRUE(made.empty()) << made.size() << " window(s) made, first of class "
                              << (made.empty() ? "" : made.front().class_name);
    EXPECT_FALSE(IsWindow(frame));
    EXPECT_FALSE(IsWindow(bar));
    EXPECT_FALSE(IsWindow(label));
    EXPECT_EQ(progress_slots().frame, frame);
    EXPECT_EQ(progress_slots().bar, bar);
    EXPECT_EQ(progress_slots().label, label);
}

}  // namespace
