#include "base/fs.hpp"

#include <vector>

#include "base/errors.hpp"

namespace fs = std::filesystem;

namespace {

// Runs one standard operation on the narrow path's platform form; a failure
// throws, naming the operation and the path as the player reads them.
template <typename Operation>
auto checked(const char* operation, const std::string& narrow, Operation run) {
    const fs::path path = to_fs_path(narrow);
    std::error_code ec;
    const auto result = run(path, ec);
    if (ec) throw file_system_error(operation, narrow, path, ec);
    return result;
}

}  // namespace

bool path_exists(const std::string& narrow) {
    return checked("exists", narrow,
                   [](const fs::path& path, std::error_code& ec) { return fs::exists(path, ec); });
}

void remove_all_path(const std::string& narrow, const std::function<void()>& after_each) {
    const fs::path top = to_fs_path(narrow);
    std::error_code ec;
    const auto fail = [&] { throw file_system_error("remove_all", narrow, top, ec); };
    const fs::file_status status = fs::symlink_status(top, ec);
    if (ec && ec != std::errc::no_such_file_or_directory) fail();
    // Everything below first, in the order met; each goes after all that it
    // holds, so every directory is empty when its turn comes.
    std::vector<fs::path> below;
    if (fs::is_directory(status)) {
        for (fs::recursive_directory_iterator it(top, ec), end; !ec && it != end; it.increment(ec)) {
            below.push_back(it->path());
            after_each();
        }
        if (ec) fail();
    }
    for (auto it = below.rbegin(); it != below.rend(); ++it) {
        fs::remove(*it, ec);
        if (ec) fail();
        after_each();
    }
    fs::remove(top, ec);
    if (ec) fail();
}

void remove_path(const std::string& narrow) {
    checked("remove", narrow,
            [](const fs::path& path, std::error_code& ec) { return fs::remove(path, ec); });
}

void create_directory_path(const std::string& narrow) {
    checked("create_directory", narrow, [](const fs::path& path, std::error_code& ec) {
        return fs::create_directory(path, ec);
    });
}

bool remove_empty_directory(const std::string& narrow) {
    const fs::path path = to_fs_path(narrow);
    std::error_code ec;
    // Whatever else stands there now (a player's file, a link) is not ours.
    if (!fs::is_directory(fs::symlink_status(path, ec))) return false;
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
    return checked("space", narrow, [](const fs::path& path, std::error_code& ec) {
        return static_cast<std::uint64_t>(fs::space(path, ec).available);
    });
}
