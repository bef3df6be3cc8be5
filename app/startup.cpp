#include "app/startup.hpp"

#include <exception>

#include "app/fs.hpp"

namespace {
void* stored_instance = nullptr;
}

void* instance_slot() { return stored_instance; }

int run_startup(void* instance, const path_set& paths, startup_steps& steps) {
    stored_instance = instance;
    try {
        if (path_exists(paths.exe_path)) {
            steps.launch();
            return 0;
        }

        const std::string loading = "Loading...";
        steps.show_progress_window(instance, "", loading);
        steps.set_progress(loading, 0.0f);
        if (path_exists(paths.data_dir)) remove_all_path(paths.data_dir);
        if (path_exists(paths.temp_archive_path)) remove_path(paths.temp_archive_path);

        std::ofstream out;  // one stream for the archive and every unpacked file
        steps.write_temp_archive(out);
        steps.extract_archive(out);
        steps.launch();
        return 0;
    } catch (const std::exception& error) {
        steps.destroy_progress_window();
        steps.show_error(error.what());
        return 1;
    }
}
