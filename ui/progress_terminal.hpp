// ui/: the progress line on a terminal, for the Linux launcher without a display.
#pragma once

#include <string>

// The progress line shown on a terminal when there is no display:
// "<text> [#####.....]  50%". The bar is 20 cells; positions outside 0..100
// fill it as far as it goes but are printed as they are.
std::string progress_line(const std::string& text, int position);

// One progress line on standard error, rewritten in place; written only when
// standard error is a terminal.
class terminal_progress {
public:
    static bool available();  // standard error is a terminal
    void draw(const std::string& text, int position);
    void clear();  // erases the line, so that later output starts clean

private:
    std::string shown_;
};
