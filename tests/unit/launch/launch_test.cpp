#include "launch/launch.hpp"

#include <gtest/gtest.h>

#include "base/errors.hpp"
#include "base/fs.hpp"
#include "support/scratch_dir.hpp"

namespace {

class recording_launch final : public launch_steps {
public:
    std::vector<std::string> calls;
    launch_command started;
    bool refuse = false;

    std::uint32_t start_process(const launch_command& command) override {
        calls.push_back("start_process");
        started = command;
        if (refuse)
            throw system_failure("could not start \"" + command.program + "\"",
                                 std::make_error_code(std::errc::no_such_file_or_directory));
        return 4242;
    }
    void pause_ms(unsigned milliseconds) override {
        calls.push_back("pause_ms(" + std::to_string(milliseconds) + ")");
    }
    void watch_game(std::uint32_t process_id) override {
        calls.push_back("watch_game(" + std::to_string(process_id) + ")");
    }
};

class Launch : public scratch_dir_test {
protected:
    void SetUp() override {
        scratch_dir_test::SetUp();
        std::filesystem::create_directories("start dir");
        std::filesystem::current_path("start dir");
        paths = form_path_set("QuillMark", "./Quill Mark.exe",
                              "./worlds/Quill Mark V1.1/Quill Mark V1.1.map");
    }
    path_set paths;
    recording_launch steps;
};

TEST_F(Launch, StartsTheGameThenPausesThenWatchesItsProcess) {
    launch(paths, steps);
    const std::string here = to_narrow(paths.working_dir);
    EXPECT_EQ(steps.started.program, here + platform_joint() + "./!QuillMark_data/./Quill Mark.exe");
    EXPECT_EQ(steps.started.map,
              to_narrow(paths.working_dir / "!QuillMark_data" / "worlds" / "Quill Mark V1.1" /
                        "Quill Mark V1.1.map"));
    EXPECT_EQ(steps.calls,
              (std::vector<std::string>{"start_process", "pause_ms(250)", "watch_game(4242)"}));
}

TEST_F(Launch, MissingMapStillGivesTheSameCommand) {
    // Nothing is tested for existence: neither the executable nor the map.
    ASSERT_FALSE(std::filesystem::exists("!QuillMark_data"));
    launch(paths, steps);
    EXPECT_EQ(steps.calls.size(), 3u);

    write_file(to_fs_path(paths.exe_path), "game");
    write_file(to_fs_path(paths.map_path), "map");
    ASSERT_TRUE(std::filesystem::exists(to_fs_path(paths.map_path)));
    recording_launch with_map;
    launch(paths, with_map);

    EXPECT_EQ(steps.started.program, with_map.started.program);
    EXPECT_EQ(steps.started.map, with_map.started.map);
    EXPECT_EQ(steps.calls, with_map.calls);
}

TEST_F(Launch, RefusedStartIsRaisedWithoutPauseOrWatch) {
    steps.refuse = true;
    EXPECT_THROW(launch(paths, steps), std::system_error);
    EXPECT_EQ(steps.calls, std::vector<std::string>{"start_process"});
}

struct refusal_case {
    const char* label;
    const char* content;  // null: no file at all
};

void PrintTo(const refusal_case& c, std::ostream* os) { *os << c.label; }


class PlatformStartRefusal : public scratch_dir_test,
                             public ::testing::WithParamInterface<refusal_case> {};

TEST_P(PlatformStartRefusal, NamesTheProgramAndTheSystemsReason) {
    const std::string program = to_narrow(absolute_path(".")) + platform_joint() + "./game dir/game.exe";
    std::filesystem::create_directories("game dir");
    if (GetParam().content) {
        write_file("game dir/game.exe", GetParam().content);
        std::filesystem::permissions("game dir/game.exe", std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add);
    }
    try {
        platform_launch_steps().start_process({program, "map"});
        ADD_FAILURE() << "the system started " << program;
    } catch (const std::system_error& error) {
        const std::string prefix = "could not start \"" + program + "\": ";
        const std::string text = error.what();
        EXPECT_EQ(text.rfind(prefix, 0), 0u) << text;
        EXPECT_GT(text.size(), prefix.size()) << text;
        EXPECT_EQ(text.substr(prefix.size()), system_message(error.code()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Programs, PlatformStartRefusal,
    ::testing::Values(refusal_case{"missing", nullptr},
                      refusal_case{"not_a_program", "this is plain text, not a program\n"}),
    [](const ::testing::TestParamInfo<refusal_case>& info) { return std::string(info.param.label); });

}  // namespace
