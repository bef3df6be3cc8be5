#include "base/fs.hpp"

#include "base/errors.hpp"

namespace fs = std::filesystem;

bool path_exists(const std::string& narrow) {
    const fs::path path = to_fs_path(narrow);
    std::error_code ec;
    const bool found = fs::exists(path, ec);
    if (ec) throw file_system_error("exists", narrow, path, ec);
    return found;
}

void remove_all_path(const std::string& narrow) {
    const fs::path path = to_fs_path(narrow);
    std::error_code ec;
    fs::remove_all(path, ec);
    if (ec) throw file_system_error("remove_all", narrow, path, ec);
}

void remove_path(const std::string& narrow) {
    const fs::path path = to_fs_path(narrow);
    std::error_code ec;
    fs::remove(path, ec);
    if (ec) throw file_system_error("remove", narrow, path, ec);
}

void create_directory_path(const std::string& narrow) {
    const fs::path path = to_fs_path(narrow);
    std::error_code ec;
    fs::create_directory(path, ec);
    if (ec) throw file_system_error("create_directory", narrow, path, ec);
}

bool remove_empty_directory(const std::string& narrow) {
    const fs::path path = to_fs_path(narrow);
    std::error_code ec;
    const bool empty = fs::is_empty(path, ec);
    if (ec) {
        if (ec == std::errc::no_such_file_or_directory) return false;
        throw file_system_error("remove", narrow, path, ec);
    }
    if (!empty) return false;
    fs::remove(path, ec);
    if (ec) throw file_system_error("remove", narrow, path, ec);
    return true;
}

void rename_path(const std::string& from, const std::string& to) {
    const fs::path target = to_fs_path(to);
    std::error_code ec;
    fs::rename(to_fs_path(from), target, ec);
    if (ec) throw file_system_error("rename", to, target, ec);
}

std::optional<std::uint64_t> regular_file_size(const std::string& narrow) {
    const fs::path path = to_fs_path(narrow);
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    if (ec || !fs::is_regular_file(status)) return std::nullopt;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec) return std::nullopt;
    return static_cast<std::uint64_t>(size);
}

std::uint64_t free_space(const std::string& narrow) {
    const fs::path path = to_fs_path(narrow);
    std::error_code ec;
    const fs::space_info info = fs::space(path, ec);
    if (ec) throw file_system_error("space", narrow, path, ec);
    return static_cast<std::uint64_t>(info.available);
}
