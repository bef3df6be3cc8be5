// base/: the progress interface the start-up sequence and the extraction share.
#pragma once

#include <string>

// The progress window as the start-up sequence and the extraction drive it:
// the real window (ui/progress_window.hpp) or a test's recorder.
class progress_display {
public:
    virtual ~progress_display() = default;
    virtual void show_window(void* instance, const std::string& caption, const std::string& text) = 0;
    // Moves the bar, then lets the window handle what the desktop sent it.
    virtual void set_progress(const std::string& text, float fraction) = 0;
    // Only lets the window handle what the desktop sent it: the bar stays.
    virtual void handle_messages() = 0;
    // Destroys the window if one was made (again, if it already was).
    virtual void destroy_window() = 0;
};
