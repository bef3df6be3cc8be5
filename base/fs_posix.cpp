// POSIX: paths are bytes, so narrow text is the path as it stands.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "base/errors.hpp"
#include "base/fs.hpp"

namespace fs = std::filesystem;

fs::path to_fs_path(const std::string& narrow) { return fs::path(narrow); }

std::string to_narrow(const fs::path& path) { return path.native(); }

// Stands in for GetFullPathNameW: joined to the current directory, "." and
// ".." components resolved lexically, no trailing separator but at the root.
fs::path absolute_path(const std::string& narrow) {
    const fs::path relative = to_fs_path(narrow);
    std::error_code ec;
    fs::path full = fs::absolute(relative, ec);
    if (ec) throw file_system_error("absolute", narrow, relative, ec);
    full = full.lexically_normal();
    if (!full.has_filename() && full != full.root_path()) full = full.parent_path();
    return full;
}

bool file_in_use(const std::string& narrow) {
    const int fd = open(narrow.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
        close(fd);
        return false;
    }
    return errno == ETXTBSY || errno == EBUSY;
}
