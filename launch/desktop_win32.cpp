#include <windows.h>

#include "base/instance.hpp"
#include "launch/desktop.hpp"

namespace {

BOOL CALLBACK visit_trampoline(HWND window, LPARAM context) {
    const auto& visit = *reinterpret_cast<const std::function<bool(desktop::window)>*>(context);
    return visit(reinterpret_cast<desktop::window>(window)) ? TRUE : FALSE;
}

class win32_desktop final : public desktop {
public:
    bool enumerate_windows(const std::function<bool(window)>& visit) override {
        return EnumWindows(visit_trampoline, reinterpret_cast<LPARAM>(&visit)) != FALSE;
    }

    std::optional<std::uint32_t> window_process(window w) override {
        DWORD process_id = 0;
        if (GetWindowThreadProcessId(reinterpret_cast<HWND>(w), &process_id) == 0) return {};
        return process_id;
    }

    icon load_icon() override {
        // A shared icon: every load gives the same handle, never destroyed.
        return reinterpret_cast<icon>(
            LoadIconA(static_cast<HINSTANCE>(instance_slot()), MAKEINTRESOURCEA(1)));
    }

    void send_icon(window w, icon_kind kind, icon image, unsigned timeout_ms) override {
        // Like SendMessageA, but a window that does not answer in time (or
        // whose thread is already hung) lets the launcher go on.
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(reinterpret_cast<HWND>(w), WM_SETICON,
                            kind == icon_kind::icon_small ? ICON_SMALL : ICON_BIG,
                            static_cast<LPARAM>(image), SMTO_ABORTIFHUNG, timeout_ms, &ignored);
    }
};

}  // namespace

desktop& platform_desktop() {
    static win32_desktop screen;
    return screen;
}
