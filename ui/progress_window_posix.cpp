#include <memory>

#include "ui/progress_backend.hpp"
#include "ui/progress_terminal.hpp"
#include "ui/progress_x11.hpp"

// Stands in for the Windows controls: an X11 window on a display, otherwise
// one line on a terminal's standard error, otherwise nothing at all.
namespace {

class posix_progress final : public progress_backend {
public:
    handle make_frame(void*, const std::string& caption, int width, int height) override {
        close();
        x11_ = x11_progress_window::open(caption, width, height);
        if (!x11_ && terminal_progress::available()) terminal_ = std::make_unique<terminal_progress>();
        alive_ = x11_ || terminal_;
        return alive_ ? &frame_ : nullptr;
    }

    handle make_bar(handle frame, const place& where) override {
        if (!ours(frame)) return nullptr;
        if (x11_) x11_->add_bar(where.x, where.y, where.width, where.height);
        has_bar_ = true;
        return &bar_;
    }

    handle make_label(handle frame, const place& where, const std::string& text) override {
        if (!ours(frame)) return nullptr;
        if (x11_) x11_->add_label(where.x, where.y, where.width, where.height, text);
        has_label_ = true;
        text_ = text;
        return &label_;
    }

    void show(handle frame) override {
        if (ours(frame) && x11_) x11_->show();
    }

    void paint(handle frame) override {
        if (!ours(frame)) return;
        if (x11_) x11_->paint();
        draw_terminal();
    }

    void set_text(handle label, const std::string& text) override {
        if (label != &label_ || !alive_) return;
        text_ = text;
        if (x11_) x11_->set_text(text);
        draw_terminal();
    }

    void set_position(handle bar, int position) override {
        if (bar != &bar_ || !alive_) return;
        position_ = position;
        if (x11_) x11_->set_position(position);
        draw_terminal();
    }

    void pump() override {
        if (alive_ && x11_) x11_->pump();
    }

    void destroy(handle frame) override {
        if (ours(frame)) close();
    }

private:
    // A handle of the window now up; stale ones (after destroy) are not.
    bool ours(handle frame) const { return frame == &frame_ && alive_; }

    void close() {
        x11_.reset();
        if (terminal_) terminal_->clear();
        terminal_.reset();
        alive_ = has_bar_ = has_label_ = false;
        text_.clear();
        position_ = 0;
    }

    void draw_terminal() {
        if (terminal_) terminal_->draw(has_label_ ? text_ : std::string(), has_bar_ ? position_ : 0);
    }

    std::unique_ptr<x11_progress_window> x11_;
    std::unique_ptr<terminal_progress> terminal_;
    bool alive_ = false;
    bool has_bar_ = false, has_label_ = false;
    std::string text_;
    int position_ = 0;
    // The handles given out: addresses that stay valid after the window is
    // gone, as stale window handles do.
    char frame_ = 0, bar_ = 0, label_ = 0;
};

}  // namespace

progress_backend& platform_progress_backend() {
    static posix_progress backend;
    return backend;
}
