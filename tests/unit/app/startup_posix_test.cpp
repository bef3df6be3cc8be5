// Failures of the file system that a POSIX system lets a test provoke
// safely: a path that loops on itself, a directory the user may not change.
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>


#include <gtest/gtest.h>

#include "app/startup.hpp"
#include "base/paths.hpp"
#include "startup_fake.hpp"
#include "support/fake_clock.hpp"
#include "support/scratch_dir.hpp"

namespace {

class StartupFileSystemFailure : public scratch_dir_test {
protected:
    path_set paths = form_relative_paths("QuillMark", "./Quill Mark.exe", "./worlds/start.map");
    recording_steps steps{paths};
    fake_clock clock;
    progress_pacer pacer{steps, clock};
    const payload_contents game{"2222", 10, 10, nullptr, 0, payload_home::image, nullptr};
};

TEST_F(StartupFileSystemFailure, UnexaminableExecutablePathIsReportedAsExists) {
    ASSERT_EQ(symlink("loop", "loop"), 0);
    paths.exe_path = "loop/game.exe";
    EXPECT_EQ(run_startup(nullptr, paths, game, steps, pacer), 1);
    ASSERT_EQ(steps.calls.size(), 2u);
    EXPECT_EQ(steps.calls[0], "destroy_progress_window");
    EXPECT_EQ(steps.calls[1].rfind("show_error(exists: ", 0), 0u) << steps.calls[1];
    EXPECT_NE(steps.calls[1].find(": \"loop/game.exe\")"), std::string::npos) << steps.calls[1];
}

// Runs the start-up sequence in a child process that may not write to the
// data directory (root drops to "nobody" first, since root may write
// anywhere) and returns the calls it made, one per line.
std::string run_without_write_permission(const path_set& paths, const payload_contents& game) {
    int channel[2];
    if (pipe(channel) != 0) return "pipe failed";
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        if (geteuid() == 0 && setuid(65534) != 0) _exit(3);
        recording_steps steps{paths};
        fake_clock clock;
        progress_pacer pacer{steps, clock};
        run_startup(nullptr, paths, game, steps, pacer);
        std::string report;
        for (const std::string& call : steps.calls) report += call + "\n";
        if (write(channel[1], report.data(), report.size()) < 0) _exit(4);
        _exit(0);
    }
    close(channel[1]);
    std::string report;
    char buffer[512];
    ssize_t got;
    while ((got = read(channel[0], buffer, sizeof buffer)) > 0) report.append(buffer, got);
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return report;
}

TEST_F(StartupFileSystemFailure, DataDirectoryThatCannotBeRemovedIsReportedAndNotLaunched) {
    write_file("!QuillMark_data/worlds/start.map", "old");
    std::filesystem::permissions(root_, std::filesystem::perms::all,
                                 std::filesystem::perm_options::add);
    chmod("!QuillMark_data", 0555);
    chmod("!QuillMark_data/worlds", 0555);

    const std::string report = run_without_write_permission(paths, game);

    chmod("!QuillMark_data", 0755);
    chmod("!QuillMark_data/worlds", 0755);
    EXPECT_EQ(report.rfind("lock_install\ncheck_archive\nshow_progress_window(0,\"\",\"Loading...\")\n"
                           "set_progress(\"Loading...\",0.000000)\nunlock_install\n"
                           "destroy_progress_window\nshow_error(remove_all: ", 0), 0u) << report;
    EXPECT_NE(report.find(": \"./!QuillMark_data/\")\n"), std::string::npos) << report;
    EXPECT_EQ(report.find("launch"), std::string::npos) << report;
}

}  // namespace
