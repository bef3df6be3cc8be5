#pragma once

// File-system operations on the launcher's narrow paths. Each one throws a
// file_system_error naming the operation and the path when the system fails.

#include <filesystem>
#include <string>

// Narrow text to the platform's path. On Windows the narrow text is in the
// file functions' code page (ANSI unless switched to OEM); a byte sequence that
// is not valid there throws a system_failure carrying the system's error.
std::filesystem::path to_fs_path(const std::string& narrow);

// The platform's path back to narrow text, with no best-fit substitution: a
// character without an exact equivalent throws a system_failure carrying
// error 1113 (no Unicode translation) on Windows.
std::string to_narrow(const std::filesystem::path& path);

// The platform's full-path resolution of a relative path against the current
// directory ("." components disappear; GetFullPathNameW on Windows).
// Throws file_system_error for "absolute".
std::filesystem::path absolute_path(const std::string& narrow);

// An absent path is false; any other failure to look throws "exists".
bool path_exists(const std::string& narrow);

// Removes a directory and everything in it; throws "remove_all".
void remove_all_path(const std::string& narrow);

// Removes one file; an absent file is no error. Throws "remove".
void remove_path(const std::string& narrow);

// Makes one directory; one already there is no error, anything else standing
// there or a failure to make it throws "create_directory".
void create_directory_path(const std::string& narrow);
