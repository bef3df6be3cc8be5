#include "ui/progress_window.hpp"

#include "ui/progress_backend.hpp"

namespace {

progress_window_slots slots{nullptr, nullptr, nullptr};
progress_backend* chosen_backend = nullptr;

progress_backend& backend() { return chosen_backend ? *chosen_backend : platform_progress_backend(); }

}  // namespace

progress_window_slots& progress_slots() { return slots; }

progress_backend* use_progress_backend(progress_backend* next) {
    progress_backend* before = chosen_backend;
    chosen_backend = next;
    return before;
}

int progress_position(float fraction) { return static_cast<int>(fraction * 100.0f); }

void show_progress_window(void* instance, const std::string& caption, const std::string& text) {
    using namespace progress_layout;
    progress_backend& os = backend();
    // Creation results are not tested: whatever could not be made is simply
    // left out of every later update.
    slots.frame = os.make_frame(instance, caption, frame_width, frame_height);
    slots.bar = os.make_bar(slots.frame, bar);
    slots.label = os.make_label(slots.frame, label, text);
    os.show(slots.frame);
    os.paint(slots.frame);
}

void set_progress(const std::string& text, float fraction) {
    progress_backend& os = backend();
    if (slots.label) os.set_text(slots.label, text);
    if (slots.bar) os.set_position(slots.bar, progress_position(fraction));
    // The one thread does the unpacking, so this is where the window gets to
    // answer the desktop; without it, it counts as hung after a few seconds.
    if (slots.frame) os.pump();
}

void handle_progress_messages() {
    if (slots.frame) backend().pump();
}

void destroy_progress_window() {
    if (slots.frame) backend().destroy(slots.frame);
}

namespace {

class window_display final : public progress_display {
public:
    void show_window(void* instance, const std::string& caption, const std::string& text) override {
        show_progress_window(instance, caption, text);
    }
    void set_progress(const std::string& text, float fraction) override {
        ::set_progress(text, fraction);
    }
    void handle_messages() override { handle_progress_messages(); }
    void destroy_window() override { destroy_progress_window(); }
};

}  // namespace

progress_display& progress_window() {
    static window_display display;
    return display;
}
