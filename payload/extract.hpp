#pragma once

#include <string>

#include "base/paths.hpp"

// Makes every missing directory above the path's last element, outermost
// first, testing the accumulated "./"-prefixed texts ("./", "./data/", ...).
// A path ending in "/" has an empty last element, so the directory it names
// is made too. Throws file_system_error for "exists" or "create_directory".
void create_parent_directories(const std::string& path);

// Throws exce when an entry's name is empty or would put something outside
// the data directory: absolute, a drive letter, or a ".." element (either
// separator counts, since Windows takes both).
void check_entry_name(const std::string& name);

// The archive entry that becomes the game's executable: the executable path
// relative to the data directory, without its leading "./". Empty when the
// executable does not lie below the data directory.
std::string executable_entry_name(const path_set& paths);

// Whether entry `name` lands on the same file as entry `other`: "." and empty
// elements do not count; on Windows neither does case, and "\\" separates too.
bool same_entry_file(const std::string& name, const std::string& other);

// What `same_entry_file` compares: the elements that name the file, joined
// with "/" (and on Windows in lower case).
std::string entry_key(const std::string& name);

// Where the executable's entry is unpacked until every other entry is done.
std::string unfinished_executable_path(const path_set& paths);
