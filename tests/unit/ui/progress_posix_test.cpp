// The Linux stand-in without a display: a line on a terminal's standard
// error, and nothing at all when standard error is not a terminal.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "ui/progress_backend.hpp"
#include "ui/progress_terminal.hpp"
#include "ui/progress_window.hpp"

namespace {

// Points standard error at another descriptor for the length of a scope.
class stderr_redirect {
public:
    explicit stderr_redirect(int fd) : saved_(dup(STDERR_FILENO)) {
        std::fflush(stderr);
        dup2(fd, STDERR_FILENO);
    }
    ~stderr_redirect() {
        std::fflush(stderr);
        dup2(saved_, STDERR_FILENO);
        close(saved_);
    }

private:
    int saved_;
};

// Sets or unsets DISPLAY for the length of a scope.
class display_variable {
public:
    explicit display_variable(const char* value) {
        if (const char* old = getenv("DISPLAY")) old_ = old;
        if (value)
            setenv("DISPLAY", value, 1);
        else
            unsetenv("DISPLAY");
    }
    ~display_variable() {
        if (old_)
            setenv("DISPLAY", old_->c_str(), 1);
        else
            unsetenv("DISPLAY");
    }

private:
    std::optional<std::string> old_;
};

std::string read_available(int fd) {
    std::string bytes;
    char buffer[4096];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<size_t>(got));
    return bytes;
}

class StandIn : public ::testing::Test {
protected:
    void SetUp() override { progress_slots() = {nullptr, nullptr, nullptr}; }
    void TearDown() override {
        destroy_progress_window();
        progress_slots() = {nullptr, nullptr, nullptr};
    }

    // The whole life of a window, as the unpacking road drives it.
    static void run_window() {
        show_progress_window(nullptr, "", "Loading...");
        set_progress("Loading...", 0.0f);
        set_progress("Loading...", 0.5f);
        set_progress("Loading...", 0.5f);
        destroy_progress_window();
    }
};

struct display_case {
    const char* label;
    const char* display;  // null: unset
};
void PrintTo(const display_case& c, std::ostream* os) { *os << c.label; }


class StandInWithoutDisplay : public StandIn, public ::testing::WithParamInterface<display_case> {};

TEST_P(StandInWithoutDisplay, WritesNothingToAStandardErrorThatIsNoTerminal) {
    display_variable display(GetParam().display);
    char name[] = "/tmp/progress-stderr-XXXXXX";
    const int file = mkstemp(name);
    ASSERT_GE(file, 0);
    unlink(name);
    {
        stderr_redirect redirect(file);
        run_window();
    }
    EXPECT_EQ(lseek(file, 0, SEEK_END), 0);
    EXPECT_EQ(progress_slots().frame, nullptr);
    EXPECT_EQ(progress_slots().bar, nullptr);
    EXPECT_EQ(progress_slots().label, nullptr);
    close(file);
}

TEST_P(StandInWithoutDisplay, DrawsOneLineOnATerminalAndErasesItAtTheEnd) {
    display_variable display(GetParam().display);
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    {
        stderr_redirect redirect(terminal);
        run_window();
    }
    // Drawn when painted, then on each change only; erased when destroyed.
    const std::string expected = "\rLoading... [....................]   0%\033[K"
                                 "\rLoading... [##########..........]  50%\033[K"
                                 "\r\033[K";
    EXPECT_EQ(read_available(master), expected);
    EXPECT_NE(progress_slots().frame, nullptr);
    close(terminal);
    close(master);
}

INSTANTIATE_TEST_SUITE_P(Table, StandInWithoutDisplay,
                         ::testing::Values(display_case{"unset", nullptr},
                                           display_case{"empty", ""},
                                           display_case{"no_server_there", ":9999"}),
                         [](const auto& info) { return std::string(info.param.label); });

struct line_case {
    const char* label;
    const char* text;
    int position;
    const char* line;
};
void PrintTo(const line_case& c, std::ostream* os) { *os << c.label; }


class ProgressLine : public ::testing::TestWithParam<line_case> {};

TEST_P(ProgressLine, ShowsTextBarAndPercent) {
    EXPECT_EQ(progress_line(GetParam().text, GetParam().position), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProgressLine,
    ::testing::Values(
        line_case{"empty_bar", "Loading...", 0, "Loading... [....................]   0%"},
        line_case{"one_cell_at_5", "Loading...", 5, "Loading... [#...................]   5%"},
        line_case{"cells_round_down", "Loading...", 99, "Loading... [###################.]  99%"},
        line_case{"full", "Loading...", 100, "Loading... [####################] 100%"},
        line_case{"over_full_is_printed_as_is", "x", 150, "x [####################] 150%"},
        line_case{"negative_is_printed_as_is", "x", -5, "x [....................]  -5%"},
        line_case{"no_text", "", 50, " [##########..........]  50%"}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
