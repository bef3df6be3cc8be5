#include "base/progress_pacer.hpp"

progress_pacer::progress_pacer(progress_display& display, monotonic_clock& clock,
                               std::int64_t interval_ns)
    : display_(display), clock_(clock), interval_ns_(interval_ns), last_answer_ns_(clock.now_ns()) {}

void progress_pacer::show_window(void* instance, const std::string& caption,
                                 const std::string& text) {
    display_.show_window(instance, caption, text);
}

void progress_pacer::set_progress(const std::string& text, float fraction) {
    display_.set_progress(text, fraction);
    last_answer_ns_ = clock_.now_ns();
}

void progress_pacer::destroy_window() { display_.destroy_window(); }

void progress_pacer::tick() {
    if (!due()) return;
    display_.handle_messages();
    last_answer_ns_ = clock_.now_ns();
}

void progress_pacer::tick(const std::string& text, float fraction) {
    if (!due()) return;
    display_.set_progress(text, fraction);
    last_answer_ns_ = clock_.now_ns();
}

// The interval counts from when the window was last done with its messages:
// the work in between is what keeps it waiting.
bool progress_pacer::due() { return clock_.now_ns() - last_answer_ns_ >= interval_ns_; }
