#include "ui/progress_terminal.hpp"

#include <unistd.h>

#include <algorithm>

namespace {

constexpr int cells = 20;

void write_all(const std::string& bytes) {
    // Nothing here may fail the unpacking: a short or failed write is dropped.
    const char* next = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, next, left);
        if (written <= 0) return;
        next += written;
        left -= static_cast<size_t>(written);
    }
}

}  // namespace

std::string progress_line(const std::string& text, int position) {
    const int filled = std::clamp(position, 0, 100) * cells / 100;
    std::string line = text + " [" + std::string(filled, '#') + std::string(cells - filled, '.') + "] ";
    std::string percent = std::to_string(position) + "%";
    if (percent.size() < 4) percent.insert(0, 4 - percent.size(), ' ');
    return line + percent;
}

bool terminal_progress::available() { return ::isatty(STDERR_FILENO) == 1; }

void terminal_progress::draw(const std::string& text, int position) {
    std::string line = progress_line(text, position);
    if (line == shown_) return;
    // \r back to the start, \033[K erases what a longer line left behind.
    write_all("\r" + line + "\033[K");
    shown_ = std::move(line);
}

void terminal_progress::clear() {
    if (shown_.empty()) return;
    write_all("\r\033[K");
    shown_.clear();
}
