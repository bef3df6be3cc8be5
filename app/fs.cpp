#include "app/fs.hpp"

#include "app/errors.hpp"

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
