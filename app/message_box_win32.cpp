#include <windows.h>

#include "app/message_box.hpp"

void show_message_box(const std::string& text, const std::string& caption) {
    MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
}
