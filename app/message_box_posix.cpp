#include <cstdio>

#include "app/message_box.hpp"

// Stands in for the message box: one line on standard error.
void show_message_box(const std::string& text, const std::string& caption) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
}
