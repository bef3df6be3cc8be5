// Finds a progress window of another process and records what it is made of,
// then follows its bar until the window is gone.
//   progress_probe.exe <timeout ms> <record file> [<found file> [<watch file> [close]]]
// The record ("key=value" lines) holds the frame's class, size, styles,
// caption and instance, and for each child (in z-order) its class, position
// in the frame's client area, size, styles, instance and text; then how far
// the bar was seen filled, each time it changed, and the texts the label
// showed. The found file is written as soon as the window has been examined,
// so a test can take a screenshot while it is up. Exits 0 when a window was
// found, 1 when none appeared in time. With a watch file (say, the record a
// started game writes), it also notes whether that file was there while the
// window still existed. With "close", it posts WM_CLOSE to the frame once it
// has been examined, as the desktop does for Alt+F4.
//
// The bar is followed twice: by its pixels on the screen, and by asking it
// (PBM_GETPOS with a time limit), which only a window whose thread handles
// its messages answers.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "progress_window_finder.hpp"

namespace {

std::string text_of(HWND window) {
    // Reads the stored text; sends nothing to the (unpumped) window.
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string hex(unsigned long long value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%llx", value);
    return buffer;
}

BOOL CALLBACK collect(HWND child, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
    return TRUE;
}

struct record {
    std::string text;
    void add(const std::string& key, const std::string& value) { text += key + "=" + value + "\n"; }
    void add(const std::string& key, long long value) { add(key, std::to_string(value)); }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const DWORD timeout = static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10));
    const DWORD start = GetTickCount();
    HWND frame = nullptr;
    while (EnumWindows(find_progress_frame, reinterpret_cast<LPARAM>(&frame)), !frame) {
        if (GetTickCount() - start > timeout) return 1;
        Sleep(5);
    }

    record out;
    RECT r{};
    GetWindowRect(frame, &r);
    out.add("frame_class", class_of(frame));
    out.add("frame_width", r.right - r.left);
    out.add("frame_height", r.bottom - r.top);
    out.add("frame_x", r.left);
    out.add("frame_y", r.top);
    out.add("frame_style", hex(static_cast<unsigned long>(GetWindowLongPtrA(frame, GWL_STYLE))));
    out.add("frame_exstyle", hex(static_cast<unsigned long>(GetWindowLongPtrA(frame, GWL_EXSTYLE))));
    out.add("frame_text", text_of(frame));
    out.add("frame_parent", hex(reinterpret_cast<unsigned long long>(GetParent(frame))));
    out.add("frame_instance", hex(static_cast<unsigned long long>(GetWindowLongPtrA(frame, GWLP_HINSTANCE))));

    std::vector<HWND> children;
    EnumChildWindows(frame, collect, reinterpret_cast<LPARAM>(&children));
    out.add("children", static_cast<long long>(children.size()));
    HWND bar = nullptr;
    HWND label = nullptr;
    for (size_t i = 0; i < children.size(); ++i) {
        const HWND child = children[i];
        const std::string key = "child" + std::to_string(i) + "_";
        RECT c{};
        GetWindowRect(child, &c);
        MapWindowPoints(HWND_DESKTOP, frame, reinterpret_cast<POINT*>(&c), 2);
        out.add(key + "class", class_of(child));
        out.add(key + "x", c.left);
        out.add(key + "y", c.top);
        out.add(key + "width", c.right - c.left);
        out.add(key + "height", c.bottom - c.top);
        out.add(key + "style", hex(static_cast<unsigned long>(GetWindowLongPtrA(child, GWL_STYLE))));
        out.add(key + "exstyle", hex(static_cast<unsigned long>(GetWindowLongPtrA(child, GWL_EXSTYLE))));
        out.add(key + "instance", hex(static_cast<unsigned long long>(GetWindowLongPtrA(child, GWLP_HINSTANCE))));
        out.add(key + "parent_is_frame", GetParent(child) == frame ? 1 : 0);
        out.add(key + "text", text_of(child));
        if (lstrcmpiA(class_of(child).c_str(), PROGRESS_CLASSA) == 0) bar = child;
        if (lstrcmpiA(class_of(child).c_str(), "Static") == 0) label = child;
    }

