// app/: the "app throw" box, per platform (message_box_win32.cpp, _posix.cpp).
#pragma once

#include <string>

// An error message with a caption and a single OK button; returns when the
// player has dismissed it.
void show_message_box(const std::string& text, const std::string& caption);
