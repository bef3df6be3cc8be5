#include "ui/progress_window.hpp"

// No progress window yet: unpacking runs without one.
void show_progress_window(void*, const std::string&, const std::string&) {}
void set_progress(const std::string&, float) {}
void destroy_progress_window() {}
