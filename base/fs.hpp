#pragma once

// File-system operations on the launcher's narrow paths. Each one throws a
// file_system_error naming the operation and the path when the system fails.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
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

// Removes a directory and everything in it, one entry at a time, calling
// `after_each` after every entry looked at or removed, so that a caller can
// keep a window alive through a large tree. A link is removed, never
// followed; an absent path is no error. Throws "remove_all" naming the path.
void remove_all_path(const std::string& narrow, const std::function<void()>& after_each);

// Removes one file; an absent file is no error. Throws "remove".
void remove_path(const std::string& narrow);

// Makes one directory; one already there is no error, anything else standing
// there or a failure to make it throws "create_directory".
void create_directory_path(const std::string& narrow);

// Removes a directory only when it is empty; returns whether it went. An
// absent one, or anything but a directory standing there, is left alone; a
// failure to look or to remove throws "remove".
bool remove_empty_directory(const std::string& narrow);

// Renames `from` over `to`, replacing a file there; throws "rename".
void rename_path(const std::string& from, const std::string& to);

// The size of the regular file at the path; nothing when there is none.
std::optional<std::uint64_t> regular_file_size(const std::string& narrow);

// Bytes free for the launcher on the volume that holds the path; throws "space".
std::uint64_t free_space(const std::string& narrow);

// What the launcher keeps of a file it wrote, to know it again later, and what
// the file takes on its volume.
struct file_facts {
    std::uint64_t size;       // bytes
    std::int64_t modified;    // last write: nanoseconds since 1970 on POSIX, FILETIME units on Windows
    std::uint64_t allocated;  // bytes of the volume the file's data takes (whole allocation units)
};

// The facts of the regular file at the path (a link is not followed);
// nothing when there is no regular file there or it cannot be examined.
std::optional<file_facts> regular_file_facts(const std::string& narrow);

// The unit the volume that holds the path gives files their space in:
// statvfs's fragment size on POSIX, a cluster on Windows. Throws "space".
std::uint64_t allocation_unit(const std::string& narrow);

// Whether another process holds the existing file so that it cannot be
// rewritten: a running program or a DLL it loaded on Windows (sharing
// violation), a running executable on Linux (ETXTBSY).
bool file_in_use(const std::string& narrow);

// Lets whoever may read the file run it too. The archive carries no modes, so
// on POSIX the game's executable needs this; Windows runs a file by its name.
// Throws "permissions".
void make_runnable(const std::string& narrow);

// Opens the file at the platform's own path for reading bytes (_wfopen on
// Windows, so that any name the system gives opens); null on failure, with
// errno set.
std::FILE* open_for_reading(const std::filesystem::path& path);

// The file this process was started from, as the system knows it: on Windows
// GetModuleFileNameW's full path; on Linux /proc/self/exe, which opens that
// very file even after it was renamed. Throws system_failure.
std::filesystem::path own_executable_path();

// The same file's name for a message: its full path where it can be told.
std::string own_executable_name();
