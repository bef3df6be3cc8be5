#include "base/paths.hpp"

#include "base/fs.hpp"

path_set form_relative_paths(const std::string& app_name, const std::string& game_exe,
                             const std::string& start_map) {
    path_set paths;
    paths.data_dir = "./!" + app_name + "_data/";
    paths.exe_path = "./!" + app_name + "_data/" + game_exe;
    paths.map_path = "!" + app_name + "_data/" + start_map;
    paths.temp_archive_path = "./~" + app_name + "_temp";
    paths.stamp_path = paths.data_dir + ".launcher-stamp";
    return paths;
}

path_set form_path_set(const std::string& app_name, const std::string& game_exe,
                       const std::string& start_map) {
    path_set paths = form_relative_paths(app_name, game_exe, start_map);
    paths.working_dir = absolute_path(".");
    return paths;
}
