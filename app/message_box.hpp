#pragma once

#include <string>

// An error message with a caption and a single OK button; returns when the
// player has dismissed it.
void show_message_box(const std::string& text, const std::string& caption);
