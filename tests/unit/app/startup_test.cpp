#include "app/startup.hpp"

#include <functional>
#include <new>
#include <stdexcept>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "app/errors.hpp"
#include "app/exce.hpp"
#include "app/fs.hpp"
#include "support/scratch_dir.hpp"

namespace {

// Records every call in order, with what the file system looked like when the
// archive was about to be written; can be told to throw at one step.
class recording_steps final : public startup_steps {
public:
    explicit recording_steps(const path_set& paths) : paths_(paths) {}

    std::vector<std::string> calls;
    std::string fail_at;
    std::function<void()> thrower = [] { throw exce("could not read file info"); };
    bool data_dir_present_at_write = true;
    bool temp_archive_present_at_write = true;
    bool stream_open_at_write = true;

    void show_progress_window(void* instance, const std::string& caption,
                              const std::string& text) override {
        record("show_progress_window(" + std::to_string(instance != nullptr) + ",\"" + caption +
               "\",\"" + text + "\")");
    }
    void set_progress(const std::string& text, float fraction) override {
        record("set_progress(\"" + text + "\"," + std::to_string(fraction) + ")");
    }
    void write_temp_archive(std::ofstream& out) override {
        data_dir_present_at_write = std::filesystem::exists(paths_.data_dir);
        temp_archive_present_at_write = std::filesystem::exists(paths_.temp_archive_path);
        stream_open_at_write = out.is_open();
        record("write_temp_archive");
    }
    void extract_archive(std::ofstream&) override { record("extract_archive"); }
    void launch() override { record("launch"); }
    void destroy_progress_window() override { calls.push_back("destroy_progress_window"); }
    void show_error(const std::string& text) override { calls.push_back("show_error(" + text + ")"); }

private:
    void record(const std::string& call) {
        const std::string name = call.substr(0, call.find('('));
        calls.push_back(call);
        if (name == fail_at) thrower();
    }
    const path_set& paths_;
};

const std::vector<std::string> unpacking_road = {
    "show_progress_window(1,\"\",\"Loading...\")",
    "set_progress(\"Loading...\",0.000000)",
    "write_temp_archive",
    "extract_archive",
    "launch",
};

class StartupSequence : public scratch_dir_test {
protected:
    path_set paths = form_relative_paths("QuillMark", "./Quill Mark.exe", "./worlds/start.map");
    recording_steps steps{paths};
    int instance_marker = 0;
    void* instance = &instance_marker;

    int run() { return run_startup(instance, paths, steps); }
};

TEST_F(StartupSequence, InstalledGameLaunchesAtOnceWithoutWindowOrRepair) {
    write_file(paths.exe_path, "game");
    write_file(paths.temp_archive_path, "left over");  // not the installed road's business
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(steps.calls, std::vector<std::string>{"launch"});
    EXPECT_EQ(read_file(paths.temp_archive_path), "left over");
    EXPECT_EQ(instance_slot(), instance);
}

TEST_F(StartupSequence, MissingGameUnpacksInOrderThenLaunches) {
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(steps.calls, unpacking_road);
    EXPECT_FALSE(steps.stream_open_at_write);
    EXPECT_EQ(instance_slot(), instance);
}

TEST_F(StartupSequence, OldDataAndStaleArchiveAreRemovedBeforeTheArchiveIsWritten) {
    write_file(paths.data_dir + "worlds/start.map", "old map");
    write_file(paths.data_dir + "deep/er/file.bin", "old data");
    write_file(paths.temp_archive_path, "half an archive");
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(steps.calls, unpacking_road);
    EXPECT_FALSE(steps.data_dir_present_at_write);
    EXPECT_FALSE(steps.temp_archive_present_at_write);
}

struct failure_case {
    const char* label;
    const char* step;
    bool installed;
    std::function<void()> thrower;
    std::string shown;
};

void PrintTo(const failure_case& c, std::ostream* os) { *os << c.label; }


class StartupFailureBoundary : public StartupSequence,
                               public ::testing::WithParamInterface<failure_case> {};

TEST_P(StartupFailureBoundary, FailureClosesTheWindowShowsTheTextAndStops) {
    const failure_case& c = GetParam();
    if (c.installed) write_file(paths.exe_path, "game");
    steps.fail_at = c.step;
    steps.thrower = c.thrower;

    EXPECT_EQ(run(), 1);

    std::vector<std::string> expected;
    if (c.installed) {
        expected = {"launch"};
    } else {
        for (const std::string& call : unpacking_road) {
            expected.push_back(call);
            if (call.rfind(c.step, 0) == 0) break;
        }
    }
    expected.push_back("destroy_progress_window");
    expected.push_back("show_error(" + c.shown + ")");
    EXPECT_EQ(steps.calls, expected);
}

const std::error_code denied = std::make_error_code(std::errc::permission_denied);

INSTANTIATE_TEST_SUITE_P(
    EveryStepAndErrorKind, StartupFailureBoundary,
    ::testing::Values(
        failure_case{"archive_error_in_extraction", "extract_archive", false,
                     [] { throw exce("could not read file global info"); },
                     "could not read file global info"},
        failure_case{"composed_error_text_outlives_its_source", "extract_archive", false,
                     [] { throw exce("error " + std::to_string(-3)); }, "error -3"},
        failure_case{"file_system_error_while_writing", "write_temp_archive", false,
                     [] {
                         throw file_system_error("create_directory", "./!QuillMark_data/",
                                                 "./!QuillMark_data/", denied);
                     },
                     "create_directory: " + system_message(denied) + ": \"./!QuillMark_data/\""},
        failure_case{"launch_after_unpacking", "launch", false,
                     [] { throw system_failure("could not start \"game\"", denied); },
                     "could not start \"game\": " + system_message(denied)},
        failure_case{"launch_on_installed_road", "launch", true,
                     [] { throw std::system_error(denied, "launch"); },
                     std::system_error(denied, "launch").what()},
        failure_case{"allocation_failure", "set_progress", false, [] { throw std::bad_alloc(); },
                     std::bad_alloc().what()},
        failure_case{"length_error", "show_progress_window", false,
                     [] { throw std::length_error("too long"); }, "too long"}),
    [](const ::testing::TestParamInfo<failure_case>& info) { return std::string(info.param.label); });

}  // namespace
