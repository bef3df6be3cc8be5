#include "payload/directory_memo.hpp"

#include <filesystem>
#include <vector>

#include "base/fs.hpp"
#include "payload/extract.hpp"

void create_parent_directories(const std::string& path, directory_memo& known) {
    // The texts of the directories above the last element, outermost first.
    std::vector<std::string> parents;
    const std::filesystem::path elements = to_fs_path(path);
    std::string accumulated;
    for (auto element = elements.begin(); element != elements.end();) {
        accumulated += to_narrow(*element) + "/";
        if (++element == elements.end()) break;
        parents.push_back(accumulated);
    }

    bool all_known = true;
    for (const std::string& parent : parents) all_known = all_known && known.contains(parent);
    // Nothing is missing, so whether the path itself exists decides nothing.
    if (all_known) return;

    if (path_exists(path)) {
        for (const std::string& parent : parents) known.add(parent);
        return;
    }
    for (const std::string& parent : parents) {
        if (known.contains(parent)) continue;
        if (!path_exists(parent)) create_directory_path(parent);
        known.add(parent);
    }
}

void create_parent_directories(const std::string& path) {
    directory_memo fresh;
    create_parent_directories(path, fresh);
}
