// Shows the progress window and moves its bar slowly, so that a test can
// look at it from outside.
//   progress_demo <steps> <pause ms> [<hold file>]
// Like the unpacking road: "Loading..." at 0, then step i of n at i / n after
// a pause each, then the window is destroyed. With a hold file, it stops at
// the middle step, writes "<hold file>.reached" and waits until the hold
// file exists (at most 120 s).
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

#include "ui/progress_window.hpp"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const unsigned steps = static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10));
    const auto pause = std::chrono::milliseconds(std::strtoul(argv[2], nullptr, 10));
    const std::string hold = argc > 3 ? argv[3] : "";
#ifdef _WIN32
    void* instance = GetModuleHandleA(nullptr);
#else
    void* instance = nullptr;
#endif
    const std::string loading = "Loading...";
    show_progress_window(instance, "", loading);
    set_progress(loading, 0.0f);
    for (unsigned i = 0; i < steps; ++i) {
        std::this_thread::sleep_for(pause);
        set_progress(loading, static_cast<float>(i) / static_cast<float>(steps));
        if (!hold.empty() && i == steps / 2) {
            std::ofstream(hold + ".reached").put('\n');
            for (int waited = 0; waited < 6000 && !std::filesystem::exists(hold); ++waited)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    destroy_progress_window();
    return 0;
}
