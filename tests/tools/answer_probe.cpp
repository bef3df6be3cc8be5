// Asks another process's progress bar its position again and again, as the
// desktop and other programs ask a window, until the window is gone:
//   answer_probe.exe <find timeout ms> <answer timeout ms> <record file>
// Each question is a PBM_GETPOS sent with SendMessageTimeout: only a window
// whose thread reads its messages answers, and one that does not within the
// answer timeout counts as unanswered. The record ("key=value" lines) holds
// how many questions were asked, answered and unanswered, the system's error
// for the first unanswered one, the positions the bar answered (each change),
// and, for a person to read, the longest wait for one answer (when it began,
// counted from the window's discovery, and the position answered after it)
// and the longest time between two answers, in milliseconds. Exits 0 when a window was found,
// 1 when none appeared in time.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "progress_window_finder.hpp"

namespace {

BOOL CALLBACK find_bar(HWND child, LPARAM context) {
    if (lstrcmpiA(class_of(child).c_str(), PROGRESS_CLASSA) != 0) return TRUE;
    *reinterpret_cast<HWND*>(context) = child;
    return FALSE;
}

double now_ms() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    const DWORD find_timeout = static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10));
    const UINT answer_timeout = static_cast<UINT>(std::strtoul(argv[2], nullptr, 10));
    const DWORD start = GetTickCount();
    HWND frame = nullptr;
    HWND bar = nullptr;
    for (;;) {
        frame = nullptr;
        EnumWindows(find_progress_frame, reinterpret_cast<LPARAM>(&frame));
        if (frame) EnumChildWindows(frame, find_bar, reinterpret_cast<LPARAM>(&bar));
        if (bar) break;
        if (GetTickCount() - start > find_timeout) return 1;
        Sleep(5);
    }

    long long asked = 0, answered = 0, unanswered = 0, last_position = -1;
    unsigned long first_error = 0;
    const double found = now_ms();
    double longest_wait = 0, longest_wait_began = 0, longest_gap = 0, last_answer = found;
    long long position_after_longest_wait = -1;
    std::string positions;
    while (IsWindow(bar)) {
        DWORD_PTR position = 0;
        const double sent = now_ms();
        SetLastError(0);
        const LRESULT ok =
            SendMessageTimeoutA(bar, PBM_GETPOS, 0, 0, SMTO_NORMAL, answer_timeout, &position);
        const DWORD error = GetLastError();
        const double back = now_ms();
        ++asked;
        if (ok) {
            ++answered;
            if (back - sent > longest_wait) {
                longest_wait = back - sent;
                longest_wait_began = sent - found;
                position_after_longest_wait = static_cast<long long>(position);
            }
            if (back - last_answer > longest_gap) longest_gap = back - last_answer;
            last_answer = back;
            if (static_cast<long long>(position) != last_position) {
                positions += (positions.empty() ? "" : ",") + std::to_string(position);
                last_position = static_cast<long long>(position);
            }
        } else if (error == ERROR_TIMEOUT || IsWindow(bar)) {
            // Not a window that went away while asked: it did not answer.
            ++unanswered;
            if (!first_error) first_error = error ? error : 1;
        }
        Sleep(1);
    }

    std::string record;
    const auto add = [&record](const char* key, const std::string& value) {
        record += std::string(key) + "=" + value + "\n";
    };
    add("asked", std::to_string(asked));
    add("answered", std::to_string(answered));
    add("unanswered", std::to_string(unanswered));
    add("first_error", std::to_string(first_error));
    add("positions", positions);
    add("longest_wait_ms", std::to_string(static_cast<long long>(longest_wait)));
    add("longest_wait_began_ms", std::to_string(static_cast<long long>(longest_wait_began)));
    add("position_after_longest_wait", std::to_string(position_after_longest_wait));
    add("longest_gap_ms", std::to_string(static_cast<long long>(longest_gap)));
    if (FILE* file = std::fopen(argv[3], "wb")) {
        std::fputs(record.c_str(), file);
        std::fclose(file);
    }
    return 0;
}
