#include <cstdio>

#include "app/message_box.hpp"
#include "app/message_box_x11.hpp"

// Stands in for the message box: one line on standard error, and on a
// display a box the player has to dismiss.
void show_message_box(const std::string& text, const std::string& caption) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    show_x11_message_box(text, caption);
}
