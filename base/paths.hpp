// base/: the path set every name the launcher touches is formed from.
#pragma once

#include <filesystem>
#include <string>

// Every name the launcher touches, formed once from three compiled-in
// constants. All but the working directory are relative to the current
// directory; nothing normalises them.
struct path_set {
    std::string data_dir;            // "./!" + app + "_data/"
    std::string exe_path;            // data_dir + game executable
    std::string map_path;            // "!" + app + "_data/" + start-up map (no leading "./")
    std::string temp_archive_path;   // "./~" + app + "_temp"
    std::string stamp_path;          // data_dir + ".launcher-stamp": what the install vouches for
    std::filesystem::path working_dir;  // absolute form of "."
};

// Forms the four relative paths from the constants (pure).
path_set form_relative_paths(const std::string& app_name, const std::string& game_exe,
                             const std::string& start_map);

// Forms the whole set and resolves the working directory against the current
// directory at this moment.
path_set form_path_set(const std::string& app_name, const std::string& game_exe,
                       const std::string& start_map);
