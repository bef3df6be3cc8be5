#pragma once

// How the launcher reads an archive entry's name as a place below the data
// directory. The rules that differ by platform (which characters separate,
// whether case counts, which elements climb out) live in
// entry_names_posix.cpp and entry_names_win32.cpp.

#include <string>
#include <vector>

#include "base/paths.hpp"

// The name's elements between separators, in order; with `files_only`, the
// "." and empty ones left out and each folded as the file system compares
// names (lower case on Windows). `any_separator` counts "\\" as one on every
// platform, since Windows takes both.
std::vector<std::string> name_elements(const std::string& name, bool any_separator,
                                       bool files_only);

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

// The platform's rules.
bool separates_elements(char c);                   // "/" everywhere, "\\" too on Windows
std::string folded_element(std::string element);   // as the file system compares it
bool climbs_out(const std::string& element);       // ".." (and on Windows ".. ", "...")
