// payload/: the extraction's helpers and the names it keeps for itself.
#pragma once

#include <string>

#include "base/paths.hpp"

// Makes every missing directory above the path's last element, outermost
// first, testing the accumulated "./"-prefixed texts ("./", "./data/", ...).
// A path ending in "/" has an empty last element, so the directory it names
// is made too. Throws file_system_error for "exists" or "create_directory".
void create_parent_directories(const std::string& path);

// Where the executable's entry is unpacked until every other entry is done.
std::string unfinished_executable_path(const path_set& paths);
