// app/: the lock the update and unpacking roads hold, one unpacking at a time.
#pragma once

#include <cstdint>
#include <string>

#include "base/paths.hpp"

// One unpacking at a time into a data directory. Construction waits until no
// other launcher holds the lock for the same data directory; destruction
// releases it. The system releases it too when its holder dies, so a killed
// launcher never blocks the next one, and nothing of it stays on disk.
class install_lock {
public:
    explicit install_lock(const path_set& paths);
    ~install_lock();
    install_lock(const install_lock&) = delete;
    install_lock& operator=(const install_lock&) = delete;

private:
    std::intptr_t handle_;  // the mutex's HANDLE on Windows, the descriptor on POSIX
};

// Windows only: the name of the mutex for an absolute data directory, the
// same whatever the case of its letters, as in the file system.
std::wstring install_mutex_name(const std::wstring& absolute_data_dir);
