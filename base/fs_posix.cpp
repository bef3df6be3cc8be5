// POSIX: paths are bytes, so narrow text is the path as it stands.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
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

void make_runnable(const std::string& narrow) {
    const fs::path target = to_fs_path(narrow);
    std::error_code ec;
    const fs::perms mode = fs::status(target, ec).permissions();
    fs::perms exec = fs::perms::none;
    if ((mode & fs::perms::owner_read) != fs::perms::none) exec |= fs::perms::owner_exec;
    if ((mode & fs::perms::group_read) != fs::perms::none) exec |= fs::perms::group_exec;
    if ((mode & fs::perms::others_read) != fs::perms::none) exec |= fs::perms::others_exec;
    if (!ec) fs::permissions(target, exec, fs::perm_options::add, ec);
    if (ec) throw file_system_error("permissions", narrow, target, ec);
}

std::FILE* open_for_reading(const fs::path& path) { return std::fopen(path.c_str(), "rb"); }

fs::path own_executable_path() { return "/proc/self/exe"; }

std::string own_executable_name() {
    std::error_code ec;
    const fs::path target = fs::read_symlink(own_executable_path(), ec);
    return ec ? own_executable_path().native() : target.native();
}

std::optional<file_facts> regular_file_facts(const std::string& narrow) {
    struct stat facts {};
    if (lstat(narrow.c_str(), &facts) != 0 || !S_ISREG(facts.st_mode)) return std::nullopt;
    constexpr std::int64_t nanoseconds = 1000000000;
    return file_facts{static_cast<std::uint64_t>(facts.st_size),
                      static_cast<std::int64_t>(facts.st_mtim.tv_sec) * nanoseconds +
                          facts.st_mtim.tv_nsec,
                      // st_blocks counts 512-byte units whatever the file system's block.
                      static_cast<std::uint64_t>(facts.st_blocks) * 512};
}

std::uint64_t allocation_unit(const std::string& narrow) {
    struct statvfs volume {};
    if (statvfs(narrow.c_str(), &volume) != 0)
        throw file_system_error("space", narrow, to_fs_path(narrow),
                                std::error_code(errno, std::generic_category()));
    return volume.f_frsize ? static_cast<std::uint64_t>(volume.f_frsize)
                           : static_cast<std::uint64_t>(volume.f_bsize);
}
