#include "ui/progress_window.hpp"

#include "ui/progress_backend.hpp"

namespace {

progress_window_slots slots{nullptr, nullptr, nullptr};
const progress_backend* chosen_backend = nullptr;

const progress_backend& backend() {
    return chosen_backend ? *chosen_backend : platform_progress_backend();
}

}  // namespace

progress_window_slots& progress_slots() { return slots; }

const progress_backend* use_progress_backend(const progress_backend* next) {
    const progress_backend* before = chosen_backend;
    chosen_backend = next;
    return before;
}

int progress_position(float fraction) { return static_cast<int>(fraction * 100.0f); }

void show_progress_window(void* instance, const std::string& caption, const std::string& text) {
    using namespace progress_layout;
    const progress_backend& os = backend();
    // Creation results are not tested: whatever could not be made is simply
    // left out of every later update.
    slots.frame = os.create_window({frame_class, caption, frame_style, 0, progress_default_position,
                                    progress_default_position, frame_width, frame_height, nullptr,
                                    instance});
    slots.bar = os.create_window({bar_class, "", child_style, 0, bar_x, bar_y, bar_width,
                                  bar_height, slots.frame, os.module_handle()});
    slots.label = os.create_window({label_class, text, child_style, 0, label_x, label_y,
                                    label_width, label_height, slots.frame, os.module_handle()});
    os.show_window(slots.frame);
    os.paint_window(slots.frame);
}

void set_progress(const std::string& text, float fraction) {
    const progress_backend& os = backend();
    if (slots.label) os.set_text(slots.label, text);
    if (slots.bar) os.set_position(slots.bar, progress_position(fraction));
}

void destroy_progress_window() {
    if (slots.frame) backend().destroy_window(slots.frame);
}
