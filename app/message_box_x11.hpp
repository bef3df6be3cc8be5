// app/: the Linux launcher's error box on an X11 display.
#pragma once

#include <functional>
#include <string>
#include <vector>

// The error box on an X11 display: the caption as its title, an error mark,
// the text wrapped to fit, and one OK button. Returns once the player has
// pressed OK, Return or Escape, or the window manager closed it; false at
// once when there is no display to show it on.
bool show_x11_message_box(const std::string& text, const std::string& caption);

// Breaks `text` into lines no wider than `max_width` as `width` measures
// them: at its own line breaks, between words where it can, inside a word
// that is wider than a whole line.
std::vector<std::string> wrap_text(const std::string& text, int max_width,
                                   const std::function<int(const std::string&)>& width);