    if (argc > 3) {
        if (FILE* found = std::fopen(argv[3], "wb")) std::fclose(found);
    }

    // The bar's fill, read off the screen along its middle row: the pixels
    // in the highlight colour the control paints its progress with.
    RECT bar_screen{};
    if (bar) GetWindowRect(bar, &bar_screen);
    const int bar_width = bar_screen.right - bar_screen.left;
    const int middle = (bar_screen.top + bar_screen.bottom) / 2;
    const COLORREF fill_colour = GetSysColor(COLOR_HIGHLIGHT);
    HDC screen = GetDC(nullptr);
    HDC copy = CreateCompatibleDC(screen);
    HBITMAP row = CreateCompatibleBitmap(screen, bar_width > 0 ? bar_width : 1, 1);
    SelectObject(copy, row);

    if (argc > 5 && std::string(argv[5]) == "close") PostMessageA(frame, WM_CLOSE, 0, 0);

    const std::string watched = argc > 4 ? argv[4] : "";
    bool watched_seen_with_window = false;
    std::string fills, texts, last_text, positions;
    long long reads = 0, last = -1, answers = 0, unanswered = 0, last_position = -1;
    while (IsWindow(frame)) {
        if (!watched.empty() && GetFileAttributesA(watched.c_str()) != INVALID_FILE_ATTRIBUTES &&
            IsWindow(frame))
            watched_seen_with_window = true;
        if (bar && bar_width > 0) {
            BitBlt(copy, 0, 0, bar_width, 1, screen, bar_screen.left, middle, SRCCOPY);
            long long filled = 0;
            for (int x = 0; x < bar_width; ++x)
                if (GetPixel(copy, x, 0) == fill_colour) ++filled;
            // Destroying hides the window before its pixels leave the
            // screen: a read is the window's only if it is still shown now.
            if (!IsWindowVisible(frame)) break;
            ++reads;
            if (filled != last) {
                fills += (fills.empty() ? "" : ",") + std::to_string(filled);
                last = filled;
            }
        }
        if (bar && IsWindow(bar)) {
            DWORD_PTR position = 0;
            if (SendMessageTimeoutA(bar, PBM_GETPOS, 0, 0, SMTO_NORMAL, 250, &position)) {
                ++answers;
                if (static_cast<long long>(position) != last_position) {
                    positions += (positions.empty() ? "" : ",") + std::to_string(position);
                    last_position = static_cast<long long>(position);
                }
            } else if (IsWindow(bar)) {
                ++unanswered;
            }
        }
        if (label && IsWindow(label)) {
            const std::string text = text_of(label);
            if (text != last_text) {
                texts += (texts.empty() ? "" : "|") + text;
                last_text = text;
            }
        }
        Sleep(2);
    }
    DeleteDC(copy);
    DeleteObject(row);
    ReleaseDC(nullptr, screen);
    out.add("bar_screen_x", bar_screen.left);
    out.add("bar_screen_y", bar_screen.top);
    out.add("bar_fill_colour", hex(RGB(GetBValue(fill_colour), GetGValue(fill_colour),
                                       GetRValue(fill_colour))));  // as 0xRRGGBB
    out.add("bar_fills", fills);
    out.add("bar_reads", reads);
    out.add("label_texts", texts);
    out.add("bar_answers", answers);
    out.add("bar_unanswered", unanswered);
    out.add("bar_positions", positions);
    if (!watched.empty()) out.add("watch_file_seen_with_window", watched_seen_with_window ? 1 : 0);
    if (FILE* file = std::fopen(argv[2], "wb")) {
        std::fputs(out.text.c_str(), file);
        std::fclose(file);
    }
    return 0;
}
