#include "launch/launch.hpp"

#include "base/fs.hpp"
#include "launch/clock.hpp"
#include "launch/watch.hpp"

void launch_steps::pause_ms(unsigned milliseconds) { sleep_for_ms(milliseconds); }

void launch_steps::watch_game(std::uint32_t process_id) {
    watch_windows(platform_desktop(), process_watch, process_id);
}

void launch(const path_set& paths, launch_steps& steps) {
    const std::string absolute_map = to_narrow(absolute_path(paths.map_path));
    const std::string working_dir = to_narrow(paths.working_dir);
    const launch_command command =
        form_launch_command(working_dir, platform_joint(), paths.exe_path, absolute_map);

    const std::uint32_t process_id = steps.start_process(command);
    steps.pause_ms(250);
    steps.watch_game(process_id);
}
