// Windows: a named mutex per data directory. An abandoned mutex (its holder
// died) is handed to the next waiter, who then owns it as if released.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <system_error>

#include "app/install_lock.hpp"
#include "base/errors.hpp"
#include "base/fs.hpp"

namespace {
std::error_code last_error() { return {static_cast<int>(GetLastError()), std::system_category()}; }
}  // namespace

// Mutex names allow no backslash and at most MAX_PATH characters, so the
// upper-cased path is hashed (FNV-1a, 64 bits).
std::wstring install_mutex_name(const std::wstring& absolute_data_dir) {
    std::wstring folded = absolute_data_dir;
    while (!folded.empty() && (folded.back() == L'\\' || folded.back() == L'/')) folded.pop_back();
    for (wchar_t& c : folded)
        if (c == L'/') c = L'\\';
    if (!folded.empty()) CharUpperBuffW(folded.data(), static_cast<DWORD>(folded.size()));
    std::uint64_t hash = 14695981039346656037ull;
    for (const wchar_t c : folded) {
        hash ^= static_cast<std::uint16_t>(c);
        hash *= 1099511628211ull;
    }
    wchar_t name[64];
    std::swprintf(name, 64, L"Local\\launcher-unpacking-%016llx",
                  static_cast<unsigned long long>(hash));
    return name;
}

install_lock::install_lock(const path_set& paths) : handle_(0) {
    const std::wstring name = install_mutex_name(absolute_path(paths.data_dir).native());
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    if (!mutex) throw system_failure("could not create the unpacking lock", last_error());
    const DWORD waited = WaitForSingleObject(mutex, INFINITE);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        const std::error_code error = last_error();
        CloseHandle(mutex);
        throw system_failure("could not take the unpacking lock", error);
    }
    handle_ = reinterpret_cast<std::intptr_t>(mutex);
}

install_lock::~install_lock() {
    const HANDLE mutex = reinterpret_cast<HANDLE>(handle_);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}
