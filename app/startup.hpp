#pragma once

#include <fstream>
#include <string>

#include "app/paths.hpp"

// What the start-up sequence calls besides the file system. The launcher
// wires these to the progress window, the payload and the launch; tests wire
// them to fakes that record what happened.
class startup_steps {
public:
    virtual ~startup_steps() = default;
    virtual void show_progress_window(void* instance, const std::string& caption,
                                      const std::string& text) = 0;
    virtual void set_progress(const std::string& text, float fraction) = 0;
    virtual void write_temp_archive(std::ofstream& out) = 0;
    virtual void extract_archive(std::ofstream& out) = 0;
    virtual void launch() = 0;
    // Destroys the progress window if one was made (again, if it already was).
    virtual void destroy_progress_window() = 0;
    // The "app throw" message box.
    virtual void show_error(const std::string& text) = 0;
};

// The module instance handle the platform passed to the entry point; the
// window watch loads the launcher's icon from it.
void* instance_slot();

// The whole run: the installed road when the game's executable exists, the
// unpacking road otherwise, and the one boundary where failures are shown.
// Returns 0 after success and 1 after a reported failure.
int run_startup(void* instance, const path_set& paths, startup_steps& steps);
