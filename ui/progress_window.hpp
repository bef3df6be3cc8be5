// ui/: the progress window the unpacking roads show.
#pragma once

#include <string>

#include "base/progress_display.hpp"

// The small window shown while the game is unpacked: a text line and a bar.
void show_progress_window(void* instance, const std::string& caption, const std::string& text);
void set_progress(const std::string& text, float fraction);
// Lets the window handle what the desktop has sent it, leaving the bar as it is.
void handle_progress_messages();
// Destroys the window if one was made; its handles stay in their slots.
void destroy_progress_window();

// The same window as the start-up sequence and the extraction drive it.
progress_display& progress_window();
