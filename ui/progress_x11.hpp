// ui/: the progress window on an X11 display.
#pragma once

#include <memory>
#include <string>

// The progress window drawn with plain Xlib: a frame with a text line and a
// bar as child windows. Changes are drawn as they are made; pump() takes the
// events that came in and repaints what was uncovered. X errors, even a lost
// connection, never end the process: the window just stops drawing.
class x11_progress_window {
public:
    // Null when DISPLAY is unset or the display cannot be opened.
    static std::unique_ptr<x11_progress_window> open(const std::string& caption, int width,
                                                     int height);
    ~x11_progress_window();
    x11_progress_window(const x11_progress_window&) = delete;
    x11_progress_window& operator=(const x11_progress_window&) = delete;

    void add_label(int x, int y, int width, int height, const std::string& text);
    void add_bar(int x, int y, int width, int height);
    void show();
    void paint();  // draws everything now and waits until the server has it
    void set_text(const std::string& text);
    void set_position(int position);
    void pump();

    struct state;

private:
    explicit x11_progress_window(std::unique_ptr<state> s);
    std::unique_ptr<state> s_;
};
